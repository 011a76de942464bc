# Sourced by test scripts. missing_prerequisite REASON: a test that cannot run here (a tool or the
# reference files absent) is skipped with the reason (exit 77, the tests' SKIP_RETURN_CODE), except
# under CI=true, where it fails, so a CI run never passes without what it was meant to test.
missing_prerequisite() {
  if [ "${CI:-}" = true ] || [ "${CI:-}" = 1 ]; then
    echo "FAIL: $* (required under CI=true)"
    exit 1
  fi
  echo "SKIP: $*"
  exit 77
}

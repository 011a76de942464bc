#!/usr/bin/env bash
# tarvo-check.exe under Wine: a reference family in a folder whose name has Windows-1252 letters,
# then a damaged copy and an encrypted table; the exit codes tell each outcome.
set -uo pipefail
exe="$1"
samples="$2"
root="$(cd "$(dirname "$0")/../../.." && pwd)"
source "$root/tools/prerequisite.sh"
[ -d "$samples" ] || missing_prerequisite "reference files not found at $samples"
source "$root/tools/wine-env.sh"
wine_prefix_ready
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
dir="$work/ação"
mkdir -p "$dir"
cp "$samples"/db_AREACODES.* "$samples"/encrypt_encrypted.db "$dir"/
chmod u+w "$dir"/*
export LANG=en_US.UTF-8
run() { wine "$exe" "$(winepath -w "$1")" >"$work/out.txt" 2>&1; echo $?; }
fail=0
expect() {  # expected-code file what
  local got
  got="$(run "$2")"
  if [ "$got" != "$1" ]; then
    echo "FAIL: $3: exit code $got, expected $1"
    cat "$work/out.txt"
    fail=1
  else
    echo "ok: $3 (exit $got)"
  fi
}
expect 0 "$dir/db_AREACODES.DB" "reference family accepted"
grep -q "db_AREACODES.XG0: maintained secondary index \"ste\"" "$work/out.txt" || { echo "FAIL: the .XG0 was not checked"; cat "$work/out.txt"; fail=1; }
expect 3 "$dir/encrypt_encrypted.db" "encrypted table reported"
# The record count of the .PX's second leaf entry changes (99 to 130).
printf '\x82' | dd of="$dir/db_AREACODES.PX" bs=1 seek=$((0x800 + 6 + 11 + 8)) conv=notrunc 2>/dev/null
expect 1 "$dir/db_AREACODES.DB" "damaged .PX rejected"
grep -q "problem:" "$work/out.txt" || { echo "FAIL: no problem listed"; fail=1; }
exit $fail

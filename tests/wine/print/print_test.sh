#!/usr/bin/env bash
# Presses the sheet's print command under Wine against a real CUPS queue and checks what reached it.
#
#   print_test.sh WIN64_BUILD_DIR SCENARIO
#
# SCENARIO:
#   sheet       one default queue whose paper is Letter unless asked; two presses give two
#               identical one-page A4 jobs with the sheet
#   no-default  two queues, the default forgotten; the press fails with the printing error, no job
#   letter      the default printer offers no A4; the sheet comes out on its Letter paper, laid
#               out the same from the paper's corner
#   rejecting   the default queue refuses jobs; the press fails with the printing error, no job
#   no-printer  no queue at all; the press does nothing: no job, no window, no message
#   button      the real program: two presses of its print button give two sheets as above
#   button-no-default
#               the real program with printers but no default: the error report tells so
#   queued-clicks
#               the real main window with clicks and keys queued on both buttons behind a print
#               press: one sheet, and none of the queued input runs a handler (no update, no
#               second print)
#
# A scheduler of its own runs for the test (its own configuration, spool and socket, handed to
# Wine through CUPS_SERVER), so the machine's CUPS set-up is neither needed nor touched. Exits 77
# (skipped) when the tools are missing or the scheduler cannot run; fails instead under CI=true. Keeps its folder (spool, logs,
# rendered page) on failure, or always with ATUA_PRINT_KEEP=1.
set -uo pipefail

win64_dir=$1
scenario=$2
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../../.." && pwd)"
probe="$win64_dir/tests/wine/print/sheet_print_probe.exe"
button_probe="$win64_dir/tests/wine/print/sheet_button_probe.exe"
form_probe="$win64_dir/tests/wine/print/sheet_form_probe.exe"

source "$root/tools/prerequisite.sh"
skip() { missing_prerequisite "$@"; }
failed=0
fail() { echo "FAIL: $*"; failed=1; }

[ -f "$probe" ] || skip "$probe is not built"
case "$scenario" in button*) [ -f "$button_probe" ] || skip "$button_probe is not built (needs the window driver)" ;; esac
[ "$scenario" != queued-clicks ] || [ -f "$form_probe" ] || skip "$form_probe is not built"
for tool in cupsd lpadmin lpstat wine wineserver gs ps2pdf pdftotext python3; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done

work="$(mktemp -d /tmp/atua-print.XXXXXX)"
cupsd_pid=
wine_used=
cleanup() {
  if [ -n "$cupsd_pid" ]; then
    kill "$cupsd_pid" 2>/dev/null
    wait "$cupsd_pid" 2>/dev/null
  fi
  [ -n "$wine_used" ] && wineserver -k 2>/dev/null
  if [ "$failed" = 0 ] && [ -z "${ATUA_PRINT_KEEP:-}" ]; then rm -rf "$work"; else echo "kept: $work"; fi
}
trap cleanup EXIT

# --- the scheduler --------------------------------------------------------------------------
mkdir -p "$work/etc/ppd" "$work/etc/ssl" "$work/spool/tmp" "$work/cache" "$work/state/certs" "$work/log"
chmod 755 "$work" "$work/etc"
chmod 1770 "$work/spool/tmp"
cat >"$work/etc/cups-files.conf" <<EOF
ServerRoot $work/etc
RequestRoot $work/spool
TempDir $work/spool/tmp
CacheDir $work/cache
StateDir $work/state
ServerBin /usr/lib/cups
DataDir /usr/share/cups
AccessLog $work/log/access_log
ErrorLog $work/log/error_log
PageLog $work/log/page_log
FileDevice Yes
SystemGroup root
EOF
# PreserveJobFiles keeps each job's document in the spool after it has printed.
cat >"$work/etc/cupsd.conf" <<EOF
LogLevel warn
Listen $work/cups.sock
Browsing No
WebInterface No
PreserveJobFiles Yes
PreserveJobHistory Yes
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  JobPrivateAccess default
  JobPrivateValues default
  SubscriptionPrivateAccess default
  SubscriptionPrivateValues default
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOF
export CUPS_SERVER="$work/cups.sock"
cupsd -f -c "$work/etc/cupsd.conf" -s "$work/etc/cups-files.conf" >"$work/log/cupsd.out" 2>&1 &
cupsd_pid=$!
scheduler_up() { lpstat -r 2>/dev/null | grep -q 'scheduler is running'; }
for _ in $(seq 100); do
  scheduler_up && break
  kill -0 "$cupsd_pid" 2>/dev/null || break
  sleep 0.1
done
if ! scheduler_up; then
  cat "$work/log/cupsd.out" "$work/log/error_log" 2>/dev/null
  skip "cupsd cannot run here"
fi

# add_queue NAME [PPD]: a queue printing to nowhere, raw unless a PPD describes the printer.
add_queue() {
  local model=(-m raw)
  [ $# -gt 1 ] && model=(-P "$2")
  lpadmin -p "$1" -E -v file:///dev/null "${model[@]}" 2>/dev/null || fail "lpadmin could not add $1"
}
default_queue() { lpadmin -d "$1" || fail "lpadmin could not make $1 the default"; }

# --- Wine -----------------------------------------------------------------------------------
# A prefix of the print tests' own: they change its default printer.
export WINEPREFIX="${ATUA_PRINT_PREFIX:-$root/build/print-wineprefix}"
source "$root/tools/wine-env.sh"
wine_used=1
wine_prefix_ready
# Wine reads the printers when a process starts; a fresh server holds no earlier list.
wineserver -k 2>/dev/null

run_probe() { "$root/tools/with-display.sh" wine "$probe" "$@" 2>"$work/wine.err" | tr -d '\r'; }

out=
press() {  # press PROBE-ARGS...: runs the in-process presser, keeps its findings in $out
  out="$(run_probe "$@")"
  echo "$out"
}
press_button() {  # press_button PROBE-ARGS...: the same through the real program's button
  out="$("$root/tools/with-display.sh" wine "$button_probe" "$@" 2>"$work/wine.err" | tr -d '\r')"
  echo "$out"
}

expect_line() {  # expect_line LINE: one of the presser's findings
  grep -qxF -- "$1" <<<"$out" || fail "expected \"$1\""
}

expect_no_job() {
  [ "$(find "$work/spool" -maxdepth 1 -name 'd*' | wc -l)" = 0 ] || fail "a job reached the queue"
}

expect_jobs() {  # expect_jobs COUNT PAPER: the sheet's jobs as check_sheet.py sees them
  run_probe --text >"$work/text.txt"
  python3 "$here/check_sheet.py" "$work/spool" "$1" "$work/text.txt" "$work" "$2" || fail "the jobs in the queue"
}

case "$scenario" in
sheet)
  add_queue AtuaSheet "$here/letter-default.ppd"
  default_queue AtuaSheet
  press 2
  expect_line "press 1: ok"
  expect_line "press 2: ok"
  expect_line "progress-created 2"
  expect_line "progress-open-after 0"
  expect_line "progress-checked 2"
  expect_line "reentry-printed 0"
  grep -q '^FAIL' <<<"$out" && fail "the progress window is not as it should be"
  expect_jobs 2 A4
  # ATUA_SHEET_PNG=docs/sheet.png keeps a picture of the printed page.
  if [ -n "${ATUA_SHEET_PNG:-}" ]; then
    first="$(find "$work/spool" -maxdepth 1 -name 'd*-001' | sort | head -1)"
    gs -q -dSAFER -sDEVICE=png16m -r100 -o "$ATUA_SHEET_PNG" "$first" || fail "could not render the page"
  fi
  ;;
letter)
  grep -v 'A4' "$here/letter-default.ppd" >"$work/letter-only.ppd"
  add_queue AtuaLetter "$work/letter-only.ppd"
  default_queue AtuaLetter
  press 1
  expect_line "press 1: ok"
  expect_line "progress-open-after 0"
  expect_jobs 1 Letter
  ;;
no-default)
  add_queue AtuaFirst
  add_queue AtuaSecond
  press 1 --forget-default
  expect_line "default-forgotten yes"
  expect_line "press 1: EPrinter: There is no default printer currently selected"
  expect_line "windows-created 0"
  expect_no_job
  ;;
rejecting)
  add_queue AtuaSheet
  default_queue AtuaSheet
  cupsreject AtuaSheet || fail "cupsreject could not stop AtuaSheet taking jobs"
  press 1
  expect_line 'press 1: EPrinter: The printer "AtuaSheet" did not accept the print job.'
  expect_line "progress-open-after 0"
  expect_no_job
  ;;
button)
  add_queue AtuaSheet "$here/letter-default.ppd"
  default_queue AtuaSheet
  press_button 2
  expect_line "press 1: printed"
  expect_line "press 2: printed"
  expect_line "exit 0"
  expect_jobs 2 A4
  ;;
button-no-default)
  add_queue AtuaFirst
  add_queue AtuaSecond
  press_button 1 --forget-default
  expect_line "default-forgotten yes"
  expect_line 'press 1: error report "There is no default printer currently selected."'
  expect_line "exit 0"
  expect_no_job
  ;;
queued-clicks)
  add_queue AtuaSheet "$here/letter-default.ppd"
  default_queue AtuaSheet
  out="$("$root/tools/with-display.sh" wine "$form_probe" 2>"$work/wine.err" | tr -d '\r')"
  echo "$out"
  expect_line "confirm-during-print 0"
  expect_line "confirm-after-print 0"
  expect_line "progress-created 1"
  expect_line "other-dialogs 0"
  expect_jobs 1 A4
  ;;
no-printer)
  press 1
  expect_line "press 1: ok"
  expect_line "windows-created 0"
  expect_no_job
  ;;
*)
  echo "unknown scenario $scenario"
  exit 2
  ;;
esac

if [ "$failed" != 0 ]; then
  cat "$work/wine.err" 2>/dev/null | tail -20
  exit 1
fi
echo "PASS: $scenario"

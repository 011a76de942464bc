#!/usr/bin/env bash
# make run: a demo installation of the product in the project's Wine prefix, then the program.
# With a display the program runs until you close it; without one it runs on a private Xvfb,
# a screenshot is saved as build/screenshot.png and the program is ended after a few seconds.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
source tools/wine-env.sh
wine_prefix_ready

exe="$root/build/win64/app/AtuaTarvo.exe"
based="$WINEPREFIX/drive_c/VisualTarvo/based"
records="${DEMO_RECORDS:-5000}"

# A fresh demo table every time, so the update can be tried again.
mkdir -p "$based"
find "$based" -maxdepth 1 -iname 'movimento.*' -delete
"$root/build/native/tools/make-movimento" "$based/movimento.db" --records "$records" --seed 1
echo "Demo table: $based/movimento.db ($records records)"

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  exec wine "$exe"
fi

shot="$root/build/screenshot.png"
run_headless() {
  # A virtual desktop gives the window its frame and title bar.
  wine explorer /desktop=TARVO,1024x768 "$exe" &
  local pid=$!
  sleep "${DEMO_SECONDS:-6}"
  import -window root "$shot"
  wineserver -k || true
  wait "$pid" 2>/dev/null || true
  echo "No display: the program ran on Xvfb; screenshot saved as $shot"
}
export -f run_headless
export exe shot
tools/with-display.sh bash -c run_headless

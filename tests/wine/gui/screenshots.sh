#!/usr/bin/env bash
# Screenshots of the program under Wine's virtual desktop (frames, title bars and a task bar):
# the main window, the confirmation dialog, the information box, the default error report and
# the maximised window.
# Usage: tests/wine/gui/screenshots.sh WIN64_BUILD_DIR OUT_DIR
# It uses a Wine prefix of its own (OUT_DIR/screenshot-prefix), set to run every program in one
# virtual desktop, so that the driver (gui_drive.exe) sees the program's windows.
set -euo pipefail
root="$(cd "$(dirname "$0")/../../.." && pwd)"
if [ -z "${ATUA_SCREENSHOT_DISPLAY:-}" ]; then
  ATUA_SCREENSHOT_DISPLAY=1 exec "$root/tools/with-display.sh" "$0" "$@"
fi
build="$(cd "$1" && pwd)"
mkdir -p "$2"
out="$(cd "$2" && pwd)"
export LC_ALL=C.UTF-8
export WINEPREFIX="$out/screenshot-prefix"
source "$root/tools/wine-env.sh"
wine_prefix_ready
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d shell /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v shell /d 1024x768 /f >/dev/null 2>&1

caption='Atualização do Visual TARVO. ID - 1.01.220202'
title='Atualização N.º 01 TARVO'
table="$WINEPREFIX/drive_c/VisualTarvo/based/movimento.db"
drive() { wine "$build/tests/wine/gui/gui_drive.exe" "$@"; }
shot() { sleep 1; import -window root -crop 1024x768+0+0 +repage "$out/$1"; echo "$out/$1"; }

rm -f "$table"
wine "$build/app/AtuaTarvo.exe" &
program=$!
drive wait "$caption" 30000
shot screenshot-window.png
drive click "$caption" 'Atualizar o Sistema'
drive wait Confirm
shot screenshot-confirm.png
# No table at the path: the installation message.
drive click Confirm '&Yes'
drive wait "$title"
shot screenshot-information.png
drive click "$title" OK
# A table without the update's fields: the default error report with the engine's message.
samples="$root/../shared/paradox-samples"
if [ -f "$samples/db_CONTACTS.DB" ]; then
  mkdir -p "$(dirname "$table")"
  cp "$samples/db_CONTACTS.DB" "$table"
  drive click "$caption" 'Atualizar o Sistema'
  drive wait Confirm
  drive key Confirm 13
  drive wait "$title"
  shot screenshot-error.png
  drive text "$title"
  drive click "$title" OK
  rm -f "$table"
fi
drive close "$caption"
wait $program || true

wine start /max /unix "$build/app/AtuaTarvo.exe"
drive wait "$caption" 30000
shot screenshot-maximised.png
drive close "$caption"
wineserver -w

#!/usr/bin/env bash
# Runs the main window's in-process tests with the screen at another pixel density, in a Wine
# prefix of their own (the density is a setting of the whole prefix).
# Usage: run_at_density.sh PREFIX DPI gui_shell_tests.exe
set -euo pipefail
root="$(cd "$(dirname "$0")/../../.." && pwd)"
export WINEPREFIX="$1"
source "$root/tools/wine-env.sh"
wine_prefix_ready
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$2" /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\AppDefaults\gui_shell_tests.exe\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
wineserver -w
ATUA_EXPECT_DPI="$2" exec "$root/tools/wine-run.sh" "$3" --gtest_filter='MainWindow.*'

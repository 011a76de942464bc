#!/usr/bin/env bash
# Runs a Windows program of the build under Wine in the project's prefix, with a display.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/wine-env.sh"
wine_prefix_ready
exec "$here/with-display.sh" wine "$@"

#!/usr/bin/env bash
# Installs the Debian packages the build, the demo and the tests need; does nothing when all
# are present. Runs as root (the project's machines and CI do).
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  gcc-multilib g++-multilib qemu-user-static
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  googletest libgtest-dev libbenchmark-dev
  pxlib-dev
  wine wine64 xvfb xdotool imagemagick x11-utils
  cups cups-client cups-bsd ghostscript poppler-utils fonts-liberation fonts-dejavu-core fonts-dejavu-extra
  python3
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "Installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"

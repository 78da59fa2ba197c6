#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test cabsetup.
# Idempotent: when everything is present it does nothing (no apt at all).
# --bench: only what scripts/bench-pack.sh compares against (NSIS, gcab).
set -euo pipefail

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

pkgs=(
  cmake make g++ pkg-config
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  wine wine32:i386 wine64
  xvfb x11-utils xdotool imagemagick fonts-wine
  zlib1g-dev libmspack-dev
  gcab cabextract
  googletest
  clang libclang-rt-14-dev
  python3
)

if [ "${1:-}" = --bench ]; then
  pkgs=(nsis gcab)
fi

i386=1
dpkg --print-foreign-architectures | grep -qx i386 || i386=0

for p in "${pkgs[@]}"; do have_pkg "$p" || need+=("$p"); done

if [ "$i386" = 1 ] && [ ${#need[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
[ "$(id -u)" = 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
if [ "$i386" = 0 ]; then
  echo "setup: adding the i386 architecture"
  $SUDO dpkg --add-architecture i386
fi
echo "setup: installing ${need[*]}"
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
# The posix thread model is the one we build with.
if [ -x /usr/bin/i686-w64-mingw32-g++-posix ]; then
  $SUDO update-alternatives --set i686-w64-mingw32-g++ /usr/bin/i686-w64-mingw32-g++-posix >/dev/null 2>&1 || true
  $SUDO update-alternatives --set i686-w64-mingw32-gcc /usr/bin/i686-w64-mingw32-gcc-posix >/dev/null 2>&1 || true
fi
echo "setup: done"

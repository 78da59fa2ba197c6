#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test cabsetup.
# Idempotent: when everything is present it does nothing (no apt at all).
# Runs as root, or as a user through sudo.
# --bench: only what scripts/bench-pack.sh compares against (NSIS, gcab).
set -euo pipefail
cd "$(dirname "$0")/.."

# The kernel first: it decides which Windows build the tests and the demo
# run, and whether 32-bit Wine is of any use here.
if road=$(bash tests/rig/target --describe 2>&1); then
  road="tests and demo will run the $road"
fi
runs32=0
CABSETUP_WIN_ARCH= bash tests/rig/target 2>/dev/null | grep -qx i686 && runs32=1

have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

pkgs=(
  cmake make g++ pkg-config
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64
  xvfb x11-utils xdotool imagemagick fonts-wine
  zlib1g-dev libmspack-dev libssl-dev libunistring-dev
  osslsigncode openssl icoutils
  gcab cabextract
  googletest
  clang libclang-rt-14-dev
  python3 dpkg-dev bash-completion
  locales
)
# 32-bit Wine for the i686 build; a kernel without 32-bit code cannot start it.
[ "$runs32" = 1 ] && pkgs+=(wine32:i386)

# Both cross compilers build with the posix thread model; the plain names
# (i686-w64-mingw32-g++, ...) should follow it too. Lists those that do not.
not_posix() {
  local alt
  for alt in i686-w64-mingw32-gcc i686-w64-mingw32-g++ x86_64-w64-mingw32-gcc x86_64-w64-mingw32-g++; do
    if [ -x "/usr/bin/$alt-posix" ] && [ "$(readlink -f "/usr/bin/$alt")" != "/usr/bin/$alt-posix" ]; then
      echo "$alt"
    fi
  done
}

# The locales the Windows tests start Wine in: each gives the prefix its
# system code page (932, 936, 949, 1252).
test_locales=(ja_JP.UTF-8 zh_CN.UTF-8 ko_KR.UTF-8 de_DE.UTF-8 en_US.UTF-8)
# `locale -a` spells ja_JP.UTF-8 as ja_JP.utf8.
locale_key() { tr '[:upper:]' '[:lower:]' <<<"$1" | tr -d -- -; }
missing_locales() {
  local have l
  have=$(locale -a 2>/dev/null | while IFS= read -r l; do locale_key "$l"; done)
  for l in "${test_locales[@]}"; do
    grep -qxF "$(locale_key "$l")" <<<"$have" || echo "$l"
  done
}

bench=0
if [ "${1:-}" = --bench ]; then
  bench=1
  pkgs=(nsis gcab)
fi

need=()
for p in "${pkgs[@]}"; do have_pkg "$p" || need+=("$p"); done
add_i386=0
if [ "$bench" = 0 ] && [ "$runs32" = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  add_i386=1
fi
posix_fix=""
[ "$bench" = 1 ] || posix_fix=$(not_posix)
gen_locales=""
[ "$bench" = 1 ] || gen_locales=$(missing_locales)
if [ ${#need[@]} -eq 0 ] && [ "$add_i386" = 0 ] && [ -z "$posix_fix" ] && [ -z "$gen_locales" ]; then
  exit 0
fi

[ "$bench" = 1 ] || echo "setup: $road"
if [ "$(id -u)" = 0 ]; then
  as_root() { "$@"; }
elif command -v sudo >/dev/null 2>&1; then
  as_root() { sudo "$@"; }
  echo "setup: installing through sudo (it may ask for your password)"
else
  echo "setup: installing ${need[*]:-the compiler settings or the test locales} needs root and there is no sudo: run 'su -c \"bash scripts/setup.sh\"', then make again" >&2
  exit 1
fi

log=$(mktemp "${TMPDIR:-/tmp}/cabsetup-setup.XXXXXX")
failed() {
  echo "setup: $1 failed; the end of its output ($log):" >&2
  tail -n 20 "$log" >&2
  exit 1
}

# apt's status lines ("dlstatus:N:PERCENT:..." and "pmstatus:PACKAGE:PERCENT:...",
# where PACKAGE may be name:arch) become one line per tenth of each phase;
# everything else goes to the log.
progress() {
  local line phase pct shown="" f
  while IFS= read -r line; do
    case $line in
      dlstatus:*) phase=downloading ;;
      pmstatus:*) phase=installing ;;
      *) printf '%s\n' "$line" >>"$log"; continue ;;
    esac
    IFS=: read -r -a f <<<"$line"
    pct=${f[2]:-}
    [[ $pct =~ ^[0-9] ]] || pct=${f[3]:-}
    pct=${pct%%.*}
    [[ $pct =~ ^[0-9]+$ ]] || continue
    phase="$phase $((pct / 10 * 10))%"
    if [ "$phase" != "$shown" ]; then
      echo "setup: $phase"
      shown=$phase
    fi
  done
}

if [ "$add_i386" = 1 ]; then
  echo "setup: adding the i386 architecture (for 32-bit Wine)"
  as_root dpkg --add-architecture i386 >>"$log" 2>&1 || failed "dpkg --add-architecture i386"
fi
if [ ${#need[@]} -gt 0 ]; then
  echo "setup: updating the package lists"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq >>"$log" 2>&1 || failed "apt-get update"
  echo "setup: installing ${#need[@]} packages and what they need (several minutes): ${need[*]}"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
      -o APT::Status-Fd=1 "${need[@]}" 2>>"$log" | progress || failed "apt-get install"
fi
for alt in $posix_fix; do
  as_root update-alternatives --set "$alt" "/usr/bin/$alt-posix" >>"$log" 2>&1 || failed "update-alternatives --set $alt"
done
if [ -n "$gen_locales" ]; then
  echo "setup: generating the locales" $gen_locales
  # Enabled in /etc/locale.gen (uncommented, or added when the list lacks
  # them) so that they stay; --keep-existing leaves the others as they are.
  for l in $gen_locales; do
    if grep -qE "^# *$l UTF-8\$" /etc/locale.gen 2>/dev/null; then
      as_root sed -i -E "s/^# *($l UTF-8)\$/\1/" /etc/locale.gen || failed "enabling $l in /etc/locale.gen"
    elif ! grep -qE "^$l UTF-8\$" /etc/locale.gen 2>/dev/null; then
      echo "$l UTF-8" | as_root tee -a /etc/locale.gen >/dev/null || failed "adding $l to /etc/locale.gen"
    fi
  done
  as_root locale-gen --keep-existing >>"$log" 2>&1 || failed "locale-gen"
  still=$(missing_locales)
  [ -z "$still" ] || failed "locale-gen (still missing: $(echo $still))"
fi
rm -f "$log"
echo "setup: done"

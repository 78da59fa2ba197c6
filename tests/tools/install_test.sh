#!/bin/bash
# cabsetup as a user installs it, away from the source tree:
# - cmake --install into an empty prefix: the tool, both stubs, the manual
#   page and the completion; a pack from there needs no --stub, --arch x86-64
#   takes the 64-bit stub, --version answers;
# - the Debian package (CPack): its file list and dependencies, apt accepts
#   it, and installed with dpkg into an empty root it packs too.
#
#   install_test.sh NATIVE_BUILD_DIR STUB_DIR
set -euo pipefail
build=$(cd "$1" && pwd) stubs=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() { # LABEL EXPECTED ACTUAL
    if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAIL: $1: expected [$2], got [$3]"; failures=$((failures + 1)); fi
}
for f in stub.exe stub64.exe; do
    [ -f "$stubs/$f" ] || { echo "FAIL: $stubs/$f missing; make builds both stubs"; exit 1; }
done

mkdir "$work/payload" "$work/elsewhere"
printf 'hello\r\n' >"$work/payload/readme.txt"
# Packs with the tool at $1 (more options after it) from a folder that is no
# part of any tree, and prints the machine inspect names for the stub.
pack_with() {
    local tool=$1 out=$work/elsewhere/setup-$RANDOM.exe
    shift
    (cd "$work/elsewhere" && "$tool" pack -o "$out" --product-name Installed --install-folder Installed "$@" \
        "$work/payload" >/dev/null) || { echo "pack failed"; return; }
    "$tool" inspect --json "$out" | python3 -c 'import json,sys; r=json.load(sys.stdin); print(r["kind"], r["stub"]["machine"])'
}

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
check "installed files" "bin/cabsetup
share/bash-completion/completions/cabsetup
share/cabsetup/stub.exe
share/cabsetup/stub64.exe
share/man/man1/cabsetup.1" "$(cd "$prefix" && find . -type f | sed 's|^\./||' | sort)"
check "installed stubs are the built ones" "same" \
    "$(cmp -s "$stubs/stub.exe" "$prefix/share/cabsetup/stub.exe" && cmp -s "$stubs/stub64.exe" \
        "$prefix/share/cabsetup/stub64.exe" && echo same)"
check "pack without --stub takes the installed 32-bit stub" "installer i386" "$(pack_with "$prefix/bin/cabsetup")"
check "--arch x86-64 takes the installed 64-bit stub" "installer x86-64" \
    "$(pack_with "$prefix/bin/cabsetup" --arch x86-64)"
mv "$prefix/share/cabsetup/stub64.exe" "$work/"
check "a missing stub is named" "1" "$(cd "$work/elsewhere" && "$prefix/bin/cabsetup" pack -o x.exe --arch x86-64 \
    --product-name P --install-folder P "$work/payload" 2>"$work/err" >/dev/null; echo $?)"
check "its message" "cabsetup: error: no x86-64 stub found (looked for $prefix/bin/../share/cabsetup/stub64.exe, $prefix/bin/stub64.exe, $prefix/bin/../../../out/stub64.exe); give --stub STUB" \
    "$(cat "$work/err")"
mv "$work/stub64.exe" "$prefix/share/cabsetup/"
check "--version" "cabsetup $(sed -n 's/^project(cabsetup VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../../CMakeLists.txt")" \
    "$("$prefix/bin/cabsetup" --version)"
check "manual page" "cabsetup - build self-contained Windows installers from a folder" \
    "$(MANWIDTH=100 man -l "$prefix/share/man/man1/cabsetup.1" 2>/dev/null | sed -n '/^NAME/{n;s/^ *//;p}')"
check "manual page warnings" "" "$(man --warnings -l "$prefix/share/man/man1/cabsetup.1" 2>&1 >/dev/null)"
complete_words() { # the completions of a command line ending in $1
    bash -c 'source /usr/share/bash-completion/bash_completion; source "$1"; shift
        COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
        _cabsetup; echo "${COMPREPLY[*]}"' _ "$prefix/share/bash-completion/completions/cabsetup" cabsetup "$@"
}
check "completion of commands" "pack" "$(complete_words pa)"
check "completion of pack options" "--arch" "$(complete_words pack --ar)"
check "completion of --arch" "i386 x86-64" "$(complete_words pack --arch "")"
check "completion of inspect options" "--json" "$(complete_words inspect --j)"
check "completion of cab options" "--exclude" "$(complete_words cab --ex)"
check "completion of --compression" "mszip" "$(complete_words pack --compression m)"
check "completion of --codepage" "65001" "$(complete_words inspect --codepage 6)"
check "completion of inspect's --ca-file" "--ca-file" "$(complete_words inspect --ca)"

# The Debian package.
cpack --config "$build/CPackConfig.cmake" -B "$work/deb" >/dev/null
deb=$(ls "$work"/deb/cabsetup_*.deb)
check "package file name" "cabsetup_$(dpkg --print-architecture).deb" \
    "$(basename "$deb" | sed 's/_[0-9.]*_/_/')"
check "package file list" "./usr/bin/cabsetup
./usr/share/bash-completion/completions/cabsetup
./usr/share/cabsetup/stub.exe
./usr/share/cabsetup/stub64.exe
./usr/share/man/man1/cabsetup.1" "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libssl3 libmspack0 zlib1g libstdc++6; do
    check "depends on $lib" "yes" "$(case ", $depends" in *", $lib "* | *", $lib,"* | *", $lib") echo yes ;; *) echo "no: $depends" ;; esac)"
done
check "apt would install it" "Inst cabsetup" "$(apt-get install -s "$deb" 2>/dev/null | grep -o '^Inst cabsetup' || true)"
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
dpkg --root="$root" --force-depends --log=/dev/null -i "$deb" >/dev/null 2>"$work/dpkg.err" || cat "$work/dpkg.err"
check "dpkg --root: installed" "ii" "$(dpkg --root="$root" -l cabsetup 2>/dev/null | awk '/cabsetup/ {print $1}')"
check "dpkg --root: packs with its own stub" "installer i386" "$(pack_with "$root/usr/bin/cabsetup")"

[ "$failures" = 0 ] || { echo "$failures failed"; exit 1; }
echo "all passed"

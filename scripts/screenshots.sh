#!/usr/bin/env bash
# Takes the PNG screenshots in docs/ of what a user sees: the license window
# and the progress window of a real installation, and the progress window of
# its removal. Packs an example product with the packaging tool, runs the
# installer and then the uninstaller under Wine on the rig's Xvfb display,
# answers them with real key presses (xdotool) and photographs each window
# while it works.
#
#   bash scripts/screenshots.sh [WIN_BUILD_DIR [PACK_TOOL]]
#       defaults: the Windows build this machine runs (build/win, or
#       build/win64 where the kernel runs no 32-bit code; see
#       tests/rig/target) and build/native/tools/pack/cabsetup, as `make`
#       builds them
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
arch=$(bash "$ROOT/tests/rig/target")
if [ "$arch" = x86-64 ]; then
    BUILD=$(cd "${1:-$ROOT/build/win64}" && pwd)
    STUB="$BUILD/stub64.exe"
else
    BUILD=$(cd "${1:-$ROOT/build/win}" && pwd)
    STUB="$BUILD/stub.exe"
fi
PACK=$(realpath "${2:-$ROOT/build/native/tools/pack/cabsetup}")
DOCS="$ROOT/docs"

if [ -z "${RIG_DIR:-}" ]; then
    exec bash "$ROOT/tests/rig/with-rig" bash "$0" "$BUILD" "$PACK"
fi
for f in "$STUB" "$PACK"; do
    [ -f "$f" ] || { echo "screenshots: build $f first (make)" >&2; exit 1; }
done
command -v xdotool >/dev/null && command -v import >/dev/null ||
    { echo "screenshots: needs xdotool and imagemagick" >&2; exit 1; }

# The rig's template carries Wine's own fonts (tests/rig/with-rig).
export WINEPREFIX="$RIG_DIR/shots"
cp -a "$RIG_TEMPLATE" "$WINEPREFIX"
WORK="$RIG_DIR/shots-work"
mkdir -p "$WORK/payload" "$DOCS"

# The id of a visible window titled exactly $1 (and, with $2, of that
# size "WxH" or, with "!WxH", of any other size); waits up to 30 s.
find_window() {
    local title=$1 size=${2:-} id i geometry
    for i in $(seq 1 300); do
        for id in $(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null); do
            geometry=$(xdotool getwindowgeometry "$id" | sed -n 's/.*Geometry: //p')
            case "$size" in
                "") ;;
                !*) [ "$geometry" != "${size#!}" ] || continue ;;
                *) [ "$geometry" = "$size" ] || continue ;;
            esac
            echo "$id"
            return 0
        done
        sleep 0.1
    done
    echo "screenshots: no window \"$title\" $size" >&2
    return 1
}

shoot() {
    import -window "$1" "$2"
    echo "screenshots: $2"
}

# Presses Enter every second (the default button of the final report) until
# the process $1 has ended.
answer_until_gone() {
    local i
    for i in $(seq 1 90); do
        kill -0 "$1" 2>/dev/null || return 0
        xdotool key Return
        sleep 1
    done
}

# The example product: enough files that the extraction runs for more than
# the five seconds the estimate waits for.
for i in $(seq -w 1 400); do echo "Example Viewer data $i" >"$WORK/payload/data$i.dat"; done
echo "Example Viewer" >"$WORK/payload/viewer.exe"
cat >"$WORK/payload/license.txt" <<'LICENSE'
EXAMPLE VIEWER 2.0 END-USER LICENSE AGREEMENT

1. GRANT. You may install and use one copy of the software on one computer.

2. RESTRICTIONS. You may not rent, lease or lend the software, nor reverse engineer, decompile or disassemble it, except where the law expressly permits it.

3. NO WARRANTY. The software is provided "as is", without warranty of any kind, express or implied, including the warranties of merchantability and fitness for a particular purpose.

4. LIMITATION OF LIABILITY. In no event shall the authors be liable for any damages arising from the use of the software.

5. TERMINATION. This license ends if you fail to comply with its terms; you must then destroy all copies of the software.
LICENSE
mkdir -p "$WINEPREFIX/drive_c/dl"
"$PACK" pack --stub "$STUB" -o "$WINEPREFIX/drive_c/dl/setup.exe" --product-name "Example Viewer 2.0" \
    --short-name "Example Viewer" --install-folder "Example\\Viewer" --start-menu-folder "Example Viewer" \
    --shortcut "Example Viewer=viewer.exe" --make-uninstaller --license-file license.txt \
    --mtime 1796000000 "$WORK/payload" >"$WORK/pack.out"

# Installation: the license (accepted with Alt+Y), then the extraction once
# it has an estimate.
(cd "$WINEPREFIX/drive_c" && wine 'C:\dl\setup.exe' /SP- >"$WORK/setup.out" 2>"$WORK/setup.err") &
setup=$!
license=$(find_window "Example Viewer License")
sleep 0.5
shoot "$license" "$DOCS/license-window.png"
xdotool key alt+y
progress=$(find_window Setup)
sleep 7
shoot "$progress" "$DOCS/progress-window.png"
answer_until_gone "$setup"

# Removal: the uninstaller restarts from a temporary copy, which asks first
# (its default answer is "No": Y it is).
(cd "$WINEPREFIX/drive_c" && wine 'C:\Program Files\Example\Viewer\Uninstall Example Viewer.exe' \
    >"$WORK/uninstall.out" 2>"$WORK/uninstall.err") &
find_window Uninstall '!387x155' >/dev/null
sleep 0.5
xdotool key y
progress=$(find_window Uninstall 387x155)
sleep 6.5
shoot "$progress" "$DOCS/uninstall-window.png"
# The final report; the rig ends whatever is left.
find_window Uninstall '!387x155' >/dev/null && xdotool key Return
sleep 1

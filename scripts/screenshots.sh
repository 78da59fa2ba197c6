#!/usr/bin/env bash
# Takes the PNG screenshots in docs/ of what a user sees: the progress window
# during an installation and a removal, and the license window. Runs the
# user-interface driver (tests/win/uidriver.exe) under Wine on the rig's
# Xvfb display and photographs each window once it is on the screen.
#
#   bash scripts/screenshots.sh [WIN_BUILD_DIR]     (default build/win)
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/build/win}" && pwd)
DRIVER="$BUILD/tests/win/uidriver.exe"
DOCS="$ROOT/docs"

if [ -z "${RIG_DIR:-}" ]; then
    exec bash "$ROOT/tests/rig/with-rig" bash "$0" "$BUILD"
fi
[ -f "$DRIVER" ] || { echo "screenshots: build $DRIVER first" >&2; exit 1; }
command -v xdotool >/dev/null && command -v import >/dev/null || { echo "screenshots: needs xdotool and imagemagick" >&2; exit 1; }

export WINEPREFIX="$RIG_DIR/shots"
cp -a "$RIG_TEMPLATE" "$WINEPREFIX"
# Wine's own Tahoma (for "MS Shell Dlg") and Marlett (the caption buttons'
# glyphs) are only found in the prefix's Fonts folder; without them the
# windows are drawn with a fallback face.
if ls /usr/share/wine/fonts/*.ttf >/dev/null 2>&1; then
    cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
else
    echo "screenshots: fonts-wine is missing; the windows get a fallback font" >&2
fi
WORK="$RIG_DIR/shots-work"
mkdir -p "$WORK" "$DOCS"
winpath() { echo "Z:${1//\//\\}"; }

# Waits until the window titled exactly $1 is mapped, then saves it as $2.
shoot() {
    local title=$1 out=$2 id="" i
    for i in $(seq 1 200); do
        id=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -1) && [ -n "$id" ] && break
        sleep 0.1
    done
    [ -n "$id" ] || { echo "screenshots: no window \"$title\"" >&2; return 1; }
    sleep 0.5 # one more paint
    import -window "$id" "$out"
    echo "screenshots: $out"
}

# A run of the driver that holds at "waitfile" until the picture is taken;
# its process id goes to $pid.
hold_run() {
    local name=$1 i; shift
    rm -f "$WORK/$name.stop" "$WORK/$name.stop.ready"
    wine "$DRIVER" "$@" waitfile "$(winpath "$WORK/$name.stop")" >"$WORK/$name.out" 2>"$WORK/$name.err" &
    pid=$!
    for i in $(seq 1 300); do [ -f "$WORK/$name.stop.ready" ] && break; sleep 0.1; done
}

INSTALL_TEXT='Setup will install Example Product 2.1 into the folder "C:\Program Files\Example\Product". Please wait while the files are copied; this takes a few minutes.'
REMOVE_TEXT='Example Product 2.1 is being removed from your computer. Please wait while its files, shortcuts and folders are deleted.'

# An installation halfway through its files, after a first estimate (the
# estimate needs more than five seconds of work).
hold_run install caption Setup show 0 status "Starting..." "" \
    status "Extracting files..." "$INSTALL_TEXT" range 0 120 0 busy 1 work 30 40 pause 5200 \
    status "Extracting Product\\help\\manual.html" ""
shoot Setup "$DOCS/progress-window.png"
touch "$WORK/install.stop"; wait "$pid" || true

hold_run remove caption Uninstall show 1 status "Removing files..." "$REMOVE_TEXT" \
    range 0 60 0 busy 1 work 20 40 pause 5200 status "Deleting C:\\Program Files\\Example\\Product\\product.exe" ""
shoot Uninstall "$DOCS/uninstall-window.png"
touch "$WORK/remove.stop"; wait "$pid" || true

# The license window is modal: photographed, then declined with Enter.
cat >"$WORK/license.txt" <<'LICENSE'
EXAMPLE PRODUCT 2.1 END-USER LICENSE AGREEMENT

1. GRANT. You may install and use one copy of the software on one computer.

2. RESTRICTIONS. You may not rent, lease or lend the software, nor reverse engineer, decompile or disassemble it, except where the law expressly permits it.

3. NO WARRANTY. The software is provided "as is", without warranty of any kind, express or implied, including the warranties of merchantability and fitness for a particular purpose.

4. LIMITATION OF LIABILITY. In no event shall the authors be liable for any damages arising from the use of the software.

5. TERMINATION. This license ends if you fail to comply with its terms; you must then destroy all copies of the software.
LICENSE
wine "$DRIVER" caption Setup show 0 status "Starting..." "$INSTALL_TEXT" \
    license "Example Product" "$(winpath "$WORK/license.txt")" >"$WORK/license.out" 2>"$WORK/license.err" &
pid=$!
shoot "Example Product License" "$DOCS/license-window.png"
xdotool key Return
wait "$pid" || true
grep -q "license: declined" "$WORK/license.out" || echo "screenshots: Enter did not decline the license" >&2

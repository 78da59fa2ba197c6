#!/usr/bin/env bash
# The main job: pack the example product into an installer with cabsetup,
# show what it holds, then install and uninstall it under Wine.
#   With DISPLAY set, the windows appear on your display and you answer them
#   (in a prefix of its own under ~/.cache/cabsetup-demo).
#   Without it, the test robot answers under Xvfb and screenshots land in
#   out/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."

installer=out/example-setup.exe
out/cabsetup pack --stub out/stub.exe -o "$installer" \
    --manifest examples/viewer/product.ini examples/viewer/files build/win/examples/viewer.exe
out/cabsetup inspect "$installer"

export CABSETUP_ROBOT=$PWD/build/win/tests/robot/robot.exe
export CABSETUP_HOLD=$PWD/build/win/tests/robot/hold.exe
export CABSETUP_NATIVE_DIR=$PWD/build/native
export CABSETUP_STUB=$PWD/out/stub.exe
export CABSETUP_SOURCE_DIR=$PWD

if [ -z "${DISPLAY:-}" ]; then
    exec bash tests/rig/with-rig python3 -B scripts/demo.py "$installer"
fi

export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES=winemenubuilder.exe=d
export WINEPREFIX="${CABSETUP_DEMO_PREFIX:-$HOME/.cache/cabsetup-demo}"
[ -d "$WINEPREFIX" ] || wineboot -i >/dev/null 2>&1
drive="$WINEPREFIX/drive_c"
mkdir -p "$drive/Downloads"
cp "$installer" "$drive/Downloads/example-setup.exe"
echo "Running the installer on $DISPLAY: answer its windows."
wine 'C:\Downloads\example-setup.exe' >/dev/null 2>&1 || true
echo "Installed files:"; find "$drive/Program Files/Example Software" 2>/dev/null || echo "  (none)"
echo "Start menu:"; find "$drive"/users/*/AppData/Roaming/Microsoft/Windows/'Start Menu'/Programs/'Example Viewer' 2>/dev/null || echo "  (none)"
uninstaller='C:\Program Files\Example Software\Viewer\Uninstall Viewer.exe'
if [ -f "$drive/Program Files/Example Software/Viewer/Uninstall Viewer.exe" ]; then
    echo "Running the uninstaller: answer its windows."
    wine "$uninstaller" >/dev/null 2>&1 || true
    wineserver -w
fi
echo "Left after uninstalling:"; find "$drive/Program Files/Example Software" 2>/dev/null || echo "  (nothing)"

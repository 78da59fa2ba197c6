#!/usr/bin/env bash
# The main job: pack the example product into an installer with cabsetup,
# show what it holds, then install and uninstall it under Wine.
#   With DISPLAY set, the windows appear on your display and you answer them
#   (in a prefix of its own under ~/.cache/cabsetup-demo).
#   Without it, the test robot answers under Xvfb and screenshots land in
#   out/demo/.
#   The stub is the one this machine can run (tests/rig/target): the 32-bit
#   out/stub.exe where the kernel runs 32-bit code, else out/stub64.exe;
#   CABSETUP_WIN_ARCH=x86-64 forces the 64-bit one.
set -euo pipefail
cd "$(dirname "$0")/.."

arch=$(bash tests/rig/target --check-wine)
if [ "$arch" = x86-64 ]; then
    build=build/win64 stub=out/stub64.exe
else
    build=build/win stub=out/stub.exe
fi
echo "Demo: $stub, the $(bash tests/rig/target --describe)"

installer=out/example-setup.exe
out/cabsetup pack --stub "$stub" -o "$installer" \
    --manifest examples/viewer/product.ini examples/viewer/files $build/examples/viewer.exe
out/cabsetup inspect "$installer"

export CABSETUP_ROBOT=$PWD/$build/tests/robot/robot.exe
export CABSETUP_HOLD=$PWD/$build/tests/robot/hold.exe
export CABSETUP_NATIVE_DIR=$PWD/build/native
export CABSETUP_STUB=$PWD/$stub
export CABSETUP_SOURCE_DIR=$PWD
export CABSETUP_TARGET=$arch CABSETUP_WIN_ARCH=$arch

if [ -z "${DISPLAY:-}" ]; then
    exec bash tests/rig/with-rig python3 -B scripts/demo.py "$installer"
fi

# A prefix keeps the bitness it was made with: one per build.
if [ "$arch" = x86-64 ]; then
    export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64 PATH="$PWD/tests/rig/wine64:$PATH"
    export WINEPREFIX="${CABSETUP_DEMO_PREFIX:-$HOME/.cache/cabsetup-demo64}"
else
    export WINEARCH=win32
    export WINEPREFIX="${CABSETUP_DEMO_PREFIX:-$HOME/.cache/cabsetup-demo}"
fi
export WINEDEBUG=-all WINEDLLOVERRIDES=winemenubuilder.exe=d
if [ ! -d "$WINEPREFIX" ]; then
    wineboot -i >/dev/null 2>&1
    # Wine's own Tahoma and Marlett, as in the rig (tests/rig/with-rig).
    cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
fi
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

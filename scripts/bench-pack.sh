#!/usr/bin/env bash
# bench-pack.sh: size and speed of `cabsetup pack` against `gcab -c -z` and an
# NSIS zlib installer of the same files. A benchmark, not a test: it prints
# the measurements and each ratio with the goal beside it.
#
#   scripts/bench-pack.sh [--files N] [--megabytes M] [--runs R]
#
# Environment: CABSETUP (the tool, default out/cabsetup or
# build/native/tools/pack/cabsetup), STUB (default out/stub.exe or
# build/win/stub.exe), KEEP=1 keeps the work folder.
set -euo pipefail

FILES=300
MEGABYTES=20
RUNS=3
while [ $# -gt 0 ]; do
    case "$1" in
        --files) FILES=$2; shift 2 ;;
        --megabytes) MEGABYTES=$2; shift 2 ;;
        --runs) RUNS=$2; shift 2 ;;
        -h|--help) sed -n '2,11p' "$0"; exit 0 ;;
        *) echo "bench-pack: unknown argument $1" >&2; exit 2 ;;
    esac
done

ROOT=$(cd "$(dirname "$0")/.." && pwd)
pick() { for f in "$@"; do [ -x "$f" ] || [ -f "$f" ] && { echo "$f"; return; }; done; echo ""; }
CABSETUP=${CABSETUP:-$(pick "$ROOT/out/cabsetup" "$ROOT/build/native/tools/pack/cabsetup")}
STUB=${STUB:-$(pick "$ROOT/out/stub.exe" "$ROOT/build/win/stub.exe")}
[ -n "$CABSETUP" ] && [ -n "$STUB" ] || { echo "bench-pack: build first (make), or set CABSETUP and STUB" >&2; exit 1; }

# makensis is needed here only, so it is installed here only.
if ! command -v makensis >/dev/null; then
    echo "bench-pack: installing nsis (makensis)" >&2
    apt-get install -y nsis >/dev/null 2>&1 || { apt-get update >/dev/null && apt-get install -y nsis >/dev/null; }
fi
command -v gcab >/dev/null || apt-get install -y gcab >/dev/null

WORK=$(mktemp -d /tmp/bench-pack.XXXXXX)
[ "${KEEP:-}" = 1 ] || trap 'rm -rf "$WORK"' EXIT
PAYLOAD=$WORK/payload
mkdir -p "$PAYLOAD"

# The payload: a fixed mix of this machine's own files, partly compressible
# (libraries, programs, text), cut to the wanted total. Names are numbered so
# every one is unique and holds a ".".
python3 - "$PAYLOAD" "$FILES" "$MEGABYTES" <<'PY'
import os, sys
out, count, total = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]) << 20
roots = ["/usr/lib/x86_64-linux-gnu", "/usr/bin", "/usr/share/doc", "/usr/share/man", "/usr/include"]
candidates, seen = [], set()
for r in roots:
    for d, _, files in sorted(os.walk(r)):
        for f in sorted(files):
            p = os.path.join(d, f)
            if os.path.isfile(p) and not os.path.islink(p) and os.path.getsize(p) > 512:
                # The same file reached twice would flatter NSIS, which
                # stores identical files once.
                key = (os.stat(p).st_dev, os.stat(p).st_ino)
                if key not in seen:
                    seen.add(key)
                    candidates.append(p)
# Files of 16 KB and more, spread over all roots by a fixed stride so the
# set is stable; each read up to 3 times its share, then all cut to size.
candidates = [p for p in candidates if os.path.getsize(p) >= 16384]
stride = max(1, len(candidates) // count)
picked, size = [], 0
per_file = total // count
hashes = set()
for p in candidates[::stride]:
    if len(picked) == count:
        break
    with open(p, "rb") as f:
        data = f.read(per_file * 3)
    if hash(data) in hashes:
        continue
    hashes.add(hash(data))
    picked.append((p, data))
    size += len(data)
scale = total / size if size else 1
written = 0
for i, (p, data) in enumerate(picked):
    want = min(len(data), int(len(data) * scale) + 1)
    name = "%03d-%s" % (i, os.path.basename(p).replace(" ", "_"))
    if "." not in name:
        name += ".bin"
    with open(os.path.join(out, name), "wb") as f:
        f.write(data[:want])
    written += want
print("payload: %d files, %.1f MiB" % (len(picked), written / 1048576))
PY

best_time() { # best_time CMD... -> seconds of the fastest of $RUNS runs
    local best="" start end t
    for _ in $(seq "$RUNS"); do
        start=$(date +%s%N)
        "$@" >/dev/null 2>&1
        end=$(date +%s%N)
        t=$(( end - start ))
        if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
    done
    python3 -c "import sys; print('%.3f' % (int(sys.argv[1]) / 1e9))" "$best"
}
size() { stat -c %s "$1"; }
ratio() { python3 -c "import sys; print('%.3f' % (float(sys.argv[1]) / float(sys.argv[2])))" "$1" "$2"; }
verdict() { python3 -c "import sys; print('met' if float(sys.argv[1]) <= float(sys.argv[2]) else 'NOT MET')" "$1" "$2"; }

FIRST=("$PAYLOAD"/*)
SHORTCUT=(--shortcut "Bench=$(basename "${FIRST[0]}")")
PACK=("$CABSETUP" pack --stub "$STUB" --product-name "Bench" --install-folder "Bench" --start-menu-folder "Bench"
      "${SHORTCUT[@]}")

"${PACK[@]}" -o "$WORK/pack9.exe" "$PAYLOAD" >/dev/null
T_PACK9=$(best_time "${PACK[@]}" -o "$WORK/pack9.exe" "$PAYLOAD")
T_PACK1=$(best_time "${PACK[@]}" --level 1 -o "$WORK/pack1.exe" "$PAYLOAD")
(cd "$PAYLOAD" && gcab -c -z "$WORK/gcab.cab" * >/dev/null)
T_GCAB=$(best_time sh -c "cd '$PAYLOAD' && gcab -c -z '$WORK/gcab.cab' *")

# NSIS: zlib, every file into $INSTDIR, as a plain installer script does.
cat > "$WORK/bench.nsi" <<NSI
SetCompressor /FINAL zlib
Name "Bench"
OutFile "$WORK/nsis.exe"
InstallDir "\$PROGRAMFILES\\Bench"
RequestExecutionLevel user
Section
  SetOutPath "\$INSTDIR"
  File "$PAYLOAD/*.*"
SectionEnd
NSI
makensis -V1 "$WORK/bench.nsi" >/dev/null

LIST_BYTES=$(( $(printf '%s' "${SHORTCUT[1]#Bench=}|Bench" | wc -c) + 1 ))
S_PACK9=$(size "$WORK/pack9.exe")
S_PACK1=$(size "$WORK/pack1.exe")
S_NSIS=$(size "$WORK/nsis.exe")
S_GCAB=$(( $(size "$WORK/gcab.cab") + $(size "$STUB") + 738 + LIST_BYTES ))

echo "installer, cabsetup pack (level 9):      $S_PACK9 bytes, ${T_PACK9}s (best of $RUNS)"
echo "installer, cabsetup pack --level 1:      $S_PACK1 bytes, ${T_PACK1}s"
echo "gcab -c -z cabinet + stub + 738 + list:  $S_GCAB bytes, cabinet in ${T_GCAB}s"
echo "NSIS zlib installer:                     $S_NSIS bytes"
R1=$(ratio "$S_PACK9" "$S_NSIS"); echo "size  pack / NSIS zlib:        $R1  (goal < 1: $(verdict "$R1" 0.99999))"
R2=$(ratio "$S_PACK9" "$S_GCAB"); echo "size  pack / gcab + stub:     $R2  (goal < 1: $(verdict "$R2" 0.99999))"
R3=$(ratio "$T_PACK1" "$T_GCAB"); echo "time  pack --level 1 / gcab:  $R3  (goal <= 1.2: $(verdict "$R3" 1.2))"

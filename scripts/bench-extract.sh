#!/usr/bin/env bash
# bench-extract.sh [WIN_BUILD_DIR] [ROUNDS]: extracts one cabinet (300 files,
# about 20 MB, MSZIP) with TUnCab (cabtool, interface inactive) and with
# Wine's extrac32.exe, which goes through the same cabinet.dll, and prints
# the best wall time of each and their ratio. A benchmark, not a test: it
# fails only when a run fails, never on the ratio. On a busy machine the wall
# times scatter widely; take more rounds there. WIN_BUILD_DIR defaults to the
# cross build this machine runs (build/win, else build/win64).
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/scripts/bench-rig.sh"
bench_build bench-extract "${1:-}"
ROUNDS=${2:-3}
CABTOOL="$BUILD/tests/win/cabtool.exe"
[ -f "$CABTOOL" ] || { echo "no $CABTOOL: build the cross build first" >&2; exit 2; }
bench_rig "$BUILD" "$ROUNDS"
C="$WINEPREFIX/drive_c"

# Text-like data with some noise, so MSZIP has real work to do.
mkdir -p "$WORK/src"
python3 - "$WORK/src" <<'PY'
import os, random, sys
rnd = random.Random(1)
words = [bytes(rnd.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rnd.randint(2, 9))) for _ in range(2000)]
for i in range(300):
    size = rnd.randint(20000, 120000)
    out = bytearray()
    while len(out) < size:
        out += rnd.choice(words) + (b"\r\n" if rnd.random() < 0.1 else b" ")
        if rnd.random() < 0.02:
            out += os.urandom(rnd.randint(50, 400))
    with open(os.path.join(sys.argv[1], "file%03d.dat" % i), "wb") as f:
        f.write(out[:size])
PY
(cd "$WORK/src" && gcab -c -z "$C/bench.cab" file*.dat)
cp "$CABTOOL" "$C/cabtool.exe"
echo "cabinet: $(ls "$WORK/src" | wc -l) files, $(du -sb "$WORK/src" | cut -f1) bytes, $(stat -c %s "$C/bench.cab") bytes packed"

# "WALL CPU" seconds of one wine run (CPU: user and system time of the
# program's own process, not the wine server's); output goes to files,
# never a pipe.
timed() {
    /usr/bin/time -f "%e %U %S" -o "$WORK/time" wine "$@" >"$WORK/out" 2>"$WORK/err" ||
        { cat "$WORK/out" "$WORK/err" >&2; return 1; }
    awk '{ printf "%s %.2f\n", $1, $2 + $3 }' "$WORK/time"
}

count_files() { find "$1" -type f | wc -l; }

best_ours= best_theirs= cpu_ours= cpu_theirs=
wine cmd /c exit >/dev/null 2>&1 # warm the server and the DLLs
# Start-up alone (an empty mask makes Execute return at once), for reading
# the figures below.
echo "cabtool start-up only (wall, cpu): $(timed 'C:\cabtool.exe' extract 'C:\bench.cab' 'C:\none' '' 0x09)"
# Both programs on a one-file cabinet: what each costs before the real work
# (process start, DLLs), to read the ratio below per file.
mkdir -p "$WORK/tiny" && printf x > "$WORK/tiny/tiny.dat"
(cd "$WORK/tiny" && gcab -c -z "$C/tiny.cab" tiny.dat)
best_tiny() {
    local best= t c
    for _ in 1 2 3; do
        read -r t c <<<"$(timed "$@")"
        if [ -z "$best" ] || [ "$(echo "$t < $best" | bc)" = 1 ]; then best=$t; fi
    done
    echo "$best"
}
tiny_ours=$(best_tiny 'C:\cabtool.exe' extract 'C:\tiny.cab' 'C:\tiny1' '*.*' 0x09)
tiny_theirs=$(best_tiny 'C:\windows\system32\extrac32.exe' /e /l 'C:\tiny2' 'C:\tiny.cab')
echo "one-file cabinet (best wall): TUnCab ${tiny_ours}s, extrac32 ${tiny_theirs}s"
for round in $(seq 1 "$ROUNDS"); do
    rm -rf "$C/ours" "$C/theirs"
    # Each run starts with no dirty pages of the last one still being
    # written back, and the two take turns at going first.
    ours() { sync; read -r t1 c1 <<<"$(timed 'C:\cabtool.exe' extract 'C:\bench.cab' 'C:\ours' '*.*' 0x09)"; }
    theirs() { sync; read -r t2 c2 <<<"$(timed 'C:\windows\system32\extrac32.exe' /e /l 'C:\theirs' 'C:\bench.cab')"; }
    if [ $((round % 2)) = 1 ]; then ours; theirs; else theirs; ours; fi
    n1=$(count_files "$C/ours"); n2=$(count_files "$C/theirs")
    if [ "$n1" != 300 ] || [ "$n2" != 300 ]; then
        echo "round $round: extracted $n1 (TUnCab) and $n2 (extrac32) files, expected 300" >&2
        exit 1
    fi
    cmp -s "$C/ours/file123.dat" "$WORK/src/file123.dat" || { echo "TUnCab output differs" >&2; exit 1; }
    echo "round $round: TUnCab ${t1}s (cpu ${c1}s), extrac32 ${t2}s (cpu ${c2}s)"
    if [ -z "$best_ours" ] || [ "$(echo "$t1 < $best_ours" | bc)" = 1 ]; then best_ours=$t1; fi
    if [ -z "$best_theirs" ] || [ "$(echo "$t2 < $best_theirs" | bc)" = 1 ]; then best_theirs=$t2; fi
    if [ -z "$cpu_ours" ] || [ "$(echo "$c1 < $cpu_ours" | bc)" = 1 ]; then cpu_ours=$c1; fi
    if [ -z "$cpu_theirs" ] || [ "$(echo "$c2 < $cpu_theirs" | bc)" = 1 ]; then cpu_theirs=$c2; fi
done
printf 'best wall: TUnCab %.3fs, extrac32 %.3fs, ratio %.2f (goal: at most 1.10)\n' \
    "$best_ours" "$best_theirs" "$(echo "$best_ours / $best_theirs" | bc -l)"
printf 'best cpu:  TUnCab %.2fs, extrac32 %.2fs, ratio %.2f\n' \
    "$cpu_ours" "$cpu_theirs" "$(echo "$cpu_ours / $cpu_theirs" | bc -l)"
printf 'per file, start-up taken off: ratio %.2f\n' \
    "$(echo "($best_ours - $tiny_ours) / ($best_theirs - $tiny_theirs)" | bc -l)"

#!/bin/bash
# Where the setup stub's bytes go. Builds the stub in a cross build folder,
# links it once more unstripped with a linker map (beside stub.exe, as
# stub-full.exe and stub.map), then prints the sections of the shipped stub,
# the largest contributing objects per section and the largest symbols.
#
#   scripts/stub-size.sh [--x86-64] [BUILD_DIR] [ROWS]
#       default: the 32-bit stub.exe in build/stub-size, 30 rows; with
#       --x86-64 the 64-bit stub64.exe in build/stub-size64
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" = --x86-64 ]; then
    shift
    toolchain=mingw-x86_64 triplet=x86_64-w64-mingw32 stub=stub64 default=$src/build/stub-size64
else
    toolchain=mingw-i686 triplet=i686-w64-mingw32 stub=stub default=$src/build/stub-size
fi
dir=${1:-$default}
rows=${2:-30}
if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$src" -B "$dir" -DCMAKE_TOOLCHAIN_FILE=cmake/$toolchain.cmake \
        -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
fi
cmake --build "$dir" --target stub -j2 | grep -E "warning|error|$stub.exe" || true

# The link step CMake wrote (it runs in the stub's own build folder and
# writes the stub one up), minus stripping and the import library, plus a map.
link=$(tail -n 1 "$dir/stub/CMakeFiles/stub.dir/link.txt")
link=$(printf '%s\n' "$link" | sed -e 's/ -s / /' -e 's/ -Wl,--strip-all / /' \
    -e 's/ -Wl,--out-implib,[^ ]*//' -e "s# -o \\.\\./$stub\\.exe # -o ../stub-full.exe -Wl,-Map,../stub.map #")
(cd "$dir/stub" && eval "$link")

echo
echo "== sections of $stub.exe ($(stat -c %s "$dir/$stub.exe") bytes)"
$triplet-objdump -h "$dir/$stub.exe" | while read -r idx name size rest; do
    case $idx in [0-9]*) printf '  %-10s %7d\n' "$name" "$((16#$size))" ;; esac
done

echo
echo "== largest contributors by input object (bytes per output section)"
python3 - "$dir/stub.map" "$rows" <<'PY'
import collections, re, sys
lines = open(sys.argv[1], errors="replace").read().split("\n")
rows = int(sys.argv[2])
start = next(i for i, l in enumerate(lines) if l.startswith("Linker script and memory map"))
per = collections.defaultdict(collections.Counter)
out = None
pending = None
for l in lines[start:]:
    m = re.match(r"^(\.\S+)", l)
    if m:
        out = m.group(1)
        continue
    m = re.match(r"^ (\S+)\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$", l)
    if m:
        size, obj = m.group(2), m.group(3)
    elif pending:
        # long input section names put address and size on the next line
        m = re.match(r"^\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$", l)
        if not m:
            pending = None
            continue
        size, obj = m.group(1), m.group(2)
    else:
        pending = re.match(r"^ \.\S+\s*$", l) is not None
        continue
    pending = None
    if out is None or out.startswith(".debug") or out == ".bss":
        continue
    obj = re.sub(r"^.*/(lib[^/]*\.a\()", r"\1", obj.strip())
    obj = re.sub(r"^CMakeFiles/stub\.dir/", "", obj)
    per[obj][out] += int(size, 16)
secs = [".text", ".data", ".rdata", ".eh_frame", ".pdata", ".xdata", ".idata"]
print("  %-52s %7s" % ("object", "total") + "".join("%10s" % s for s in secs))
total = collections.Counter()
for obj, c in sorted(per.items(), key=lambda kv: -sum(kv[1].values()))[:rows]:
    print("  %-52s %7d" % (obj[-52:], sum(c.values())) + "".join("%10d" % c[s] for s in secs))
for c in per.values():
    total.update(c)
print("  %-52s %7d" % ("(all objects)", sum(total.values())) + "".join("%10d" % total[s] for s in secs))

print()
print("== runtime archive members and the object that pulled each in")
text = "\n".join(lines[:start])
block = text.split("Archive member included to satisfy reference by file (symbol)")[-1]
block = block.split("Discarded input sections")[0]
for m in re.finditer(r"^(\S+\.a\([^)]*\))\s*\n?\s*(\S+\.(?:o|obj)\)?)\s+\((.*)\)$", block, re.M):
    member, by, sym = m.groups()
    if re.search(r"lib(stdc\+\+|gcc|gcc_eh|mingwex|mingw32|msvcrt)", member):
        print("  %-48s <- %s (%s)" % (re.sub(r"^.*/", "", member), re.sub(r"^.*/", "", by), sym[:60]))
PY

echo
echo "== largest symbols (unstripped copy)"
$triplet-nm -S --size-sort -C "$dir/stub-full.exe" | grep -v " [Nn] " | tail -n "$rows" | cut -c1-140

#!/usr/bin/env bash
# bench-pack.sh: speed, size and memory of `cabsetup pack` (MSZIP and
# LZX:21) against `gcab -c -z` and NSIS installers (zlib, LZMA /SOLID) of the
# same files, on four payloads. A benchmark, not a test: it prints the
# measurements and each ratio with the goal beside it.
#
#   scripts/bench-pack.sh [--runs R] [--gigabyte] [--best]
#
# Payloads, built from this machine's own files, every file's content once
# (NSIS stores identical files once and cabsetup does not; duplicates would
# measure that alone):
#   mixed     300 files, 20 MiB: libraries, programs, documentation, headers
#   text      3000 small text files (headers, Python sources), about 30 MiB
#   binaries  about 100 MiB of shared libraries and programs
#   libraries about 110 MB of whole x86-64 shared libraries (*.so*)
#   noisy     the mixed payload with every fourth file random bytes (a quarter
#             of it incompressible)
#   product   a product: 10 DLLs, one more DLL 11 times, 20 texts (the one
#             payload with identical files: NSIS stores them once, and so does
#             cabsetup unless --no-dedupe)
# The tools run interleaved, R rounds (default 3), and the median time of
# each counts (wall time, and CPU time for the default level on one thread,
# --threads 1, against gcab); the machine's load is printed before and after. --gigabyte
# also packs and inspects 1 GiB (the binaries ten times over, each copy
# changed) for peak memory; --best also times --level 9 on the mixed payload.
# Both installers do the same: a license page (the payload's first .txt, if
# any), the folder, a Start-menu shortcut and an uninstaller; NSIS's pages are
# its plain ones.
#
# Environment: PAYLOADS (default "mixed text binaries libraries noisy product"), CABSETUP (default build/native/tools/pack/cabsetup or
# out/cabsetup), STUB (default out/stub.exe or build/win/stub.exe),
# KEEP=1 keeps the work folder.
set -euo pipefail

RUNS=3
GIGABYTE=0
BEST=0
while [ $# -gt 0 ]; do
    case "$1" in
        --runs) RUNS=$2; shift 2 ;;
        --gigabyte) GIGABYTE=1; shift ;;
        --best) BEST=1; shift ;;
        -h|--help) sed -n '2,23p' "$0"; exit 0 ;;
        *) echo "bench-pack: unknown argument $1" >&2; exit 2 ;;
    esac
done

ROOT=$(cd "$(dirname "$0")/.." && pwd)
pick() { for f in "$@"; do [ -f "$f" ] && { echo "$f"; return; }; done; echo ""; }
CABSETUP=${CABSETUP:-$(pick "$ROOT/build/native/tools/pack/cabsetup" "$ROOT/out/cabsetup")}
STUB=${STUB:-$(pick "$ROOT/out/stub.exe" "$ROOT/build/win/stub.exe" "$ROOT/build/win64/stub.exe")}
[ -n "$CABSETUP" ] && [ -n "$STUB" ] || { echo "bench-pack: build first (make), or set CABSETUP and STUB" >&2; exit 1; }
command -v makensis >/dev/null && command -v gcab >/dev/null || bash "$ROOT/scripts/setup.sh" --bench

WORK=$(mktemp -d /tmp/bench-pack.XXXXXX)
[ "${KEEP:-}" = 1 ] || trap 'rm -rf "$WORK"' EXIT

# Payload folders: unique contents, names numbered so each is unique and
# holds a ".", cut to size by a fixed rule so a run on the same machine
# always packs the same bytes.
python3 - "$WORK" "$GIGABYTE" <<'PY'
import hashlib, os, sys
work, gigabyte = sys.argv[1], sys.argv[2] == "1"
seen = set()

def files(roots, suffixes=None, least=1):
    for r in roots:
        for d, dirs, names in sorted(os.walk(r)):
            dirs.sort()
            for n in sorted(names):
                p = os.path.join(d, n)
                if os.path.islink(p) or not os.path.isfile(p) or os.path.getsize(p) < least:
                    continue
                if suffixes and not n.endswith(suffixes):
                    continue
                yield p

def fill(name, candidates, count, total, per_file):
    out = os.path.join(work, name)
    os.makedirs(out)
    written = n = 0
    for p in candidates:
        if n == count or written >= total:
            break
        with open(p, "rb") as f:
            data = f.read(per_file)
        digest = hashlib.sha1(data).digest()
        if digest in seen:
            continue
        seen.add(digest)
        base = os.path.basename(p).replace(" ", "_")[:60]
        fname = "%04d-%s" % (n, base if "." in base else base + ".bin")
        with open(os.path.join(out, fname), "wb") as f:
            f.write(data)
        written += len(data)
        n += 1
    print("payload %-8s %5d files, %6.1f MiB" % (name, n, written / 1048576))

libs = ["/usr/lib/x86_64-linux-gnu", "/usr/bin"]
every = list(files(libs + ["/usr/share/doc", "/usr/include"], least=16384))
fill("mixed", every[::max(1, len(every) // 300)], 300, 20 << 20, 140000)
fill("text", files(["/usr/include", "/usr/lib/python3.11", "/usr/lib/python3"], (".h", ".py"), 512),
     3000, 30 << 20, 65536)
fill("binaries", files(libs, None, 65536), 100000, 100 << 20, 4 << 20)
# Whole libraries, none over what is left of the 110 MB.
out = os.path.join(work, "libraries")
os.makedirs(out)
n = written = 0
for p in files(["/usr/lib/x86_64-linux-gnu"], None, 16384):
    name = os.path.basename(p)
    if ".so" not in name or written + os.path.getsize(p) > 110000000:
        continue
    with open(p, "rb") as f:
        data = f.read()
    digest = hashlib.sha1(data).digest()
    if digest in seen:
        continue
    seen.add(digest)
    with open(os.path.join(out, "%04d-%s" % (n, name)), "wb") as f:
        f.write(data)
    written += len(data)
    n += 1
print("payload %-8s %5d files, %6.1f MiB" % ("libraries", n, written / 1048576))
# The mixed files with every fourth one replaced by as many random bytes.
import random, shutil
rnd = random.Random(24)
out = os.path.join(work, "noisy")
shutil.copytree(os.path.join(work, "mixed"), out)
for i, n in enumerate(sorted(os.listdir(out))):
    if i % 4 == 3:
        path = os.path.join(out, n)
        with open(path, "wb") as f:
            f.write(rnd.randbytes(os.path.getsize(path)))
print("payload %-8s %5d files, a quarter random" % ("noisy", len(os.listdir(out))))
# A product: whole DLL-sized libraries, one of them 11 times, and texts.
out = os.path.join(work, "product")
os.makedirs(out)
dlls = [p for p in files(["/usr/lib/x86_64-linux-gnu"], None, 200000) if ".so" in p and os.path.getsize(p) < 1500000]
texts = list(files(["/usr/share/common-licenses", "/usr/share/doc"], None, 4096))
for i, p in enumerate(dlls[:10]):
    shutil.copyfile(p, os.path.join(out, "lib%02d.dll" % i))
for i in range(11):
    shutil.copyfile(dlls[10], os.path.join(out, "shared%02d.dll" % i))
for i, p in enumerate(texts[:20]):
    shutil.copyfile(p, os.path.join(out, "text%02d.txt" % i))
print("payload %-8s %5d files, %6.1f MiB" % ("product", len(os.listdir(out)),
                                              sum(os.path.getsize(os.path.join(out, n)) for n in os.listdir(out)) / 1048576))
if gigabyte:
    out = os.path.join(work, "gigabyte")
    os.makedirs(out)
    src = os.path.join(work, "binaries")
    for copy in range(10):
        for n in sorted(os.listdir(src)):
            with open(os.path.join(src, n), "rb") as f:
                data = bytearray(f.read())
            data[::4096] = bytes([copy]) * len(data[::4096])
            with open(os.path.join(out, "%d-%s" % (copy, n)), "wb") as f:
                f.write(data)
    print("payload gigabyte: the binaries ten times over")
PY

# run NAME CMD...: appends "seconds peak-KiB cpu-seconds" of one run to $WORK/NAME.times
run() {
    local name=$1; shift
    /usr/bin/time -f "%e %M %U %S" -o "$WORK/time.out" "$@" >/dev/null 2>"$WORK/err.out" ||
        { echo "bench-pack: $name failed:" >&2; cat "$WORK/err.out" >&2; exit 1; }
    awk '{printf "%s %s %.2f\n", $1, $2, $3 + $4}' "$WORK/time.out" >>"$WORK/$name.times"
}
median() { sort -n "$WORK/$1.times" | awk '{t[NR]=$1} END {print t[int((NR+1)/2)]}'; }
median_cpu() { sort -n -k3 "$WORK/$1.times" | awk '{t[NR]=$3} END {print t[int((NR+1)/2)]}'; }
peak() { sort -n -k2 "$WORK/$1.times" | tail -1 | awk '{print $2}'; }
ratio() { python3 -c "import sys; print('%.3f' % (float(sys.argv[1]) / float(sys.argv[2])))" "$1" "$2"; }
verdict() { python3 -c "import sys; print('met' if float(sys.argv[1]) <= float(sys.argv[2]) else 'NOT MET')" "$1" "$2"; }
size() { stat -c %s "$1"; }

nsis_script() { # nsis_script PAYLOAD OUT COMPRESSOR FIRST LICENSE
    cat <<NSI
SetCompressor /FINAL $3
Name "Bench"
OutFile "$2"
InstallDir "\$PROGRAMFILES\\Bench"
RequestExecutionLevel admin
${5:+LicenseData "$1/$5"}
${5:+Page license}
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles
Section
  SetOutPath "\$INSTDIR"
  File "$1/*.*"
  WriteUninstaller "\$INSTDIR\\Uninstall Bench.exe"
  CreateDirectory "\$SMPROGRAMS\\Bench"
  CreateShortcut "\$SMPROGRAMS\\Bench\\Bench.lnk" "\$INSTDIR\\$4"
SectionEnd
Section "Uninstall"
  Delete "\$INSTDIR\\*.*"
  RMDir "\$INSTDIR"
  Delete "\$SMPROGRAMS\\Bench\\Bench.lnk"
  RMDir "\$SMPROGRAMS\\Bench"
SectionEnd
NSI
}

bench() { # bench PAYLOAD
    local p=$1 dir=$WORK/$1 first license
    first=$(ls "$dir" | sed -n 1p) # all of ls read: no SIGPIPE under pipefail
    license=$(ls "$dir" | grep '\.txt$' | sed -n 1p || true)
    local pack=("$CABSETUP" pack --stub "$STUB" --product-name Bench --install-folder Bench
                --start-menu-folder Bench --shortcut "Bench=$first" --force ${license:+--license-file "$license"})
    nsis_script "$dir" "$WORK/$p.nsis.exe" zlib "$first" "$license" >"$WORK/$p.nsi"
    nsis_script "$dir" "$WORK/$p.lzma.exe" "/SOLID lzma" "$first" "$license" >"$WORK/$p.lzma.nsi"
    for _ in $(seq "$RUNS"); do
        run "$p.pack" "${pack[@]}" --compression mszip -o "$WORK/$p.pack.exe" "$dir"
        run "$p.gcab" sh -c "cd '$dir' && gcab -c -z '$WORK/$p.gcab.cab' *"
        run "$p.pack1" "${pack[@]}" --level 1 -o "$WORK/$p.pack1.exe" "$dir"
        run "$p.one" "${pack[@]}" --compression mszip --threads 1 -o "$WORK/$p.one.exe" "$dir"
        run "$p.nsis" makensis -V1 "$WORK/$p.nsi"
        run "$p.lzx" "${pack[@]}" -o "$WORK/$p.lzx.exe" "$dir"
        run "$p.lzma" makensis -V1 "$WORK/$p.lzma.nsi"
    done
    run "$p.inspect" "$CABSETUP" inspect "$WORK/$p.pack.exe"
    local list=$(( ${#first} + 7 ))
    local s_pack s_pack1 s_gcab s_nsis s_lzx s_lzma
    s_pack=$(size "$WORK/$p.pack.exe"); s_pack1=$(size "$WORK/$p.pack1.exe"); s_nsis=$(size "$WORK/$p.nsis.exe")
    s_lzx=$(size "$WORK/$p.lzx.exe"); s_lzma=$(size "$WORK/$p.lzma.exe")
    s_gcab=$(( $(size "$WORK/$p.gcab.cab") + $(size "$STUB") + 738 + list ))
    echo "== $p ($(ls "$dir" | wc -l) files, $(du -sb "$dir" | cut -f1) bytes), median of $RUNS"
    printf '  %-34s %11s bytes %8ss %7s KiB\n' \
        "cabsetup pack --compression mszip" "$s_pack" "$(median "$p.pack")" "$(peak "$p.pack")" \
        "cabsetup pack --level 1" "$s_pack1" "$(median "$p.pack1")" "$(peak "$p.pack1")" \
        "gcab -c -z (+ stub, header, list)" "$s_gcab" "$(median "$p.gcab")" "$(peak "$p.gcab")" \
        "NSIS zlib installer" "$s_nsis" "$(median "$p.nsis")" "$(peak "$p.nsis")" \
        "cabsetup pack (default, lzx:21)" "$s_lzx" "$(median "$p.lzx")" "$(peak "$p.lzx")" \
        "NSIS LZMA /SOLID installer" "$s_lzma" "$(median "$p.lzma")" "$(peak "$p.lzma")" \
        "cabsetup inspect of the installer" "" "$(median "$p.inspect")" "$(peak "$p.inspect")"
    local rt rs rg
    rt=$(ratio "$(median "$p.pack")" "$(median "$p.gcab")")
    rs=$(ratio "$s_pack" "$s_nsis")
    rg=$(ratio "$s_pack" "$s_gcab")
    local rc
    rc=$(ratio "$(median_cpu "$p.one")" "$(median_cpu "$p.gcab")")
    echo "  time  pack / gcab:        $rt  (goal <= 1.2: $(verdict "$rt" 1.2))"
    echo "  cpu   pack --threads 1 / gcab: $rc  ($(median_cpu "$p.one")s / $(median_cpu "$p.gcab")s; goal <= 1.2: $(verdict "$rc" 1.2))"
    echo "  size  pack / NSIS zlib:   $rs  (goal < 1: $(verdict "$rs" 0.99999))"
    echo "  size  pack / gcab:        $rg"
    local lz ll lt
    lz=$(ratio "$s_lzx" "$s_nsis"); ll=$(ratio "$s_lzx" "$s_lzma"); lt=$(ratio "$(median "$p.lzx")" "$(median "$p.lzma")")
    echo "  size  lzx:21 / NSIS zlib: $lz  (goal <= 1, libraries <= 0.88)"
    echo "  size  lzx:21 / NSIS LZMA: $ll  (goal <= 1.10, libraries <= 1.20)"
    echo "  time  lzx:21 / NSIS LZMA: $lt  (goal <= 1: $(verdict "$lt" 1))"
}

echo "load before: $(uptime)"
echo "cores: $(nproc); cabsetup: $CABSETUP; stub: $STUB ($(size "$STUB") bytes)"
for p in ${PAYLOADS:-mixed text binaries libraries noisy product}; do bench "$p"; done
if [ "$BEST" = 1 ]; then
    run mixed.best "$CABSETUP" pack --stub "$STUB" --product-name Bench --install-folder Bench --level 9 \
        --force -o "$WORK/mixed.best.exe" "$WORK/mixed"
    echo "== mixed, --level 9: $(size "$WORK/mixed.best.exe") bytes, $(median mixed.best)s," \
         "$(ratio "$(size "$WORK/mixed.best.exe")" "$(size "$WORK/mixed.pack.exe")") of the default's size"
fi
if [ "$GIGABYTE" = 1 ]; then
    run giga.pack "$CABSETUP" pack --stub "$STUB" --product-name Bench --install-folder Bench --force \
        -o "$WORK/giga.exe" "$WORK/gigabyte"
    run giga.inspect "$CABSETUP" inspect "$WORK/giga.exe"
    echo "== 1 GiB ($(du -sb "$WORK/gigabyte" | cut -f1) bytes): pack $(median giga.pack)s, peak $(peak giga.pack) KiB;" \
         "inspect $(median giga.inspect)s, peak $(peak giga.inspect) KiB"
fi
echo "load after: $(uptime)"

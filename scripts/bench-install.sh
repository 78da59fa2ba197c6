#!/usr/bin/env bash
# bench-install.sh [--quick] [--shortcut] [--lzx[:BITS]] [WIN_BUILD_DIR] [ROUNDS]:
# runs the whole installer (`/SP- /LA- /SILENT`, progress window shown)
# against Wine's extrac32.exe on the same cabinet, interleaved, at four scales:
#     2,000 x 10 KiB, 200 files / 20 MiB, 20 x 1 MiB, 1 x 200 MiB
# (--quick: 200 x 10 KiB, 20 files / 2 MiB, 5 x 1 MiB, 1 x 20 MiB), plus a
# one-file cabinet for the fixed costs. The installer is the build's stub
# (stub64.exe in build/win64, stub.exe in build/win; default: the build the
# rig runs here) packed by cabsetup; ROUNDS defaults to 3 (2 with --quick).
# --shortcut adds a Start-menu shortcut and the uninstaller to every package.
# --lzx[:BITS] (default 21) runs an installer of LZX cabinets against the one
# of MSZIP cabinets (the packer's `--compression lzx:BITS` and `mszip`) in
# place of extrac32: both have the same waits, so the ratio is bare, and the
# sizes of the two installers are printed beside it.
#
# The installer has fixed waits of its own: 15 ms after each extracted file
# and 3 x 200 ms in a run (after the mode is set, before the final message,
# in the clean-up). extrac32 gets them added, so a ratio of 1.00 means "no
# slower than extrac32 plus the waits". Printed per scale: best wall times,
# ratio of the minima, the stub's cost per file beyond the 15 ms wait (slope
# against the one-file run, and its excess over extrac32 plus the waits), the
# fixed cost beyond the waits, and peak memory.
#
# Memory: the Windows program runs inside the Unix process that `wine`
# starts (the loader execs itself into it), so that process's peak resident
# set is the program's peak working set, Wine's own DLLs included. It is the
# kernel's VmHWM, read from /proc every 5 ms (ru_maxrss would not do: a
# forked child starts with its parent's high-water mark). "anon" is the
# peak of its private anonymous pages (RssAnon), what the program and its
# allocations add to the shared images. The wine server's CPU time is shown
# apart: every file operation is a trip to it.
#
# The rig's windows are unmanaged (tests/rig/README.md), as they behave on a
# desktop with a window manager; a managed window under Xvfb without one
# would add about 2 s when it closes.
#
# A benchmark, not a test: it fails only when a run fails (or extracts the
# wrong files), never on a ratio. The machine's load is printed with the
# figures; on a busy machine take more rounds.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
OPTS=()
while [ $# -gt 0 ]; do
    case "$1" in
        --quick|--shortcut|--lzx|--lzx:*) OPTS+=("$1"); shift ;;
        -h|--help) sed -n '2,39p' "$0"; exit 0 ;;
        -*) echo "bench-install: unknown option $1" >&2; exit 2 ;;
        *) break ;;
    esac
done
. "$ROOT/scripts/bench-rig.sh"
bench_build bench-install "${1:-}"
ROUNDS=${2:-}
bench_cabsetup bench-install
bench_rig "${OPTS[@]}" "$BUILD" "$ROUNDS"

python3 - "$STUB" "$CABSETUP" "$WORK" "$ROUNDS" "${OPTS[@]}" <<'PY'
import glob, os, random, shutil, subprocess, sys, threading, time

stub, cabsetup, work, rounds = sys.argv[1:5]
quick = "--quick" in sys.argv[5:]
shortcut = "--shortcut" in sys.argv[5:]
lzx = next((a.split(":")[1] if ":" in a else "21" for a in sys.argv[5:] if a.startswith("--lzx")), None)
rounds = int(rounds or (2 if quick else 3))
drive = os.path.join(os.environ["WINEPREFIX"], "drive_c")
KiB, MiB = 1024, 1024 * 1024
FILE_WAIT, RUN_WAITS = 0.015, 3 * 0.200  # the installer's described waits

# (key, label, files, bytes per file); "one" serves for the fixed costs.
if quick:
    scales = [("s1", "200 x 10 KiB", 200, 10 * KiB), ("s2", "20 files, 2 MiB", 20, 2 * MiB // 20),
              ("s3", "5 x 1 MiB", 5, MiB), ("s4", "1 x 20 MiB", 1, 20 * MiB)]
else:
    scales = [("s1", "2,000 x 10 KiB", 2000, 10 * KiB), ("s2", "200 files, 20 MiB", 200, 20 * MiB // 200),
              ("s3", "20 x 1 MiB", 20, MiB), ("s4", "1 x 200 MiB", 1, 200 * MiB)]
one = ("one", "1 x 1 KiB", 1, KiB)


def load():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


# Text-like data with some noise, so MSZIP has real work to do: slices of a
# pool of words at random places, now and then a run of random bytes.
rnd = random.Random(1)
words = [bytes(rnd.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rnd.randint(2, 9))) for _ in range(2000)]
pool = bytearray()
while len(pool) < 4 * MiB:
    pool += rnd.choice(words) + (b"\r\n" if rnd.random() < 0.1 else b" ")
pool = bytes(pool)


def make_data(folder, count, size):
    os.makedirs(folder)
    for i in range(count):
        out = bytearray()
        while len(out) < size:
            at = rnd.randrange(len(pool) - 16 * KiB)
            out += pool[at:at + rnd.randint(KiB, 16 * KiB)]
            if rnd.random() < 0.2:
                out += rnd.randbytes(rnd.randint(50, 400))
        with open(os.path.join(folder, "file%05d.dat" % i), "wb") as f:
            f.write(out[:size])


def quiet(cmd):
    r = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
    if r.returncode:
        sys.exit("bench-install: %s failed:\n%s" % (" ".join(cmd), r.stdout.decode(errors="replace")))


os.makedirs(os.path.join(drive, "bench"))
for key, label, count, size in [one] + scales:
    src = os.path.join(work, "src-" + key)
    make_data(src, count, size)
    cab = os.path.join(drive, "bench", key + ".cab")
    quiet([cabsetup, "cab", "-o", cab, "--mtime", "1700000000", "--compression", "mszip", src])
    # With --lzx the installer under test has LZX cabinets; the MSZIP one
    # is what it is measured against.
    kinds = [("", cab)]
    if lzx:
        kinds.append(("-lzx", os.path.join(drive, "bench", key + "-lzx.cab")))
        quiet([cabsetup, "cab", "-o", kinds[1][1], "--mtime", "1700000000", "--compression", "lzx:" + lzx, src])
    for suffix, cabinet in kinds:
        pack = [cabsetup, "pack", "--stub", stub, "-o", os.path.join(drive, "bench", key + suffix + "-setup.exe"),
                "--product-name", "Bench " + key, "--install-folder", "Bench-" + key, "--cab", cabinet]
        if shortcut:
            pack += ["--short-name", key, "--start-menu-folder", "Bench-" + key, "--shortcut",
                     "First=file00000.dat", "--make-uninstaller"]
        else:
            pack += ["--no-uninstaller"]
        quiet(pack)
    print("%-18s %5d files, %10d bytes, cabinet %10d bytes%s" %
          (label, count, count * size, os.path.getsize(cab),
           ", LZX:%s cabinet %d bytes" % (lzx, os.path.getsize(kinds[1][1])) if lzx else ""), flush=True)


def server_pid():
    prefix = "WINEPREFIX=" + os.environ["WINEPREFIX"]
    for pid in os.listdir("/proc"):
        try:
            if not os.path.basename(os.readlink("/proc/%s/exe" % pid)).startswith("wineserver"):
                continue
            with open("/proc/%s/environ" % pid, "rb") as f:
                if prefix.encode() in f.read().split(b"\0"):
                    return pid
        except OSError:
            pass
    return None


def cpu_of(pid):
    try:
        with open("/proc/%s/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    except (OSError, TypeError):
        return 0.0


def run(args):
    """One wine run: wall s, cpu s (the program's process), server cpu s,
    peak RSS KiB, peak anonymous RSS KiB."""
    os.sync()  # no dirty pages of the last run still being written back
    out = open(os.path.join(work, "out"), "wb")
    err = open(os.path.join(work, "err"), "wb")
    server = server_pid()
    s0 = cpu_of(server)
    t0 = time.monotonic()
    p = subprocess.Popen(["wine"] + args, stdout=out, stderr=err, stdin=subprocess.DEVNULL, cwd=drive)
    peak = {"VmHWM:": 0, "RssAnon:": 0}
    done = threading.Event()

    def sample():
        while not done.is_set():
            try:
                with open("/proc/%d/status" % p.pid) as f:
                    for line in f:
                        name = line.split(None, 1)[0]
                        if name in peak:
                            peak[name] = max(peak[name], int(line.split()[1]))
            except (OSError, IndexError, ValueError):
                pass
            done.wait(0.005)

    sampler = threading.Thread(target=sample)
    sampler.start()
    _, status, usage = os.wait4(p.pid, 0)
    wall = time.monotonic() - t0
    p.returncode = 0  # reaped by wait4 above (which also gave the rusage)
    done.set()
    sampler.join()
    out.close()
    err.close()
    if status != 0:
        sys.stderr.write(open(err.name, errors="replace").read())
        sys.exit("bench-install: wine %s ended with status %d" % (" ".join(args), status >> 8))
    return dict(wall=wall, cpu=usage.ru_utime + usage.ru_stime, server=cpu_of(server) - s0,
                rss=peak["VmHWM:"], anon=peak["RssAnon:"])


def check(folder, key, count):
    names = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
    want = ["file%05d.dat" % i for i in range(count)]
    if names != want:
        sys.exit("bench-install: %s holds %d files, expected %d" % (folder, len(names), count))
    last = "file%05d.dat" % (count - 1)
    with open(os.path.join(folder, last), "rb") as a, open(os.path.join(work, "src-" + key, last), "rb") as b:
        if a.read() != b.read():
            sys.exit("bench-install: %s differs from its source" % os.path.join(folder, last))


def installed(key):
    found = glob.glob(os.path.join(drive, "Program Files*", "Bench-" + key))
    return found[0] if found else os.path.join(drive, "Program Files", "Bench-" + key)


def clear(key):
    shutil.rmtree(installed(key), ignore_errors=True)
    shutil.rmtree(os.path.join(drive, "x-" + key), ignore_errors=True)
    for link in glob.glob(os.path.join(drive, "users", "*", "AppData", "Roaming", "Microsoft", "Windows",
                                       "Start Menu", "Programs", "Bench-" + key)):
        shutil.rmtree(link, ignore_errors=True)


def ours(key, count):
    if lzx:
        shutil.rmtree(installed(key), ignore_errors=True)
    r = run(["C:\\bench\\%s%s-setup.exe" % (key, "-lzx" if lzx else ""), "/SP-", "/LA-", "/SILENT"])
    check(installed(key), key, count)
    return r


def theirs(key, count):
    if lzx:  # the MSZIP installer: into the same folder, cleared between
        shutil.rmtree(installed(key), ignore_errors=True)
        r = run(["C:\\bench\\%s-setup.exe" % key, "/SP-", "/LA-", "/SILENT"])
        check(installed(key), key, count)
        return r
    r = run(["C:\\windows\\system32\\extrac32.exe", "/e", "/l", "C:\\x-" + key, "C:\\bench\\%s.cab" % key])
    check(os.path.join(drive, "x-" + key), key, count)
    return r


def fmt(r):
    return "%6.2fs (cpu %5.2f, server %5.2f, peak %5.1f MB, anon %4.1f MB)" % (
        r["wall"], r["cpu"], r["server"], r["rss"] / 1024, r["anon"] / 1024)


# Warm the server, the DLLs and the desktop process once, outside the figures.
clear("one")
ours("one", 1)
theirs("one", 1)

print("\n%d rounds, interleaved (the two take turns at going first); load %s" % (rounds, load()), flush=True)
best = {}
for key, label, count, size in [one] + scales:
    mine, other = [], []
    # The one-file runs take a second each, and the fixed costs scatter most.
    for i in range(max(5, 3 * rounds) if key == "one" else rounds):
        clear(key)
        if i % 2 == 0:
            mine.append(ours(key, count))
            other.append(theirs(key, count))
        else:
            other.append(theirs(key, count))
            mine.append(ours(key, count))
        print("%-18s round %d: %-9s %s\n%-18s          %-9s %s" %
              (label, i + 1, "LZX" if lzx else "installer", fmt(mine[-1]), "", "MSZIP" if lzx else "extrac32",
               fmt(other[-1])), flush=True)
    clear(key)
    best[key] = dict(label=label, count=count, ours=min(r["wall"] for r in mine),
                     theirs=min(r["wall"] for r in other),
                     rss=(max(r["rss"] for r in mine), max(r["rss"] for r in other)),
                     anon=(max(r["anon"] for r in mine), max(r["anon"] for r in other)))

b1 = best["one"]
if lzx:
    print("\nload %s" % load())
    print("%-18s %9s %9s %6s %16s %16s" % ("payload", "LZX", "MSZIP", "ratio", "peak MB (anon)", "peak MB (anon)"))
    print("%-18s %9s %9s %6s %16s %16s" % ("", "best s", "best s", "", "LZX", "MSZIP"))
    for key, label, count, size in [one] + scales:
        b = best[key]
        print("%-18s %9.2f %9.2f %6.2f %9.1f (%4.1f) %9.1f (%4.1f)" % (
            label, b["ours"], b["theirs"], b["ours"] / b["theirs"], b["rss"][0] / 1024, b["anon"][0] / 1024,
            b["rss"][1] / 1024, b["anon"][1] / 1024))
    print("ratio: best LZX installer / best MSZIP installer (goal: at most 1.10 on 200 files, 20 MiB)")
    sys.exit(0)
fixed = b1["ours"] - RUN_WAITS - FILE_WAIT
print("\nload %s" % load())
print("fixed cost (one-file cabinet): installer %.3fs - waits %.3fs = %.3fs; extrac32 %.3fs; "
      "beyond extrac32 %+.3fs = %.0f%% of extrac32's (goal: at most 10%%)" %
      (b1["ours"], RUN_WAITS + FILE_WAIT, fixed, b1["theirs"], fixed - b1["theirs"],
       100 * (fixed - b1["theirs"]) / b1["theirs"]))
print("\n%-18s %9s %9s %9s %6s %6s %8s %8s %8s %16s %16s" % (
    "payload", "installer", "extrac32", "+waits", "ratio", "bare", "ms/file", "ms/file", "ms/file", "peak MB (anon)",
    "peak MB (anon)"))
print("%-18s %9s %9s %9s %6s %6s %8s %8s %8s %16s %16s" % (
    "", "best s", "best s", "best s", "", "ratio", "excess", "beyond", "extrac32", "installer", "extrac32"))
for key, label, count, size in scales:
    b = best[key]
    waits = RUN_WAITS + count * FILE_WAIT
    # Per file: the slope from the one-file run, so start-up and fixed waits
    # drop out; for the installer the 15 ms wait is taken off too.
    # Only where files, not bytes, make the time.
    per_ours = (b["ours"] - b1["ours"]) / (count - 1) - FILE_WAIT if count >= 100 else None
    per_theirs = (b["theirs"] - b1["theirs"]) / (count - 1) if count >= 100 else None
    excess = (b["ours"] - b["theirs"] - waits) / count if count >= 100 else None
    ms = lambda v: "%8.2f" % (1000 * v) if v is not None else "%8s" % "-"
    print("%-18s %9.2f %9.2f %9.2f %6.2f %6.2f %s %s %s %9.1f (%4.1f) %9.1f (%4.1f)" % (
        label, b["ours"], b["theirs"], b["theirs"] + waits, b["ours"] / (b["theirs"] + waits),
        b["ours"] / b["theirs"], ms(excess), ms(per_ours), ms(per_theirs), b["rss"][0] / 1024, b["anon"][0] / 1024,
        b["rss"][1] / 1024, b["anon"][1] / 1024))
print("ratio: best installer / (best extrac32 + 15 ms per file + 600 ms); bare ratio: best installer / best "
      "extrac32;\nms/file excess: (installer - extrac32 - waits) / files, the installer's own cost per file "
      "(goal: at most 1.5 ms);\nms/file beyond, extrac32: slopes from the one-file run (the installer's without "
      "the 15 ms wait);\npeak: the highest of the rounds")
PY

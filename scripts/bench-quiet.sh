#!/usr/bin/env bash
# bench-quiet.sh [WIN_BUILD_DIR] [ROUNDS]: an unattended install and removal
# of a 50-file product (a program, 11 DLLs, texts in two nested folders),
# our installer (`/QUIET`, as `cabsetup pack` makes it by default: Start-menu
# shortcut, uninstaller, Apps & features entry) against an NSIS installer of
# the same files doing the same (`/S`; its uninstaller run in place with
# `/S _?=`, so that it ends when the removal does), side by side in one Wine
# prefix, interleaved, ROUNDS times (default 5). The stub is the build's
# (stub64.exe in build/win64 and an NSIS amd64-unicode installer, stub.exe
# in build/win and an x86-unicode one; default: the build the rig runs
# here). Prints the best and median wall times, the ratio of the best, and
# the load. A benchmark, not a test: it fails only when a run fails or
# installs the wrong files.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/scripts/bench-rig.sh"
bench_build bench-quiet "${1:-}"
ROUNDS=${2:-5}
[ "$ARCH" = x86-64 ] && NSIS_TARGET=amd64-unicode || NSIS_TARGET=x86-unicode
bench_cabsetup bench-quiet
command -v makensis >/dev/null || bash "$ROOT/scripts/setup.sh" --bench
bench_rig "$BUILD" "$ROUNDS"

python3 - "$STUB" "$CABSETUP" "$WORK" "$ROUNDS" "$NSIS_TARGET" <<'PY'
import glob, os, shutil, statistics, subprocess, sys, time

stub, cabsetup, work, rounds, nsis_target = sys.argv[1:6]
rounds = int(rounds)
drive = os.path.join(os.environ["WINEPREFIX"], "drive_c")
bits64 = nsis_target.startswith("amd64")


def load():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def quiet(cmd, **kw):
    r = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, **kw)
    if r.returncode:
        sys.exit("bench-quiet: %s failed (%d):\n%s" % (" ".join(cmd), r.returncode, r.stdout.decode(errors="replace")))


# The product, from this machine's own files: shared libraries as its
# program and DLLs, documentation as its texts.
src = os.path.join(work, "product")
libs = sorted(p for p in glob.glob("/usr/lib/x86_64-linux-gnu/*.so*")
              if os.path.isfile(p) and not os.path.islink(p) and 20000 < os.path.getsize(p) < 400000)
docs = sorted(p for p in glob.glob("/usr/share/common-licenses/*") if os.path.isfile(p))
if len(libs) < 12 or len(docs) < 8:
    sys.exit("bench-quiet: too few libraries or texts on this machine to build the product")
layout = [("app.exe", libs[0])] + [("lib%02d.dll" % i, libs[1 + i]) for i in range(11)]
texts = [("docs\\%02d.txt" % i, docs[i % len(docs)]) for i in range(14)]
texts += [("docs\\guide\\%02d.txt" % i, docs[(i + 3) % len(docs)]) for i in range(12)]
texts += [("docs\\guide\\more\\%02d.txt" % i, docs[(i + 5) % len(docs)]) for i in range(12)]
files = layout + texts
assert len(files) == 50
for name, origin in files:
    path = os.path.join(src, *name.split("\\"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    shutil.copyfile(origin, path)
total = sum(os.path.getsize(os.path.join(src, *n.split("\\"))) for n, _ in files)

os.makedirs(os.path.join(drive, "bench"))
ours_exe = os.path.join(drive, "bench", "ours.exe")
quiet([cabsetup, "pack", "--stub", stub, "-o", ours_exe, "--product-name", "Bench Product", "--company-folder",
       "Bench Co", "--install-folder", "Ours", "--short-name", "Ours", "--start-menu-folder", "Bench Ours",
       "--shortcut", "Ours=app.exe", "--make-uninstaller", "--uninstall-link-style", "1", "--product-version",
       "1.0.0", src])
nsi = os.path.join(work, "theirs.nsi")
with open(nsi, "w") as f:
    f.write("""Unicode true
Target %(target)s
SetCompressor /FINAL zlib
Name "Bench Product"
OutFile "%(out)s"
InstallDir "$PROGRAMFILES%(pf)s\\Bench Co\\Theirs"
RequestExecutionLevel admin
!define KEY "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Bench Co Theirs"
Section
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File /r "%(src)s/*.*"
  WriteUninstaller "$INSTDIR\\Uninstall Theirs.exe"
  CreateDirectory "$SMPROGRAMS\\Bench Theirs"
  CreateShortcut "$SMPROGRAMS\\Bench Theirs\\Theirs.lnk" "$INSTDIR\\app.exe"
  CreateShortcut "$SMPROGRAMS\\Bench Theirs\\Uninstall Theirs.lnk" "$INSTDIR\\Uninstall Theirs.exe"
  WriteRegStr HKLM "${KEY}" "DisplayName" "Bench Product"
  WriteRegStr HKLM "${KEY}" "DisplayVersion" "1.0.0"
  WriteRegStr HKLM "${KEY}" "UninstallString" '"$INSTDIR\\Uninstall Theirs.exe"'
  WriteRegStr HKLM "${KEY}" "QuietUninstallString" '"$INSTDIR\\Uninstall Theirs.exe" /S'
  WriteRegDWORD HKLM "${KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${KEY}" "NoRepair" 1
SectionEnd
Section "Uninstall"
  SetShellVarContext all
  RMDir /r "$INSTDIR\\docs"
""" % dict(target=nsis_target, out=os.path.join(drive, "bench", "theirs.exe"), pf="64" if bits64 else "",
           src=src))
    for name, _ in layout:
        f.write('  Delete "$INSTDIR\\%s"\n' % name)
    f.write("""  Delete "$INSTDIR\\Uninstall Theirs.exe"
  RMDir "$INSTDIR"
  RMDir "$INSTDIR\\.."
  Delete "$SMPROGRAMS\\Bench Theirs\\Theirs.lnk"
  Delete "$SMPROGRAMS\\Bench Theirs\\Uninstall Theirs.lnk"
  RMDir "$SMPROGRAMS\\Bench Theirs"
  DeleteRegKey HKLM "${KEY}"
SectionEnd
""")
quiet(["makensis", "-V1", nsi])
program_files = os.path.join(drive, "Program Files" if bits64 or not os.path.isdir(
    os.path.join(drive, "Program Files (x86)")) else "Program Files (x86)")


def run(args):
    t0 = time.monotonic()
    r = subprocess.run(["wine"] + args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       stdin=subprocess.DEVNULL, cwd=drive)
    wall = time.monotonic() - t0
    if r.returncode:
        sys.exit("bench-quiet: wine %s ended with %d" % (" ".join(args), r.returncode))
    return wall


def installed(folder):
    for name, origin in files:
        path = os.path.join(program_files, "Bench Co", folder, *name.split("\\"))
        with open(path, "rb") as a, open(origin, "rb") as b:
            if a.read() != b.read():
                sys.exit("bench-quiet: %s differs from its source" % path)


def gone(folder):
    # Our started uninstaller ends with its copy's outcome; the copy deletes
    # it and the folders a moment later.
    for _ in range(100):
        if not os.path.exists(os.path.join(program_files, "Bench Co", folder)):
            return
        time.sleep(0.05)
    sys.exit("bench-quiet: %s is still there after its removal" % folder)


def ours():
    i = run(["C:\\bench\\ours.exe", "/QUIET"])
    installed("Ours")
    u = run(["C:\\Program Files%s\\Bench Co\\Ours\\Uninstall Ours.exe" % ("" if bits64 else " (x86)"), "/QUIET"])
    gone("Ours")
    return i, u


def theirs():
    i = run(["C:\\bench\\theirs.exe", "/S"])
    installed("Theirs")
    folder = "C:\\Program Files%s\\Bench Co\\Theirs" % ("" if bits64 else " (x86)")
    u = run([folder + "\\Uninstall Theirs.exe", "/S", "_?=" + folder])
    gone("Theirs")
    return i, u


print("product: %d files, %d bytes; installers: ours %d bytes, NSIS %d bytes (%s)" % (
    len(files), total, os.path.getsize(ours_exe), os.path.getsize(os.path.join(drive, "bench", "theirs.exe")),
    nsis_target), flush=True)
ours(), theirs()  # warm the server, the DLLs and the caches once
print("%d rounds, interleaved; load %s" % (rounds, load()), flush=True)
mine, other = [], []
for k in range(rounds):
    if k % 2 == 0:
        mine.append(ours()), other.append(theirs())
    else:
        other.append(theirs()), mine.append(ours())
    print("round %d: ours install %.2fs, removal %.2fs; NSIS install %.2fs, removal %.2fs" % (
        k + 1, mine[-1][0], mine[-1][1], other[-1][0], other[-1][1]), flush=True)
print("load %s" % load())
for i, what in enumerate(("install", "removal")):
    a, b = [r[i] for r in mine], [r[i] for r in other]
    print("%-8s ours best %.2fs median %.2fs; NSIS best %.2fs median %.2fs; ratio of the best %.2f%s" % (
        what, min(a), statistics.median(a), min(b), statistics.median(b), min(a) / min(b),
        " (goal: at most 2)" if what == "install" else ""))
PY

"""The main job, headless: install the example product under Wine with the
test robot answering as a user would, show what landed, uninstall it, show
that it is gone. Screenshots of what the user would have seen go to
out/demo/. Runs inside tests/rig/with-rig (Xvfb, template prefix)."""

import hashlib
import os
import subprocess
import sys
import threading
import time

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import rig  # noqa: E402
from rig import Box, Window  # noqa: E402

SHOTS = os.path.join(ROOT, "out", "demo")


class Camera:
    """Photographs the screen a few times a second and keeps each new picture."""

    def __init__(self, name, display):
        self.name, self.display, self.kept, self.seen = name, display, [], set()
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self.loop, daemon=True)

    def loop(self):
        while not self.stop.is_set():
            raw = subprocess.run(["import", "-display", self.display, "-window", "root", "png:-"],
                                 capture_output=True).stdout
            digest = hashlib.sha1(raw).hexdigest()
            if raw and digest not in self.seen and len(self.kept) < 12:
                self.seen.add(digest)
                path = os.path.join(SHOTS, "%s-%02d.png" % (self.name, len(self.kept) + 1))
                with open(path, "wb") as f:
                    f.write(raw)
                self.kept.append(path)
            time.sleep(0.25)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.stop.set()
        self.thread.join()


def show_tree(prefix, title, win_path):
    print("\n%s (%s):" % (title, win_path))
    tree = prefix.tree(win_path) or {}
    for name in sorted(tree):
        size = tree[name]
        print("   %-60s %s" % (name, "<folder>" if size is None else "%d bytes" % size))
    if not tree:
        print("   (nothing)")


def report(result):
    for box in result.boxes:
        print("   box [%s] %r -> %s" % (box["caption"], box["text"], box["answered"]))
    for cmd in result.processes:
        print("   process: %s" % cmd)


def main(installer):
    os.makedirs(SHOTS, exist_ok=True)
    for old in os.listdir(SHOTS):
        os.remove(os.path.join(SHOTS, old))
    product = r"\Example Software\Viewer"
    with rig.Prefix() as p:
        exe = p.copy_in(installer, r"C:\Downloads\example-setup.exe")
        print("Installing: %s" % exe)
        with Camera("install", p.display.name):
            r = p.run(exe, [], timeout=120, rules=[
                Box("Do you wish to continue?", press="Yes", delay=600),
                Window("License", press="&Yes", delay=1200),
                Box("You can access", press="OK", delay=800)])
        report(r)
        if r.timed_out:
            sys.exit("demo: the installation did not finish")
        show_tree(p, "Installed files", p.program_files + product)
        show_tree(p, "Start menu", p.start_menu_programs + r"\Example Viewer")

        uninstaller = p.program_files + product + r"\Uninstall Viewer.exe"
        print("\nUninstalling: %s" % uninstaller)
        with Camera("uninstall", p.display.name):
            r = p.run(uninstaller, [], timeout=120, rules=[
                Box("Do you wish to continue?", press="Yes", delay=600),
                Box("has been completed", press="OK", delay=800)])
        report(r)
        if r.timed_out:
            sys.exit("demo: the uninstallation did not finish")
        show_tree(p, "Installed files after uninstalling", p.program_files + r"\Example Software")
        show_tree(p, "Start menu after uninstalling", p.start_menu_programs + r"\Example Viewer")
        show_tree(p, "Temporary folder (the uninstaller's relaunched copy stays by design)", p.temp)
        gone = not p.exists(p.program_files + r"\Example Software") and \
            not p.exists(p.start_menu_programs + r"\Example Viewer")
    print("\nScreenshots: %s" % ", ".join(sorted(os.listdir(SHOTS))))
    print("demo: %s" % ("installed and uninstalled; nothing left behind" if gone else "FAILED: files were left"))
    return 0 if gone else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))

"""Faults on the way, as a user meets them: a disk that fills up during the
installation, a full Temp folder, a medium that cannot be written when the
product is removed. Each case puts a small tmpfs inside the prefix (the tests
run as root), runs the installer or the uninstaller, and checks the boxes, that
no success was reported, and what is left on disk."""

import os
import random
import re
import subprocess
import sys
from contextlib import contextmanager

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import rig  # noqa: E402
from rig import Box  # noqa: E402

# The system's words for a full disk: Windows' and Wine's.
FULL = r"(There is not enough space on the disk|Disk full)"
NOT_ALL = "Uninstall completed successfuly, but some application components are not removed."
SUCCESS = ("You can access", "has been completed successfuly")


def noise(size, seed):
    """Bytes that do not compress, so the cabinet is as large as its files."""
    return random.Random(seed).randbytes(size)


@contextmanager
def tmpfs(host_dir, size):
    """A tmpfs of `size` over host_dir for the block, unmounted again also
    when the block fails."""
    os.makedirs(host_dir, exist_ok=True)
    subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%s" % size, "tmpfs", host_dir], check=True)
    try:
        yield host_dir
    finally:
        # Wine may still hold a handle for a moment: detach it lazily then.
        if subprocess.run(["umount", host_dir], stderr=subprocess.DEVNULL).returncode != 0:
            subprocess.run(["umount", "-l", host_dir], check=True)


def file_error(verb, path, reason):
    """The entry's box for a file that cannot be written: the file, then the
    system's reason (a regex) with the box's own full stop after it."""
    return re.escape(rig.INTERNAL_ERROR % ('Cannot %s "%s".\r\n%s' % (verb, path, "@"))).replace("@", reason)


class Faults(rig.SetupCase):

    def product(self, files, name, *options):
        """An installer for Acme\\<name> with a shortcut and an uninstaller;
        returns (installer, install folder, Start-menu group, uninstaller)."""
        exe = rig.pack(self.scratch, files, "--product-name", name, "--short-name", name, "--company-folder", "Acme",
                   "--install-folder", name, "--start-menu-folder", name, "--shortcut", "App=app.exe",
                   "--make-uninstaller", "--uninstall-link-style", "1", *options, name=name + ".exe")
        folder = self.prefix.program_files + "\\Acme\\" + name
        return (exe, folder, self.prefix.start_menu_programs + "\\" + name, folder + "\\Uninstall %s.exe" % name)

    def test_faults(self):
        acme = self.prefix.program_files + r"\Acme"
        stub = os.path.getsize(rig.stub_path())
        # The files fill all but half a stub of the 256 KiB: they fit, the uninstaller does not.
        fitting = 256 * 1024 - stub // 2 - 16 * 1024
        cases = [
            # (name, folder to mount over, size, files, what runs, expected boxes (caption, text regex),
            #  files left in the install folder). A read-only file on a medium that cannot be written
            #  cannot be deleted: its mode cannot be changed either.
            ("extraction runs out of space", acme, "256k",
             {"app.exe": noise(16384, 1), "big.bin": noise(600000, 2), "readme.txt": b"hi\n"}, "install",
             [(None, file_error("write", acme + r"\Full1\big.bin", FULL))], ["app.exe"]),
            ("the uninstaller runs out of space", acme, "256k",
             {"app.exe": noise(16384, 3), "data.bin": noise(fitting, 4), "readme.txt": b"hi\n"}, "install",
             [(None, file_error("write", acme + r"\Full2\Uninstall Full2.exe", FULL))],
             ["app.exe", "data.bin", "readme.txt"]),
            ("the Temp folder is full for the cabinet copy", self.prefix.temp, "64k",
             {"app.exe": noise(200000, 5), "readme.txt": b"hi\n"}, "install",
             [(None, file_error("write", r"C:\windows\Temp\_KT?????.cab", FULL).replace(r"\?" * 5, "[0-9A-Z]{5}"))],
             None),
            ("uninstalling from a medium that cannot be written", acme, "1m",
             {"app.exe": b"MZ app", "readme.txt": b"hi\n"}, "uninstall read-only",
             [("Uninstall", "This will remove .*"),
              ("Uninstall", re.escape(NOT_ALL + '\r\n\r\nCannot delete "%s\\Full4\\app.exe".\r\n' % acme) + r".+\.")],
             ["Uninstall Full4.exe", "app.exe", "readme.txt"]),
        ]
        for number, (name, mount_at, size, files, action, boxes, left) in enumerate(cases, 1):
            with self.subTest(name):
                options = ["--attrib", "app.exe=r"] if action == "uninstall read-only" else []
                exe, folder, group, uninstaller = self.product(files, "Full%d" % number, *options)
                before = self.prefix.state()
                with tmpfs(self.prefix.host(mount_at), size) as host_dir:
                    if action == "install":
                        r = self.install(exe, args=["/SP-", "/LA-"], rules=[Box(press="OK")], ends=("failed",))
                    else:
                        r = self.install(exe)
                        self.assertEqual(r.boxes, [], r)
                        subprocess.run(["mount", "-o", "remount,ro", host_dir], check=True)
                        r = self.run_setup(uninstaller, rules=[Box("This will", press="Yes"),
                                                               Box("in use", press="Cancel"),
                                                               Box("Uninstall", press="OK")],
                                           ends=("done", "failed"))
                    self.assertEqual(len(r.boxes), len(boxes), r)
                    for box, (caption, text) in zip(r.boxes, boxes):
                        self.assertEqual(box["caption"], caption, box)
                        self.assertRegex(box["text"], "^" + text + "$")
                    self.assertFalse([b for b in r.boxes if any(s in b["text"] for s in SUCCESS)], r)
                    if action == "install":
                        self.assertEqual(r.boxes[-1]["icon"], "error")
                    if left is None:
                        self.assertFalse(self.prefix.exists(folder))
                    else:
                        self.assertEqual(self.prefix.listdir(folder), left)
                        for n in left:
                            if n in files:
                                self.assertEqual(self.prefix.read(folder + "\\" + n), files[n], n)
                    # No shortcuts for a failed installation; removed ones stay removed.
                    self.assertFalse(self.prefix.exists(group))
                    # The temporary cabinet is gone again (an uninstaller's copy of itself stays).
                    temp = {n: s for n, s in self.prefix.tree(self.prefix.temp).items()
                            if not re.fullmatch(r"_KT[0-9A-Z]{5}\.exe", n)}
                    self.assertEqual(temp, {} if mount_at == self.prefix.temp else before[self.prefix.temp])


if __name__ == "__main__":
    rig.main()

"""One uninstallation from the user's side: the listed files deleted (read-only,
missing and held-open ones included), the shortcuts and the group, the
uninstaller the user started, the empty install folders; and nothing the user
owns that is not on the list."""

import os
import pathlib
import shutil
import stat
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import rig  # noqa: E402
from rig import Box, Window  # noqa: E402

CONFIRM = Box("This will", press="Yes")
DONE = "Uninstall of %s has been completed successfuly!"
NOT_ALL = "Uninstall completed successfuly, but some application components are not removed."
IN_USE = "The file \"%s\" is in use.\r\nPlease close it and try again."
FILES = {"a.txt": b"first", "b.txt": b"second", "c.ini": b"[third]"}


class Uninstall(rig.SetupCase):

    def installed(self, company="", folder="Kit", files=FILES, options=(), cab_order=None):
        """Installs a product with two shortcuts and an uninstaller; returns
        (install folder, Start-menu group, uninstaller)."""
        if cab_order:
            # A hand-made cabinet, so the order of the list is known.
            cab = rig.make_cab(os.path.join(self.scratch, "kit.cab"), {n: files[n] for n in cab_order})
            exe = rig.make_package(os.path.join(self.scratch, "kit.exe"), payload=pathlib.Path(cab).read_bytes(),
                                   shortcuts=b"a.txt|Kit A\rb.txt|Kit B\r", product_name="Kit Product",
                                   short_name="Kit", company_folder=company, install_folder=folder,
                                   start_menu_folder="Kit Group", file_count=len(files), make_uninstaller=1,
                                   uninstall_link_style=1)
        else:
            if company:
                options = ("--company-folder", company) + tuple(options)
            exe = rig.pack(self.scratch, files, "--product-name", "Kit Product", "--short-name", "Kit",
                       "--install-folder", folder, "--start-menu-folder", "Kit Group",
                       "--shortcut", "Kit A=a.txt", "--shortcut", "Kit B=b.txt", "--make-uninstaller",
                       "--uninstall-link-style", "1", *options)
        r = self.install(exe)
        self.assertEqual(r.boxes, [], (r, r.exits, r.stderr[-2000:]))
        base = self.prefix.program_files + ("\\" + company if company else "")
        install = base + "\\" + folder
        group = self.prefix.start_menu_programs + r"\Kit Group"
        uninstaller = install + r"\Uninstall Kit.exe"
        self.assertTrue(self.prefix.exists(uninstaller), (self.prefix.tree(install), r.log))
        self.assertEqual(self.prefix.listdir(group), ["Kit A.lnk", "Kit B.lnk", "Uninstall Kit.lnk"])
        return install, group, uninstaller

    # The in-use box has no "Uninstall" in its text; both final boxes do.
    # The started uninstaller ends as it hands over; copy_ends is its copy's.
    def uninstall(self, uninstaller, rules=(CONFIRM, Box("Uninstall", press="OK")), copy_ends="done"):
        return self.run_setup(uninstaller, rules=list(rules), ends=("done", copy_ends))

    def test_install_folders_removed_where_empty(self):
        cases = [
            # (company, install folder, folders expected to stay)
            ("Acme", r"Tools\Viewer", [self.prefix.program_files + r"\Acme"]),
            ("Acme", "Viewer", []),
        ]
        for company, folder, stays in cases:
            with self.subTest(folder=folder):
                install, group, uninstaller = self.installed(company, folder)
                self.assertEqual(self.prefix.listdir(install), sorted(list(FILES) + ["Uninstall Kit.exe"]))
                r = self.uninstall(uninstaller)
                self.assertEqual([rig.seen(b) for b in r.boxes][1:],
                                 [("Uninstall", DONE % "Kit Product", ["OK"], "information")], r)
                self.assertFalse(self.prefix.exists(install))
                self.assertFalse(self.prefix.exists(group))
                self.assertFalse(self.prefix.exists(install.rsplit("\\", 1)[0]))
                for kept in stays:
                    self.assertEqual(self.prefix.listdir(kept), [])
                self.assertEqual(self.prefix.exists(self.prefix.program_files + r"\Acme"), bool(stays))

    def test_what_is_not_listed_stays(self):
        install, group, uninstaller = self.installed()
        self.prefix.write(install + r"\notes.txt", "mine")
        self.prefix.write(install + r"\data\saved.dat", "mine too")
        self.prefix.write(group + r"\Other Tool.lnk", "not ours")
        self.prefix.write(self.prefix.program_files + r"\Kit Other\a.txt", "same name elsewhere")
        r = self.uninstall(uninstaller)
        self.assertEqual([rig.seen(b) for b in r.boxes][1:], [("Uninstall", NOT_ALL, ["OK"], "information")], r)
        self.assertEqual(self.prefix.tree(install), {"notes.txt": 4, "data": None, r"data/saved.dat": 8})
        self.assertEqual(self.prefix.listdir(group), ["Other Tool.lnk"])
        self.assertEqual(self.prefix.read(self.prefix.program_files + r"\Kit Other\a.txt"), b"same name elsewhere")

    def test_read_only_and_missing_files_are_no_question(self):
        install, group, uninstaller = self.installed(options=["--attrib", "c.ini=r"])
        # The cabinet's read-only mark reached the file: root could not delete it as it is.
        self.assertFalse(os.stat(self.prefix.host(install + r"\c.ini")).st_mode & stat.S_IWUSR)
        os.remove(self.prefix.host(install + r"\b.txt"))
        r = self.uninstall(uninstaller)
        self.assertEqual([rig.seen(b) for b in r.boxes][1:],
                         [("Uninstall", DONE % "Kit Product", ["OK"], "information")], r)
        self.assertFalse(self.prefix.exists(install))
        self.assertEqual(rig.last_progress(r, "Uninstall"), (0, len(FILES) + 2, len(FILES) + 2))

    def test_file_held_open(self):
        order = ["a.txt", "b.txt", "c.ini"]
        cases = [
            # (answer, held for seconds, files left, final box, how the copy ends)
            ("OK", 8, [], DONE % "Kit Product", "done"),
            ("Cancel", 60, ["Uninstall Kit.exe", "b.txt", "c.ini"], None, "cancelled"),
        ]
        for answer, seconds, left, final, end in cases:
            with self.subTest(answer):
                install, group, uninstaller = self.installed(cab_order=order)
                held = install + r"\b.txt"
                # OK is pressed a second after each box: the box comes back
                # until the holder lets go.
                with self.prefix.hold(held, seconds=seconds):
                    r = self.uninstall(uninstaller, rules=[CONFIRM, Box("is in use", press=answer, delay=1000),
                                                           Box("Uninstall", press="OK")], copy_ends=end)
                in_use = [b for b in r.boxes if "is in use" in b["text"]]
                self.assertGreaterEqual(len(in_use), 1, r)
                for box in in_use:
                    self.assertEqual(rig.seen(box), ("Uninstall", IN_USE % held, ["OK", "Cancel"], "question"))
                    self.assertEqual(box["owner"], "Uninstall")
                finals = [b["text"] for b in r.boxes[1:] if "is in use" not in b["text"]]
                self.assertEqual(finals, [final] if final else [], r)
                if final:
                    self.assertFalse(self.prefix.exists(install))
                    self.assertFalse(self.prefix.exists(group))
                else:
                    self.assertEqual(len(in_use), 1, r)
                    self.assertEqual(self.prefix.listdir(install), left)
                    self.assertEqual(self.prefix.listdir(group), ["Kit A.lnk", "Kit B.lnk", "Uninstall Kit.lnk"])

    def test_started_uninstaller_let_go_late(self):
        # The started uninstaller's file stays mapped, as a program's image
        # is while it ends, for 600 ms after the copy reaches for it: longer
        # than one try. The copy opens it, cannot delete it yet, and tries
        # again until it can.
        install, group, uninstaller = self.installed()
        log = r"C:\late.log"
        with self.prefix.hold(uninstaller, seconds=60, image=True, after_gone=(group + r"\Kit A.lnk", 600)):
            r = self.run_setup(uninstaller, ["/LOG=" + log], rules=[CONFIRM, Box("Uninstall", press="OK")],
                               ends=("done", "done"))
        self.assertEqual([rig.seen(b) for b in r.boxes][1:],
                         [("Uninstall", DONE % "Kit Product", ["OK"], "information")], r)
        self.assertFalse(self.prefix.exists(install))
        self.assertFalse(self.prefix.exists(group))
        copy = [lines for lines in rig.log_lines(self.prefix.read(log)).values()
                if any(l.startswith("Deleted " + uninstaller) for l in lines)]
        self.assertEqual(len(copy), 1, self.prefix.read(log))
        self.assertTrue(any(l.startswith("Not yet deleted: " + uninstaller) for l in copy[0]), copy[0])

    def test_abort_while_deleting(self):
        # 15 ms after each of 300 entries leaves time to press Abort; what is
        # deleted stays deleted, everything else stays.
        files = {"f%03d.txt" % i: b"x" for i in range(300)}
        files.update({"a.txt": b"a", "b.txt": b"b"})
        install, group, uninstaller = self.installed(files=files)
        r = self.uninstall(uninstaller, rules=[CONFIRM, Window("Uninstall", when="Deleting files...",
                                                               press="&Abort", delay=500),
                                               Box("Internal Error", press="OK")], copy_ends="cancelled")
        self.assertEqual([(b["caption"], b["text"], b["owner"]) for b in r.boxes][1:],
                         [(None, "Internal Error: Operation aborted by user.\r\n\r\nSetup will be terminated.",
                           None)], r)
        left = self.prefix.listdir(install)
        self.assertIn("Uninstall Kit.exe", left)
        self.assertTrue(1 < len(left) < len(files) + 1, len(left))
        self.assertEqual(self.prefix.listdir(group), ["Kit A.lnk", "Kit B.lnk", "Uninstall Kit.lnk"])

    def test_hand_made_uninstaller_without_shortcuts(self):
        # Only the list counts: a duplicate entry is skipped the second time,
        # text after the last CR is no path, and a group of the same name is
        # not looked at.
        folder = self.prefix.program_files + r"\Hand"
        for name in ("a.txt", "b.txt"):
            self.prefix.write(folder + "\\" + name, name)
        self.prefix.write(r"C:\keep\tail.txt", "not listed")
        group = self.prefix.start_menu_programs + r"\Hand"
        self.prefix.write(group + r"\Hand.lnk", "someone's")
        listed = (folder + r"\a.txt" + "\r" + folder + r"\b.txt" + "\r" + folder + r"\a.txt" + "\r"
                  + r"C:\keep\tail.txt").encode("cp1252")
        pkg = rig.make_package(os.path.join(self.scratch, "hand.exe"), payload=listed, product_name="Hand Made",
                               install_folder="Hand", start_menu_folder="Hand", file_count=3, uninstall_mode=1,
                               make_uninstaller=1)
        uninstaller = self.prefix.copy_in(pkg, folder + r"\Uninstall.exe")
        r = self.uninstall(uninstaller)
        self.assertEqual([rig.seen(b) for b in r.boxes][1:],
                         [("Uninstall", DONE % "Hand Made", ["OK"], "information")], r)
        self.assertFalse(self.prefix.exists(folder))
        self.assertEqual(self.prefix.read(r"C:\keep\tail.txt"), b"not listed")
        self.assertEqual(self.prefix.listdir(group), ["Hand.lnk"])

    def test_wait_after_every_entry_even_a_missing_one(self):
        # 15 ms after each listed entry, whether its file existed or not.
        entries = 200
        listed = "".join(self.prefix.program_files + r"\Gone\f%03d.txt" % i + "\r" for i in range(entries))
        pkg = rig.make_package(os.path.join(self.scratch, "gone.exe"), payload=listed.encode("cp1252"),
                               product_name="Gone", install_folder="Gone", start_menu_folder="Gone",
                               file_count=entries, uninstall_mode=1)
        uninstaller = self.prefix.copy_in(pkg, self.prefix.program_files + r"\Gone\Uninstall.exe")
        r = self.uninstall(uninstaller)
        self.assertEqual([b["text"] for b in r.boxes][1:], [DONE % "Gone"], r)
        self.assertGreaterEqual(r.boxes[1]["t"] - r.boxes[0]["t"], entries * 15)

    def test_damaged_file_list_removes_nothing(self):
        # The digest of its own package in the uninstaller's headers finds
        # the damage before it asks; without it (as a stub without the slot)
        # the relaunched copy finds it by the list's CRC-32.
        def without_digest(data):
            data[rig.DIGEST_SLOT:rig.DIGEST_SLOT + 40] = bytes(40)

        # (name, change, questions before, how the started one and its copy end, box)
        cases = [("with the digest", None, [], ("damaged",), None,
                  "This copy of UNINSTALL KIT.EXE is corrupted!\r\n\r\nPlease download a new copy of it and try again."),
                 ("without it", without_digest, [CONFIRM], ("done", "damaged"), "Uninstall",
                  "This copy of Uninstall is corrupted!\r\n\r\nPlease download a new copy of it and try again.")]
        for name, change, asked, ends, caption, text in cases:
            with self.subTest(name):
                install, group, uninstaller = self.installed()
                data = bytearray(self.prefix.read(uninstaller))
                data[-2] ^= 0x01  # inside the last listed path: the list's CRC-32 no longer matches
                if change:
                    change(data)
                self.prefix.write(uninstaller, bytes(data))
                before = self.prefix.state()
                r = self.run_setup(uninstaller, rules=asked + [Box("corrupted", press="OK")], ends=ends)
                self.assertEqual([rig.seen(b) for b in r.boxes][len(asked):], [(caption, text, ["OK"], "error")], r)
                after = self.prefix.state()
                self.assertEqual(after[self.prefix.program_files], before[self.prefix.program_files])
                self.assertEqual(after[self.prefix.start_menu_programs], before[self.prefix.start_menu_programs])
                shutil.rmtree(self.prefix.host(install))
                shutil.rmtree(self.prefix.host(group))


if __name__ == "__main__":
    rig.main()

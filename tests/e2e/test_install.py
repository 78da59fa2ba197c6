"""One installation from the user's side: the cabinet copied out, the license,
the files, the Start-menu shortcuts and the uninstaller, marked files started,
the final message; and what a failure on the way leaves behind."""

import json
import os
import pathlib
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import rig  # noqa: E402
from rig import Box, Window  # noqa: E402

ACCESS = "You can access %s by clicking on Start Menu, then All Programs."
COMPLETED = "Setup of %s has been completed successfuly."
NO_ICONS = "Application icons cannot be created in your Start Menu."


def rig_read_cab(scratch, files):
    """The bytes of a cabinet of files, as a ready-made one."""
    with open(rig.make_cab(os.path.join(scratch, "files.cab"), files), "rb") as f:
        return f.read()


def cabinet_order(installer):
    """Stored names of the installer's cabinet in the order it delivers them."""
    return [e["name"] for e in rig.inspect(installer)["cabinet"]["entries"]]


# --- tests ---------------------------------------------------------------------

ROAD_FILES = {
    "readme.txt": b"Read me first.\r\n",
    "viewer.exe": b"MZ not really a program",
    "license.txt": b"Road license terms: be nice.\r\n",
}
ROAD_FOLDER = rig.program_files() + r"\Road Product"


class Install(rig.SetupCase):

    def test_installation_then_uninstallation(self):
        installer = rig.pack(self.scratch, ROAD_FILES, "--product-name", "Road Product", "--short-name", "Road",
                         "--install-folder", "Road Product", "--start-menu-folder", "Road Group",
                         "--shortcut", "Read Me=readme.txt", "--shortcut", "Road Viewer=viewer.exe",
                         "--license-file", "license.txt", "--make-uninstaller", "--uninstall-link-style", "1")
        # Both runs append to one log in a folder with a blank in its name:
        # first the path in quotes, then the switch in lower case.
        log = r"C:\log dir\road.log"
        os.makedirs(self.prefix.host(r"C:\log dir"))
        before = self.prefix.state()
        r = self.install(installer, args=['/LOG="%s"' % log], rules=[Box("This will", press="Yes"),
                                                                    Window("Road License", press="&Yes"),
                                                                    Box("You can access", press="OK")])
        self.assertEqual([rig.seen(b) for b in r.boxes], [
            ("Setup", "This will install Road Product on your computer. Do you wish to continue?",
             ["&Yes", "&No"], "question"),
            ("Setup", ACCESS % "Road Product", ["OK"], "information")], r)
        self.assertEqual(r.boxes[1]["owner"], "Setup")
        # The license window names ShortName and shows the extracted text.
        license = r.last_window("Road License")
        self.assertIsNotNone(license, r)
        self.assertIn("Road license terms: be nice.", "".join(rig.texts(license)))
        progress = r.last_window("Setup")
        self.assertIn("Installed successfuly", rig.texts(progress))
        self.assertEqual(rig.last_progress(r, "Setup"), (0, len(ROAD_FILES) + 2, len(ROAD_FILES) + 2))

        for name, data in ROAD_FILES.items():
            self.assertEqual(self.prefix.read(ROAD_FOLDER + "\\" + name), data, name)
        uninstaller = ROAD_FOLDER + r"\Uninstall Road.exe"
        self.assertEqual(self.prefix.listdir(ROAD_FOLDER), sorted(list(ROAD_FILES) + ["Uninstall Road.exe"]))
        group = self.prefix.start_menu_programs + r"\Road Group"
        self.assertEqual(self.prefix.listdir(group), ["Read Me.lnk", "Road Viewer.lnk", "Uninstall Road.lnk"])
        self.assertLink(group + r"\Read Me.lnk", ROAD_FOLDER + r"\readme.txt", "Opens Road Product", 0)
        self.assertLink(group + r"\Road Viewer.lnk", ROAD_FOLDER + r"\viewer.exe", "Opens Road Product", 0)
        self.assertLink(group + r"\Uninstall Road.lnk", uninstaller, "Removes Road Product from your computer", 1)
        # The temporary cabinet and license are gone again.
        self.assertEqual(self.temp_files(), sorted(before[self.prefix.temp]))

        # The uninstaller: the same stub and header, marked for uninstalling,
        # with the installed files in cabinet order as its payload: relative
        # to the install folder, as a package that keeps its tree lists them.
        report = rig.inspect(self.prefix.host(uninstaller))
        self.assertEqual(report["kind"], "uninstaller", report)
        self.assertEqual(report["installedFiles"], cabinet_order(installer))
        original = rig.inspect(installer)["header"]
        for key, value in original.items():
            if key not in ("UninstallMode", "PayloadSize", "PayloadCrc"):
                self.assertEqual(report["header"][key], value, key)
        self.assertEqual(report["header"]["UninstallMode"], 1)
        with open(installer, "rb") as f:
            setup_bytes = f.read()
        uninst_bytes = self.prefix.read(uninstaller)
        stub_size = rig.marker(setup_bytes)[1]
        # Bytes 40 to 47 are the uninstaller's own record: the texts' code
        # page as the installer had it (the packer's default, UTF-8), a
        # UTF-8 file list (0x1) and what the installer asked for (sub-folders
        # 0x2, Apps & features 0x4, unattended 0x10, upgrades 0x40). Its
        # headers carry the digest of its own package, which inspect checks.
        self.assertEqual(uninst_bytes[:40], setup_bytes[:40])
        self.assertEqual(struct.unpack_from("<HHH", setup_bytes, 40), (0x5363, 65001, 0x56))
        self.assertEqual(struct.unpack_from("<HHH", uninst_bytes, 40), (0x5363, 65001, 0x57))
        slot = slice(rig.DIGEST_SLOT, rig.DIGEST_SLOT + 40)
        self.assertEqual(uninst_bytes[60:slot.start], setup_bytes[60:slot.start])
        self.assertEqual(uninst_bytes[slot.stop:stub_size], setup_bytes[slot.stop:stub_size])
        self.assertEqual((uninst_bytes[slot][:8], setup_bytes[slot][:8]), (b"cSSHA256", b"cSSHA256"))
        self.assertNotEqual(uninst_bytes[slot], setup_bytes[slot])
        self.assertTrue(report["digest"]["matches"], report["digest"])
        self.assertTrue(rig.inspect(installer)["digest"]["matches"])
        self.assertEqual(rig.marker(uninst_bytes)[1:], (stub_size, len(uninst_bytes)))

        installed = [ROAD_FOLDER + "\\" + n for n in cabinet_order(installer)]
        links = [group + "\\" + n for n in ("Read Me.lnk", "Road Viewer.lnk", "Uninstall Road.lnk")]
        start = r"Start \((32|64)-bit\): "
        lines = rig.log_lines(self.prefix.read(log))
        self.assertEqual(list(lines), [e["pid"] for e in r.process_events if rig.program_of(e) == "setup.exe"], lines)
        self.assertLog(list(lines.values())[0], [
            re.compile(start + r'C:\\dl\\setup\.exe /LOG="?C:\\log dir\\road\.log"?'), "Switches:",
            "Package checked: Road Product, installer, 3 files", "Starting...",
            "This will install Road Product on your computer. Do you wish to continue?", "Answer: Yes",
            "Working...", "Shortcut list checked", re.compile(r"Cabinet checked: C:\\windows\\Temp\\_KT\w{5}\.cab"),
            "Accepting agreement...", "License accepted", "Folder " + ROAD_FOLDER, "Installing files..."]
            + ["Extracting " + p for p in installed]
            + ["Creating icons...", "Uninstaller " + uninstaller,
               r"Registered HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Road Product",
               "Folder " + group] + ["Shortcut " + p for p in links]
            + ["Installed successfuly", ACCESS % "Road Product", "Exit code 0"])

        u = self.run_setup(uninstaller, ["/log=" + log], rules=[Box("This will", press="Yes"),
                                                                 Box("Uninstall of", press="OK")],
                           ends=("done", "done"))
        self.assertEqual([rig.seen(b) for b in u.boxes], [
            ("Uninstall", "This will remove Road Product from your computer. Do you wish to continue?",
             ["&Yes", "&No"], "information"),
            ("Uninstall", "Uninstall of Road Product has been completed successfuly!", ["OK"], "information")], u)
        self.assertEqual(u.boxes[1]["owner"], "Uninstall")
        progress = u.last_window("Uninstall")
        self.assertIn("Uninstalled successfuly", rig.texts(progress))
        self.assertEqual(rig.last_progress(u, "Uninstall"), (0, len(ROAD_FILES) + 2, len(ROAD_FILES) + 2))
        after = self.prefix.state()
        self.assertEqual(after[self.prefix.program_files], before[self.prefix.program_files])
        self.assertEqual(after[self.prefix.start_menu_programs], before[self.prefix.start_menu_programs])
        # Only the relaunched copy stays in Temp.
        self.assertEqual([n for n in self.temp_files() if n not in before[self.prefix.temp]],
                         [n for n in self.temp_files() if re.fullmatch(r"_KT[0-9A-Z]{5}\.exe", n)])
        # The started uninstaller hands over; its copy, given only the log,
        # logs the removal after the installation's lines.
        lines = rig.log_lines(self.prefix.read(log))
        pids = [e["pid"] for e in u.process_events if re.fullmatch(r"uninstall road\.exe|_kt\w{5}\.exe", rig.program_of(e))]
        self.assertEqual(list(lines)[1:], pids, lines)
        copy = r"C:\\windows\\(?i:temp)\\_KT\w{5}\.exe"
        self.assertLog(lines[pids[0]], [
            re.compile(start + re.escape(uninstaller + " /log=" + log)), "Switches:",
            "Package checked: Road Product, uninstaller, 3 files", "Starting...",
            re.compile("Started the copy " + copy), "Exit code 0"])
        self.assertLog(lines[pids[1]], [
            re.compile(start + copy + " /SECSUN " + re.escape(uninstaller + " /LOG=" + log)), "Switches: /SECSUN",
            "Package checked: Road Product, uninstaller, 3 files", "Starting...",
            "This will remove Road Product from your computer. Do you wish to continue?", "Answer: Yes",
            "Working...", "Shortcut list checked", re.compile("Removed when Windows starts next: " + copy),
            "File list checked", "Deleting files..."]
            + ["Deleted " + p for p in installed] + ["Removing icons..."] + ["Deleted " + p for p in links]
            + [r"Unregistered HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Road Product",
               "Deleted " + uninstaller, "Uninstalled successfuly",
               "Uninstall of Road Product has been completed successfuly!", "Exit code 0"])

    def test_shortcut_list_forms(self):
        cab = rig.make_cab(os.path.join(self.scratch, "p.cab"), {"a.txt": b"A", "b.txt": b"B"})
        folder = self.prefix.program_files + r"\Forms"
        group = self.prefix.start_menu_programs + r"\Forms Group"
        opens, removes = "Opens Forms Product", "Removes Forms Product from your computer"
        cases = [
            # (name, ShortcutList, UninstallLinkStyle, files in the folder,
            #  links {name: (target in the folder, description, icon)}, boxes)
            ("empty list, MakeUninstaller 1", b"", 1, ["a.txt", "b.txt"], None,
             [("Setup", COMPLETED % "Forms Product", ["OK"], "information")]),
            ("last record without CR", b"a.txt|First\rb.txt|Second", 0,
             ["Uninstall.exe", "a.txt", "b.txt"],
             {"First.lnk": ("a.txt", opens, 0), "Uninstall.lnk": ("Uninstall.exe", removes, 1)},
             [("Setup", NO_ICONS, ["OK"], "warning"),
              ("Setup", ACCESS % "Forms Product", ["OK"], "information")]),
            ("link style 2", b"b.txt|Second\r", 2,
             ["Uninstall Forms Product.exe", "a.txt", "b.txt"],
             {"Second.lnk": ("b.txt", opens, 0),
              "Uninstall Forms Product.lnk": ("Uninstall Forms Product.exe", removes, 1)},
             [("Setup", ACCESS % "Forms Product", ["OK"], "information")]),
        ]
        for name, shortcuts, style, files, links, boxes in cases:
            with self.subTest(name):
                shutil.rmtree(self.prefix.host(folder), ignore_errors=True)
                shutil.rmtree(self.prefix.host(group), ignore_errors=True)
                pkg = rig.make_package(os.path.join(self.scratch, "forms.exe"), shortcuts=shortcuts,
                                       payload=pathlib.Path(cab).read_bytes(), product_name="Forms Product",
                                       short_name="Forms", install_folder="Forms", start_menu_folder="Forms Group",
                                       file_count=2, make_uninstaller=1, uninstall_link_style=style)
                r = self.install(pkg, args=rig.QUIET, rules=[Box(press="OK")])
                self.assertEqual([rig.seen(b) for b in r.boxes], boxes, r)
                self.assertEqual(self.prefix.listdir(folder), files)
                if links is None:
                    self.assertFalse(self.prefix.exists(group))
                    continue
                self.assertEqual(self.prefix.listdir(group), sorted(links))
                for link, (target, description, icon) in links.items():
                    self.assertLink(group + "\\" + link, folder + "\\" + target, description, icon)

    def test_marked_file_and_silent_switch_skip_the_final_box(self):
        # The marked script leaves a trace: a program that ends at once can
        # come and go between two looks at the process list.
        script = b"@echo off\r\necho started> C:\\marked.log\r\n"
        cases = [
            # (name, extra pack options, switches, marked file started)
            ("marked file", ["--run", "start.cmd"], rig.QUIET, True),
            ("/SILENT", [], rig.QUIET + ["/silent"], False),
        ]
        for name, options, switches, started in cases:
            with self.subTest(name):
                if self.prefix.exists(r"C:\marked.log"):
                    os.remove(self.prefix.host(r"C:\marked.log"))
                folder = self.prefix.program_files + r"\Marked " + str(started)
                exe = rig.pack(self.scratch, {"start.cmd": script, "note.txt": b"n"}, "--product-name", "Marked",
                           "--install-folder", folder.split("\\")[-1], "--start-menu-folder", "Marked",
                           "--shortcut", "Note=note.txt", *options, name=name.strip("/") + ".exe")
                r = self.install(exe, args=switches)
                self.assertEqual(r.boxes, [], r)
                self.assertTrue(self.prefix.exists(folder + r"\note.txt"))
                self.assertEqual(self.prefix.exists(r"C:\marked.log"), started)

    def test_license_step_skipped(self):
        # A license.txt already in Temp shows whether the step extracted (and
        # then deleted) one.
        files = {"license.txt": b"terms", "a.txt": b"a"}
        cases = [("/LA-", ["--license-file", "license.txt"], ["/SP-", "/la-", "/SILENT"]),
                 ("no LicenseFile", [], ["/SP-", "/SILENT"])]
        for name, options, switches in cases:
            with self.subTest(name):
                self.prefix.write(self.prefix.temp + r"\license.txt", b"someone else's")
                exe = rig.pack(self.scratch, files, "--product-name", "Lic", "--short-name", "Lic",
                           "--install-folder", "Lic " + name.strip("/"), *options)
                r = self.install(exe, args=switches, rules=[Window("License", press="&No")] + rig.DECLINE_ALL)
                self.assertEqual(r.boxes, [], r)
                self.assertIsNone(r.last_window("License"), r)
                self.assertEqual(self.prefix.read(self.prefix.temp + r"\license.txt"), b"someone else's")
                self.assertEqual(self.prefix.read(self.prefix.program_files + r"\Lic %s\a.txt" % name.strip("/")), b"a")

    def test_declined_license_leaves_nothing(self):
        exe = rig.pack(self.scratch, ROAD_FILES, "--product-name", "Road Product", "--short-name", "Road",
                   "--install-folder", "Road Product", "--start-menu-folder", "Road Group",
                   "--shortcut", "Read Me=readme.txt", "--license-file", "license.txt", "--make-uninstaller")
        before = self.prefix.state()
        r = self.install(exe, args=["/SP-"], rules=[Window("Road License", press="&No")] + rig.DECLINE_ALL,
                         ends=("declined",))
        self.assertIsNotNone(r.last_window("Road License"), r)
        self.assertEqual(r.boxes, [], r)
        self.assertEqual(self.prefix.state(), before)

    def test_abort_during_extraction(self):
        # Enough files that the 15 ms after each leaves time to press Abort.
        files = {"f%03d.txt" % i: b"%d" % i for i in range(300)}
        exe = rig.pack(self.scratch, files, "--product-name", "Abort Me", "--company-folder", "Acme",
                   "--install-folder", "Abort", "--start-menu-folder", "Abort", "--shortcut", "F=f000.txt",
                   "--make-uninstaller")
        folder = self.prefix.program_files + r"\Acme\Abort"
        before = self.prefix.state()
        # The status line names each file as it is extracted.
        r = self.install(exe, args=rig.QUIET, rules=[Window("Setup", when=".txt", press="&Abort", delay=300),
                                                 Box("Internal Error", press="OK")], ends=("cancelled",))
        self.assertEqual([(b["caption"], b["text"], b["owner"], b["icon"]) for b in r.boxes],
                         [(None, rig.INTERNAL_ERROR % "Operation aborted by user", None, "error")], r)
        left = self.prefix.listdir(folder)
        self.assertTrue(0 < len(left) < len(files), len(left))
        for name in left:
            self.assertEqual(self.prefix.read(folder + "\\" + name), files[name])
        self.assertFalse(self.prefix.exists(self.prefix.start_menu_programs + r"\Abort"))
        self.assertEqual(self.prefix.state()[self.prefix.temp], before[self.prefix.temp])

    def test_quiet_runs_unattended_both_ways(self):
        # /QUIET: no window and no box, each end with its exit code, and a
        # started uninstaller that ends with its copy's outcome. A package
        # that does not ask for it runs as described.
        folder = rig.program_files() + r"\Acme\Quiet"
        uninstaller = folder + r"\Uninstall Quiet.exe"
        options = ("--product-name", "Quiet", "--short-name", "Quiet", "--company-folder", "Acme",
                   "--install-folder", "Quiet", "--start-menu-folder", "Quiet", "--shortcut", "Quiet=app.exe",
                   "--make-uninstaller")
        exe = rig.pack(self.scratch, {"app.exe": b"MZ app", "guide.txt": b"guide"}, *options)
        damaged = os.path.join(self.scratch, "damaged.exe")
        with open(exe, "rb") as f:
            data = bytearray(f.read())
        data[-3] ^= 0xFF
        with open(damaged, "wb") as f:
            f.write(data)
        described = rig.make_package(os.path.join(self.scratch, "old.exe"),
                                     payload=rig_read_cab(self.scratch, {"app.exe": b"MZ app", "guide.txt": b"guide"}),
                                     product_name="Old", install_folder="Old", start_menu_folder="Old", file_count=2)
        cases = [
            # (name, installer, held file, how it ends, boxes seen)
            ("a sound package", exe, None, "done", 0),
            ("a damaged copy", damaged, None, "damaged", 0),
            ("a file in use", exe, folder + r"\app.exe", "failed", 0),
            ("a package that does not ask: the question, declined", described, None, "declined", 1),
        ]
        for name, installer, held, end, boxes in cases:
            with self.subTest(name):
                shutil.rmtree(self.prefix.host(folder), ignore_errors=True)
                if held:
                    self.prefix.write(held, b"running")
                    with self.prefix.hold(held):
                        r = self.install(installer, args=["/QUIET"], ends=(end,))
                else:
                    r = self.install(installer, args=["/QUIET"], ends=(end,))
                self.assertEqual(len(r.boxes), boxes, r)
                if not boxes:
                    self.assertEqual(r.window_titles(), [], r)
                self.assertEqual(self.prefix.exists(folder + r"\guide.txt"), end == "done", r)
        # Removed unattended: the started uninstaller ends with the copy's
        # outcome, and afterwards nothing of the product is left; the copy
        # in Temp goes when Windows next starts.
        shutil.rmtree(self.prefix.host(folder), ignore_errors=True)
        self.assertEqual(self.install(exe, args=["/QUIET"]).boxes, [])
        self.assertTrue(self.prefix.exists(uninstaller), self.prefix.listdir(folder))
        with self.prefix.hold(folder + r"\app.exe"):
            r = self.run_setup(uninstaller, ["/QUIET"], rules=[], ends=("failed", "failed"))
        self.assertEqual((r.boxes, r.window_titles()), ([], []), r)
        self.assertTrue(self.prefix.exists(uninstaller))
        r = self.run_setup(uninstaller, ["/QUIET"], rules=[], ends=("done", "done"))
        self.assertEqual((r.boxes, r.window_titles()), ([], []), r)
        self.assertTrue(r.processes[1].endswith('/SECSUN "%s" /QUIET' % uninstaller), r)
        for _ in range(50):
            if not self.prefix.exists(rig.program_files() + r"\Acme"):
                break
            time.sleep(0.1)
        self.assertFalse(self.prefix.exists(rig.program_files() + r"\Acme"))
        copy = re.match(r'^"([^"]+)"', r.processes[1]).group(1)
        pending = subprocess.run(["wine", "reg", "query", r"HKLM\System\CurrentControlSet\Control\Session Manager",
                                  "/v", "PendingFileRenameOperations"], env=self.prefix.env, stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL).stdout.decode("utf-8", "replace")
        self.assertIn(copy.split("\\")[-1], pending)

    def test_target_in_use_during_extraction(self):
        # The extractor asks in its own words: caption "Extract", the path in
        # lower case. Cancel ends the installation through the entry's box.
        folder = self.prefix.program_files + r"\Held"
        self.prefix.write(folder + r"\B.txt", b"old and held")
        cab = rig.make_cab(os.path.join(self.scratch, "held.cab"), {"a.txt": b"a", "B.txt": b"new", "c.txt": b"c"})
        pkg = rig.make_package(os.path.join(self.scratch, "held.exe"), payload=pathlib.Path(cab).read_bytes(),
                               product_name="Held", install_folder="Held", start_menu_folder="Held", file_count=3)
        with self.prefix.hold(folder + r"\B.txt"):
            r = self.install(pkg, args=rig.QUIET, rules=[Box("is in use", press="Cancel"), Box(press="OK")],
                             ends=("cancelled",))
        self.assertEqual([rig.seen(b) for b in r.boxes][0],
                         ("Extract", 'The file "c:\\program files\\held\\b.txt" is in use.\r\n'
                                     'Please close it and try again.', ["OK", "Cancel"], "question"), r)
        self.assertEqual(r.boxes[0]["owner"], "Setup")
        self.assertEqual(len(r.boxes), 2, r)
        self.assertEqual((r.boxes[1]["caption"], r.boxes[1]["owner"]), (None, None))
        self.assertRegex(r.boxes[1]["text"], r"^Internal Error: FDICopy\(\) Failed : code \d+ \[.*\]\.\r\n\r\n")
        # What came before stays, the held file is untouched, nothing after it.
        self.assertEqual(self.prefix.listdir(folder), ["B.txt", "a.txt"])
        self.assertEqual(self.prefix.read(folder + r"\B.txt"), b"old and held")

    def test_bad_cabinet_names_are_refused_before_anything_is_written(self):
        # Every entry is checked before the first file is written: a refused
        # package makes no folder, no file, no shortcut and no uninstaller,
        # whichever entry breaks the rules. A package that asks for
        # sub-folders (its record's asks 0x2) has every component checked.
        def way_up(data):
            self.assertEqual(data.count(b"x\\ab"), 1)
            return data.replace(b"x\\ab", b"x\\..")

        def no_entry(data):
            return data[:28] + b"\0\0" + data[30:]  # cFiles 0

        cases = [
            ("a name Windows cannot hold", {"a<b>.txt": b"x", "c.txt": b"c"}, None, "a<b>.txt", 0),
            ("a device name after a good file", {"ok.txt": b"ok", "nul.txt": b"x"}, None, "nul.txt", 0),
            ("a device name below a folder", {"ok.txt": b"ok", "sub\\COM1.log": b"x"}, None, "COM1.log", 0),
            ("a way up", {"ok.txt": b"ok", "x\\ab": b"x"}, way_up, "..", 0),
            ("names differing only in case", {"Readme.txt": b"a", "README.txt": b"b"}, None, "README.txt", 0),
            ("no entry", {"ok.txt": b"ok"}, no_entry, None, 0),
            ("with sub-folders, a way up", {"ok.txt": b"ok", "x\\ab\\evil.txt": b"x"}, way_up, "x\\..\\evil.txt", 2),
            ("with sub-folders, a device name as a folder", {"ok.txt": b"ok", "con\\a.txt": b"x"}, None,
             "con\\a.txt", 2),
            ("with sub-folders, folders Windows makes one", {"Docs.\\a.txt": b"a", "docs\\A.txt": b"b"}, None,
             "docs\\A.txt", 2),
        ]
        os.makedirs(self.prefix.host(r"C:\logs"), exist_ok=True)
        for number, (name, files, change, refused, asks) in enumerate(cases):
            with self.subTest(name):
                with open(rig.make_cab(os.path.join(self.scratch, "bad.cab"), files), "rb") as f:
                    cab = f.read()
                pkg = rig.make_package(os.path.join(self.scratch, "bad.exe"), payload=change(cab) if change else cab,
                                       shortcuts="ok.txt|Bad\r", product_name="Bad", company_folder="Acme",
                                       install_folder="Viewer", start_menu_folder="Bad", file_count=len(files),
                                       make_uninstaller=1, **({"asks": asks} if asks else {}))
                before = self.prefix.state()
                log = r"C:\logs\bad%d.log" % number
                r = self.install(pkg, args=rig.QUIET + ["/LOG=" + log], rules=[Box(press="OK")],
                                 ends=("failed",))
                self.assertEqual([(b["caption"], b["owner"], b["icon"]) for b in r.boxes], [(None, None, "error")], r)
                self.assertEqual(r.boxes[0]["text"], rig.INTERNAL_ERROR % (
                    'The file name "%s" is not allowed!' % refused if refused else "The cabinet holds no files!"))
                self.assertFalse(self.prefix.exists(self.prefix.program_files + r"\Acme"))
                self.assertFalse(self.prefix.exists(self.prefix.start_menu_programs + r"\Bad"))
                self.assertEqual(self.prefix.state(), before)
                # Refused before the folder was made, not made and removed again.
                lines = [line for pid in rig.log_lines(self.prefix.read(log)).values() for line in pid]
                self.assertTrue(lines)
                self.assertFalse([line for line in lines if line.startswith(("Folder ", "Extracting "))], lines)

    def test_cabinet_copy_failures(self):
        def damaged(data):
            # The payload's last byte changed: its CRC-32 no longer matches.
            return data[:-1] + bytes([data[-1] ^ 0xFF])

        def without_digest(data):
            # As a stub without the digest in its headers has it: the damage
            # is found where the cabinet is copied out.
            return data[:rig.DIGEST_SLOT] + bytes(40) + data[rig.DIGEST_SLOT + 40:]

        def no_temp_folder():
            temp = self.prefix.host(self.prefix.temp)
            shutil.rmtree(temp)
            with open(temp, "w") as f:
                f.write("not a folder")

        # The digest in the stub's headers finds any change before the
        # first question, when the mode is not known yet.
        cases = [
            ("damaged copy", lambda d: damaged(without_digest(d)), None, "Setup", re.escape(rig.DAMAGED % "Setup"),
             "damaged"),
            ("damaged copy with the digest", damaged, None, None, re.escape(rig.DAMAGED % "SETUP.EXE"), "damaged"),
            ("temporary cabinet not writable", None, no_temp_folder, "Setup",
             r'Temporary file "C:\\windows\\Temp\\_KT[0-9A-Z]{5}\.cab" cannot be created!', "failed"),
        ]
        exe = rig.pack(self.scratch, ROAD_FILES, "--product-name", "Copy", "--install-folder", "Copy")
        with open(exe, "rb") as f:
            good = f.read()
        for name, change, setup, caption, expected, end in cases:
            with self.subTest(name):
                data = change(good) if change else good
                host = os.path.join(self.scratch, "copy.exe")
                with open(host, "wb") as f:
                    f.write(data)
                if setup:
                    setup()
                before = self.prefix.state()
                r = self.install(host, args=rig.QUIET, rules=[Box(press="OK")], ends=(end,))
                self.assertEqual(len(r.boxes), 1, r)
                self.assertEqual((r.boxes[0]["caption"], r.boxes[0]["icon"]), (caption, "error"))
                self.assertRegex(r.boxes[0]["text"], "^" + expected + "$")
                self.assertEqual(self.prefix.state(), before)

    def test_names_in_every_language(self):
        # Each row: a system locale (its code page checked first), a package
        # whose texts, shortcut list and cabinet names are in some code page,
        # installed from a folder no ANSI code page holds, every file checked
        # by name and content, the links by target; then uninstalled.
        # A row's product: {texts}, {file: content}, [(link name, target)].
        ja = (dict(product="\u4e88\u5b9a\u8868 \u30bd\u30d5\u30c8", company="\u8868",
                   folder="\u4e88\u5b9a\u8868", group="\u4e88\u5b9a\u8868", short="\u4e88\u5b9a"),
              # In 932 the first character of all names but the last two ends in 0x5C ("\\").
              {"\u8868\u8a08\u7b97.txt": b"sheet", "\u30bd\u30d5\u30c8.ini": b"[soft]",
               "\u80fd\u529b.dat": b"\x00\x5c\xff", "\u4e88\u5b9a.txt": b"plan",
               "\u8aa0\u4fe1.txt": b"trust", "\u30dd\u30a4\u30f3\u30c8.txt": b"points"},
              [("\u8868\u793a", "\u8868\u8a08\u7b97.txt"),
               ("\u30dd\u30a4\u30f3\u30c8", "\u30dd\u30a4\u30f3\u30c8.txt")])
        de = (dict(product="\u00dcberblick Caf\u00e9", company="Caf\u00e9", folder="\u00dcberblick",
                   group="\u00dcberblick", short="\u00dcber"),
              {"caf\u00e9.ini": b"[caf\xe9]", "\u00dcberblick.txt": b"overview", "Gr\u00f6\u00dfe.dat": b"size"},
              [("\u00d6ffnen", "\u00dcberblick.txt")])
        # 誠 is 0xD5 0x5C in 936.
        zh = (dict(product="\u9884\u5b9a\u8868", company="\u8868", folder="\u9884\u5b9a\u8868",
                   group="\u9884\u5b9a\u8868", short="\u9884\u5b9a"),
              {"\u8aa0\u4fe1.txt": b"trust", "\u62a5\u544a.txt": b"report", "\u8868\u8a08\u7b97.txt": b"sheet",
               "\u80fd\u529b.dat": b"ability"},
              [("\u663e\u793a", "\u62a5\u544a.txt")])
        ko = (dict(product="\ud504\ub85c\uadf8\ub7a8", company="\ud68c\uc0ac", folder="\ud504\ub85c\uadf8\ub7a8",
                   group="\ud504\ub85c\uadf8\ub7a8", short="\ud504\ub85c"),
              {"\ubcf4\uace0\uc11c.txt": b"report", "\ud55c\uae00.ini": b"[hangul]",
               "\u8868\u8a08\u7b97.txt": b"sheet"},
              [("\ubcf4\uae30", "\ubcf4\uace0\uc11c.txt")])
        ru = (dict(product="\u0418\u0432\u0430\u043d", company="\u0418\u0432\u0430\u043d \u041a\u0430\u0444\u0435",
                   folder="\u041e\u0442\u0447\u0451\u0442\u044b", group="\u0418\u0432\u0430\u043d",
                   short="\u0418\u0432\u0430\u043d"),
              {"\u043e\u0442\u0447\u0451\u0442.txt": b"report", "caf\u0435.ini": b"[x]"},
              [("\u041e\u0442\u0447\u0451\u0442", "\u043e\u0442\u0447\u0451\u0442.txt")])
        every = (ja[0], dict(ja[1], **de[1], **{n: c for n, c in ko[1].items() if n not in ja[1]}), ja[2] + de[2])
        cases = [
            # (name, system locale, its ANSI code page, product, how it is
            #  made (the packer or mkpkg), the package's code page; None: mkpkg
            #  without the record, the texts in the system's code page)
            # Without the record these bytes would read "\u00c8\u00e2\u00e0\u00ed".
            ("the rig's system, 1251 package", None, 1252, ru, "mkpkg", 1251),
            ("Japanese system, 932 package", "ja_JP.UTF-8", 932, ja, "pack", 932),
            ("Japanese system, UTF-8 package", "ja_JP.UTF-8", 932, every, "pack", 65001),
            ("Japanese system, 1252 package", "ja_JP.UTF-8", 932, de, "pack", 1252),
            ("Japanese system, 932 package without the record", "ja_JP.UTF-8", 932, ja, "mkpkg", None),
            ("Chinese system, 936 package", "zh_CN.UTF-8", 936, zh, "pack", 936),
            ("Korean system, 949 package", "ko_KR.UTF-8", 949, ko, "pack", 949),
            ("German system, 1252 package", "de_DE.UTF-8", 1252, de, "pack", 1252),
            ("German system, UTF-8 package", "de_DE.UTF-8", 1252, every, "pack", 65001),
            ("English system, UTF-8 package", "en_US.UTF-8", 1252, every, "pack", 65001),
        ]
        for name, locale, acp, (texts, files, links), how, code_page in cases:
            with self.subTest(name):
                # Rows of one locale share its prefix: each leaves it as it found it.
                if self.prefix.locale != (locale or rig.DEFAULT_LOCALE):
                    self.use_prefix(locale)
                self.assertEqual(self.prefix.code_pages()[0], acp)
                installer = self.names_package(texts, files, links, how, code_page or acp, record=bool(code_page))
                before = self.prefix.state()
                r = self.install(installer, args=rig.QUIET, rules=[Box(press="OK")],
                                 where="C:\\dl\\\u0418\u0432\u0430\u043d \u10e5\u10d0\u10e0\u10d7\\setup.exe")
                self.assertEqual(r.box_texts(), [ACCESS % texts["product"]], r)
                folder = self.prefix.program_files + "\\" + texts["company"] + "\\" + texts["folder"]
                uninstaller = "Uninstall " + texts["short"]
                self.assertEqual(self.prefix.listdir(folder), sorted(list(files) + [uninstaller + ".exe"]))
                for file, content in files.items():
                    self.assertEqual(self.prefix.read(folder + "\\" + file), content, file)
                group = self.prefix.start_menu_programs + "\\" + texts["group"]
                self.assertEqual(self.prefix.listdir(group),
                                 sorted([n + ".lnk" for n, _ in links] + [uninstaller + ".lnk"]))
                for link, target in links:
                    self.assertLink(group + "\\" + link + ".lnk", folder + "\\" + target, "Opens " + texts["product"],
                                    0)
                self.assertLink(group + "\\" + uninstaller + ".lnk", folder + "\\" + uninstaller + ".exe",
                                "Removes %s from your computer" % texts["product"], 1)
                u = self.run_setup(folder + "\\" + uninstaller + ".exe",
                                   rules=[Box("This will", press="Yes"), Box("Uninstall of", press="OK")],
                                   ends=("done", "done"))
                self.assertEqual(u.box_texts(), [
                    "This will remove %s from your computer. Do you wish to continue?" % texts["product"],
                    "Uninstall of %s has been completed successfuly!" % texts["product"]], u)
                after = self.prefix.state()
                self.assertEqual(after[self.prefix.program_files], before[self.prefix.program_files])
                self.assertEqual(after[self.prefix.start_menu_programs], before[self.prefix.start_menu_programs])

    def names_package(self, texts, files, links, how, code_page, record=True):
        """An installer of `files` with these texts and links in `code_page`:
        made by the packer, or composed by mkpkg (with the record or
        without)."""
        options = ["--product-name", texts["product"], "--company-folder", texts["company"],
                   "--install-folder", texts["folder"], "--start-menu-folder", texts["group"],
                   "--short-name", texts["short"], "--make-uninstaller", "--uninstall-link-style", "1"]
        # Rows of one prefix share its scratch folder.
        scratch = tempfile.mkdtemp(dir=self.scratch)
        if how == "pack":
            for link, target in links:
                options += ["--shortcut", link + "=" + target]
            return rig.pack(scratch, files, "--codepage", str(code_page), *options)
        cp = "cp%d" % code_page
        # gcab stores the names as given: ASCII stand-ins of the same length
        # are replaced by the names in the code page, without the UTF-8 flag.
        stand_ins = {("%d" % i).rjust(len(n.encode(cp)) - 4, "_") + n[-4:]: n for i, n in enumerate(files)}
        with open(rig.make_cab(os.path.join(scratch, "names.cab"),
                               {s: files[n] for s, n in stand_ins.items()}, compress=False), "rb") as f:
            cab = f.read()
        for s, n in stand_ins.items():
            self.assertEqual(cab.count(s.encode()), 1, s)
            cab = cab.replace(s.encode(), n.encode(cp))
        fields = {k: texts[v].encode(cp) for k, v in (("product_name", "product"), ("company_folder", "company"),
                                                      ("install_folder", "folder"), ("start_menu_folder", "group"),
                                                      ("short_name", "short"))}
        return rig.make_package(os.path.join(scratch, "setup.exe"), payload=cab,
                                shortcuts="".join("%s|%s\r" % (t, l) for l, t in links).encode(cp),
                                file_count=len(files), make_uninstaller=1, uninstall_link_style=1,
                                **fields, **({"code_page": code_page} if record else {}))

    def test_switches_after_a_log_path_outside_the_code_page(self):
        # 表 is 0x95 0x5C in code page 932: split as UTF-16, the quote after
        # it closes the path and both switches count (no question, no final
        # box); the log is UTF-8.
        installer = rig.pack(self.scratch, {"a.txt": b"a"}, "--product-name", "Logged", "--install-folder", "Logged")
        os.makedirs(self.prefix.host(r"C:\logs"))
        r = self.install(installer, args=['/LOG="C:\\logs\\\u8868"', "/SP-", "/SILENT"])
        self.assertEqual(r.boxes, [], r)
        self.assertEqual(self.prefix.read(rig.program_files() + r"\Logged\a.txt"), b"a")
        lines = list(rig.log_lines(self.prefix.read("C:\\logs\\\u8868")).values())[0]
        self.assertEqual(lines[1], "Switches: /SP- /SILENT")
        self.assertRegex(lines[0], r'/LOG="?C:\\logs\\\u8868"? /SP- /SILENT$')

    def test_program_files_of_a_64_bit_prefix(self):
        # In a 64-bit prefix the 64-bit stub installs into the native
        # Program Files, the 32-bit one (under WoW64) into Program Files (x86).
        # The x86-64 build's rig stands in a 64-bit prefix; for the i686
        # build one is made here.
        folder, not_folder = {"x86-64": ("Program Files", "Program Files (x86)"),
                              "i686": ("Program Files (x86)", "Program Files")}[self.prefix.target]
        exe = rig.pack(self.scratch, {"a.txt": b"64"}, "--product-name", "Wide", "--install-folder", "Wide")
        if self.prefix.win64:
            prefix, env = self.prefix.path, self.prefix.env
        else:
            if not (shutil.which("wine64") or os.path.exists("/usr/lib/wine/wine64")):
                self.skipTest("wine64 is not installed here: no WINEARCH=win64 prefix can be made")
            prefix = os.path.join(self.prefix.work, "win64")
            env = dict(self.prefix.env, WINEPREFIX=prefix, WINEARCH="win64")
        log = open(os.path.join(self.scratch, "win64.log"), "wb")
        try:
            # Under load wineboot has been seen to end with status 53 once;
            # a second start finishes the prefix. The install below is what
            # this test checks.
            for _ in range(0 if self.prefix.win64 else 2):
                if subprocess.run(["wineboot", "-i"], env=env, stdout=log, stderr=log, timeout=300).returncode == 0:
                    break
            subprocess.run(["wine", exe, "/SP-", "/LA-", "/SILENT"], env=env, stdout=log, stderr=log,
                           timeout=120)
            with open(os.path.join(prefix, "drive_c", folder, "Wide", "a.txt"), "rb") as f:
                self.assertEqual(f.read(), b"64")
            self.assertFalse(os.path.exists(os.path.join(prefix, "drive_c", not_folder, "Wide")))
        finally:
            if not self.prefix.win64:
                subprocess.run(["wineserver", "-k"], env=env, stdout=log, stderr=log)
            log.close()

if __name__ == "__main__":
    rig.main()

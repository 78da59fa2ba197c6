"""An installer in a hostile machine, and a crafted package: what another
process, another user or a package's texts try, and what still happens. Each
test is one way out of the installer's place that is closed: the relaunched
uninstaller's argument, names in Temp, the cabinet and the uninstaller's
copy in their windows, planted DLLs, the license in Temp, links in the
install folder, package texts and device names."""

import json
import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import rig  # noqa: E402
from rig import Box, Window  # noqa: E402

NOT_ALL = "Uninstall completed successfuly, but some application components are not removed."
DONE = "Uninstall of %s has been completed successfuly!"
FILES = {"a.txt": b"first", "b.txt": b"second", "license.txt": b"Kit terms: be kind.\r\n"}
KIT = r"C:\Program Files\Acme\Kit"
UNINSTALLER = KIT + r"\Uninstall Kit.exe"
TEMP_NAME = re.compile(r"_KT[0-9A-V]{5}(\.cab|\.exe)?$")


def rig_read(host_path):
    with open(host_path, "rb") as f:
        return f.read()


def env_path(name):
    path = os.environ.get(name)
    if not path:
        raise RuntimeError("%s is not set; run the test through add_e2e_test" % name)
    return path


class Hardening(rig.SetupCase):

    def kit(self, *options, files=FILES, name="kit.exe"):
        return rig.pack(self.scratch, files, "--product-name", "Kit Product", "--short-name", "Kit",
                    "--company-folder", "Acme", "--install-folder", "Kit", "--start-menu-folder", "Kit Group",
                    "--shortcut", "Kit A=a.txt", "--make-uninstaller", "--uninstall-link-style", "1", *options,
                    name=name)

    def installed_kit(self):
        r = self.install(self.kit())
        self.assertEqual(r.boxes, [], r)
        self.assertTrue(self.prefix.exists(UNINSTALLER))

    def race(self, pattern, stop_title=""):
        """race.exe against the files matching pattern; returns (process,
        report path, stop file)."""
        report = os.path.join(self.scratch, "race-%d.txt" % time.monotonic_ns())
        stop = report + ".stop"
        p = self.prefix.start(env_path("CABSETUP_RACE"),
                              [pattern, rig.to_wine_path(report), rig.to_wine_path(stop), stop_title, "120"],
                              name="race")
        return p, report, stop

    def race_result(self, race):
        p, report, stop = race
        open(stop, "w").close()
        p.wait(timeout=60)
        with open(report) as f:
            words = f.readline().split()
        return {words[i]: (int(words[i + 1]), int(words[i + 2])) for i in (0, 3, 6)}, int(words[10])

    def assertEveryTryFailed(self, tally):
        for kind in ("write", "rename", "delete"):
            tried, won = tally[kind]
            self.assertGreater(tried, 0, (kind, tally))
            self.assertEqual(won, 0, (kind, tally))

    def plant_link(self, win_path, target_win_path):
        """A symbolic link, as Wine shows one planted on the disk."""
        os.symlink(self.prefix.host(target_win_path), self.prefix.host(win_path))

    # 1 ------------------------------------------------------------------------

    def test_relaunched_copy_deletes_only_its_own_uninstaller(self):
        other = rig.make_package(os.path.join(self.scratch, "other.exe"), payload=b"C:\\nowhere\\x.txt\r",
                                 product_name="Other", install_folder="Other", file_count=1, uninstall_mode=1)
        thesis, foreign = r"C:\userdata\thesis.doc", r"C:\Program Files\Other\Uninstall.exe"
        elsewhere = r"C:\work\emptyproj\Uninstall Kit.exe"
        cases = [
            # (name, program started, its arguments, what stays, what goes,
            #  the last box). "/SECSUN" typed by somebody hands the run no
            #  file of its own: it runs as the uninstaller it is, through a
            #  copy of its own, and argument 2 names nothing it acts on.
            ("a user's file as argument 2", UNINSTALLER, ["/SECSUN", thesis], [thesis], [UNINSTALLER, KIT],
             DONE % "Kit Product"),
            ("another product's uninstaller as argument 2", UNINSTALLER, ["/SECSUN", foreign], [foreign],
             [UNINSTALLER, KIT], DONE % "Kit Product"),
            # Its own copy goes; its folder and the one above held no
            # installed file, so they stay.
            ("a copy run from the user's folder", elsewhere, [], [r"C:\work\emptyproj", UNINSTALLER], [elsewhere],
             NOT_ALL),
        ]
        for name, exe, args, stays, goes, last in cases:
            with self.subTest(name):
                self.installed_kit()
                self.prefix.write(thesis, b"years of work")
                self.prefix.copy_in(other, foreign)
                if exe == elsewhere:
                    self.prefix.write(elsewhere, self.prefix.read(UNINSTALLER))
                r = self.run_setup(exe, args, rules=[Box("This will", press="Yes"), Box("Uninstall", press="OK")],
                                   ends=("done", "done"))
                # The product goes, whatever the argument says; nothing
                # outside it.
                self.assertFalse(self.prefix.exists(KIT + r"\a.txt"))
                self.assertEqual([b["text"] for b in r.boxes][1:], [last], r)
                self.assertTrue(r.processes[1].endswith('/SECSUN "%s"' % exe), r)
                for path in stays:
                    self.assertTrue(self.prefix.exists(path), path)
                for path in goes:
                    self.assertFalse(self.prefix.exists(path), path)
                self.assertEqual(self.prefix.read(thesis), b"years of work")
                self.assertEqual(self.prefix.read(foreign), rig_read(other))

    # 2 ------------------------------------------------------------------------

    def test_temporary_names_are_new_and_unpredictable(self):
        # The test stub starts at the old fixed place: _KT14D2N is its first
        # candidate. Planted there and after it: a file, a folder and links.
        temp = self.prefix.temp
        self.prefix.write(r"C:\victim.txt", b"the victim")
        os.makedirs(self.prefix.host(r"C:\victimdir"))
        planted = {
            r"\_KT14D2N.cab": ("file", b"planted cabinet"),
            r"\_KT14D2O.cab": ("folder", None),
            r"\_KT14D2P.cab": ("link", r"C:\victim.txt"),
            r"\_KT14D2N": ("link", r"C:\victimdir"),
            r"\_KT14D2O": ("file", b"planted file"),
            r"\_KT14D2N.exe": ("link", r"C:\victim.txt"),
            r"\_KT14D2O.exe": ("file", b"planted program"),
        }
        for name, (kind, what) in planted.items():
            if kind == "file":
                self.prefix.write(temp + name, what)
            elif kind == "folder":
                os.makedirs(self.prefix.host(temp + name))
            else:
                self.plant_link(temp + name, what)
        before = self.prefix.tree(temp)

        installer = rig.pack(self.scratch, FILES, "--product-name", "Kit Product", "--short-name", "Kit",
                         "--install-folder", "Kit", "--start-menu-folder", "Kit Group", "--shortcut", "Kit A=a.txt",
                         "--license-file", "license.txt", "--make-uninstaller", "--uninstall-link-style", "1",
                         stub=env_path("CABSETUP_STUB_TEMPSTART"), name="fixed.exe")
        r = self.install(installer, args=["/SP-", "/SILENT"], rules=[Window("Kit License", press="&Yes")])
        self.assertEqual(r.boxes, [], r)
        self.assertIn("Kit terms: be kind.", "".join(rig.texts(r.last_window("Kit License"))))
        self.assertEqual(self.prefix.read(r"C:\Program Files\Kit\a.txt"), b"first")
        # The uninstaller's copy passes the planted names too.
        u = self.run_setup(r"C:\Program Files\Kit\Uninstall Kit.exe",
                           rules=[Box("This will", press="No")], ends=("done", "declined"))
        copies = [e["cmdline"] for e in u.process_events if "_KT" in e["cmdline"].upper()]
        self.assertEqual(len(copies), 1, u)
        self.assertTrue(copies[0].startswith('"C:\\windows\\Temp\\_KT14D2P.exe" /SECSUN'), copies[0])

        self.assertEqual(self.prefix.read(r"C:\victim.txt"), b"the victim")
        self.assertEqual(os.listdir(self.prefix.host(r"C:\victimdir")), [])
        for name, (kind, what) in planted.items():
            host = self.prefix.host(temp + name)
            self.assertEqual(os.path.islink(host), kind == "link", name)
            if kind == "file":
                self.assertEqual(self.prefix.read(temp + name), what, name)
            if kind == "link":
                self.assertEqual(os.readlink(host), self.prefix.host(what), name)
        after = self.prefix.tree(temp)
        self.assertEqual({k: v for k, v in after.items() if k != "_KT14D2P.exe"}, before)

        # The shipped stub starts from the system's random source: two
        # uninstaller runs leave two copies under names nobody could foretell.
        self.installed_kit()
        for _ in range(2):
            self.run_setup(UNINSTALLER, rules=[Box("This will", press="No")], ends=("done", "declined"))
        new = sorted(set(self.prefix.tree(temp)) - set(after))
        self.assertEqual(len(new), 2, new)
        for name in new:
            self.assertRegex(name, TEMP_NAME)
            self.assertNotIn(name, ("_KT14D2N.exe", "_KT14D2O.exe", "_KT14D2P.exe"))

    # 3 ------------------------------------------------------------------------

    def test_checked_cabinet_cannot_be_changed_until_extracted(self):
        # The license window stays up for two seconds and 150 files take
        # their 15 ms each: all that time another process tries its luck.
        files = {"f%03d.txt" % i: b"%d" % i for i in range(150)}
        files["license.txt"] = b"Kit terms: be kind.\r\n"
        exe = rig.pack(self.scratch, files, "--product-name", "Kit Product", "--short-name", "Kit",
                   "--install-folder", "Kit", "--license-file", "license.txt")
        # The final box comes before the clean-up lets go of the cabinet.
        race = self.race(self.prefix.temp + r"\_KT*.cab", stop_title="Setup")
        r = self.install(exe, args=["/SP-"], rules=[Window("Kit License", press="&Yes", delay=2000),
                                                    Box("completed", press="OK", delay=500)])
        tally, seen_files = self.race_result(race)
        self.assertEqual([b["text"] for b in r.boxes], ["Setup of Kit Product has been completed successfuly."], r)
        self.assertEqual(seen_files, 1, tally)
        self.assertEveryTryFailed(tally)
        for name, data in files.items():
            self.assertEqual(self.prefix.read(r"C:\Program Files\Kit" + "\\" + name), data, name)
        self.assertEqual([n for n in self.temp_files() if TEMP_NAME.match(n)], [])

    # 4 ------------------------------------------------------------------------

    def test_uninstaller_copy_cannot_be_changed_before_it_starts(self):
        self.installed_kit()
        # Until the copy asks its question (a box titled "Uninstall"),
        # another process tries to write, replace and delete it.
        race = self.race(self.prefix.temp + r"\_KT*.exe", stop_title="Uninstall")
        time.sleep(1)  # race.exe is up and looking
        r = self.run_setup(UNINSTALLER, rules=[Box("This will", press="No", delay=500)], ends=("done", "declined"))
        self.assertEqual([b["text"][:9] for b in r.boxes], ["This will"], r)
        tally, seen_files = self.race_result(race)
        copies = [e for e in r.process_events if "_KT" in e["cmdline"].upper()]
        self.assertEqual(len(copies), 1, r)
        self.assertEqual(seen_files, 1, tally)
        self.assertEveryTryFailed(tally)
        # What ran is the uninstaller, byte for byte.
        self.assertEqual(r.boxes[0]["pid"], copies[0]["pid"], r)
        copy = self.prefix.temp + "\\" + [n for n in self.temp_files() if n.endswith(".exe")][0]
        self.assertEqual(self.prefix.read(copy), self.prefix.read(UNINSTALLER))

    # 5 ------------------------------------------------------------------------

    def test_planted_dlls_are_never_loaded(self):
        # Windows looks in the program's folder first for a DLL that is not
        # a known system DLL; the override makes Wine do the same.
        self.prefix.env["WINEDLLOVERRIDES"] += ";cabinet,comctl32=n,b"
        marker = env_path("CABSETUP_PLANTED")
        for folder in (r"C:\dl", self.prefix.temp):
            for dll in ("cabinet.dll", "comctl32.dll"):
                self.prefix.copy_in(marker, folder + "\\" + dll)
        r = self.install(self.kit(), args=["/SP-", "/SILENT"])
        self.assertEqual(r.boxes, [], r)
        self.assertIsNotNone(r.last_window("Setup"), "the progress window needs the common controls")
        # Shell links still come about with the search kept to the system folder.
        group = self.prefix.start_menu_programs + r"\Kit Group"
        self.assertEqual(self.prefix.listdir(group), ["Kit A.lnk", "Uninstall Kit.lnk"])
        self.assertLink(group + r"\Kit A.lnk", KIT + r"\a.txt", "Opens Kit Product", 0)
        u = self.run_setup(UNINSTALLER, rules=[Box("This will", press="Yes"), Box("Uninstall", press="OK")],
                           ends=("done", "done"))
        self.assertEqual([b["text"] for b in u.boxes][1:], [DONE % "Kit Product"], u)
        self.assertFalse(self.prefix.exists(r"C:\planted.log"),
                         self.prefix.exists(r"C:\planted.log") and self.prefix.read(r"C:\planted.log"))

    # 6, 7 ---------------------------------------------------------------------

    def license_package(self, entries, license_file, run=None):
        """An installer whose cabinet holds `entries`, `run` marked to run."""
        sources = rig.write_files(os.path.join(self.scratch, "lic-%d" % time.monotonic_ns()), entries)
        cab = os.path.join(self.scratch, "lic.cab")
        args = [rig.pack_tool_path(), "cab", "-o", cab]
        for name in entries:
            args += ["--entry", "%s=%s" % (name, os.path.join(sources, name))]
        subprocess.run(args + (["--run", run] if run else []), check=True, stdout=subprocess.DEVNULL)
        return rig.make_package(os.path.join(self.scratch, "lic.exe"), payload=rig_read(cab),
                                product_name="Lic", short_name="Lic", license_file=license_file,
                                install_folder="Lic", file_count=len(entries))

    def test_license_in_a_place_of_its_own_and_never_started(self):
        script = b"@echo off\r\necho started> C:\\marked.log\r\n"
        temp = self.prefix.temp
        cases = [
            # (name, cabinet entries, LicenseFile, entry marked to run, planted in Temp, answer, installed,
            #  how the run ends)
            ("another program's license.txt in Temp", FILES, "license.txt", None, "file", "&Yes", True, "done"),
            ("a link named license.txt in Temp", FILES, "license.txt", None, "link", "&Yes", True, "done"),
            ("a license marked to run, declined", dict(FILES, **{"terms.cmd": script}), "terms.cmd", "terms.cmd",
             None, "&No", False, "declined"),
            ("no license entry in the cabinet", {"a.txt": b"first"}, "license.txt", None, "file", "&Yes", False,
             "damaged"),
        ]
        self.prefix.write(r"C:\victim.txt", b"the victim")
        for name, files, license_file, run, planted, answer, installed, end in cases:
            with self.subTest(name):
                if os.path.lexists(self.prefix.host(temp + r"\license.txt")):
                    os.remove(self.prefix.host(temp + r"\license.txt"))
                if planted == "file":
                    self.prefix.write(temp + r"\license.txt", b"someone else's license")
                elif planted == "link":
                    self.plant_link(temp + r"\license.txt", r"C:\victim.txt")
                pkg = self.license_package(files, license_file, run)
                before = self.prefix.state()
                r = self.install(pkg, args=["/SP-", "/SILENT"],
                                 rules=[Window("Lic License", press=answer, delay=500), Box(press="OK")], ends=(end,))
                self.assertFalse(self.prefix.exists(r"C:\marked.log"), "the license was started")
                self.assertEqual(self.prefix.read(r"C:\victim.txt"), b"the victim")
                if planted == "file":
                    self.assertEqual(self.prefix.read(temp + r"\license.txt"), b"someone else's license")
                if planted == "link":
                    self.assertTrue(os.path.islink(self.prefix.host(temp + r"\license.txt")))
                self.assertEqual(self.prefix.state()[temp], before[temp], "Temp as it was")
                self.assertEqual(self.prefix.exists(r"C:\Program Files\Lic\a.txt"), installed)
                if license_file in files:
                    self.assertEqual(r.boxes, [], r)
                    shown = "".join(rig.texts(r.last_window("Lic License")))
                    self.assertIn(files[license_file].decode("ascii").splitlines()[-1], shown)
                else:
                    # A package without its license is not what its maker built.
                    self.assertEqual([rig.seen(b) for b in r.boxes], [("Setup", rig.DAMAGED % "Setup", ["OK"], "error")], r)
                    self.assertIsNone(r.last_window("Lic License"), r)
                    self.assertEqual(self.prefix.state(), before)
                if installed:
                    os.remove(self.prefix.host(r"C:\Program Files\Lic\a.txt"))

    # 8, 9 ---------------------------------------------------------------------

    def test_links_in_the_install_folder_are_never_written_through(self):
        # A second name of a system file, planted at a name the installation
        # writes: the installation stops there, naming it, and the system
        # file keeps its bytes.
        victim = r"C:\windows\victim.ini"
        for name in ("b.txt", "Uninstall Kit.exe"):
            with self.subTest(name):
                self.prefix.write(victim, b"[boot]\r\nshell=explorer.exe\r\n")
                shutil.rmtree(self.prefix.host(KIT), ignore_errors=True)
                os.makedirs(self.prefix.host(KIT))
                planted = KIT + "\\" + name
                os.link(self.prefix.host(victim), self.prefix.host(planted))
                r = self.install(self.kit(), args=rig.QUIET, rules=[Box(press="OK")], ends=("failed",))
                self.assertEqual(len(r.boxes), 1, r)
                self.assertTrue(r.boxes[0]["text"].startswith('Internal Error: Cannot create "%s".\r\n' % planted), r)
                self.assertEqual(self.prefix.read(victim), b"[boot]\r\nshell=explorer.exe\r\n")

    def test_package_texts_stay_in_their_places(self):
        files = {"a.txt": b"first", "win.ini": b"[planted]\r\n", "license.txt": b"terms"}
        cab = rig_read(rig.make_cab(os.path.join(self.scratch, "texts.cab"), files))
        good = dict(product_name="Texts", company_folder="Acme", short_name="Texts", install_folder="Texts",
                    start_menu_folder="Texts", file_count=len(files), make_uninstaller=1, uninstall_link_style=1)
        shortcuts = b"a.txt|Texts A\r"
        cases = [
            # (name, fields changed, ShortcutList, field and rule inspect names, pack options)
            ("InstallFolder up into the Windows folder", dict(install_folder="..\\windows"), shortcuts,
             ("InstallFolder", "must not have a \".\" or \"..\" component"), ["--install-folder", "..\\windows"]),
            ("CompanyFolder up to the drive", dict(company_folder=".."), shortcuts,
             ("CompanyFolder", "must not have a \".\" or \"..\" component"), ["--company-folder", ".."]),
            ("InstallFolder on another drive", dict(install_folder="D:\\Texts"), shortcuts,
             ("InstallFolder", "must be relative (no drive, root or UNC form)"), ["--install-folder", "D:\\Texts"]),
            ("empty InstallFolder", dict(install_folder=""), shortcuts, ("InstallFolder", "must not be empty"),
             ["--install-folder", ""]),
            ("Start-menu group in Startup", dict(start_menu_folder="Startup"), shortcuts,
             ("StartMenuFolder", "must not be the Startup folder"), ["--start-menu-folder", "Startup"]),
            ("empty Start-menu group with shortcuts", dict(start_menu_folder=""), shortcuts,
             ("StartMenuFolder", "must not be empty"), ["--start-menu-folder", ""]),
            ("uninstaller named into the Windows folder", dict(short_name="x\\..\\..\\..\\..\\windows\\evilun"),
             shortcuts, ("ShortName", "must not have a \".\" or \"..\" component"),
             ["--short-name", "x\\..\\..\\..\\..\\windows\\evilun"]),
            ("LicenseFile up into the Windows folder", dict(license_file="..\\win.ini"), shortcuts,
             ("LicenseFile", "must not have a \".\" or \"..\" component"), ["--license-file", "..\\win.ini"]),
            ("LicenseFile as a mask", dict(license_file="*.*"), shortcuts,
             ("LicenseFile", "must not hold the wildcards * ? [ ]"), ["--license-file", "*.*"]),
            ("shortcut name onto the Desktop", {}, b"a.txt|..\\..\\..\\..\\..\\..\\..\\Desktop\\UserApp\r",
             ("shortcut name", "must not have a \".\" or \"..\" component"),
             ["--shortcut", "..\\..\\..\\..\\..\\..\\..\\Desktop\\UserApp=a.txt"]),
            ("shortcut target outside", {}, b"..\\..\\windows\\win.ini|Texts A\r",
             ("shortcut target", "must not have a \".\" or \"..\" component"),
             ["--shortcut", "Texts B=..\\..\\windows\\win.ini"]),
        ]
        win_ini = self.prefix.read(r"C:\windows\win.ini")
        sources = rig.write_files(os.path.join(self.scratch, "texts"), files)
        refused = os.path.join(self.scratch, "refused.exe")
        for name, changed, shortcut_list, (field, rule), options in cases:
            with self.subTest(name):
                pkg = rig.make_package(os.path.join(self.scratch, "setup.exe"), payload=cab,
                                       shortcuts=shortcut_list, **dict(good, **changed))
                in_header = shortcut_list == shortcuts
                # cabsetup inspect names the field and the rule, as text and as JSON.
                report = json.loads(subprocess.run([rig.pack_tool_path(), "inspect", "--json", pkg],
                                                   stdout=subprocess.PIPE).stdout)
                step = "header" if in_header else "shortcut list"
                self.assertEqual((report["kind"], report["failedStep"], report["field"], report["rule"]),
                                 ("damaged copy", step, field, rule))
                text = subprocess.run([rig.pack_tool_path(), "inspect", pkg], stdout=subprocess.PIPE).stdout
                self.assertIn("verdict: damaged copy: the %s fails: %s %s" % (step, field, rule), text.decode())
                # cabsetup pack refuses to make one.
                p = subprocess.run([rig.pack_tool_path(), "pack", "--stub", rig.stub_path(), "-o", refused,
                                    "--product-name", "Texts", "--company-folder", "Acme", "--install-folder",
                                    "Texts", "--short-name", "Texts", "--start-menu-folder", "Texts", "--shortcut",
                                    "Texts A=a.txt", "--make-uninstaller", *options, sources],
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                self.assertEqual(p.returncode, 1, p.stderr)
                self.assertIn(field, p.stderr.decode())
                self.assertFalse(os.path.exists(refused))

                # The stub: the damaged-copy box and nothing written. Header
                # texts are refused before anything is shown, shortcut
                # records once they are read.
                exe = self.prefix.copy_in(pkg, r"C:\dl\setup.exe")
                before = self.prefix.state()
                r = self.run_setup(exe, ["/SP-", "/LA-"], rules=[Box(press="OK")], ends=("damaged",))
                if in_header:
                    self.assertEqual([rig.seen(b) for b in r.boxes], [(None, rig.DAMAGED % "SETUP.EXE", ["OK"], "error")], r)
                    self.assertEqual(r.windows, [], r)
                else:
                    self.assertEqual([rig.seen(b) for b in r.boxes], [("Setup", rig.DAMAGED % "Setup", ["OK"], "error")], r)
                self.assertEqual(self.prefix.state(), before)
                self.assertEqual(self.prefix.read(r"C:\windows\win.ini"), win_ini)

    # 10 -----------------------------------------------------------------------

    def test_device_names_in_the_cabinet_are_refused(self):
        for device in ("nul.txt", "aux.txt", "COM1.txt", "CON.txt", "lpt9 .log"):
            with self.subTest(device):
                files = {device: b"to the device", "a.txt": b"first"}
                cab = rig.make_cab(os.path.join(self.scratch, "dev.cab"), files)
                pkg = rig.make_package(os.path.join(self.scratch, "dev.exe"), payload=rig_read(cab),
                                       product_name="Dev", company_folder="Acme", install_folder="Dev",
                                       start_menu_folder="Dev", file_count=2)
                before = self.prefix.state()
                r = self.install(pkg, args=rig.QUIET, rules=[Box(press="OK")], ends=("failed",))
                self.assertEqual([(b["caption"], b["text"], b["icon"]) for b in r.boxes],
                                 [(None, rig.INTERNAL_ERROR % ('The file name "%s" is not allowed!' % device), "error")],
                                 r)
                # Refused before anything was written: no folder was made.
                self.assertEqual(self.prefix.state(), before)
                # The packer refuses the same names, as files and in a cabinet.
                folder = rig.write_files(os.path.join(self.scratch, "dev-files"), files)
                for source in (["--cab", cab], [folder]):
                    p = subprocess.run([rig.pack_tool_path(), "pack", "--stub", rig.stub_path(), "-o",
                                        os.path.join(self.scratch, "refused.exe"), "--product-name", "Dev",
                                        "--install-folder", "Dev", *source],
                                       stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                    self.assertEqual(p.returncode, 1, p.stderr)
                    self.assertIn('file name "%s" must not be a reserved device name' % device, p.stderr.decode())
                os.remove(os.path.join(folder, device))


if __name__ == "__main__":
    rig.main()

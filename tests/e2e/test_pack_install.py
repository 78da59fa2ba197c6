"""An installer made by `cabsetup pack` installs under Wine: every packed
file arrives byte for byte with its modification time, the shortcuts
appear, and the uninstaller that the stub writes is read by `cabsetup
inspect`. Branded, signed, and signed again over its signature, it installs
and uninstalls alike, Windows reads the product's version and icon from it
and from its uninstaller, and its uninstaller is a clean unsigned program."""

import json
import os
import random
import shutil
import struct
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import rig  # noqa: E402

INSTALL_DIR = rig.program_files() + r"\Pack Co\Packed 1.0"


def local_offset(stamp):
    """The host's offset from UTC at that moment, as --time-zone takes it."""
    minutes = time.localtime(stamp).tm_gmtoff // 60
    return "%s%02d:%02d" % ("-" if minutes < 0 else "+", abs(minutes) // 60, abs(minutes) % 60)


def make_certificate(folder, name, bits):
    """A throw-away signing certificate: (PKCS #12 with password "secret", PEM)."""
    base = os.path.join(folder, name.replace(" ", "_"))
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:%d" % bits, "-nodes", "-keyout", base + ".key",
                    "-out", base + ".pem", "-days", "2", "-subj", "/CN=%s/O=Example Co" % name],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", base + ".key", "-in", base + ".pem", "-out",
                    base + ".p12", "-passout", "pass:secret"], check=True)
    return base + ".p12", base + ".pem"


def multi_size_icon(folder):
    """An .ico of four images, 256 x 256 (PNG) down to 16 x 16, by ImageMagick."""
    png, ico = os.path.join(folder, "product.png"), os.path.join(folder, "product.ico")
    subprocess.run(["convert", "-size", "64x64", "xc:red", "-fill", "blue", "-draw", "circle 32,32 32,8", png],
                   check=True)
    subprocess.run(["convert", png, "-define", "icon:auto-resize=256,48,32,16", ico], check=True)
    return ico


def pe_fields(data):
    """(checksum, certificate table offset, its size) of a PE file."""
    pe, = struct.unpack_from("<I", data, 0x3C)
    opt = pe + 24
    magic, = struct.unpack_from("<H", data, opt)
    directories = opt + (96 if magic == 0x10B else 112)
    return struct.unpack_from("<I", data, opt + 64) + struct.unpack_from("<II", data, directories + 32)


def pe_checksum(data):
    """The PE checksum: 16-bit words with the checksum field as zero, carries
    folded, plus the length."""
    pe, = struct.unpack_from("<I", data, 0x3C)
    padded = bytearray(data) + b"\0" * (len(data) & 1)
    struct.pack_into("<I", padded, pe + 24 + 64, 0)
    total = sum(struct.unpack("<%dH" % (len(padded) // 2), padded))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(data)


class PackedInstall(rig.RigTestCase):

    def install_silently(self, exe, timeout=60):
        """Runs the installer without a question; it ends without a message."""
        result = self.prefix.run(self.prefix.copy_in(exe, r"C:\dl\setup.exe"), ["/SP-", "/LA-", "/SILENT"],
                                 rules=rig.DECLINE_ALL, timeout=timeout)
        self.assertNoTimeout(result)
        self.assertEqual(result.boxes, [], result)
        self.assertEnds(result, "done")

    def uninstall(self, uninstaller):
        """Runs the uninstaller, answering yes; it leaves neither the install
        folder nor the Start-menu group. Returns its result."""
        result = self.prefix.run(uninstaller, [], rules=[rig.Box("This will", press="Yes"),
                                                         rig.Box("Uninstall", press="OK")], timeout=90)
        self.assertNoTimeout(result)
        self.assertEnds(result, "done", "done")
        self.assertFalse(self.prefix.exists(INSTALL_DIR), self.prefix.tree(rig.program_files() + r"\Pack Co"))
        self.assertFalse(self.prefix.exists(self.prefix.start_menu_programs + r"\Packed Product"))
        self.assertFalse(self.prefix.exists(self.prefix.common_programs + r"\Packed Product"))
        return result

    def test_packed_installer_installs_and_its_uninstaller_is_readable(self):
        files = rig.payload_files()
        src = rig.write_files(os.path.join(self.scratch, "src"), files)
        # An even second: DOS times count in steps of two.
        stamp = time.mktime((2026, 11, 30, 9, 15, 42, 0, 0, -1))
        for name in files:
            os.utime(os.path.join(src, name), (stamp, stamp))
        exe = os.path.join(self.scratch, "setup.exe")
        # Times are written at a fixed offset (UTC unless told); the prefix
        # takes them as its local time, which is the host's.
        # Code page 1252: what a stub without the record reads too.
        rig.tool("pack", "--stub", rig.stub_path(), "-o", exe, "--codepage", "1252", "--product-name", "Packed Product",
             "--company-folder", "Pack Co", "--install-folder", "Packed 1.0", "--short-name", "Packed",
             "--start-menu-folder", "Packed Product", "--shortcut", "Packed Text=text.txt",
             "--make-uninstaller", "--uninstall-link-style", "1", "--time-zone", local_offset(stamp), src)

        self.install_silently(exe)

        for name, data in files.items():
            with self.subTest(file=name):
                self.assertEqual(self.prefix.read(INSTALL_DIR + "\\" + name), data)
                self.assertEqual(os.path.getmtime(self.prefix.host(INSTALL_DIR + "\\" + name)), stamp)
        # The packer's default: the links are for every user of the machine.
        group = self.prefix.common_programs + r"\Packed Product"
        self.assertIn("Packed Text.lnk", self.prefix.listdir(group))
        self.assertFalse(self.prefix.exists(self.prefix.start_menu_programs + r"\Packed Product"))

        uninstaller = self.prefix.host(INSTALL_DIR + r"\Uninstall Packed.exe")
        report = json.loads(subprocess.run([rig.pack_tool_path(), "inspect", "--json", uninstaller],
                                           stdout=subprocess.PIPE, check=True).stdout)
        self.assertEqual(report["kind"], "uninstaller")
        self.assertEqual(report["header"]["UninstallMode"], 1)
        self.assertEqual(report["header"]["ProductName"], "Packed Product")
        # Names relative to the install folder, as a package with sub-folders lists them.
        self.assertEqual(sorted(report["installedFiles"]), sorted(files))
        self.assertEqual(report["record"]["asks"], 0x1 | 0x2 | 0x4 | 0x8 | 0x10 | 0x40)

    TREE = {"app.exe": b"MZ app", "docs/guide.txt": b"guide", "docs/guide/intro.txt": b"intro\r\n",
            "docs/guide/more/deep.txt": b"deep", "plugins/filters/README": b"no dot, installed too"}

    def pack_tree(self, *options):
        return rig.pack(self.scratch, self.TREE, "--product-name", "Packed Product", "--company-folder", "Pack Co",
                        "--install-folder", "Packed 1.0", "--short-name", "Packed", "--start-menu-folder",
                        "Packed Product", "--shortcut", "Intro=docs\\guide\\intro.txt", "--make-uninstaller",
                        "--uninstall-link-style", "1", *options, all_users=True)

    def test_tree_installs_exactly_and_uninstalls_to_the_last_folder(self):
        exe = self.pack_tree()
        installed = {name.replace("/", os.sep): len(data) for name, data in self.TREE.items()}
        installed.update({"docs": None, os.path.join("docs", "guide"): None,
                          os.path.join("docs", "guide", "more"): None, "plugins": None,
                          os.path.join("plugins", "filters"): None, "Uninstall Packed.exe": -2})
        group = self.prefix.common_programs + r"\Packed Product"
        for user_file in (False, True):
            with self.subTest(user_file=user_file):
                self.install_silently(exe)
                tree = self.prefix.tree(INSTALL_DIR)
                self.assertEqual({k: v for k, v in tree.items() if not k.startswith("Uninstall")},
                                 {k: v for k, v in installed.items() if not k.startswith("Uninstall")})
                self.assertIn("Uninstall Packed.exe", tree)
                for name, data in self.TREE.items():
                    self.assertEqual(self.prefix.read(INSTALL_DIR + "\\" + name.replace("/", "\\")), data, name)
                # The links are in the all-users Start menu; one targets a sub-folder.
                self.assertEqual(self.prefix.listdir(group), ["Intro.lnk", "Uninstall Packed.lnk"])
                self.assertFalse(self.prefix.exists(self.prefix.start_menu_programs + r"\Packed Product"))
                target = rig.read_link(self.prefix.read(group + r"\Intro.lnk"))[0]
                self.assertEqual(target.lower(), (INSTALL_DIR + r"\docs\guide\intro.txt").lower())
                mine = INSTALL_DIR + r"\docs\guide\more\mine.txt"
                if user_file:
                    self.prefix.write(mine, "the user's")
                result = self.prefix.run(INSTALL_DIR + r"\Uninstall Packed.exe", [],
                                         rules=[rig.Box("This will", press="Yes"), rig.Box("Uninstall", press="OK")],
                                         timeout=90)
                self.assertNoTimeout(result)
                self.assertEnds(result, "done", "done")
                self.assertFalse(self.prefix.exists(group))
                if user_file:
                    # The user's file keeps its folder and the folders above it; nothing else stays.
                    self.assertEqual(self.prefix.tree(rig.program_files() + r"\Pack Co"),
                                     {"Packed 1.0": None, os.path.join("Packed 1.0", "docs"): None,
                                      os.path.join("Packed 1.0", "docs", "guide"): None,
                                      os.path.join("Packed 1.0", "docs", "guide", "more"): None,
                                      os.path.join("Packed 1.0", "docs", "guide", "more", "mine.txt"): 10})
                    self.assertEqual(result.boxes[-1]["text"],
                                     "Uninstall completed successfuly, but some application components are not "
                                     "removed.")
                    os.remove(self.prefix.host(mine))
                else:
                    self.assertFalse(self.prefix.exists(rig.program_files() + r"\Pack Co"),
                                     self.prefix.tree(rig.program_files() + r"\Pack Co"))
                    self.assertEqual(result.boxes[-1]["text"],
                                     "Uninstall of Packed Product has been completed successfuly!")

    def test_identical_files_are_stored_once_and_installed_wherever_listed(self):
        dll = random.Random(24).randbytes(60000)  # what compression cannot make small
        files = {"bin/core.dll": dll, "plugins/a/core.dll": dll, "plugins/b/deeper/other.dll": dll,
                 "docs/readme.txt": b"read me\r\n", "notes.txt": b"read me\r\n", "bin/app.exe": b"MZ app"}
        options = ("--product-name", "Packed Product", "--company-folder", "Pack Co", "--install-folder", "Packed 1.0",
                   "--short-name", "Packed", "--start-menu-folder", "Packed Product", "--shortcut",
                   "App=bin\\app.exe", "--make-uninstaller", "--uninstall-link-style", "1")
        exe = rig.pack(self.scratch, files, *options, all_users=True)
        # Measured with MSZIP, whose 32 KB window cannot see the copies (LZX's
        # 2 MB one finds most of what they hold).
        once = rig.pack(self.scratch, files, *options, "--compression", "mszip", name="once.exe", all_users=True)
        every = rig.pack(self.scratch, files, *options, "--compression", "mszip", "--no-dedupe", name="every.exe",
                         all_users=True)
        report = rig.inspect(exe)
        self.assertEqual(report["kind"], "installer", report)
        self.assertEqual(report["record"]["asks"] & 0x20, 0x20)
        # In cabinet order, each a copy of the first of its content.
        self.assertEqual(report["copies"], [{"stored": "docs\\readme.txt", "copy": "notes.txt"},
                                            {"stored": "bin\\core.dll", "copy": "plugins\\a\\core.dll"},
                                            {"stored": "bin\\core.dll", "copy": "plugins\\b\\deeper\\other.dll"}])
        self.assertEqual(report["header"]["FileCount"], len(files))
        self.assertLess(os.path.getsize(once) + 100000, os.path.getsize(every))

        self.install_silently(exe)
        for name, data in files.items():
            self.assertEqual(self.prefix.read(INSTALL_DIR + "\\" + name.replace("/", "\\")), data, name)
        # A copy carries the time of the file it was copied from.
        stored = os.path.getmtime(self.prefix.host(INSTALL_DIR + r"\bin\core.dll"))
        self.assertEqual(os.path.getmtime(self.prefix.host(INSTALL_DIR + r"\plugins\b\deeper\other.dll")), stored)
        # The uninstaller's list holds every copy: nothing stays.
        listed = rig.inspect(self.prefix.host(INSTALL_DIR + r"\Uninstall Packed.exe"))["installedFiles"]
        self.assertEqual(sorted(listed), sorted(name.replace("/", "\\") for name in files))
        self.uninstall(INSTALL_DIR + r"\Uninstall Packed.exe")
        self.assertFalse(self.prefix.exists(rig.program_files() + r"\Pack Co"))

    def test_upgrades_replace_the_earlier_installation_and_its_apps_entry(self):
        # 1.0 -> 1.1 -> 1.2 -> unattended removal: what only an earlier
        # version had goes (a file of the user's stays), the entry in Apps &
        # features follows each version, and the last one, without shortcuts,
        # still has its uninstaller.
        versions = [
            ("1.0.0", {"app.exe": b"MZ 1.0", "only10.dll": b"1.0 only", "docs/old/notes.txt": b"notes",
                       "docs/guide.txt": b"guide 1.0"}, ["App=app.exe", "Notes=docs\\old\\notes.txt"]),
            ("1.1.0", {"app.exe": b"MZ 1.1", "new11.dll": b"new", "docs/guide.txt": b"guide 1.1"}, ["App=app.exe"]),
            ("1.2.0", {"app.exe": b"MZ 1.2", "docs/guide.txt": b"guide 1.2"}, []),
        ]
        group = self.prefix.common_programs + r"\Packed Product"
        uninstaller = INSTALL_DIR + r"\Uninstall Packed.exe"
        mine = INSTALL_DIR + r"\mine.txt"
        for version, files, links in versions:
            with self.subTest(version=version):
                exe = rig.pack(self.scratch, files, "--product-name", "Packed Product", "--company-folder", "Pack Co",
                               "--install-folder", "Packed 1.0", "--short-name", "Packed", "--start-menu-folder",
                               "Packed Product", "--make-uninstaller", "--uninstall-link-style", "1",
                               "--product-version", version, "--publisher", "Example Co",
                               *sum([["--shortcut", link] for link in links], []), name="v%s.exe" % version, all_users=True)
                self.install_silently(exe)
                if version == "1.0.0":
                    self.prefix.write(mine, b"the user's")
                expected = {name.replace("/", os.sep): len(data) for name, data in files.items()}
                expected.update({os.path.dirname(k): None for k in list(expected) if os.path.dirname(k)})
                expected.update({"mine.txt": 10, "docs": None})
                tree = self.prefix.tree(INSTALL_DIR)
                self.assertEqual({k: v for k, v in tree.items() if not k.startswith("Uninstall")},
                                 {k: v for k, v in expected.items() if not k.startswith("Uninstall")}, version)
                self.assertIn("Uninstall Packed.exe", tree)
                for name, data in files.items():
                    self.assertEqual(self.prefix.read(INSTALL_DIR + "\\" + name.replace("/", "\\")), data, name)
                self.assertEqual(sorted(rig.inspect(self.prefix.host(uninstaller))["installedFiles"]),
                                 sorted(name.replace("/", "\\") for name in files))
                names = ["%s.lnk" % link.split("=")[0] for link in links]
                self.assertEqual(self.prefix.listdir(group) if self.prefix.exists(group) else [],
                                 sorted(names + ["Uninstall Packed.lnk"]) if names else [])
                entry = self.prefix.uninstall_entry("Pack Co Packed 1.0")
                self.assertEqual(entry, {
                    "DisplayName": "Packed Product", "DisplayVersion": version, "Publisher": "Example Co",
                    "InstallLocation": INSTALL_DIR, "UninstallString": '"%s"' % uninstaller,
                    "QuietUninstallString": '"%s" /QUIET' % uninstaller, "DisplayIcon": uninstaller + ",0",
                    "EstimatedSize": "0x1", "NoModify": "0x1", "NoRepair": "0x1"})
        # Removed as a deployment tool would: by the entry's quiet command.
        os.remove(self.prefix.host(mine))
        r = self.prefix.run(uninstaller, ["/QUIET"], rules=[], timeout=90)
        self.assertNoTimeout(r)
        self.assertEnds(r, "done", "done")
        self.assertEqual((r.boxes, r.window_titles()), ([], []), r)
        for _ in range(50):
            if not self.prefix.exists(rig.program_files() + r"\Pack Co"):
                break
            time.sleep(0.1)
        self.assertFalse(self.prefix.exists(rig.program_files() + r"\Pack Co"),
                         self.prefix.tree(rig.program_files() + r"\Pack Co"))
        self.assertIsNone(self.prefix.uninstall_entry("Pack Co Packed 1.0"))

    def test_an_upgrade_keeps_what_it_installs_under_another_spelling(self):
        # Windows drops a name's trailing dots: "app.exe." of the new cabinet
        # is the earlier "app.exe", which stays; only "old.txt" goes.
        common = ("--product-name", "Packed Product", "--company-folder", "Pack Co", "--install-folder", "Packed 1.0",
                  "--short-name", "Packed", "--make-uninstaller")
        # A file under the uninstaller's name that is no uninstaller is
        # nothing earlier: it is replaced like any other.
        self.prefix.write(INSTALL_DIR + r"\Uninstall Packed.exe", b"MZ not an uninstaller")
        self.install_silently(rig.pack(self.scratch, {"app.exe": b"MZ 1.0", "old.txt": b"old"}, *common,
                                       name="v1.exe"))
        cab = rig.make_cab(os.path.join(self.scratch, "v2.cab"), {"app.exe.": b"MZ 2.0"})
        v2 = os.path.join(self.scratch, "v2.exe")
        rig.tool("pack", "--stub", rig.stub_path(), "-o", v2, *common, "--current-user", "--cab", cab)
        self.install_silently(v2)
        self.assertEqual(sorted(self.prefix.tree(INSTALL_DIR)), ["Uninstall Packed.exe", "app.exe"])
        self.assertEqual(self.prefix.read(INSTALL_DIR + r"\app.exe"), b"MZ 2.0")

    def test_flat_and_unrecorded_packages_install_as_described(self):
        # --flat --current-user: every file at the top level, "." names only,
        # the links in the installing user's Start menu.
        flat = {"app.exe": b"MZ app", "docs/guide/intro.txt": b"intro\r\n"}
        exe = rig.pack(self.scratch, flat, "--product-name", "Packed Product", "--company-folder", "Pack Co",
                       "--install-folder", "Packed 1.0", "--start-menu-folder", "Packed Product", "--shortcut",
                       "Intro=intro.txt", "--flat", name="flat.exe")
        self.install_silently(exe)
        self.assertEqual(self.prefix.tree(INSTALL_DIR), {"app.exe": 6, "intro.txt": 7})
        self.assertEqual(self.prefix.listdir(self.prefix.start_menu_programs + r"\Packed Product"), ["Intro.lnk"])
        self.assertFalse(self.prefix.exists(self.prefix.common_programs + r"\Packed Product"))
        shutil.rmtree(self.prefix.host(rig.program_files() + r"\Pack Co"))
        # A package in circulation (no record) holding folders and a name
        # without ".": flattened, the name without "." left out.
        cab = rig.make_cab(os.path.join(self.scratch, "old.cab"),
                           {"a.txt": b"a", "sub\\deeper\\b.txt": b"b", "README": b"no dot"})
        with open(cab, "rb") as f:
            old = rig.make_package(os.path.join(self.scratch, "old.exe"), payload=f.read(), shortcuts="b.txt|Old B\r",
                                   product_name="Old", company_folder="Pack Co", install_folder="Packed 1.0",
                                   start_menu_folder="Old Group", file_count=3)
        self.install_silently(old)
        self.assertEqual(self.prefix.tree(INSTALL_DIR), {"a.txt": 1, "b.txt": 1})
        self.assertEqual(self.prefix.listdir(self.prefix.start_menu_programs + r"\Old Group"), ["Old B.lnk"])
        self.assertFalse(self.prefix.exists(self.prefix.common_programs + r"\Old Group"))

    def test_lzx_installers_install_and_uninstall(self):
        # The platform's own decoder reads what our LZX writer makes: the
        # smallest and largest windows, x86 code (E8 translation: the stub
        # itself as a payload), and a file whose repeats lie beyond a 32 KB
        # window but inside a 2 MB one.
        files = rig.payload_files()
        with open(rig.stub_path(), "rb") as f:
            files["program.exe"] = f.read()
        chunk = files["noise.bin"] + files["text.txt"]
        files["far.bin"] = b"".join(bytes([i]) + chunk for i in range(24))
        src = rig.write_files(os.path.join(self.scratch, "src"), files)
        for bits in (15, 21):
            with self.subTest(window=bits):
                exe = os.path.join(self.scratch, "lzx%d.exe" % bits)
                rig.tool("pack", "--stub", rig.stub_path(), "-o", exe, "--product-name", "Packed Product",
                         "--company-folder", "Pack Co", "--install-folder", "Packed 1.0", "--short-name", "Packed",
                         "--start-menu-folder", "Packed Product", "--shortcut", "Packed Text=text.txt",
                         "--make-uninstaller", "--compression", "lzx:%d" % bits, src)
                self.assertEqual(rig.inspect(exe)["kind"], "installer")
                self.install_silently(exe, timeout=120)
                for name, data in files.items():
                    self.assertEqual(self.prefix.read(INSTALL_DIR + "\\" + name), data, name)

                self.uninstall(INSTALL_DIR + r"\Uninstall Packed.exe")

    def test_longest_name_the_packer_allows_installs(self):
        # The packer counts from the Program Files of the stub's machine:
        # C:\Program Files (x86) for the 32-bit stub, where 64-bit Windows puts
        # it, C:\Program Files for the 64-bit one. 259 less that folder with
        # "\Pack Co\Packed 1.0\" is what a name may have.
        folder = {"i686": r"C:\Program Files (x86)", "x86-64": r"C:\Program Files"}[self.prefix.target]
        folder += "\\Pack Co\\Packed 1.0\\"
        allowed = 259 - len(folder)
        longest = "n" * (allowed - 4) + ".txt"
        src = rig.write_files(os.path.join(self.scratch, "src"), {longest: b"at the limit\r\n", "a.txt": b"a"})
        over = rig.write_files(os.path.join(self.scratch, "over"), {"n" + longest: b"one too many"})
        args = ["--stub", rig.stub_path(), "--product-name", "Long Names", "--company-folder", "Pack Co",
                "--install-folder", "Packed 1.0"]
        refused = subprocess.run([rig.pack_tool_path(), "pack", "-o", os.path.join(self.scratch, "over.exe")] + args +
                                 [over], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertEqual(refused.returncode, 1)
        self.assertIn("is %d characters long; installed in %s a name may have at most %d" %
                      (allowed + 1, folder, allowed), refused.stderr.decode())
        exe = os.path.join(self.scratch, "setup.exe")
        rig.tool("pack", "-o", exe, *args, src)
        self.install_silently(exe)
        self.assertEqual(self.prefix.read(INSTALL_DIR + "\\" + longest), b"at the limit\r\n")

    def version_and_icons(self, win_path):
        """What Windows' GetFileVersionInfoW, VerQueryValueW and the icon
        calls read of a file (tests/win/verinfo.cpp)."""
        result = self.prefix.run(rig.verinfo_path(), [win_path, "ProductName", "ProductVersion", "FileVersion",
                                                      "CompanyName", "FileDescription", "LegalCopyright"],
                                 timeout=60)
        self.assertNoTimeout(result)
        return result.stdout.splitlines()

    def test_branded_signed_installer_installs_and_uninstalls(self):
        small, small_pem = make_certificate(self.scratch, "Small Key", 2048)
        large, large_pem = make_certificate(self.scratch, "Large Key", 4096)
        password = os.path.join(self.scratch, "password")
        with open(password, "w") as f:
            f.write("secret\n")
        files = {"text.txt": b"signed payload\r\n", "noise.bin": rig.payload_files()["noise.bin"]}
        src = rig.write_files(os.path.join(self.scratch, "src"), files)
        signed = os.path.join(self.scratch, "signed.exe")
        rig.tool("pack", "--stub", rig.stub_path(), "-o", signed, "--product-name", "Packed Product",
                 "--company-folder", "Pack Co", "--install-folder", "Packed 1.0", "--short-name", "Packed",
                 "--start-menu-folder", "Packed Product", "--shortcut", "Packed Text=text.txt",
                 "--make-uninstaller", "--icon", multi_size_icon(self.scratch), "--product-version", "1.0.3.12",
                 "--publisher", "Pack Company \u00c5B", "--copyright", "\u00a9 2026 Pack Co",
                 "--sign-pkcs12", small, "--sign-password-file", password, src)
        # Signed once more over the first signature, with a larger key: the
        # table grows, and the stub still takes it for its own.
        resigned = os.path.join(self.scratch, "resigned.exe")
        subprocess.run(["osslsigncode", "sign", "-pkcs12", large, "-pass", "secret", "-h", "sha256",
                        "-in", signed, "-out", resigned], check=True, stdout=subprocess.DEVNULL)
        for exe, pem in ((signed, small_pem), (resigned, large_pem)):
            verify = subprocess.run(["osslsigncode", "verify", "-CAfile", pem, "-in", exe],
                                    stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            self.assertEqual(verify.returncode, 0, verify.stdout.decode())
            report = rig.inspect(exe)
            self.assertEqual((report["kind"], report["signature"]["check"], report["signature"]["packageIntact"]),
                             ("installer", "valid digest", True), report)
        self.assertNotEqual(os.path.getsize(signed), os.path.getsize(resigned))

        win_setup = self.prefix.copy_in(resigned, r"C:\dl\setup.exe")
        branded = ["version 1.0.3.12 1.0.3.12", "ProductName=Packed Product", "ProductVersion=1.0.3.12",
                   "FileVersion=1.0.3.12", "CompanyName=Pack Company \u00c5B",
                   "FileDescription=Packed Product Setup", "LegalCopyright=\u00a9 2026 Pack Co",
                   "icon MAINICON 256 48 32 16 loads", "icon UNINSTALL 32 loads"]
        self.assertEqual(self.version_and_icons(win_setup), branded)
        result = self.prefix.run(win_setup, ["/SP-", "/LA-", "/SILENT"],
                                 rules=rig.DECLINE_ALL, timeout=60)
        self.assertNoTimeout(result)
        self.assertEqual(result.boxes, [], result)
        self.assertEnds(result, "done")
        for name, data in files.items():
            self.assertEqual(self.prefix.read(INSTALL_DIR + "\\" + name), data)

        # The uninstaller carries no certificate table, and its checksum is
        # right for its own bytes.
        uninstaller = INSTALL_DIR + r"\Uninstall Packed.exe"
        data = self.prefix.read(uninstaller)
        checksum, table, table_size = pe_fields(data)
        self.assertEqual((table, table_size), (0, 0))
        self.assertEqual(checksum, pe_checksum(data))
        report = rig.inspect(self.prefix.host(uninstaller))
        self.assertEqual((report["kind"], report["signature"]), ("uninstaller", {"present": False}), report)
        # A copy of the installer's stub: the same version and icons; its
        # shortcut shows the second group, the uninstall icon.
        self.assertEqual(self.version_and_icons(uninstaller), branded)

        result = self.uninstall(uninstaller)
        self.assertEqual([(b["caption"], b["text"]) for b in result.boxes][1:],
                         [("Uninstall", "Uninstall of Packed Product has been completed successfuly!")], result)


if __name__ == "__main__":
    rig.main()

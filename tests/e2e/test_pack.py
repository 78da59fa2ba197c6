"""The packaging tool's output as Windows sees it: cabinets that Wine's
cabinet.dll (through extrac32) and cabextract unpack to the same bytes, and
installers made by `cabsetup pack` that the setup stub accepts."""

import json
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import rig  # noqa: E402

EXTRAC32 = r"C:\windows\system32\extrac32.exe"


def host_tree(folder, encoding):
    """cabextract writes stored names as they are, in the code page's bytes."""
    out = {}
    for name in os.listdir(os.fsencode(folder)):
        with open(os.path.join(os.fsencode(folder), name), "rb") as f:
            out[name.decode(encoding)] = f.read()
    return out


class PackRoundTrip(rig.RigTestCase):

    def extract_under_wine(self, cab_host_path, dest):
        cab = self.prefix.copy_in(cab_host_path, r"C:\cabs\x.cab")
        result = self.prefix.run(EXTRAC32, ["/e", "/l", dest, cab], rules=rig.DECLINE_ALL, timeout=60)
        self.assertNoTimeout(result)
        self.assertEqual(result.boxes, [], result)
        return {name: self.prefix.read(dest + "\\" + name) for name in self.prefix.listdir(dest)}

    def test_cabinets_unpack_alike_with_cabinet_dll_and_cabextract(self):
        # In code page 1252 both take the stored bytes as they are. In UTF-8
        # (the default) a non-ASCII name carries the flag 0x80, which
        # cabextract honours; extrac32 knows no flag, so only ASCII names go
        # through it there.
        ascii = {name: data for name, data in rig.payload_files().items() if name.isascii()}
        cases = [("level 7", rig.payload_files(), "7", "1252"), ("level 9", rig.payload_files(), "9", "1252"),
                 ("level 1", rig.payload_files(), "1", "1252"),
                 ("stored", rig.payload_files(), "0", "1252"), ("only empty files", {"a.txt": b"", "b.dat": b""}, "9", None),
                 ("UTF-8 names by default", rig.payload_files(), "7", None), ("UTF-8, ASCII names", ascii, "7", "65001")]
        for n, (label, files, level, codepage) in enumerate(cases):
            with self.subTest(label):
                src = rig.write_files(os.path.join(self.scratch, "src%d" % n), files)
                cab = os.path.join(self.scratch, "c%d.cab" % n)
                rig.tool("cab", "-o", cab, "--level", level, *(["--codepage", codepage] if codepage else []), src)
                out = os.path.join(self.scratch, "cabextract%d" % n)
                subprocess.run(["cabextract", "-q", "-d", out, cab], check=True)
                utf8 = codepage != "1252"
                self.assertEqual(host_tree(out, "utf-8" if utf8 else "cp1252"), files)
                entries = json.loads(rig.tool("inspect", "--json", cab).stdout)["cabinet"]["entries"]
                self.assertEqual({e["name"]: bool(e["attribs"] & 0x80) for e in entries},
                                 {name: utf8 and not name.isascii() for name in files})
                if not utf8 or files is ascii:
                    self.assertEqual(self.extract_under_wine(cab, r"C:\dest%d" % n), files)

    def test_ready_made_cabinet_is_carried_byte_for_byte(self):
        files = {name: data for name, data in rig.payload_files().items() if name.isascii()}
        src = rig.write_files(os.path.join(self.scratch, "src"), files)
        other = os.path.join(self.scratch, "other.cab")
        subprocess.run(["gcab", "-c", "-z", other] + sorted(files), cwd=src, check=True,
                       stdout=subprocess.DEVNULL)
        exe = os.path.join(self.scratch, "setup.exe")
        rig.tool("pack", "--stub", rig.stub_path(), "-o", exe, "--product-name", "Carried",
             "--install-folder", "Carried", "--cab", other)
        with open(exe, "rb") as f:
            package = f.read()
        with open(other, "rb") as f:
            cab = f.read()
        self.assertTrue(package.endswith(cab))
        report = json.loads(rig.tool("inspect", "--json", exe).stdout)
        self.assertEqual(report["kind"], "installer")
        self.assertEqual(report["header"]["FileCount"], len(files))
        # The stub built for this target, named as such.
        self.assertEqual(report["stub"], {"i686": {"machine": "i386", "bits": 32},
                                          "x86-64": {"machine": "x86-64", "bits": 64}}[self.prefix.target])

    def test_cabinet_with_utf8_names_is_carried_with_its_flag(self):
        # gcab marks a non-ASCII name as UTF-8 (0x80): such a name is UTF-8
        # whatever the package's code page says.
        src = rig.write_files(os.path.join(self.scratch, "src"), {"caf\u00e9.txt": b"x"})
        other = os.path.join(self.scratch, "utf8.cab")
        subprocess.run(["gcab", "-c", other, "caf\u00e9.txt"], cwd=src, check=True, stdout=subprocess.DEVNULL)
        for codepage in ("65001", "1252"):
            with self.subTest(codepage):
                exe = os.path.join(self.scratch, "setup%s.exe" % codepage)
                rig.tool("pack", "--stub", rig.stub_path(), "-o", exe, "--product-name", "U", "--install-folder", "U",
                         "--codepage", codepage, "--cab", other)
                report = rig.inspect(exe)
                self.assertEqual(report["verdict"], "valid installer (marker, header, shortcut list and payload are sound)")
                # Asked for by default: sub-folders (0x2), shortcuts for all users (0x8).
                self.assertEqual(report["record"], {"present": True, "codePage": int(codepage), "asks": 0x5E})
                self.assertEqual([(e["name"], e["attribs"] & 0x80) for e in report["cabinet"]["entries"]],
                                 [("caf\u00e9.txt", 0x80)])

    def test_packed_installer_passes_the_stub_checks(self):
        src = rig.write_files(os.path.join(self.scratch, "src"), rig.payload_files())
        exe = os.path.join(self.scratch, "setup.exe")
        rig.tool("pack", "--stub", rig.stub_path(), "-o", exe, "--product-name", "Packed Product",
             "--install-folder", "Packed Product", "--start-menu-folder", "Packed Product",
             "--shortcut", "Packed Text=text.txt", src)
        win_exe = self.prefix.copy_in(exe, r"C:\dl\setup.exe")
        before = self.prefix.state()
        result = self.prefix.run(win_exe, [], rules=rig.DECLINE_ALL, timeout=45)
        self.assertNoTimeout(result)
        texts = "\n".join(result.box_texts())
        self.assertNotIn("corrupted", texts)
        self.assertNotIn("TAVO.EXE", texts)
        self.assertNotIn("Internal Error", texts)
        self.assertTrue(result.boxes, result)
        # The first question already carries the mode caption: the header
        # was read and accepted.
        self.assertEqual(result.boxes[0]["caption"], "Setup")
        self.assertEqual(result.boxes[0]["text"],
                         "This will install Packed Product on your computer. Do you wish to continue?")
        self.assertEqual(self.prefix.tree(self.prefix.program_files), before[self.prefix.program_files])
        self.assertEnds(result, "declined")


if __name__ == "__main__":
    rig.main()

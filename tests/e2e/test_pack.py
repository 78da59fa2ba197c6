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
        cases = [("default level 7", rig.payload_files(), "7"), ("level 9", rig.payload_files(), "9"),
                 ("level 1", rig.payload_files(), "1"),
                 ("stored", rig.payload_files(), "0"), ("only empty files", {"a.txt": b"", "b.dat": b""}, "9")]
        for n, (label, files, level) in enumerate(cases):
            with self.subTest(label):
                src = rig.write_files(os.path.join(self.scratch, "src%d" % n), files)
                cab = os.path.join(self.scratch, "c%d.cab" % n)
                rig.tool("cab", "-o", cab, "--level", level, src)
                out = os.path.join(self.scratch, "cabextract%d" % n)
                subprocess.run(["cabextract", "-q", "-d", out, cab], check=True)
                self.assertEqual(host_tree(out, "cp1252"), files)
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

    def test_cabinet_with_utf8_names_is_refused(self):
        # gcab marks a non-ASCII name as UTF-8 (0x80); the stub would read
        # its bytes as ANSI and install the file under a garbled name.
        src = rig.write_files(os.path.join(self.scratch, "src"), {"caf\u00e9.txt": b"x"})
        other = os.path.join(self.scratch, "utf8.cab")
        subprocess.run(["gcab", "-c", other, "caf\u00e9.txt"], cwd=src, check=True, stdout=subprocess.DEVNULL)
        exe = os.path.join(self.scratch, "setup.exe")
        p = rig.tool("pack", "--stub", rig.stub_path(), "-o", exe, "--product-name", "U", "--install-folder", "U",
                 "--cab", other, check=False)
        self.assertEqual(p.returncode, 1)
        self.assertEqual(p.stderr.decode(), "cabsetup: error: cabinet entry \"caf\u00e9.txt\" has a UTF-8 name (0x80); "
                         "the installer reads names as ANSI\n")
        self.assertFalse(os.path.exists(exe))

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

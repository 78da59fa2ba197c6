"""The stub's resources as Windows reads them from the file: the two icon
groups (MAINICON first, so it is the program's icon), each one 32 x 32 image
in 16 colours with a mask, as stub/icons/draw_icons.py draws them; the manifest
as resource 1 and the same bytes as 123, asking for the common controls 6 of
the stub's own processor, administrator rights and Windows Vista to 11. Each
stub is a GUI program of its target. And what the loader reads before any
code runs: the image's mitigations and its imports.

    python3 ui_resources_test.py i686|x86-64 STUB.EXE [STUB.EXE...]
"""
import os
import struct
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

RT_ICON, RT_GROUP_ICON, RT_MANIFEST = 3, 14, 24
SOURCE = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
TARGET, EXES = sys.argv[1], sys.argv[2:]
# Per target: PE machine, optional-header magic (PE32, PE32+), the
# processor the manifest names.
KINDS = {"i686": (0x14C, 0x10B, "x86"), "x86-64": (0x8664, 0x20B, "amd64")}


class Image:
    """The parts of a PE32 or PE32+ file these tests read."""

    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = data = f.read()
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        assert data[pe:pe + 4] == b"PE\0\0"
        self.machine, sections = struct.unpack_from("<HH", data, pe + 4)
        opt_size, self.characteristics = struct.unpack_from("<HH", data, pe + 20)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", data, opt)[0]
        self.wide = self.magic == 0x20B
        self.subsystem = struct.unpack_from("<H", data, opt + 68)[0]
        self.dll_characteristics = struct.unpack_from("<H", data, opt + 70)[0]
        self.directories = opt + (112 if self.wide else 96)
        table = opt + opt_size
        self.spans = []
        for i in range(sections):
            vsize, vaddr, rsize, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            self.spans.append((vaddr, max(vsize, rsize), raw))

    def directory(self, index):
        """(rva, size) of a data directory."""
        return struct.unpack_from("<II", self.data, self.directories + 8 * index)

    def at(self, r):
        for vaddr, size, raw in self.spans:
            if vaddr <= r < vaddr + size:
                return raw + r - vaddr
        raise ValueError("rva %x outside the sections" % r)

    def string(self, rva):
        start = self.at(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def imports(self):
        """Names of the DLLs the loader resolves before the program runs."""
        names, pos = [], self.at(self.directory(1)[0])
        while True:
            name_rva = struct.unpack_from("<I", self.data, pos + 12)[0]
            if not name_rva:
                return names
            names.append(self.string(name_rva))
            pos += 20


def resources(path):
    """{type: [(name or id, bytes), ...]} in the order of the file's directory."""
    image = Image(path)
    data, at = image.data, image.at
    base = at(image.directory(2)[0])

    def entries(offset):
        named, ids = struct.unpack_from("<HH", data, base + offset + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, base + offset + 16 + 8 * i)
            if name & 0x80000000:
                p = base + (name & 0x7FFFFFFF)
                n = struct.unpack_from("<H", data, p)[0]
                name = data[p + 2:p + 2 + 2 * n].decode("utf-16-le")
            yield name, target

    out = {}
    for rtype, t in entries(0):
        for name, n in entries(t & 0x7FFFFFFF):
            for _lang, leaf in entries(n & 0x7FFFFFFF):
                drva, size = struct.unpack_from("<II", data, base + leaf)
                out.setdefault(rtype, []).append((name, data[at(drva):at(drva) + size]))
    return out


def drawn_icons():
    with tempfile.TemporaryDirectory() as d:
        subprocess.run([sys.executable, os.path.join(SOURCE, "stub", "icons", "draw_icons.py"), d], check=True)
        out = {}
        for n in ("main.ico", "uninstall.ico"):
            with open(os.path.join(d, n), "rb") as f:
                out[n] = f.read()
        return out


class Resources(unittest.TestCase):
    def test_script_draws_the_committed_icons(self):
        for name, data in drawn_icons().items():
            with open(os.path.join(SOURCE, "stub", "icons", name), "rb") as f:
                self.assertEqual(f.read(), data, "run stub/icons/draw_icons.py and commit " + name)

    def test_icons_and_manifest_in_each_stub(self):
        drawn = drawn_icons()
        machine, magic, _ = KINDS[TARGET]
        for exe in EXES:
            with self.subTest(os.path.basename(exe)):
                image = Image(exe)
                self.assertEqual((image.machine, image.magic, image.subsystem), (machine, magic, 2),
                                 "machine, magic, GUI subsystem")
                res = resources(exe)
                groups = res[RT_GROUP_ICON]
                self.assertEqual([g[0] for g in groups], ["MAINICON", "UNINSTALL"])
                images = dict(res[RT_ICON])
                for (name, group), ico in zip(groups, (drawn["main.ico"], drawn["uninstall.ico"])):
                    reserved, kind, count = struct.unpack_from("<HHH", group, 0)
                    self.assertEqual((kind, count), (1, 1), name)
                    w, h, colours, _, planes, bits, size, image_id = struct.unpack_from("<BBBBHHIH", group, 6)
                    self.assertEqual((w, h, colours, planes, bits), (32, 32, 16, 1, 4), name)
                    image = images[image_id]
                    self.assertEqual(len(image), size)
                    # Header, 16-colour palette, 4-bit colour rows, 1-bit mask rows.
                    self.assertEqual(len(image), 40 + 16 * 4 + 32 * 16 + 32 * 4)
                    self.assertEqual(struct.unpack_from("<iiHH", image, 4), (32, 64, 1, 4))
                    self.assertEqual(image, ico[22:], name + " is not the drawn icon")
                    mask = image[-128:]
                    self.assertTrue(any(mask) and any(b != 0xFF for b in mask), name + ": no transparency")
                manifests = dict(res[RT_MANIFEST])
                self.assertEqual(sorted(manifests), [1, 123])
                self.assertEqual(manifests[1], manifests[123])

    def test_manifest_asks_for_styles_rights_and_versions(self):
        ns = {"v1": "urn:schemas-microsoft-com:asm.v1", "v3": "urn:schemas-microsoft-com:asm.v3",
              "c": "urn:schemas-microsoft-com:compatibility.v1"}
        processor = KINDS[TARGET][2]
        for exe in EXES:
            with self.subTest(os.path.basename(exe)):
                root = ET.fromstring(dict(resources(exe)[RT_MANIFEST])[1])
                # Common controls 6 for the stub's own processor: a 64-bit
                # program that names x86 finds no such assembly.
                controls = root.find("v1:dependency/v1:dependentAssembly/v1:assemblyIdentity", ns).attrib
                self.assertEqual((controls["name"], controls["version"], controls["publicKeyToken"],
                                  controls["processorArchitecture"]),
                                 ("Microsoft.Windows.Common-Controls", "6.0.0.0", "6595b64144ccf1df", processor))
                self.assertEqual(root.find("v1:assemblyIdentity", ns).get("processorArchitecture"), processor)
                level = root.find("v3:trustInfo/v3:security/v3:requestedPrivileges/v3:requestedExecutionLevel",
                                  ns).attrib
                self.assertEqual(level, {"level": "requireAdministrator", "uiAccess": "false"})
                systems = [e.get("Id") for e in root.findall("c:compatibility/c:application/c:supportedOS", ns)]
                self.assertEqual(systems, [
                    "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  # Vista
                    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # 7
                    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # 8
                    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # 8.1
                    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # 10 and 11
                ])


# What Windows lists as known DLLs: the loader takes these from the system
# folder whatever the program's folder holds.
KNOWN_DLLS = {"advapi32.dll", "clbcatq.dll", "combase.dll", "comdlg32.dll", "coml2.dll", "gdi32.dll",
              "gdiplus.dll", "imagehlp.dll", "imm32.dll", "kernel32.dll", "msctf.dll", "msvcrt.dll",
              "normaliz.dll", "nsi.dll", "ole32.dll", "oleaut32.dll", "psapi.dll", "rpcrt4.dll", "sechost.dll",
              "setupapi.dll", "shcore.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "wldap32.dll",
              "ws2_32.dll"}

IMAGE_FILE_RELOCS_STRIPPED = 0x0001
HIGH_ENTROPY_VA, DYNAMIC_BASE, NX_COMPAT, TERMINAL_SERVER_AWARE = 0x0020, 0x0040, 0x0100, 0x8000


class WhatTheLoaderReads(unittest.TestCase):
    def test_imports_only_known_system_dlls(self):
        # Any other DLL is searched in the program's folder first: a
        # download folder, or Temp for an uninstaller's copy.
        for exe in EXES:
            with self.subTest(os.path.basename(exe)):
                imports = [n.lower() for n in Image(exe).imports()]
                self.assertIn("kernel32.dll", imports)
                self.assertEqual([n for n in imports if n not in KNOWN_DLLS], [])

    def test_mitigations(self):
        for exe in EXES:
            with self.subTest(os.path.basename(exe)):
                image = Image(exe)
                flags = image.dll_characteristics
                wanted = DYNAMIC_BASE | NX_COMPAT | TERMINAL_SERVER_AWARE | (HIGH_ENTROPY_VA if image.wide else 0)
                self.assertEqual(flags & wanted, wanted, hex(flags))
                # A base that may move needs the table that moves it.
                self.assertFalse(image.characteristics & IMAGE_FILE_RELOCS_STRIPPED)
                self.assertGreater(image.directory(5)[1], 0)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)

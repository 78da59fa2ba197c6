"""The stub's resources as Windows reads them from the file: the two icon
groups (MAINICON first, so it is the program's icon), each one 32 x 32 image
in 16 colours with a mask, as stub/icons/draw_icons.py draws them; the manifest
as resource 1 and the same bytes as 123, asking for the common controls 6 of
the stub's own processor, administrator rights and Windows Vista to 11. Each
stub is a GUI program of its target. And what the loader reads before any
code runs: the image's mitigations and its imports. Branded by `cabsetup
pack` (the native packer, $CABSETUP), the same stub shows the product's icon
(every image of its .ico) and a version resource, as icoutils' wrestool reads
them too, and stays a sound image.

    python3 ui_resources_test.py i686|x86-64 STUB.EXE [STUB.EXE...]
"""
import os
import struct
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
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
        self.checksum_at = opt + 64
        self.section_alignment, = struct.unpack_from("<I", data, opt + 32)
        self.size_of_image, = struct.unpack_from("<I", data, opt + 56)
        table = opt + opt_size
        self.spans, self.sections = [], []
        for i in range(sections):
            vsize, vaddr, rsize, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            self.spans.append((vaddr, max(vsize, rsize), raw))
            self.sections.append((data[table + 40 * i:table + 40 * i + 8].rstrip(b"\0").decode(), vaddr, vsize,
                                  raw, rsize))

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


def pe_checksum(data, at):
    """The PE checksum of data, the field at `at` counted as zero."""
    padded = bytearray(data) + b"\0" * (len(data) & 1)
    struct.pack_into("<I", padded, at, 0)
    total = sum(struct.unpack("<%dH" % (len(padded) // 2), padded))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(data)


def version_blocks(data, at=0, end=None):
    """The blocks of a version resource: (key, value bytes, children)."""
    end = len(data) if end is None else end
    while at + 6 <= end:
        length, value_length, text = struct.unpack_from("<HHH", data, at)
        key_end = at + 6
        while data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = data[at + 6:key_end].decode("utf-16-le")
        value_at = (key_end + 2 + 3) & ~3
        value = data[value_at:value_at + (2 * value_length if text else value_length)]
        children = list(version_blocks(data, (value_at + len(value) + 3) & ~3, at + length))
        yield key, value, children
        at = (at + length + 3) & ~3


def version_strings(resource):
    """(file version, product version, {key: text}) of a VS_VERSIONINFO."""
    (key, fixed, children), = version_blocks(resource)
    assert key == "VS_VERSION_INFO" and struct.unpack_from("<I", fixed)[0] == 0xFEEF04BD
    ms, ls, pms, pls = struct.unpack_from("<IIII", fixed, 8)
    quad = lambda high, low: "%d.%d.%d.%d" % (high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF)
    strings = {}
    for name, _, tables in children:
        if name == "StringFileInfo":
            (language, _, entries), = tables
            strings = {k: v.decode("utf-16-le").rstrip("\0") for k, v, _ in entries}
            strings["(table)"] = language
        if name == "VarFileInfo":
            strings["(translation)"] = tables[0][1].hex()
    return quad(ms, ls), quad(pms, pls), strings


def ico_images(ico):
    """[(12-byte directory entry, image bytes)] of an .ico file."""
    count, = struct.unpack_from("<H", ico, 4)
    out = []
    for i in range(count):
        size, at = struct.unpack_from("<II", ico, 6 + 16 * i + 8)
        out.append((ico[6 + 16 * i:6 + 16 * i + 12], ico[at:at + size]))
    return out


class Branded(unittest.TestCase):
    """Each stub packed with a product's icon and version."""

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        d = cls.dir.name
        png, cls.ico_path = os.path.join(d, "p.png"), os.path.join(d, "product.ico")
        subprocess.run(["convert", "-size", "64x64", "xc:red", "-fill", "blue", "-draw", "circle 32,32 32,8", png],
                       check=True)
        subprocess.run(["convert", png, "-define", "icon:auto-resize=256,48,32,16", cls.ico_path], check=True)
        with open(cls.ico_path, "rb") as f:
            cls.ico = f.read()
        os.makedirs(os.path.join(d, "payload"))
        with open(os.path.join(d, "payload", "app.txt"), "wb") as f:
            f.write(b"app\r\n")
        cls.branded = {}
        for n, exe in enumerate(EXES):
            out = os.path.join(d, "setup%d.exe" % n)
            subprocess.run([os.environ["CABSETUP"], "pack", "--stub", exe, "-o", out, "--product-name",
                            "Br\u00e4nd Viewer", "--company-folder", "Brand Co", "--install-folder", "Viewer",
                            "--icon", cls.ico_path, "--product-version", "2.10.0.65535",
                            "--copyright", "\u00a9 2026 Brand Co", os.path.join(d, "payload")],
                           check=True, stdout=subprocess.DEVNULL)
            cls.branded[exe] = out

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def test_icon_and_version_as_written(self):
        for exe, out in self.branded.items():
            with self.subTest(os.path.basename(exe)):
                bare, res = resources(exe), resources(out)
                self.assertEqual([g[0] for g in res[RT_GROUP_ICON]], ["MAINICON", "UNINSTALL"])
                groups, images = dict(res[RT_GROUP_ICON]), dict(res[RT_ICON])
                main = groups["MAINICON"]
                self.assertEqual(struct.unpack_from("<HHH", main), (0, 1, 4))
                shown = [(main[6 + 14 * i:6 + 14 * i + 12], images[struct.unpack_from("<H", main, 18 + 14 * i)[0]])
                         for i in range(4)]
                self.assertEqual(shown, ico_images(self.ico))
                # The uninstall icon, its image and the manifests stay.
                bare_groups, bare_images = dict(bare[RT_GROUP_ICON]), dict(bare[RT_ICON])
                image_id, = struct.unpack_from("<H", groups["UNINSTALL"], 18)
                self.assertEqual(groups["UNINSTALL"], bare_groups["UNINSTALL"])
                self.assertEqual(images[image_id], bare_images[struct.unpack_from("<H", bare_groups["UNINSTALL"], 18)[0]])
                self.assertEqual(res[RT_MANIFEST], bare[RT_MANIFEST])
                (name, version), = res[RT_VERSION]
                self.assertEqual(name, 1)
                self.assertEqual(version_strings(version), ("2.10.0.65535", "2.10.0.65535", {
                    "CompanyName": "Brand Co", "FileDescription": "Br\u00e4nd Viewer Setup",
                    "FileVersion": "2.10.0.65535", "LegalCopyright": "\u00a9 2026 Brand Co",
                    "ProductName": "Br\u00e4nd Viewer", "ProductVersion": "2.10.0.65535",
                    "(table)": "040904B0", "(translation)": "0904b004"}))

    def test_wrestool_reads_them_alike(self):
        for exe, out in self.branded.items():
            with self.subTest(os.path.basename(exe)):
                listed = subprocess.run(["wrestool", "-l", out], stdout=subprocess.PIPE, check=True).stdout.decode()
                self.assertIn("--type=14 --name='MAINICON'", listed)
                self.assertIn("--type=14 --name='UNINSTALL'", listed)
                self.assertIn("--type=16 --name=1", listed)
                main = os.path.join(self.dir.name, "main.ico")
                with open(main, "wb") as f:
                    subprocess.run(["wrestool", "-x", "--type=14", "--name=MAINICON", out], stdout=f, check=True)
                icons = [subprocess.run(["icotool", "-l", f], stdout=subprocess.PIPE, check=True).stdout
                         for f in (main, self.ico_path)]
                self.assertEqual(icons[0], icons[1])
                self.assertEqual(icons[0].count(b"--icon"), 4)
                raw = subprocess.run(["wrestool", "-x", "--raw", "--type=16", out], stdout=subprocess.PIPE,
                                     check=True).stdout
                self.assertEqual(version_strings(raw)[2]["ProductName"], "Br\u00e4nd Viewer")

    def test_still_a_sound_image(self):
        for exe, out in self.branded.items():
            with self.subTest(os.path.basename(exe)):
                bare, image = Image(exe), Image(out)
                stub_size, = struct.unpack_from("<I", image.data, 48 + 4)
                stub = image.data[:stub_size]
                # The sections in order, resources then relocations last, the
                # file ending where they do, SizeOfImage covering them.
                names = [s[0] for s in image.sections]
                self.assertEqual(names, [s[0] for s in bare.sections])
                self.assertEqual(names[-2:], [".rsrc", ".reloc"])
                _, va, vsize, raw, rsize = image.sections[-1]
                self.assertEqual(raw + rsize, stub_size)
                self.assertEqual(image.size_of_image, -(-(va + vsize) // image.section_alignment)
                                 * image.section_alignment)
                for (_, va1, vsize1, _, _), (_, va2, _, _, _) in zip(image.sections, image.sections[1:]):
                    self.assertLessEqual(va1 + vsize1, va2)
                self.assertEqual(image.directory(2), (image.sections[-2][1], image.sections[-2][2]))
                self.assertEqual(image.directory(5)[0], va)
                # The relocations moved unchanged. The checksum is right for
                # the stub's bytes before the record (40..47), the marker
                # (48..59) and the package's digest (0x3C0..0x3E7) go in, as
                # the linker's is for the bare stub.
                self.assertEqual(image.data[image.at(image.directory(5)[0]):][:image.directory(5)[1]],
                                 bare.data[bare.at(bare.directory(5)[0]):][:bare.directory(5)[1]])
                unmarked = stub[:40] + bytes(8 + 12) + stub[60:0x3C0] + bytes(40) + stub[0x3E8:]
                self.assertEqual(struct.unpack_from("<I", stub, image.checksum_at)[0],
                                 pe_checksum(unmarked, image.checksum_at))
                self.assertEqual((image.dll_characteristics, image.characteristics, image.imports()),
                                 (bare.dll_characteristics, bare.characteristics, bare.imports()))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)

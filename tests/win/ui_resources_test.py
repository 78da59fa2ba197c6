"""The stub's resources as Windows reads them from the file: the two icon
groups (MAINICON first, so it is the program's icon), each one 32 x 32 image
in 16 colours with a mask, as ui/icons/draw_icons.py draws them; the manifest
as resource 1 and the same bytes as 123, asking for the common controls 6 of
the stub's own processor. Each stub is a GUI program of its target.

    python3 ui_resources_test.py i686|x86-64 STUB.EXE [STUB.EXE...]
"""
import os
import struct
import subprocess
import sys
import tempfile
import unittest

RT_ICON, RT_GROUP_ICON, RT_MANIFEST = 3, 14, 24
SOURCE = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
TARGET, EXES = sys.argv[1], sys.argv[2:]
# Per target: PE machine, optional-header magic (PE32, PE32+), the
# processor the manifest names.
KINDS = {"i686": (0x14C, 0x10B, "x86"), "x86-64": (0x8664, 0x20B, "amd64")}


def headers(data):
    """(machine, optional-header magic, subsystem, offset of the optional header)."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe:pe + 4] == b"PE\0\0"
    machine = struct.unpack_from("<H", data, pe + 4)[0]
    magic, = struct.unpack_from("<H", data, pe + 24)
    subsystem, = struct.unpack_from("<H", data, pe + 24 + 68)
    return machine, magic, subsystem, pe + 24


def resources(path):
    """{type: [(name or id, bytes), ...]} in the order of the file's directory."""
    with open(path, "rb") as f:
        data = f.read()
    _, magic, _, opt = headers(data)
    pe = opt - 24
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    opt_size = struct.unpack_from("<H", data, pe + 20)[0]
    # The data directories follow 96 bytes of PE32 fields, 112 of PE32+.
    directories = opt + (112 if magic == 0x20B else 96)
    rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]  # data directory 2: resources
    table = opt + opt_size
    spans = []
    for i in range(sections):
        vsize, vaddr, rsize, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
        spans.append((vaddr, max(vsize, rsize), raw))

    def at(r):
        for vaddr, size, raw in spans:
            if vaddr <= r < vaddr + size:
                return raw + r - vaddr
        raise ValueError("rva %x outside the sections" % r)

    base = at(rva)

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
        subprocess.run([sys.executable, os.path.join(SOURCE, "ui", "icons", "draw_icons.py"), d], check=True)
        out = {}
        for n in ("main.ico", "uninstall.ico"):
            with open(os.path.join(d, n), "rb") as f:
                out[n] = f.read()
        return out


class Resources(unittest.TestCase):
    def test_script_draws_the_committed_icons(self):
        for name, data in drawn_icons().items():
            with open(os.path.join(SOURCE, "ui", "icons", name), "rb") as f:
                self.assertEqual(f.read(), data, "run ui/icons/draw_icons.py and commit " + name)

    def test_icons_and_manifest_in_each_stub(self):
        drawn = drawn_icons()
        machine, magic, processor = KINDS[TARGET]
        for exe in EXES:
            with self.subTest(os.path.basename(exe)):
                with open(exe, "rb") as f:
                    self.assertEqual(headers(f.read())[:3], (machine, magic, 2), "machine, magic, GUI subsystem")
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
                text = manifests[1].decode("utf-8")
                for needle in ('name="Microsoft.Windows.Common-Controls"', 'version="6.0.0.0"',
                               'publicKeyToken="6595b64144ccf1df"'):
                    self.assertIn(needle, text)
                # The program's own identity and the common controls both.
                self.assertEqual(text.count('processorArchitecture="%s"' % processor), 2, text)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)

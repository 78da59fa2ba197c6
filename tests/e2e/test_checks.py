"""What a user sees when the setup program checks its own file: the bare-stub
notice, the damaged-copy reports, and a sound package getting past the
checks."""

import os
import shutil
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import rig  # noqa: E402
from rig import Box  # noqa: E402


# Header offsets of the fields the damage cases touch.
H_MAGIC, H_SIZE, H_PRODUCT_NAME, H_PAYLOAD_SIZE = 0, 4, 8, 719


def sound_package(path, **fields):
    values = dict(product_name="Check Product", install_folder="Check Product", start_menu_folder="Check Product",
                  file_count=1)
    values.update(fields)
    return rig.make_package(path, payload=b"MSCF-not-read-before-the-question" * 4, **values)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)
    return path


# Each damage: (name, function from the sound package's bytes to the damaged
# bytes). All are caught before any window is shown.
def _append_byte(data):
    return data + b"\0"


def _cut_byte_keep_marker_true(data):
    # The file ends one byte early and PackageSize says so: the header's
    # blocks now reach past the end.
    magic, stub, size = rig.marker(data)
    return rig.patch_u32(data[:-1], rig.MARKER_OFFSET + 8, size - 1)


def _header_u32(offset, value):
    def damage(data):
        stub = rig.marker(data)[1]
        return rig.patch_u32(data, stub + offset, value)
    return damage


def _header_magic(data):
    stub = rig.marker(data)[1]
    return rig.patch_u32(data, stub + H_MAGIC, 0x11804034)


def _marker_magic_zero(data):
    # Magic gone but StubSize still set: not a bare stub, a damaged one.
    return rig.patch_u32(data, rig.MARKER_OFFSET, 0)


def _marker_magic_wrong(data):
    return rig.patch_u32(data, rig.MARKER_OFFSET, 0x6E6F6E51)


def _text_length_101(data):
    stub = rig.marker(data)[1]
    out = bytearray(data)
    out[stub + H_PRODUCT_NAME] = 101
    return bytes(out)


def _sizes_past_end(data):
    stub = rig.marker(data)[1]
    payload = struct.unpack_from("<I", data, stub + H_PAYLOAD_SIZE)[0]
    return rig.patch_u32(data, stub + H_PAYLOAD_SIZE, payload + 1000)


def _signed(data, after=b"", shift=0):
    """The package as a signing tool leaves it (zeros up to a multiple of 8,
    a certificate table named by the security directory), then `after`;
    the directory pointing `shift` bytes off."""
    padded = data + b"\0" * (-len(data) % 8)
    table = struct.pack("<IHH", 8 + 64, 0x0200, 2) + bytes(range(64))
    out = bytearray(padded + table + after)
    pe = struct.unpack_from("<I", out, 0x3C)[0]
    magic = struct.unpack_from("<H", out, pe + 24)[0]
    directories = pe + 24 + (96 if magic == 0x10B else 112)
    struct.pack_into("<II", out, directories + 32, len(padded) + shift, len(table))
    return bytes(out)


DAMAGES = [
    ("a byte after its certificate table", lambda data: _signed(data, after=b"\0")),
    ("a certificate table the security directory does not name", lambda data: _signed(data, shift=8)),
    ("one byte appended", _append_byte),
    ("one byte cut, PackageSize patched", _cut_byte_keep_marker_true),
    ("wrong header magic", _header_magic),
    ("header size field 737", _header_u32(H_SIZE, 737)),
    ("header size field 739", _header_u32(H_SIZE, 739)),
    ("marker magic 0 with a StubSize", _marker_magic_zero),
    ("wrong marker magic", _marker_magic_wrong),
    ("text length byte 101", _text_length_101),
    ("header sizes past PackageSize", _sizes_past_end),
]


class PackageChecks(rig.RigTestCase):

    def run_quiet(self, win_exe, args=(), rules=(Box(press="OK"),)):
        before = self.prefix.state()
        result = self.prefix.run(win_exe, list(args), rules=list(rules), timeout=45)
        self.assertNoTimeout(result)
        return before, result

    def assert_only_box(self, result, caption, text, icon, end="damaged"):
        self.assertEqual(len(result.boxes), 1, result)
        box = result.boxes[0]
        self.assertEqual(box["text"], text)
        self.assertEqual(box["caption"], caption)
        self.assertEqual(box["icon"], icon)
        self.assertEqual(box["buttons"], ["OK"])
        self.assertIsNone(box["owner"])
        self.assertEqual(box["answered"], "OK")
        self.assertEqual(result.windows, [], "no window besides the box")
        self.assertEnds(result, end)

    def test_bare_stub_shows_only_the_loader_notice(self):
        exe = self.prefix.copy_in(rig.stub_path(), r"C:\dl\setup.exe")
        self.assertEqual(rig.marker(self.prefix.read(exe)), (0, 0, 0))
        before, result = self.run_quiet(exe)
        self.assert_only_box(result, "Loader", "Please, run TAVO.EXE for details.", "information")
        self.assertEqual(self.prefix.state(), before)

    def test_damaged_copies_show_one_error_box_and_touch_nothing(self):
        sound = read(sound_package(os.path.join(self.scratch, "sound.exe")))
        for name, damage in DAMAGES:
            with self.subTest(damage=name):
                damaged = damage(sound)
                self.assertNotEqual(damaged, sound)
                exe = self.prefix.copy_in(write(os.path.join(self.scratch, "setup.exe"), damaged),
                                          r"C:\dl\setup.exe")
                before, result = self.run_quiet(exe)
                self.assert_only_box(result, None, rig.DAMAGED % "SETUP.EXE", "error")
                self.assertEqual(self.prefix.state(), before)

    def test_damaged_copy_names_the_file_in_capitals(self):
        damaged = _append_byte(read(sound_package(os.path.join(self.scratch, "p.exe"))))
        for win_name, shown in [(r"C:\dl\Product-Setup 1.2.exe", "PRODUCT-SETUP 1.2.EXE"),
                                (r"C:\dl\x.y\mixed.ExE", "MIXED.EXE"),
                                # Only a to z change case.
                                ("C:\\dl\\caf\u00e9 \u00e0.exe", "CAF\u00e9 \u00e0.EXE")]:
            with self.subTest(name=win_name):
                exe = self.prefix.copy_in(write(os.path.join(self.scratch, "d.exe"), damaged), win_name)
                before, result = self.run_quiet(exe)
                self.assert_only_box(result, None, rig.DAMAGED % shown, "error")

    def test_log_that_cannot_be_opened(self):
        # A run that was to be logged and cannot be does nothing: one error
        # box before any window. The package would install.
        exe = self.prefix.copy_in(rig.pack(self.scratch, {"a.txt": b"a"}, "--product-name", "Logged",
                                           "--install-folder", "Logged"), r"C:\dl\setup.exe")
        victim = r"C:\dl\victim.ini"

        def second_name():
            # A second name of a file its owner never looks for.
            self.prefix.write(victim, b"[keep]")
            os.link(self.prefix.host(victim), self.prefix.host(r"C:\dl\linked.log"))

        cases = [
            # (path, the system's reason, what is there first)
            (r"C:\no such folder\setup.log", "Path not found", None),
            (r"C:\dl", "Access denied", None),
            ("", "Path not found", None),
            ("NUL", "Invalid name", None),
            (r"C:\dl\com1.log", "Invalid name", None),
            (r"\\.\C:", "Invalid name", None),
            # Only a full path on a local drive, without a stream.
            ("setup.log", "Invalid name", None),
            (r"C:setup.log", "Invalid name", None),
            (r"\dl\setup.log", "Invalid name", None),
            (r"\\server\share\setup.log", "Invalid name", None),
            (r"\\?\C:\dl\setup.log", "Invalid name", None),
            ("//?/C:/dl/setup.log", "Invalid name", None),
            (r"C:\dl\q3.log:ads", "Invalid name", None),
            (r"C:\dl\linked.log", "Access denied", second_name),
        ]
        for path, reason, setup in cases:
            with self.subTest(path=path):
                if setup:
                    setup()
                before, result = self.run_quiet(exe, ["/SP-", "/LA-", "/SILENT", "/LOG=" + path])
                self.assert_only_box(result, None, 'Cannot open "%s".\r\n%s.' % (path, reason), "error", "failed")
                self.assertEqual(self.prefix.state(), before)
        self.assertEqual(self.prefix.read(victim), b"[keep]")
        self.assertEqual(sorted(self.prefix.listdir(r"C:\dl")), ["linked.log", "setup.exe", "victim.ini"])
        self.assertFalse(self.prefix.exists(r"C:\setup.log"), "a relative name, taken in the current folder")

        # The log is opened only after the package has passed its checks: a
        # damaged copy writes no file, wherever the log was to go.
        damaged = self.prefix.copy_in(write(os.path.join(self.scratch, "damaged.exe"), _append_byte(read(
            sound_package(os.path.join(self.scratch, "sound.exe"))))), r"C:\dl\damaged.exe")
        before, result = self.run_quiet(damaged, [r"/LOG=C:\dl\new.log"])
        self.assert_only_box(result, None, rig.DAMAGED % "DAMAGED.EXE", "error")
        self.assertFalse(self.prefix.exists(r"C:\dl\new.log"))

    def first_box_of_sound_package(self, args):
        exe = self.prefix.copy_in(sound_package(os.path.join(self.scratch, "setup.exe")), r"C:\dl\setup.exe")
        before, result = self.run_quiet(exe, args, rules=rig.DECLINE_ALL)
        self.assertEnds(result, "declined")
        texts = "\n".join(result.box_texts())
        self.assertNotIn("corrupted", texts)
        self.assertNotIn("TAVO.EXE", texts)
        self.assertNotIn("Internal Error", texts)
        self.assertEqual(self.prefix.tree(self.prefix.program_files), before[self.prefix.program_files])
        return result

    def test_a_file_swapped_after_the_start_hands_over_no_other_package(self):
        # Another installer put at the program's name between its start and
        # its first instruction, or another package under its stub: the
        # running image carries the digest of its own package and takes no
        # other. A stub without the digest (the last row) takes whatever the
        # name leads to, which shows that the swap really happens.
        genuine = read(rig.pack(self.scratch, {"a.txt": b"genuine"}, "--product-name", "Genuine",
                                "--install-folder", "Genuine", name="genuine.exe"))
        crafted = read(rig.pack(self.scratch, {"evil.txt": b"crafted"}, "--product-name", "Crafted",
                                "--install-folder", "Crafted", name="crafted.exe"))
        slot = slice(rig.DIGEST_SLOT, rig.DIGEST_SLOT + 40)
        self.assertEqual(genuine[slot][:8], b"cSSHA256")
        under_genuine_stub = crafted[:slot.start] + genuine[slot] + crafted[slot.stop:]
        no_digest = genuine[:slot.start] + bytes(40) + genuine[slot.stop:]
        swap = [(r"C:\dl\setup.exe", r"C:\dl\aside.exe"), (r"C:\dl\crafted.exe", r"C:\dl\setup.exe")]
        cases = [
            ("renamed aside, another installer in its place", genuine, crafted, swap, False),
            ("another package under the stub", under_genuine_stub, None, [], False),
            ("a stub without the digest", no_digest, crafted, swap, True),
        ]
        crafted_folder = rig.program_files() + r"\Crafted"
        for name, started, put, moves, crafted_installed in cases:
            with self.subTest(name):
                for leftover in ("setup.exe", "aside.exe", "crafted.exe"):
                    if self.prefix.exists("C:\\dl\\" + leftover):
                        os.remove(self.prefix.host("C:\\dl\\" + leftover))
                exe = self.prefix.copy_in(write(os.path.join(self.scratch, "started.exe"), started),
                                          r"C:\dl\setup.exe")
                if put:
                    self.prefix.copy_in(write(os.path.join(self.scratch, "put.exe"), put), r"C:\dl\crafted.exe")
                before = self.prefix.state()
                result = self.prefix.run(exe, rig.QUIET + ["/SILENT"], rules=[Box(press="OK")], timeout=45,
                                         moves=moves)
                self.assertNoTimeout(result)
                self.assertEqual([(e["from"], e["error"]) for e in result.events if e.get("event") == "moved"],
                                 [(m[0], 0) for m in moves], result)
                if crafted_installed:
                    self.assertEqual(self.prefix.read(crafted_folder + r"\evil.txt"), b"crafted")
                    shutil.rmtree(self.prefix.host(crafted_folder))
                else:
                    self.assert_only_box(result, None, rig.DAMAGED % "SETUP.EXE", "error")
                    self.assertEqual(self.prefix.state(), before)

    def test_sound_package_passes_the_checks(self):
        result = self.first_box_of_sound_package([])
        if result.boxes:
            # Whatever comes first is the run going on, under the mode caption.
            self.assertEqual(result.boxes[0]["caption"], "Setup")

    def test_secsun_does_not_change_an_installer(self):
        # Only an uninstaller's relaunched copy acts on it; an installer
        # started with it, in any case or place, runs as without it.
        def seen(r):
            return [(b["caption"], b["text"], b["buttons"], b["icon"]) for b in r.boxes], r.window_titles()
        plain = seen(self.first_box_of_sound_package([]))
        self.assertTrue(plain[0], "the installer asks before it works")
        for args in (["/SECSUN", r"C:\dl\setup.exe"], ["/secsun", r"C:\dl\setup.exe"],
                     ["/x", "/SECSUN", r"C:\dl\setup.exe"]):
            with self.subTest(args=args):
                self.assertEqual(seen(self.first_box_of_sound_package(args)), plain)


if __name__ == "__main__":
    rig.main()

"""What a user sees between the package checks and the work: the confirmation
question, the switch that skips it, the ShortcutList check, and an
uninstaller handing over to its copy in the Windows folder's Temp."""

import os
import re
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import rig  # noqa: E402
from rig import Box  # noqa: E402

PRODUCT = "Run Product"
QUESTION = "This will %s " + PRODUCT + " %s your computer. Do you wish to continue?"
INSTALL_QUESTION = QUESTION % ("install", "on")
REMOVE_QUESTION = QUESTION % ("remove", "from")
SHORTCUTS = b"viewer.exe|Run Viewer\rreadme.txt|Read Me\r"
UNINSTALLER = rig.program_files() + r"\Run Product\Uninstall Run.exe"
# The copy's name: "_KT", five base-32 digits from a random start, ".exe";
# it is written under a first name ending ".tmp".
COPY = r'C:\\windows\\Temp\\_KT[0-9A-V]{5}\.%s'


class RunControl(rig.SetupCase):

    def package(self, name, uninstaller=False, damaged_list=False):
        path = os.path.join(self.scratch, name)
        rig.make_package(path, shortcuts=SHORTCUTS, payload=b"payload is not read before the question",
                         product_name=PRODUCT, short_name="Run", install_folder=PRODUCT,
                         start_menu_folder=PRODUCT, file_count=1, uninstall_mode=1 if uninstaller else 0)
        if damaged_list:
            # One byte of the ShortcutList changed: its CRC-32 no longer matches.
            with open(path, "rb") as f:
                data = bytearray(f.read())
            data[rig.marker(data)[1] + rig.HEADER_SIZE] ^= 0x20
            with open(path, "wb") as f:
                f.write(data)
        return path

    def installer(self, **kw):
        return self.prefix.copy_in(self.package("setup.exe", **kw), r"C:\dl\setup.exe")

    def uninstaller(self, **kw):
        return self.prefix.copy_in(self.package("uninst.exe", uninstaller=True, **kw), UNINSTALLER)

    def seen(self, box):
        return (box["caption"], box["text"], box["buttons"], box["icon"], box["focus"])

    def copies(self, result):
        return [e for e in result.process_events if "_KT" in e["cmdline"].upper()]

    def test_confirmation_questions(self):
        # Style 0x24 (question icon, Yes/No, Yes default) for an installer;
        # 0x144 (information icon, No default) for an uninstaller, asked by
        # its copy. Both owned by the progress window under the mode caption.
        cases = [
            ("installer", self.installer, ("Setup", INSTALL_QUESTION, ["&Yes", "&No"], "question", "&Yes")),
            ("uninstaller", self.uninstaller, ("Uninstall", REMOVE_QUESTION, ["&Yes", "&No"], "information", "&No")),
        ]
        for name, make, expected in cases:
            with self.subTest(name):
                exe = make()
                before = self.prefix.state()
                result = self.run_setup(exe, rules=[Box(text="This will", press="No")])
                self.assertEqual([self.seen(b) for b in result.boxes], [expected], result)
                box = result.boxes[0]
                self.assertEqual(box["answered"], "&No")
                self.assertEqual(box["owner"], expected[0])
                self.assertEqual(result.exit_code, 0)
                progress = result.last_window(expected[0])
                self.assertIsNotNone(progress, result)
                texts = [c["text"] for c in progress["controls"]]
                self.assertIn("%s is ready to proceed. Please, confirm that you want to continue..." % expected[0],
                              texts)
                after = self.prefix.state()
                self.assertEqual(after[self.prefix.program_files], before[self.prefix.program_files])
                self.assertEqual(after[self.prefix.start_menu_programs], before[self.prefix.start_menu_programs])

    def test_uninstaller_hands_over_to_its_copy(self):
        exe = self.uninstaller()
        # Neither switch reaches the copy: it still asks.
        result = self.run_setup(exe, ["/SILENT", "/SP-"], rules=[Box(text="This will", press="No")])
        copies = self.copies(result)
        self.assertEqual(len(copies), 1, result)
        self.assertRegex(copies[0]["cmdline"], '^"%s" /SECSUN "%s"$' % (COPY % "exe", re.escape(UNINSTALLER)))
        self.assertEqual(len(result.boxes), 1, result)
        self.assertEqual(result.boxes[0]["pid"], copies[0]["pid"], "the copy asks, not the started uninstaller")
        self.assertEqual(result.boxes[0]["text"], REMOVE_QUESTION)
        # The copy stays behind, byte for byte the started uninstaller.
        first = self.prefix.listdir(self.prefix.temp)
        self.assertEqual(len(first), 1, first)
        self.assertRegex(first[0], r"^_KT[0-9A-V]{5}\.exe$")
        self.assertEqual(self.prefix.read(self.prefix.temp + "\\" + first[0]), self.prefix.read(exe))
        self.assertTrue(self.prefix.exists(exe))

        # A second run makes a new copy and leaves the first alone.
        again = self.run_setup(exe, rules=[Box(text="This will", press="No")])
        second = [n for n in self.prefix.listdir(self.prefix.temp) if n not in first]
        self.assertEqual(len(second), 1, again)
        self.assertIn(second[0], self.copies(again)[0]["cmdline"])
        self.assertEqual(self.prefix.read(self.prefix.temp + "\\" + first[0]), self.prefix.read(exe))

    def test_sp_switch_skips_the_question(self):
        # A damaged ShortcutList stops the run right after the question would
        # have come, so the first box shows whether it was asked.
        for switch in ("/SP-", "/sp-"):
            with self.subTest(switch):
                result = self.run_setup(self.installer(damaged_list=True), ["/x", switch])
                self.assertEqual([b["text"] for b in result.boxes], [rig.DAMAGED % "Setup"], result)
                progress = result.last_window("Setup")
                texts = [c["text"] for c in progress["controls"]]
                self.assertIn("Working...", texts)
                self.assertIn("Wait while the Setup is preparing all nessecery files and settings for the setup "
                              "process. It might take up to a minute.", texts)

    def test_damaged_shortcut_list_is_reported_after_the_question(self):
        cases = [("Setup", self.installer), ("Uninstall", self.uninstaller)]
        for mode, make in cases:
            with self.subTest(mode):
                exe = make(damaged_list=True)
                before = self.prefix.state()[self.prefix.program_files]
                result = self.run_setup(exe, rules=[Box(text="This will", press="Yes"), Box(press="OK")])
                self.assertEqual([b["text"][:9] for b in result.boxes], ["This will", "This copy"], result)
                damaged = result.boxes[1]
                self.assertEqual(self.seen(damaged), (mode, rig.DAMAGED % mode, ["OK"], "error", "OK"))
                self.assertEqual(damaged["owner"], mode)
                if mode == "Uninstall":
                    self.assertEqual(damaged["pid"], self.copies(result)[0]["pid"])
                self.assertEqual(self.prefix.state()[self.prefix.program_files], before)

    def test_copy_that_cannot_be_written(self):
        exe = self.uninstaller()
        # Permissions do not stop root: a plain file where the folder was does.
        temp = self.prefix.host(self.prefix.temp)
        shutil.rmtree(temp)
        with open(temp, "w") as f:
            f.write("not a folder")
        result = self.run_setup(exe, rules=[Box(press="OK")])
        self.assertEqual([self.seen(b)[:1] + self.seen(b)[2:] for b in result.boxes],
                         [(None, ["OK"], "error", "OK")], result)
        self.assertRegex(result.boxes[0]["text"], '^Temporary file "%s" cannot be created!$' % (COPY % "tmp"))
        self.assertEqual(self.copies(result), [])
        self.assertTrue(os.path.isfile(temp))
        self.assertTrue(self.prefix.exists(exe))


if __name__ == "__main__":
    rig.main()

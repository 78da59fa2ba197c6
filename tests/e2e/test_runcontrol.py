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

    def files(self):
        """Every file of drive C: but the Windows folder's, by its path there."""
        root = os.path.join(self.prefix.path, "drive_c")
        return {os.path.relpath(os.path.join(d, f), root) for d, _, names in os.walk(root) for f in names
                if not os.path.relpath(d, root).startswith("windows")}

    def copies(self, result):
        return [e for e in result.process_events if "_KT" in e["cmdline"].upper()]

    def test_confirmation_questions(self):
        # Style 0x24 (question icon, Yes/No, Yes default) for an installer;
        # 0x144 (information icon, No default) for an uninstaller, asked by
        # its copy. Both owned by the progress window under the mode caption.
        cases = [
            ("installer", self.installer, ("Setup", INSTALL_QUESTION, ["&Yes", "&No"], "question", "&Yes"),
             ("declined",)),
            ("uninstaller", self.uninstaller, ("Uninstall", REMOVE_QUESTION, ["&Yes", "&No"], "information", "&No"),
             ("done", "declined")),
        ]
        for name, make, expected, ends in cases:
            with self.subTest(name):
                exe = make()
                before = self.prefix.state()
                result = self.run_setup(exe, rules=[Box(text="This will", press="No")], ends=ends)
                self.assertEqual([self.seen(b) for b in result.boxes], [expected], result)
                box = result.boxes[0]
                self.assertEqual(box["answered"], "&No")
                self.assertEqual(box["owner"], expected[0])
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
        result = self.run_setup(exe, ["/SILENT", "/SP-"], rules=[Box(text="This will", press="No")],
                                ends=("done", "declined"))
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
        again = self.run_setup(exe, rules=[Box(text="This will", press="No")], ends=("done", "declined"))
        second = [n for n in self.prefix.listdir(self.prefix.temp) if n not in first]
        self.assertEqual(len(second), 1, again)
        self.assertIn(second[0], self.copies(again)[0]["cmdline"])
        self.assertEqual(self.prefix.read(self.prefix.temp + "\\" + first[0]), self.prefix.read(exe))

    def test_switches_anywhere_in_any_case(self):
        # A damaged ShortcutList stops the run right after the question would
        # have come, so the first box shows whether it was asked. The log's
        # switch counts anywhere, in any case, its path quoted or not; no
        # other form writes a file anywhere.
        log = r"C:\logs\run.log"
        os.makedirs(self.prefix.host(r"C:\logs"))
        cases = [
            ["/x", "/SP-"],
            ["/x", "/sp-"],
            ['/LoG="%s"' % log, "/x", "/SP-"],
            ["/SP-", "/x", "/log=" + log],
            ["/LOG", "/SP-", "/LOGS=" + log, "-LOG=" + log],
        ]
        for args in cases:
            with self.subTest(args=args):
                logged = any(a.upper().startswith("/LOG=") for a in args)
                exe = self.installer(damaged_list=True)
                before = self.files()
                result = self.run_setup(exe, args, ends=("damaged",))
                self.assertEqual(self.files() - before, {"logs/run.log"} if logged else set())
                if logged:
                    lines = rig.log_lines(self.prefix.read(log))
                    self.assertLog(lines[result.process_events[0]["pid"]], [
                        re.compile(r"Start \((32|64)-bit\): C:\\dl\\setup\.exe " + re.escape(" ".join(args))
                                   .replace('"', '"?')),
                        "Switches: /SP-", "Package checked: %s, installer, 1 files" % PRODUCT, "Starting...",
                        "Working...", rig.DAMAGED.replace("\r\n\r\n", " ") % "Setup", "Exit code 1392"])
                    os.remove(self.prefix.host(log))
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
                result = self.run_setup(exe, rules=[Box(text="This will", press="Yes"), Box(press="OK")],
                                        ends=("damaged",) if mode == "Setup" else ("done", "damaged"))
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
        result = self.run_setup(exe, rules=[Box(press="OK")], ends=("failed",))
        self.assertEqual([self.seen(b)[:1] + self.seen(b)[2:] for b in result.boxes],
                         [(None, ["OK"], "error", "OK")], result)
        self.assertRegex(result.boxes[0]["text"], '^Temporary file "%s" cannot be created!$' % (COPY % "tmp"))
        self.assertEqual(self.copies(result), [])
        self.assertTrue(os.path.isfile(temp))
        self.assertTrue(self.prefix.exists(exe))


if __name__ == "__main__":
    rig.main()

"""The road without windows: a stub whose windows cannot be created installs and
uninstalls with plain message boxes alone, asks for the license with a
question box beside the program that shows the text, and does not slow the
extraction down for a progress bar nobody sees."""

import glob
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import rig  # noqa: E402
from rig import Box  # noqa: E402

NOTEPAD = r"C:\windows\system32\notepad.exe"
FILES = {"license.txt": b"No-window terms.\r\n", "app.txt": b"app", "more.txt": b"more"}
FOLDER = rig.program_files() + r"\Plain"


def nogui_stub():
    path = os.environ.get("CABSETUP_STUB_NOGUI")
    if path:
        return path
    found = glob.glob(os.path.join(os.path.dirname(rig.stub_path()), "**", "stub_nogui.exe"), recursive=True)
    if not found:
        raise RuntimeError("CABSETUP_STUB_NOGUI is not set and no stub_nogui.exe lies beside the stub")
    return found[0]


class WithoutWindows(rig.SetupCase):

    @staticmethod
    def is_stub(process):
        exe = rig.program_of(process)
        return exe.endswith("setup.exe") or exe.startswith("_kt") or exe.startswith("uninstall")

    def associate_txt_with_notepad(self):
        """.txt opens in Notepad, which runs until it is ended: the run then
        finishes only if the stub ends it."""
        with open(os.path.join(self.scratch, "reg.log"), "wb") as log:
            for key, value in ((r"HKCR\.txt", "txtfile"),
                               (r"HKCR\txtfile\shell\open\command", '"%s" "%%1"' % NOTEPAD)):
                subprocess.run(["wine", "reg", "add", key, "/ve", "/d", value, "/f"], env=self.prefix.env,
                               stdout=log, stderr=log, stdin=subprocess.DEVNULL, check=True, timeout=60)

    def assertNoWindows(self, result):
        stub = {e["pid"] for e in result.process_events if self.is_stub(e)}
        self.assertEqual([w["title"] for w in result.windows if w["pid"] in stub], [], result)
        for box in result.boxes:
            self.assertIsNone(box["owner"], box)

    def test_license_question_install_and_uninstall(self):
        self.associate_txt_with_notepad()
        exe = rig.pack(self.scratch, FILES, "--product-name", "Plain Product", "--short-name", "Plain",
                   "--install-folder", "Plain", "--start-menu-folder", "Plain", "--shortcut", "App=app.txt",
                   "--license-file", "license.txt", "--make-uninstaller", stub=nogui_stub())
        question = ("Setup", "Do you accept Plain License agreement terms?", ["&Yes", "&No"], "question")
        cases = [
            # (answer, final boxes after the question, how the run ends)
            ("No", [], "declined"),
            ("Yes", [("Setup", "You can access Plain Product by clicking on Start Menu, then All Programs.",
                      ["OK"], "information")], "done"),
        ]
        for answer, after, end in cases:
            with self.subTest(answer):
                before = self.prefix.state()
                r = self.install(exe, args=[], rules=[Box("This will", press="Yes"),
                                                      Box("License agreement", press=answer), Box(press="OK")],
                                 ends=(end,))
                self.assertEqual([rig.seen(b) for b in r.boxes][1:], [question] + after, r)
                self.assertEqual(r.boxes[1]["focus"], "&No")
                self.assertNoWindows(r)
                # The license text was shown from Temp and the viewer ended
                # once the question was answered.
                shown = {w["pid"] for w in r.windows if "license" in w["title"].lower()}
                self.assertEqual(len(shown), 1, r.window_titles())
                self.assertEqual([e["code"] for e in r.exits if e["pid"] in shown], [0], r.exits)
                self.assertEqual(self.prefix.state()[self.prefix.temp], before[self.prefix.temp])
                if answer == "No":
                    self.assertEqual(self.prefix.state(), before)

        for name, data in FILES.items():
            self.assertEqual(self.prefix.read(FOLDER + "\\" + name), data)
        u = self.run_setup(FOLDER + r"\Uninstall Plain.exe", rules=[Box("This will", press="Yes"),
                                                                   Box(press="OK")], ends=("done", "done"))
        self.assertEqual([b["text"] for b in u.boxes][1:],
                         ["Uninstall of Plain Product has been completed successfuly!"])
        self.assertNoWindows(u)
        self.assertFalse(self.prefix.exists(FOLDER))
        self.assertFalse(self.prefix.exists(self.prefix.start_menu_programs + r"\Plain"))

    def test_no_wait_per_extracted_file(self):
        # With windows each extracted file costs 15 ms more; without them
        # nothing shows progress, so nothing waits.
        files = {"f%03d.txt" % i: b"x" for i in range(400)}
        spans = {}
        for variant, stub in (("windows", rig.stub_path()), ("none", nogui_stub())):
            exe = rig.pack(self.scratch, files, "--product-name", "Many", "--install-folder", "Many " + variant,
                       stub=stub, name=variant + ".exe")
            r = self.install(exe, args=["/LA-"],
                             rules=[Box("This will", press="Yes"), Box("completed", press="OK")])
            self.assertEqual(len(r.boxes), 2, r)
            self.assertEqual(len(self.prefix.listdir(self.prefix.program_files + r"\Many " + variant)), len(files))
            spans[variant] = r.boxes[1]["t"] - r.boxes[0]["t"]
            if variant == "none":
                self.assertNoWindows(r)
        # Half the waits as margin for a busy machine.
        self.assertGreater(spans["windows"] - spans["none"], len(files) * 15 // 2, spans)


if __name__ == "__main__":
    rig.main()

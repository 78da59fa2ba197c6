"""The cabinet extractor's questions as a user meets them: cabtool runs one
TUnCab under Wine, the robot answers the message boxes."""
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import rig
from rig import Box, Window

ABORTED_BY_PLATFORM = "FDICopy() Failed : code 11 [Client requested abort]"
OVERWRITE, CONFIRM_OVERWRITE, KEEP_PATHS, CREATE_FOLDERS, CONFIRM_FOLDERS, PROMPT_VOLUME = 1, 2, 4, 8, 0x10, 0x40
LABEL1 = 1001


def cabtool_path():
    return os.path.join(os.path.dirname(rig.stub_path()), "tests", "win", "cabtool.exe")


class Extraction(rig.RigTestCase):
    def setUp(self):
        super().setUp()
        self.tool = self.prefix.copy_in(cabtool_path(), r"C:\tools\cabtool.exe")

    def cabinet(self, files, win_path=r"C:\cabs\test.cab"):
        host = rig.make_cab(os.path.join(self.scratch, "test.cab"), files)
        return self.prefix.copy_in(host, win_path)

    def extract(self, cab, dest, mask, options, *flags, rules=(), timeout=60):
        """Runs cabtool; returns the robot's result and the driver's report
        as a dict (carriage returns shown as "|")."""
        r = self.prefix.run(self.tool, ["extract", cab, dest, mask, hex(options)] + list(flags),
                            rules=rules, timeout=timeout)
        self.assertNoTimeout(r)
        report = dict(line.split(": ", 1) for line in r.stdout.splitlines() if ": " in line)
        # No report at all is the run's failure, not the test's: say what it left.
        self.assertIn("result", report, "cabtool left no report (exit %r)\nstdout: %r\nstderr: %r\n%s"
                      % (r.exit_code, r.stdout, r.stderr, r.log))
        return r, report

    def assertBox(self, box, caption, text, buttons, icon=None):
        self.assertEqual(box["caption"], caption)
        self.assertEqual(box["text"], text)
        self.assertEqual(box["buttons"], buttons)
        self.assertEqual(box["icon"], icon)


class InUse(Extraction):
    def test_cancel_aborts_through_the_platform(self):
        cab = self.cabinet({"a.txt": b"new a", "b.txt": b"new b"})
        self.prefix.write(r"C:\App Dir\Sub\a.txt", b"old")
        with self.prefix.hold(r"C:\App Dir\Sub\a.txt"):
            r, report = self.extract(cab, r"C:\App Dir\Sub", "*.*", OVERWRITE | CREATE_FOLDERS, "owner",
                                     rules=[Box("is in use", press="Cancel")])
        self.assertEqual(report["result"], ABORTED_BY_PLATFORM)
        self.assertEqual(len(r.boxes), 1, r)
        # The path in the text is lower-cased; the box belongs to OwnerWindow.
        self.assertBox(r.boxes[0], "Extract",
                       'The file "c:\\app dir\\sub\\a.txt" is in use.\r\nPlease close it and try again.',
                       ["OK", "Cancel"], "question")
        self.assertEqual(r.boxes[0]["owner"], "CabOwner")
        self.assertEqual(self.prefix.read(r"C:\App Dir\Sub\a.txt"), b"old")
        self.assertFalse(self.prefix.exists(r"C:\App Dir\Sub\b.txt"))

    def test_ok_asks_again_until_the_file_is_released(self):
        cab = self.cabinet({"a.txt": b"new a", "b.txt": b"new b"})
        self.prefix.write(r"C:\App\a.txt", b"old")
        # hold.exe lets go by itself after 6 s; each OK before that meets the
        # file still held and brings the question back.
        with self.prefix.hold(r"C:\App\a.txt", seconds=6):
            r, report = self.extract(cab, r"C:\App", "*.*", OVERWRITE | CREATE_FOLDERS, "notify",
                                     rules=[Box("is in use", press="OK", delay=700)])
        self.assertEqual(report["result"], "ok", r.stdout)
        self.assertGreaterEqual(len(r.boxes), 2, r)
        self.assertEqual({b["caption"] for b in r.boxes}, {"Extract"})
        self.assertEqual(self.prefix.read(r"C:\App\a.txt"), b"new a")
        self.assertEqual(report["count"], "2")
        # Listed once, however often it was asked for.
        self.assertEqual(report["filelist"], "C:\\App\\a.txt|C:\\App\\b.txt|")


class Questions(Extraction):
    def test_overwrite_question_yes_replaces_no_skips(self):
        cab = self.cabinet({"a.txt": b"new a", "b.txt": b"new b"})
        self.prefix.write(r"C:\Out\a.txt", b"old a")
        self.prefix.write(r"C:\Out\B.TXT", b"old b")
        r, report = self.extract(cab, r"C:\Out", "*.*", OVERWRITE | CONFIRM_OVERWRITE | CREATE_FOLDERS, "notify",
                                 rules=[Box('a.txt" exists', press="Yes"), Box('b.txt" exists', press="No")])
        self.assertEqual(report["result"], "ok")
        self.assertEqual(len(r.boxes), 2, r)
        self.assertBox(r.boxes[0], "Confirmation", 'The file "c:\\out\\a.txt" exists!\r\nDo you want to replace it?',
                       ["&Yes", "&No"])
        self.assertEqual(self.prefix.read(r"C:\Out\a.txt"), b"new a")
        self.assertEqual(self.prefix.read(r"C:\Out\b.txt"), b"old b")
        self.assertEqual(report["count"], "1")
        # Both are listed: the list is made before the question.
        self.assertEqual(report["filelist"], "C:\\Out\\a.txt|C:\\Out\\b.txt|")

    def test_folder_question_once_for_the_deepest_folder(self):
        cab = self.cabinet({"Sub\\Deep\\a.txt": b"a", "Sub\\Deep\\b.txt": b"b"})
        options = OVERWRITE | KEEP_PATHS | CREATE_FOLDERS | CONFIRM_FOLDERS
        r, report = self.extract(cab, r"C:\New Out", "*", options, rules=[Box("does'n exists", press="Yes")])
        self.assertEqual(report["result"], "ok")
        # Asked for the first entry only: the folder exists for the second.
        self.assertEqual(len(r.boxes), 1, r)
        self.assertBox(r.boxes[0], "Confirmation",
                       'The folder "c:\\new out\\sub\\deep" does\'n exists!\r\nDo you want to create it?',
                       ["&Yes", "&No"])
        self.assertEqual(self.prefix.read(r"C:\New Out\Sub\Deep\b.txt"), b"b")

    def test_folder_question_no_ends_the_run_unchanged(self):
        cab = self.cabinet({"Sub\\a.txt": b"a"})
        options = OVERWRITE | KEEP_PATHS | CREATE_FOLDERS | CONFIRM_FOLDERS
        r, report = self.extract(cab, r"C:\New Out", "*", options, rules=[Box("does'n exists", press="No")])
        # Two p's: the extractor's own text, not the platform's abort.
        self.assertEqual(report["result"], "Opperation aborted by user")
        self.assertEqual(len(r.boxes), 1, r)
        self.assertFalse(self.prefix.exists(r"C:\New Out"))


class CabinetSets(Extraction):
    def setUp(self):
        super().setUp()
        r = self.prefix.run(self.tool, ["makeset", r"C:\cabs"])
        self.assertEqual(r.exit_code, 0, r.stdout)

    def test_partial_file_question(self):
        for answer, result, two in (("OK", "ok", True), ("Cancel", ABORTED_BY_PLATFORM, False)):
            with self.subTest(answer=answer):
                dest = "C:\\Out" + answer
                r, report = self.extract(r"C:\cabs\set2.cab", dest, "*.*", OVERWRITE | CREATE_FOLDERS | PROMPT_VOLUME,
                                         rules=[Box("multi-volume", press=answer)])
                self.assertEqual(report["result"], result)
                self.assertEqual(len(r.boxes), 1, r)
                self.assertBox(r.boxes[0], "Confirmation",
                               'The "set1.cab" is a part of multi-volume package. Please, provide "Disk 1" to continue.',
                               ["OK", "Cancel"])
                self.assertFalse(self.prefix.exists(dest + r"\span.bin"))
                self.assertEqual(self.prefix.exists(dest + r"\two.txt"), two)

    def test_without_prompt_volume_the_partial_entry_is_passed_silently(self):
        r, report = self.extract(r"C:\cabs\set2.cab", r"C:\Out", "*.*", OVERWRITE | CREATE_FOLDERS)
        self.assertEqual(report["result"], "ok")
        self.assertEqual(r.boxes, [])
        self.assertEqual(self.prefix.read(r"C:\Out\two.txt"), b"2")

    def test_missing_next_cabinet_fails_without_a_question(self):
        os.remove(self.prefix.host(r"C:\cabs\set2.cab"))
        r, report = self.extract(r"C:\cabs\set1.cab", r"C:\Out", "*.*", 0x5F & ~CONFIRM_FOLDERS)
        self.assertEqual(report["result"], ABORTED_BY_PLATFORM)
        self.assertEqual(r.boxes, [])
        self.assertEqual(self.prefix.read(r"C:\Out\one.txt"), b"1")


class PackagingToolCabinets(Extraction):
    def test_attributes_times_and_run_flag_survive_the_round_trip(self):
        tool = rig.pack_tool_path()
        if not os.path.exists(tool):
            self.skipTest("no packaging tool at " + tool)
        src = os.path.join(self.scratch, "src")
        os.makedirs(src)
        names = ["ro.txt", "hid.txt", "sys.txt", "plain.txt", "go.txt", "NODOT"]
        for n in names:
            with open(os.path.join(src, n), "wb") as f:
                f.write(n.encode() * 2000)
        out = os.path.join(self.scratch, "tool.cab")
        mtime = 1600000000  # even: DOS times count in 2 s steps
        subprocess.run([tool, "cab", "-o", out, "--keep-names", "--mtime", str(mtime),
                            "--attrib", "ro.txt=r", "--attrib", "hid.txt=h", "--attrib", "sys.txt=s",
                            "--attrib", "plain.txt=0", "--run", "go.txt"] + [os.path.join(src, n) for n in names],
                           check=True, stdout=subprocess.DEVNULL)
        cab = self.prefix.copy_in(out, r"C:\cabs\tool.cab")
        r, report = self.extract(cab, r"C:\Tool", "*.*", OVERWRITE | CREATE_FOLDERS, "notify")
        self.assertEqual(report["result"], "ok")
        self.assertEqual(report["count"], "5")
        self.assertEqual(report["runlist"], "C:\\Tool\\go.txt|")
        self.assertNotIn("NODOT", report["filelist"])
        self.assertFalse(self.prefix.exists(r"C:\Tool\NODOT"))
        for n in names[:5]:
            self.assertEqual(os.stat(self.prefix.host("C:\\Tool\\" + n)).st_mtime, mtime, n)
            self.assertEqual(self.prefix.read("C:\\Tool\\" + n), n.encode() * 2000)
        r = self.prefix.run(self.tool, ["attrib"] + ["C:\\Tool\\" + n for n in names[:5]])
        attributes = dict(line.rsplit(": ", 1) for line in r.stdout.splitlines() if ": " in line)
        # Wine reports the archive bit on every file; 0x40 never lands.
        self.assertEqual([attributes["C:\\Tool\\" + n] for n in names[:5]],
                         ["0x21", "0x22", "0x24", "0x20", "0x20"])


class RunAndProgress(Extraction):
    def test_run_after_extract_opens_the_file_through_the_shell(self):
        probe = self.prefix.copy_in(os.environ["CABSETUP_PROBE"], r"C:\src\probe.exe")
        r = self.prefix.run(self.tool, ["makecab", r"C:\cabs\run.cab", "go.exe:0x60:@" + probe, "doc.txt:0x20:d"])
        self.assertEqual(r.exit_code, 0, r.stdout)
        for flag, started in (("run", True), ("norun", False)):
            with self.subTest(flag=flag):
                dest = "C:\\Run" + flag
                r, report = self.extract(r"C:\cabs\run.cab", dest, "*.*", OVERWRITE | CREATE_FOLDERS, flag)
                self.assertEqual(report["result"], "ok")
                self.assertEqual(report["runlist"], dest + "\\go.exe|")
                # Short-lived processes' names cannot always be read; what
                # counts is that the extractor (the first process the robot
                # saw) started one at all.
                tool = r.process_events[0]["pid"]
                children = [e for e in r.process_events if e["parent"] == tool]
                self.assertEqual(bool(children), started, r.process_events)

    def test_abort_in_the_progress_window_arrives_unchanged(self):
        files = {"f%03d.txt" % i: b"x" for i in range(300)}
        cab = self.cabinet(files)
        r, report = self.extract(cab, r"C:\Gui", "*.*", OVERWRITE | CREATE_FOLDERS, "notify", "gui",
                                 rules=[Window("CabTool", when="Installing f0", press="Abort")])
        # One p: the progress window's abort, raised by GuiStep inside a
        # notification and raised again after the platform returned.
        self.assertEqual(report["result"], "Operation aborted by user")
        listed = report["filelist"].rstrip("|").split("|")
        self.assertTrue(0 < len(listed) < 300, len(listed))
        self.assertEqual(listed[0], r"C:\Gui\f000.txt")
        statuses = [c["text"] for w in r.windows if w["title"] == "CabTool" for c in w["controls"] if c["id"] == LABEL1]
        # The robot samples the window, so which entries it saw varies; each
        # status it saw names one entry by its last name.
        shown = [t for t in statuses if t.startswith("Installing ")]
        self.assertTrue(shown, statuses)
        for text in shown:
            self.assertRegex(text, r"^Installing f\d{3}\.txt\.\.\.$")
        # Nothing of the aborted entry stays open: every listed file but the
        # last was written and closed.
        self.assertEqual(int(report["count"]), len(listed) - 1)


if __name__ == "__main__":
    rig.main()

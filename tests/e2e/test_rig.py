"""The rig itself: what the robot reads from boxes and windows, how its rules
act, how runs end, and the file holder. Driven by probe.exe, whose behaviour
is known."""

import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import rig  # noqa: E402
from rig import Box, Window  # noqa: E402

PROBE = r"C:\probe\probe.exe"
IDOK, IDCANCEL, IDYES, IDNO = 1, 2, 6, 7


class RigCase(rig.RigTestCase):
    def setUp(self):
        super().setUp()
        self.prefix.copy_in(os.environ["CABSETUP_PROBE"], PROBE)

    def run_probe(self, args, rules, **kw):
        result = self.prefix.run(PROBE, args, rules=rules, **kw)
        self.assertNoTimeout(result)
        return result


class MessageBoxes(RigCase):

    def test_box_fields_by_style(self):
        # style, caption arg, rule, expected caption, buttons, icon, focus, exit code
        cases = [
            ("10", "-", Box(press="OK"), None, ["OK"], "error", "OK", IDOK),
            ("30", "Warn", Box(press="ok"), "Warn", ["OK"], "warning", "OK", IDOK),
            ("40", "Loader", Box(press="OK"), "Loader", ["OK"], "information", "OK", IDOK),
            ("24", "Setup", Box(press="Yes"), "Setup", ["&Yes", "&No"], "question", "&Yes", IDYES),
            ("124", "Setup", Box(press="&no"), "Setup", ["&Yes", "&No"], "question", "&No", IDNO),
            ("41", "Setup", Box(press="Cancel"), "Setup", ["OK", "Cancel"], "information", "OK", IDCANCEL),
            ("0", "Plain", Box(press="OK"), "Plain", ["OK"], None, "OK", IDOK),
        ]
        for style, caption, rule, want_caption, buttons, icon, focus, code in cases:
            with self.subTest(style=style):
                r = self.run_probe(["box", style, caption, "Line one\r\nLine two"], [rule])
                self.assertEqual(len(r.boxes), 1, r)
                b = r.boxes[0]
                self.assertEqual(b["text"], "Line one\r\nLine two")
                self.assertEqual(b["caption"], want_caption)
                self.assertEqual(b["buttons"], buttons)
                self.assertEqual(b["icon"], icon)
                self.assertEqual(b["focus"], focus)
                self.assertIsNone(b["owner"])
                self.assertEqual(r.exit_code, code)

    def test_owner_and_non_ascii_text(self):
        r = self.run_probe(["owned", "40", "Caf\u00e9 \u00bd"], [Box(press="OK")])
        self.assertEqual(r.boxes[0]["owner"], "Owner")
        self.assertEqual(r.boxes[0]["text"], "Caf\u00e9 \u00bd")
        self.assertEqual(r.boxes[0]["caption"], "Owned")

    def test_rules_fall_through_and_close(self):
        # "No" is not on an OK box, so the next rule answers it.
        r = self.run_probe(["box", "0", "x", "report"], rig.DECLINE_ALL)
        self.assertEqual((r.boxes[0]["answered"], r.exit_code), ("OK", IDOK))
        r = self.run_probe(["box", "24", "x", "question"], rig.DECLINE_ALL)
        self.assertEqual((r.boxes[0]["answered"], r.exit_code), ("&No", IDNO))
        # Only boxes whose text matches are answered by a text rule.
        r = self.run_probe(["box", "24", "x", "Do it?"], [Box("Other", press="Yes"), Box("Do it", press="No")])
        self.assertEqual(r.exit_code, IDNO)
        r = self.run_probe(["box", "1", "x", "closing"], [Box(close=True)])
        self.assertEqual(r.boxes[0]["answered"], "<close>")
        self.assertEqual(r.exit_code, IDCANCEL)

    def test_counts_and_texts_across_lines(self):
        # MB_OKCANCEL boxes "Q 1".."Q 3"; the exit code lists the answers.
        cases = [
            ([Box("Q", press="OK", count=1), Box(press="Cancel")], 122),
            ([Box("Q", press="OK", count=2), Box(press="Cancel")], 112),
            ([Box("Q 2", press="Cancel"), Box(press="OK")], 121),
            ([Box(press="ok")], 111),
        ]
        for rules, code in cases:
            with self.subTest(rules=rules):
                r = self.run_probe(["boxes", "3", "1", "Q"], rules)
                self.assertEqual(r.exit_code, code)
                self.assertEqual([b["text"] for b in r.boxes], ["Q 1", "Q 2", "Q 3"])
        # A rule text with a line break and a tab travels escaped.
        r = self.run_probe(["box", "1", "x", "a\tb\\\r\nc"], [Box("b\\\r\nc", press="Cancel"), Box(press="OK")])
        self.assertEqual(r.boxes[0]["text"], "a\tb\\\r\nc")
        self.assertEqual(r.exit_code, IDCANCEL)

    def test_delayed_answer(self):
        r = self.run_probe(["box", "40", "x", "wait"], [Box(press="OK", delay=700)])
        press = next(a for a in r.actions if a["do"] == "press")
        self.assertGreaterEqual(press["t"] - r.boxes[0]["t"], 650)

    def test_unanswered_box_times_out_and_the_prefix_stays_usable(self):
        r = self.prefix.run(PROBE, ["box", "40", "x", "nobody answers"], rules=[], timeout=4)
        self.assertTrue(r.timed_out)
        self.assertIsNone(r.exit_code)
        self.assertIn("nobody answers", [e.get("text") for e in r.open_at_stop])
        r = self.run_probe(["exit", "5"], [])
        self.assertEqual(r.exit_code, 5)

    def test_bad_rule_stops_the_robot(self):
        with self.assertRaises(RuntimeError):
            self.prefix.run(PROBE, ["exit", "0"], rules=["dialog\tpress=OK"])
        with self.assertRaises(ValueError):
            Box("x")
        with self.assertRaises(ValueError):
            Window("x", press="OK", close="wm")


class Windows(RigCase):

    def test_snapshot_of_a_window(self):
        r = self.run_probe(["window"], [Window("Probe", when="Ready", press="&Go")])
        self.assertEqual(r.exit_code, 7)
        first = r.windows[0]
        self.assertEqual((first["title"], first["class"]), ("Probe", "ProbeWindow"))
        self.assertEqual(first["rect"], [100, 100, 420, 300])
        controls = {c["id"]: c for c in first["controls"]}
        self.assertEqual(controls[101]["class"], "msctls_progress32")
        self.assertEqual((controls[101]["pos"], controls[101]["min"], controls[101]["max"]), (3, 0, 10))
        self.assertEqual(controls[100]["text"], "Waiting")
        self.assertFalse(controls[102]["enabled"])
        hidden = [c for c in first["controls"] if c["text"] == "Hidden"]
        self.assertEqual([c["visible"] for c in hidden], [False])
        labels = [next(c["text"] for c in w["controls"] if c["id"] == 100) for w in r.windows]
        self.assertIn("Ready", labels)

    def test_press_waits_for_an_enabled_button(self):
        r = self.run_probe(["window"], [Window("Probe", press="Go")])
        self.assertEqual(r.exit_code, 7)
        press = [a for a in r.actions if a["do"] == "press"]
        self.assertEqual(len(press), 1)
        first_seen = r.windows[0]["t"]
        # The button is enabled 300 ms after the window appears.
        self.assertGreaterEqual(press[0]["t"] - first_seen, 150)

    def test_keys_and_close(self):
        cases = [
            (Window("Probe", when="Ready", key="Alt+G"), 7),
            (Window("Probe", when="Ready", key="Escape"), 11),
            # No default button: the dialog manager turns Enter into IDOK.
            (Window("Probe", when="Ready", key="Enter"), 8),
            (Window("Probe", close="wm"), 9),
            (Window("Probe", close="sc", delay=200), 9),
        ]
        for rule, code in cases:
            with self.subTest(rule=rule):
                r = self.run_probe(["window"], [rule])
                self.assertEqual(r.exit_code, code, r.log)


class Processes(RigCase):

    def test_waits_for_children_and_logs_command_lines(self):
        # The parent ends at once; its child shows a box that is answered
        # only after a second. With scans a second apart, a parent and a
        # child that both end between two scans are still seen, with their
        # exit codes.
        cases = [
            # (robot's pause between scans, child, its box, exit codes)
            (None, [PROBE, "box", "40", "child", "from the child"], "from the child", [IDOK, 3]),
            (1500, [PROBE, "exit", "5", "child"], None, [3, 5]),
        ]
        for poll_ms, child, box, codes in cases:
            with self.subTest(poll_ms=poll_ms):
                r = self.run_probe(["spawn", "0"] + child, [Box(press="OK", delay=1000)], poll_ms=poll_ms)
                self.assertEqual(r.exit_code, 3)
                self.assertEqual(len(r.processes), 2, r.processes)
                # Each is named by the image it runs, however early it was seen.
                self.assertEqual([(e["exe"].lower(), rig.program_of(e)) for e in r.process_events],
                                 [("probe.exe", "probe.exe")] * 2, r.process_events)
                self.assertEqual(sorted(e["code"] for e in r.exits), codes)
                if box:
                    # A child that lives past a scan has its command line read.
                    self.assertIn(" ".join('"%s"' % a for a in child[1:]), r.processes[1])
                    self.assertEqual(r.boxes[0]["text"], box)
                    self.assertEqual(r.boxes[0]["answered"], "OK")
                    self.assertLess(r.events.index(next(e for e in r.events if e["event"] == "exit" and
                                                        e["code"] == IDOK)),
                                    r.events.index(next(e for e in r.events if e["event"] == "idle")))
        # A command line read before it was filled in names nothing; the image does.
        self.assertEqual(rig.program_of({"exe": "_KTBA7V7.exe", "cmdline": "\x00" * 40}), "_ktba7v7.exe")
        self.assertEqual(rig.program_of({"exe": "x.exe", "cmdline": '"C:\\A B\\Setup.exe" /Q'}), "setup.exe")


class Files(RigCase):

    def test_host_paths_ignore_case(self):
        self.assertEqual(self.prefix.host(r"C:\WINDOWS\Temp"), os.path.join(self.prefix.path, "drive_c", "windows",
                                                                              "temp"))
        self.assertTrue(self.prefix.exists(r"c:\Windows\System32\KERNEL32.DLL"))
        self.prefix.write(r"C:\New Folder\a.txt", b"abc")
        self.assertEqual(self.prefix.listdir(r"C:\new folder"), ["a.txt"])
        self.assertEqual(self.prefix.tree(r"C:\New Folder"), {"a.txt": 3})
        self.assertIsNone(self.prefix.tree(r"C:\missing"))

    def test_missing_program_is_an_error_not_an_exit_code(self):
        for exe in (r"C:\probe\nothing.exe", "/nonexistent/probe.exe"):
            with self.subTest(exe=exe), self.assertRaises(FileNotFoundError):
                self.prefix.run(exe, [])

    def test_hold_keeps_others_out_until_released(self):
        self.prefix.write(r"C:\data\in-use.txt", b"busy")
        with self.prefix.hold(r"C:\data\in-use.txt") as held:
            second = self.prefix.start(os.environ["CABSETUP_HOLD"],
                                       [r"C:\data\in-use.txt", r"C:\data\m", r"C:\data\r", "5"])
            self.assertEqual(second.wait(timeout=30), 2)
            held.release()
            self.assertEqual(held.process.returncode, 0)
        with self.prefix.hold(r"C:\data\in-use.txt", seconds=1) as again:
            self.assertEqual(again.process.wait(timeout=30), 1)


class Locales(unittest.TestCase):

    def test_a_locale_the_host_lacks_fails_the_test(self):
        # Wine would fall back to C quietly: the test then runs on 1252, not
        # on the system it names.
        with self.assertRaisesRegex(AssertionError, r"locale xx_XX\.UTF-8 is not generated on this machine"):
            rig.Prefix("xx_XX.UTF-8")


class Packages(unittest.TestCase):

    def test_mkpkg_layout(self):
        out = os.path.join(os.environ["RIG_DIR"], "pkg-layout.exe")
        rig.make_package(out, shortcuts=b"a.exe|A\r", payload=b"PAYLOAD", product_name="P", file_count=4,
                         uninstall_link_style=2)
        with open(out, "rb") as f:
            data = f.read()
        stub = os.path.getsize(rig.stub_path())
        self.assertEqual(rig.marker(data), (0x6E6F6E50, stub, len(data)))
        self.assertEqual(len(data), stub + rig.HEADER_SIZE + 8 + 7)
        self.assertEqual(data[stub + 8:stub + 10], b"\x01P")
        self.assertEqual(data[-15:], b"a.exe|A\rPAYLOAD")
        self.assertEqual(data[stub + 737], 2)

        # What mkpkg refuses: a stub that already carries a marker, a text
        # over 100 bytes, a value that does not fit its field.
        bad = [dict(stub=out), dict(product_name="x" * 101), dict(uninstall_mode=256)]
        for fields in bad:
            with self.subTest(fields=list(fields)), self.assertRaises(subprocess.CalledProcessError):
                rig.make_package(out + ".bad", **fields)
        self.assertFalse(os.path.exists(out + ".bad"))
        rig.make_package(out + ".ok", product_name="x" * 100)
        os.remove(out)
        os.remove(out + ".ok")


if __name__ == "__main__":
    rig.main()

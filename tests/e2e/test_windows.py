"""The progress and license windows as a user meets them: uidriver calls the
user-interface operations the way a run does, the robot watches the windows
and answers them."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import rig
from rig import Window

LABEL1, PROGRESSBAR1, ABORT, IMAGE1, LONGLABEL, TIMELABEL = 1001, 1002, 1003, 1004, 1005, 1006
MEMO1, YES, NO = 2003, 2004, 2005
SCREEN_W, SCREEN_H = 1024, 768
ABORTED = "Operation aborted by user"
# Cyrillic, CJK and Latin with an accent: no single ANSI code page has them all.
MIXED = "Иван 表計算 café"


def driver_path():
    return os.path.join(os.path.dirname(rig.stub_path()), "tests", "win", "uidriver.exe")


def control(window, cid):
    for c in window["controls"]:
        if c["id"] == cid:
            return c
    raise AssertionError("no control %d in %r" % (cid, window["title"]))


def outcomes(result):
    """The driver's report: (operation, outcome) per line."""
    lines = [l.split(": ", 1) for l in result.stdout.splitlines() if ": " in l]
    return [(a, b) for a, b in lines]


class Driven(rig.RigTestCase):
    def drive(self, *ops, rules=(), timeout=60):
        r = self.prefix.run(driver_path(), [str(o) for o in ops], rules=rules, timeout=timeout)
        self.assertNoTimeout(r)
        self.assertEqual(r.exit_code, 0, r.stdout)
        self.assertEqual(outcomes(r)[0], ("init", "ok"))
        return r

    def snapshots(self, r, cls):
        return [w for w in r.windows if w["class"] == cls]


class ProgressWindow(Driven):
    def test_what_each_operation_shows(self):
        r = self.drive("caption", "Setup", "show", 0, "pause", 400,
                       "status", "Starting...", "", "pause", 400,
                       "status", "Copying files...", "Setup copies the files of Demo.", "pause", 400,
                       "range", 5, 10, 0, "pause", 400,
                       "status", "", "", "pause", 400,
                       "status", "Removing...", "", "pause", 400,
                       "caption", MIXED, "status", MIXED, MIXED, "pause", 400)
        states = []
        for w in self.snapshots(r, "TForm1"):
            state = (control(w, LABEL1)["text"], control(w, PROGRESSBAR1)["visible"],
                     control(w, TIMELABEL)["visible"], control(w, LONGLABEL)["text"],
                     control(w, PROGRESSBAR1)["pos"])
            if not states or states[-1] != state:
                states.append(state)
        expected = [
            ("     ", True, True, "", 0),
            ("Starting...", True, True, "", 0),
            ("Copying files...", True, True, "Setup copies the files of Demo.", 0),
            ("Copying files...", True, True, "Setup copies the files of Demo.", 5),
            ("", False, False, "Setup copies the files of Demo.", 5),
            ("Removing...", True, True, "Setup copies the files of Demo.", 5),
            (MIXED, True, True, MIXED, 5),
        ]
        it = iter(states)
        for e in expected:  # in this order, other snapshots in between allowed
            self.assertIn(e, it, "states seen: %r" % states)

        self.assertIn("Setup", [w["title"] for w in self.snapshots(r, "TForm1")])
        w = self.snapshots(r, "TForm1")[-1]
        self.assertEqual(w["title"], MIXED)
        left, top, right, bottom = w["rect"]
        self.assertEqual(left, (SCREEN_W - (right - left)) // 2)
        self.assertEqual(top, (SCREEN_H - (bottom - top)) // 2 - 142)
        self.assertEqual(control(w, PROGRESSBAR1)["max"], 10)
        self.assertFalse(control(w, ABORT)["enabled"])
        self.assertEqual(control(w, ABORT)["text"], "&Abort")

    def test_abort_pressed_twice_while_busy(self):
        r = self.drive("show", 0, "status", "Copying files...", "", "range", 0, 100, 0, "busy", 1,
                       "pause", 3000, "step", 1, "step", 0, "step", 1, "busy", 0, "status", "Failed", "",
                       "pause", 300,
                       rules=[Window("Setup", when="Copying files", press="&Abort", count=2)])
        presses = [a for a in r.actions if a.get("do") == "press"]
        self.assertEqual(len(presses), 2)
        self.assertEqual(outcomes(r)[5:10], [("pause", ABORTED), ("step", ABORTED), ("step", ABORTED),
                                             ("step", ABORTED), ("busy", "ok")])
        failed = [w for w in self.snapshots(r, "TForm1") if control(w, LABEL1)["text"] == "Failed"]
        self.assertTrue(failed)
        self.assertEqual(control(failed[-1], PROGRESSBAR1)["pos"], 2)  # aborted steps still count
        self.assertFalse(control(failed[-1], ABORT)["enabled"])
        self.assertEqual(control(failed[-1], TIMELABEL)["text"], "")

    def test_close_requests(self):
        # Idle: refused, nothing happens. Busy: an abort.
        r = self.drive("show", 0, "status", "Waiting", "", "pause", 1500, "step", 1,
                       "status", "Working", "", "busy", 1, "pause", 1500, "step", 1,
                       rules=[Window("Setup", when="Waiting", close="sc"),
                              Window("Setup", when="Waiting", close="wm", delay=300),
                              Window("Setup", when="Working", close="sc")])
        closes = [a for a in r.actions if a.get("do") == "close"]
        self.assertEqual(len(closes), 3)
        self.assertEqual(outcomes(r)[3:5], [("pause", "ok"), ("step", "ok")])
        self.assertEqual(outcomes(r)[6:9], [("busy", "ok"), ("pause", ABORTED), ("step", ABORTED)])
        working = [w for w in self.snapshots(r, "TForm1") if control(w, LABEL1)["text"] == "Working"]
        self.assertTrue(working, "the window went away after the idle close")


class LicenseWindow(Driven):
    def license(self, name, content=None, rules=(), path=r"C:\license.txt"):
        if content is not None:
            self.prefix.write(path, content)
        r = self.drive("show", 0, "license", name, path, rules=rules)
        return r, outcomes(r)[-1], self.snapshots(r, "TForm2")

    def test_keys_and_close_box(self):
        cases = [
            ("Enter at once", [Window("License", key="Enter")], "declined"),
            ("Alt+Y", [Window("License", key="Alt+Y")], "accepted"),
            ("Alt+N", [Window("License", key="Alt+N")], "declined"),
            ("close box", [Window("License", close="sc")], "declined"),
            ("Escape, then Yes", [Window("License", key="Escape"),
                                  Window("License", press="&Yes", delay=1000)], "accepted"),
        ]
        for what, rules, answer in cases:
            with self.subTest(what):
                r, outcome, shots = self.license("Demo", b"terms", rules)
                self.assertEqual(outcome, ("license", answer))
                acted = [a for a in r.actions if a.get("do") in ("press", "key", "close")]
                self.assertEqual(len(acted), len(rules))
                self.assertEqual(shots[0]["focus"], NO)

    def test_titles_and_placement(self):
        for name in ("Demo", "n" * 250):
            with self.subTest(len(name)):
                # The answer waits a moment so the robot sees the progress window
                # disabled behind the modal license window.
                r, outcome, shots = self.license(name, b"terms", [Window(" Lice", press="&No", delay=500)])
                title = shots[0]["title"]
                self.assertEqual(title, (name + " License")[:255])
                self.assertEqual(len(title), 12 if name == "Demo" else 255)
                left, top, right, bottom = shots[0]["rect"]
                self.assertEqual(left, (SCREEN_W - (right - left)) // 2)
                self.assertEqual(top, (SCREEN_H - (bottom - top)) // 2)
                # The progress window takes no input while the license is open.
                self.assertIn(False, [w["enabled"] for w in self.snapshots(r, "TForm1")])

    def test_text_of_the_file(self):
        # A BOM names the encoding; without one the driver, like a package
        # without a record, has the system's ANSI code page (1252 here).
        cases = [
            ("no BOM", b"first\nsecond\n\nlast", "first\r\nsecond\r\n\r\nlast"),
            ("no BOM, beyond ASCII", "café\r\n".encode("cp1252"), "café\r\n"),
            ("BOM UTF-8", b"\xef\xbb\xbf" + (MIXED + "\nlast").encode("utf-8"), MIXED + "\r\nlast"),
            ("BOM UTF-16LE", b"\xff\xfe" + (MIXED + "\rlast").encode("utf-16-le"), MIXED + "\r\nlast"),
        ]
        for what, content, shown in cases:
            with self.subTest(what):
                r, outcome, shots = self.license(MIXED, content, [Window("License", press="&Yes")])
                self.assertEqual(outcome, ("license", "accepted"))
                self.assertEqual(control(shots[0], MEMO1)["text"], shown)
                self.assertEqual(shots[0]["title"], MIXED + " License")

    def test_locked_file(self):
        self.prefix.write(r"C:\license.txt", b"terms")
        with self.prefix.hold(r"C:\license.txt"):
            r, outcome, shots = self.license("Demo", rules=[Window("License", press="&Yes")])
        self.assertEqual(outcome, ("license", "accepted"))
        self.assertEqual(control(shots[0], MEMO1)["text"],
                         'The license file "C:\\license.txt" is corrupted.\r\n')

    def test_missing_file(self):
        r, outcome, shots = self.license("Demo", rules=[Window("License", key="Enter")],
                                         path=r"C:\no such license.txt")
        self.assertEqual(outcome, ("license", "declined"))
        self.assertEqual(control(shots[0], MEMO1)["text"], "")


if __name__ == "__main__":
    rig.main()

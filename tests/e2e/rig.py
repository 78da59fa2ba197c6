"""End-to-end test framework: runs Windows programs under Wine beside the test
robot and tells what a user would have seen.

Runs inside tests/rig/with-rig (RIG_DIR, RIG_TEMPLATE, DISPLAY set). Python 3
standard library only. See tests/rig/README.md.
"""

import json
import os
import random
import re
import shutil
import struct
import select
import subprocess
import sys
import tempfile
import time
import unittest

# --- environment -------------------------------------------------------------


def _env(name, default=None):
    value = os.environ.get(name, default)
    if value is None:
        raise RuntimeError("%s is not set; run the test through add_e2e_test or tests/rig/with-rig" % name)
    return value


def stub_path():
    return _env("CABSETUP_STUB")


def robot_path():
    return _env("CABSETUP_ROBOT")


def hold_path():
    return _env("CABSETUP_HOLD")


def probe_path():
    return _env("CABSETUP_PROBE")


def verinfo_path():
    return _env("CABSETUP_VERINFO")


def native_dir():
    return _env("CABSETUP_NATIVE_DIR")


def source_dir():
    return _env("CABSETUP_SOURCE_DIR", os.path.normpath(os.path.join(os.path.dirname(__file__), "..", "..")))


def mkpkg_path():
    return os.path.join(native_dir(), "tests", "tools", "mkpkg")


def pack_tool_path():
    return os.path.join(native_dir(), "tools", "pack", "cabsetup")


# The two Windows builds as the tests see them: the stub's PE machine type
# and its bitness.
TARGETS = {"i686": dict(machine=0x14C, bits=32), "x86-64": dict(machine=0x8664, bits=64)}


def target():
    """The Windows build under test, "i686" or "x86-64": the one the cross
    build names (CABSETUP_TARGET), else the one the rig stands for."""
    name = os.environ.get("CABSETUP_TARGET") or os.environ.get("CABSETUP_WIN_ARCH") or "i686"
    if name not in TARGETS:
        raise RuntimeError("unknown Windows build %r: i686 or x86-64" % name)
    return name


def program_files():
    """Program Files as the program under test sees it in the rig's prefix:
    a 32-bit program in a 64-bit prefix gets the (x86) one."""
    wow64 = os.environ.get("WINEARCH") == "win64" and TARGETS[target()]["bits"] == 32
    return r"C:\Program Files (x86)" if wow64 else r"C:\Program Files"


# The locale Wine starts in unless a prefix names another; Wine takes the
# system's code pages from it (GetACP() 1252 here).
DEFAULT_LOCALE = "C.UTF-8"


def _wine_env(prefix, locale=DEFAULT_LOCALE):
    # The locale is Windows' system locale ("language for non-Unicode
    # programs": the ANSI and OEM code pages); the display language stays
    # English (LC_MESSAGES), so that the rules find buttons by their labels.
    env = {k: v for k, v in os.environ.items() if not k.startswith("LC_")}
    env.update(WINEPREFIX=prefix, WINEARCH=os.environ.get("WINEARCH", "win32"), WINEDEBUG="-all",
               WINEDLLOVERRIDES="winemenubuilder.exe=d", LANG=locale, LC_MESSAGES="en_US.UTF-8")
    return env


def _locale_key(name):
    # `locale -a` spells ja_JP.UTF-8 as ja_JP.utf8.
    return name.lower().replace("-", "")


def require_locale(name):
    """Raises unless the host has generated locale `name`: Wine would fall
    back to C silently and give another code page."""
    out = subprocess.run(["locale", "-a"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
    if _locale_key(name) not in {_locale_key(l) for l in out.decode("utf-8", "replace").split()}:
        raise AssertionError("locale %s is not generated on this machine (locale -a lacks it): "
                             "scripts/setup.sh generates it (make runs it)" % name)


def to_wine_path(host_path):
    """A host path as Wine's Z: drive shows it."""
    return "Z:" + os.path.abspath(host_path).replace("/", "\\")


# --- robot rules -------------------------------------------------------------


def _escape(value):
    return (str(value).replace("\\", "\\\\").replace("\t", "\\t")
            .replace("\r", "\\r").replace("\n", "\\n"))


def _rule(kind, fields):
    parts = [kind]
    for key, value in fields:
        if value is None or value is False:
            continue
        parts.append(key if value is True else "%s=%s" % (key, _escape(value)))
    return "\t".join(parts)


def Box(text="", press=None, close=False, count=None, delay=None):
    """Answer message boxes whose text contains `text` (every such box, or
    `count` of them) by pressing the button labelled `press` ("&Yes", "yes"
    and "Yes" are the same) or, with close=True, by WM_CLOSE. A box that lacks
    the button is left to the next rule."""
    if (press is None) == (not close):
        raise ValueError("Box rule: give press= or close=True")
    return _rule("box", [("text", text), ("press", press), ("close", "wm" if close else None),
                         ("count", count), ("delay", delay)])


def Window(title="", when=None, press=None, key=None, close=None, count=None, delay=None):
    """Act in a top-level window whose title contains `title`, once (or
    `count` times), optionally only while some control's text contains
    `when`, after the condition has held `delay` ms: press an enabled button
    by its label, send a key ("Enter", "Escape", "Tab", "Space", "Alt+A", or a
    character) to the focused control, or close the window (close="wm" for
    WM_CLOSE, "sc" for SC_CLOSE)."""
    if sum(x is not None for x in (press, key, close)) != 1:
        raise ValueError("Window rule: give exactly one of press=, key=, close=")
    if close not in (None, "wm", "sc"):
        raise ValueError("Window rule: close is 'wm' or 'sc'")
    return _rule("window", [("title", title), ("when", when), ("press", press), ("key", key),
                            ("close", close), ("count", count), ("delay", delay)])


# Answers for a run that should not go anywhere: "No" to a question, "OK" to
# a report, "Cancel" when that is the way out.
DECLINE_ALL = [Box(press="No"), Box(press="OK"), Box(press="Cancel")]


# --- results -----------------------------------------------------------------


class Result:
    """What one run showed. Boxes and windows are plain dicts (see README)."""

    def __init__(self, events, log, exit_code, timed_out, stdout, stderr):
        self.events = events
        self.log = log
        self.exit_code = exit_code
        self.timed_out = timed_out
        self.stdout = stdout
        self.stderr = stderr
        answered = {}
        self.actions = [e for e in events if e["event"] == "action"]
        for a in self.actions:
            if a.get("do") == "press":
                answered.setdefault(a["hwnd"], a["button"])
            elif a.get("do") == "close":
                answered.setdefault(a["hwnd"], "<close>")
        self.boxes = []
        for e in events:
            if e["event"] != "box":
                continue
            owner = e.get("owner")
            self.boxes.append(dict(
                caption=e["caption"], text=e["text"], buttons=e["buttons"], icon=e["icon"],
                owner=owner["title"] if owner else None,
                owner_class=owner["class"] if owner else None,
                focus=e["focus"], answered=answered.get(e["hwnd"]), hwnd=e["hwnd"], pid=e["pid"], t=e["t"]))
        self.windows = [e for e in events if e["event"] == "window"]
        self.process_events = [e for e in events if e["event"] == "process"]
        self.processes = [e["cmdline"] for e in self.process_events]
        self.exits = [e for e in events if e["event"] == "exit"]
        self.open_at_stop = [e for e in events if e["event"] in ("open", "running")]
        self.errors = [e for e in events if e["event"] in ("error", "warning")]
        self.codes = []  # set by Prefix.run

    def box_texts(self):
        return [b["text"] for b in self.boxes]

    def window_titles(self):
        seen = []
        for w in self.windows:
            if w["title"] not in seen:
                seen.append(w["title"])
        return seen

    def last_window(self, title):
        """The last snapshot of the window whose title contains `title`."""
        for w in reversed(self.windows):
            if title in w["title"]:
                return w
        return None

    def __repr__(self):
        return ("Result(exit_code=%r, codes=%r, timed_out=%r, boxes=%r, windows=%r, processes=%r)"
                % (self.exit_code, self.codes, self.timed_out,
                   [(b["caption"], b["text"], b["buttons"], b["icon"], b["answered"]) for b in self.boxes],
                   self.window_titles(), self.processes))


def parse_log(text):
    events = []
    for line in text.splitlines():
        line = line.strip()
        if not line:
            continue
        try:
            events.append(json.loads(line))
        except ValueError:
            events.append({"event": "garbled", "line": line})
    return events


# --- prefixes ----------------------------------------------------------------


class _Display:
    """A private Xvfb for one prefix. Tests running side by side would
    otherwise share a screen, and their centred message boxes would cover
    each other where the robot reads the icon back."""

    def __init__(self, work):
        self.process = None
        self.name = None
        # Xvfb picks a free number itself and writes it to the pipe once it
        # holds it: a number chosen here from the sockets could be taken by
        # another rig in the meantime, and a socket seen could be that rig's.
        read_end, write_end = os.pipe()
        log = open(os.path.join(work, "xvfb.log"), "wb")
        try:
            p = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                                  "-nolisten", "tcp"], stdout=log, stderr=log, stdin=subprocess.DEVNULL,
                                 pass_fds=(write_end,))
        finally:
            log.close()
            os.close(write_end)
        number = b""
        with os.fdopen(read_end, "rb") as pipe:
            while not number.endswith(b"\n"):
                ready, _, _ = select.select([pipe], [], [], 10)
                chunk = pipe.read1(16) if ready else b""
                if not chunk:
                    break
                number += chunk
        if not number.strip().isdigit() or p.poll() is not None:
            if p.poll() is None:
                p.kill()
            p.wait()
            raise RuntimeError("no free X display")
        self.process, self.name = p, ":%d" % int(number)
        with open(os.path.join(work, "xvfb.pid"), "w") as f:
            f.write(str(p.pid))

    def close(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def _wait_for(predicate, timeout, step=0.02):
    end = time.monotonic() + timeout
    while True:
        if predicate():
            return True
        if time.monotonic() >= end:
            return False
        time.sleep(step)


class Prefix:
    """A fresh copy of the rig's template prefix with its own persistent
    wineserver. Use as a context manager."""

    windows = r"C:\windows"
    temp = r"C:\windows\temp"

    def __init__(self, locale=None):
        """`locale` (e.g. "ja_JP.UTF-8") is the one Wine runs in, and with it
        the system's code pages; the prefix serves that locale only."""
        self.locale = locale or DEFAULT_LOCALE
        if locale:
            require_locale(locale)
        self.target = target()
        self.machine = TARGETS[self.target]["machine"]
        self.win64 = os.environ.get("WINEARCH") == "win64"
        if TARGETS[self.target]["bits"] == 64 and not self.win64:
            raise RuntimeError("the x86-64 build needs a 64-bit prefix: run it with CABSETUP_WIN_ARCH=x86-64")
        self.program_files = program_files()
        self.work = None
        self.path = None
        self.display = None
        self.env = None
        self._background = []

    # lifecycle

    def __enter__(self):
        self.work = tempfile.mkdtemp(prefix="e2e.", dir=_env("RIG_DIR"))
        try:
            self.path = os.path.join(self.work, "prefix")
            self.display = _Display(self.work)
            subprocess.run(["cp", "-a", _env("RIG_TEMPLATE"), self.path], check=True)
            self.env = _wine_env(self.path, self.locale)
            self.env["DISPLAY"] = self.display.name
            self._start_server()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        users = [u for u in os.listdir(os.path.join(self.path, "drive_c", "users")) if u.lower() != "public"]
        self.user = users[0] if users else "root"
        self.start_menu_programs = (r"C:\users\%s\AppData\Roaming\Microsoft\Windows\Start Menu\Programs"
                                    % self.user)
        # CSIDL_COMMON_PROGRAMS: the Start menu of every user.
        self.common_programs = r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs"
        return self

    def __exit__(self, *exc):
        if self.env:
            self._kill_server()
        for p, files in self._background:
            _reap(p, files)
        if self.display:
            self.display.close()
        if self.work:
            shutil.rmtree(self.work, ignore_errors=True)
        # A second exit (a test's cleanup after it changed prefixes) is a no-op.
        self.env, self.display, self.work, self._background = None, None, None, []
        return False

    def _start_server(self):
        subprocess.run(["wineserver", "-p"], env=self.env, check=True)

    def _kill_server(self):
        subprocess.run(["timeout", "20", "wineserver", "-k"], env=self.env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def restart_server(self):
        """Kills every process of the prefix and starts a new server."""
        self._kill_server()
        self._start_server()

    # files

    def host(self, win_path):
        """The host path of a Windows path, matching names without regard to
        case as Wine does."""
        path = win_path.replace("/", "\\")
        drive, _, rest = path.partition(":")
        if _ == "":
            raise ValueError("not a Windows path with a drive: %r" % win_path)
        drive = drive.lower()
        base = os.path.join(self.path, "drive_c") if drive == "c" else ("/" if drive == "z" else None)
        if base is None:
            raise ValueError("no drive %s: in the prefix" % drive)
        current = base
        for part in [p for p in rest.split("\\") if p]:
            candidate = os.path.join(current, part)
            if not os.path.exists(candidate) and os.path.isdir(current):
                for name in os.listdir(current):
                    if name.lower() == part.lower():
                        candidate = os.path.join(current, name)
                        break
            current = candidate
        return current

    def copy_in(self, host_file, win_path):
        target = self.host(win_path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(host_file, target)
        return win_path

    def write(self, win_path, data):
        target = self.host(win_path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write(data if isinstance(data, bytes) else data.encode("cp1252"))
        return win_path

    def read(self, win_path):
        with open(self.host(win_path), "rb") as f:
            return f.read()

    def exists(self, win_path):
        return os.path.exists(self.host(win_path))

    def listdir(self, win_path):
        return sorted(os.listdir(self.host(win_path)))

    def tree(self, win_path):
        """Every file and folder under a Windows folder: relative path ->
        size (None for a folder). Missing folder: None."""
        root = self.host(win_path)
        if not os.path.isdir(root):
            return None
        out = {}
        for dirpath, dirnames, filenames in os.walk(root):
            rel = os.path.relpath(dirpath, root)
            for d in dirnames:
                out[os.path.normpath(os.path.join(rel, d))] = None
            for f in filenames:
                full = os.path.join(dirpath, f)
                out[os.path.normpath(os.path.join(rel, f))] = os.path.getsize(full) if os.path.isfile(full) else -1
        return out

    def uninstall_entry(self, key):
        """The values of a product's key in Apps & features, as `reg query`
        prints them (name -> text; a DWORD as "0x1"), or None when there is
        no such key. A 32-bit program's key is in the 32-bit view."""
        wow64 = self.win64 and TARGETS[self.target]["bits"] == 32
        path = r"HKLM\Software%s\Microsoft\Windows\CurrentVersion\Uninstall\%s" % (
            r"\Wow6432Node" if wow64 else "", key)
        p = subprocess.run(["wine", "reg", "query", path], env=self.env, stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL)
        if p.returncode != 0:
            return None
        values = {}
        for line in p.stdout.decode("utf-8", "replace").splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) >= 2 and parts[1].startswith("REG_"):
                values[parts[0]] = parts[2] if len(parts) > 2 else ""
        return values

    def state(self):
        """The folders a setup run may change, for before/after comparisons."""
        return {p: self.tree(p) for p in (self.program_files, self.start_menu_programs, self.common_programs,
                                          self.temp)}

    # processes

    def start(self, exe, args=(), name="bg"):
        """Starts a program in the background (output to files) and returns
        its Popen; it is ended with the prefix."""
        run_dir = tempfile.mkdtemp(prefix=name + ".", dir=self.work)
        out = open(os.path.join(run_dir, "stdout"), "wb")
        err = open(os.path.join(run_dir, "stderr"), "wb")
        p = subprocess.Popen(["wine", exe] + list(args), env=self.env, stdout=out, stderr=err,
                             stdin=subprocess.DEVNULL, cwd=self.host("C:\\"))
        self._background.append((p, (out, err)))
        return p

    def code_pages(self):
        """(GetACP(), GetOEMCP()) as a program in this prefix gets them."""
        probe = self.copy_in(probe_path(), r"C:\probe\probe.exe")
        r = self.run(probe, ["codepages"])
        if r.timed_out or r.exit_code != 0:
            raise RuntimeError("probe.exe codepages did not answer: %r %r" % (r, r.stderr))
        return tuple(int(n) for n in r.stdout.split())

    def hold(self, win_path, seconds=60, image=False, after_gone=None):
        """Holds a file open without sharing (hold.exe) until the returned
        Holder is released; waits until the file is held. `image` maps it as
        a running program's file instead; `after_gone` = (path, ms) also lets
        go ms milliseconds after that path is gone."""
        return Holder(self, win_path, seconds, image, after_gone)

    def run(self, exe, args=(), rules=(), timeout=60, wait_all=True, poll_ms=None, moves=()):
        """Runs `exe` (a Windows path, or a host path) with the robot beside
        it and waits until it and every process it started have ended (or
        until `timeout` seconds). Returns a Result. `poll_ms` sets the
        robot's pause between scans. `moves`, (from, to) Windows paths, are
        renamed by the robot after the program has been created and before
        its first instruction runs (another process swapping its file)."""
        if exe.startswith("/") and not os.path.isfile(exe):
            raise FileNotFoundError("no program %s" % exe)
        if exe[1:2] == ":" and exe[:1].lower() == "c" and not os.path.isfile(self.host(exe)):
            raise FileNotFoundError("no program %s in the prefix" % exe)
        run_dir = tempfile.mkdtemp(prefix="run.", dir=self.work)
        log = os.path.join(run_dir, "robot.log")
        stop = os.path.join(run_dir, "stop")
        idle = os.path.join(run_dir, "idle")
        rules_file = os.path.join(run_dir, "rules")
        with open(rules_file, "w", encoding="utf-8") as f:
            for r in rules:
                f.write(r + "\n")
        out_file, err_file = os.path.join(run_dir, "stdout"), os.path.join(run_dir, "stderr")
        # The robot starts the program itself, suspended inside a job, so
        # that no process of the run can start and end between two of its
        # scans unseen.
        run_file = os.path.join(run_dir, "run")
        win_exe = to_wine_path(exe) if exe.startswith("/") else exe
        with open(run_file, "w", encoding="utf-8", newline="") as f:
            f.write("\0".join([subprocess.list2cmdline([win_exe] + list(args)), "C:\\",
                               to_wine_path(out_file), to_wine_path(err_file)] +
                              [p for move in moves for p in move]) + "\0")
        files = [open(os.path.join(run_dir, n), "wb") for n in ("robot.out", "robot.err")]
        try:
            for attempt in range(3):
                robot = subprocess.Popen(
                    ["wine", robot_path(), "--log", to_wine_path(log), "--stop", to_wine_path(stop),
                     "--idle", to_wine_path(idle), "--rules", to_wine_path(rules_file),
                     "--timeout", str(int(timeout) + 60), "--run", to_wine_path(run_file)] +
                    (["--poll", str(poll_ms)] if poll_ms else []),
                    env=self.env, stdout=files[0], stderr=files[1], stdin=subprocess.DEVNULL)
                # Wine may take long to start the robot on a busy machine: a
                # slow start is no failure of the program under test.
                if not _wait_for(lambda: _launched(log) is not None or robot.poll() is not None, 120):
                    raise RuntimeError("the robot did not start the program")
                if _launched(log) is not None or _read_text(log).strip():
                    break
                # On a busy machine Wine now and then ends the robot before
                # it has written a line: nothing of the run has started yet,
                # so the run starts again.
                sys.stderr.write("rig: the robot ended before its first line (exit status %s); starting it again\n"
                                 % robot.returncode)
                for f in (out_file, err_file):
                    if os.path.exists(f) and not os.path.getsize(f):
                        os.remove(f)
            pid = _launched(log)
            if pid is None:
                raise RuntimeError("the robot did not start the program (exit status %s, %d tries):\n%s%s" % (
                    robot.returncode, attempt + 1, _read_text(log), _read_text(files[1].name)))
            deadline = time.monotonic() + timeout
            timed_out, exit_code = False, None
            if not _wait_for(lambda: _exit_code(log, pid) is not None or robot.poll() is not None,
                             max(0.1, deadline - time.monotonic())):
                timed_out = True
            else:
                exit_code = _exit_code(log, pid)
                if exit_code is None:
                    raise RuntimeError("the robot ended before the program did:\n" + _read_text(log))
                # What Wine itself would have returned: the low byte.
                exit_code %= 256
            if not timed_out and wait_all:
                # The robot answers only after a process scan that follows
                # the request, so children started before the program ended
                # are seen.
                open(idle, "w").close()
                if not _wait_for(lambda: _log_has(log, "idle") or robot.poll() is not None,
                                 max(0.1, deadline - time.monotonic())):
                    timed_out = True
                elif not _log_has(log, "idle"):
                    raise RuntimeError("the robot ended before the run did:\n" + _read_text(log))
            open(stop, "w").close()
            try:
                robot.wait(timeout=15)
            except subprocess.TimeoutExpired:
                robot.kill()
            if timed_out:
                # Whatever still runs (a box nobody answered) goes with the
                # server; the prefix gets a new one for the next run.
                self.restart_server()
        finally:
            for f in files:
                f.close()
        text = _read_text(log)
        result = Result(parse_log(text), text, exit_code, timed_out, _read_text(out_file), _read_text(err_file))
        result.codes = _stub_codes(result, exe)
        return result


def _file_name(path):
    return path.replace("\\", "/").rsplit("/", 1)[-1].lower()


def program_of(event):
    """The file name, in lower case, of the program a process event's
    process runs. The first snapshot of a new process may show another
    image name; its command line names the program. A line read while the
    process was being set up can be NULs only, and names nothing."""
    line = event["cmdline"].strip("\x00")
    first = line[1:].split('"', 1)[0] if line.startswith('"') else line.split(" ", 1)[0]
    return _file_name(first or event["exe"])


def _stub_codes(result, exe):
    """The whole exit codes, as the robot read them, of the program and of
    each relaunched copy of it ("_KT?????.exe"), in the order they started
    (None for one the robot did not see end). Wine's own exit status keeps
    only the low byte."""
    ended = {e["pid"]: e["code"] for e in result.exits}
    return [ended.get(p["pid"]) for p in result.process_events
            if program_of(p) == _file_name(exe) or re.fullmatch(r"_kt[0-9a-v]{5}\.exe", program_of(p))]


class Holder:
    def __init__(self, prefix, win_path, seconds, image=False, after_gone=None):
        self.prefix = prefix
        base = tempfile.mkdtemp(prefix="hold.", dir=prefix.work)
        self.held = os.path.join(base, "held")
        self.release_file = os.path.join(base, "release")
        options = (["--image"] if image else []) + \
            (["--after-gone", after_gone[0], str(after_gone[1])] if after_gone else [])
        self.process = prefix.start(hold_path(), options + [win_path, to_wine_path(self.held),
                                                            to_wine_path(self.release_file), str(seconds)],
                                    name="hold")
        if not _wait_for(lambda: os.path.exists(self.held) or self.process.poll() is not None, 30):
            raise RuntimeError("hold.exe did not take %s" % win_path)
        if not os.path.exists(self.held):
            raise RuntimeError("hold.exe could not open %s (exit %s)" % (win_path, self.process.returncode))

    def release(self, wait=True):
        open(self.release_file, "w").close()
        if wait:
            self.process.wait(timeout=30)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.process.poll() is None:
            self.release()
        return False


def _reap(p, files):
    if p.poll() is None:
        p.kill()
        try:
            p.wait(timeout=5)
        except subprocess.TimeoutExpired:
            pass
    for f in files:
        f.close()


def _read_text(path):
    try:
        with open(path, "rb") as f:
            return f.read().decode("utf-8", "replace")
    except OSError:
        return ""


def _launched(path):
    """The process id of the program the robot started, once it has."""
    m = re.search(r'"event":"launched","pid":(\d+)', _read_text(path))
    return int(m.group(1)) if m else None


def _exit_code(path, pid):
    """The whole exit code of process `pid`, once the robot saw it end."""
    m = re.search(r'"event":"exit","pid":%d,[^\n]*"code":(\d+)' % pid, _read_text(path))
    return int(m.group(1)) if m else None


def _log_has(path, event):
    return ('"event":"%s"' % event) in _read_text(path)


# --- packages ----------------------------------------------------------------

_MKPKG_TEXTS = ("product_name", "company_folder", "short_name", "license_file", "install_folder",
                "start_menu_folder", "gui_library")
_MKPKG_NUMBERS = ("file_count", "uninstall_mode", "make_uninstaller", "uninstall_link_style", "code_page", "asks")


def make_package(out, stub=None, shortcuts=b"", payload=b"", **fields):
    """Composes a package with tests/tools/mkpkg. `fields` are the header's
    texts (product_name, company_folder, short_name, license_file,
    install_folder, start_menu_folder, gui_library; str in cp1252 or bytes)
    and numbers (file_count, uninstall_mode, make_uninstaller,
    uninstall_link_style; code_page and asks write the package's record).
    `shortcuts` and `payload` are the raw blocks."""
    work = tempfile.mkdtemp(prefix="pkg.", dir=os.environ.get("RIG_DIR"))
    try:
        cmd = [mkpkg_path(), "--stub", stub or stub_path(), "-o", out]
        for name in ("shortcuts", "payload"):
            data = shortcuts if name == "shortcuts" else payload
            path = os.path.join(work, name)
            with open(path, "wb") as f:
                f.write(data if isinstance(data, bytes) else data.encode("cp1252"))
            cmd += ["--shortcuts-file" if name == "shortcuts" else "--payload", path]
        for key, value in fields.items():
            if key in _MKPKG_TEXTS:
                value = value if isinstance(value, bytes) else value.encode("cp1252")
                cmd += [os.fsencode("--" + key.replace("_", "-")), value]
            elif key in _MKPKG_NUMBERS:
                cmd += ["--" + key.replace("_", "-"), str(int(value))]
            else:
                raise TypeError("make_package: unknown field %r" % key)
        subprocess.run([os.fsencode(c) if isinstance(c, str) else c for c in cmd], check=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return out


def write_files(folder, files):
    """Writes {name: bytes} into folder (made if missing); a name may hold
    folders ("/"), made as needed. Returns folder."""
    os.makedirs(folder, exist_ok=True)
    for name, data in files.items():
        os.makedirs(os.path.dirname(os.path.join(folder, name)), exist_ok=True)
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    return folder


def make_cab(out, files, compress=True):
    """Writes a cabinet with gcab. `files` maps names inside the cabinet
    (backslashes allowed) to bytes, in the order they are stored."""
    work = tempfile.mkdtemp(prefix="cab.", dir=os.environ.get("RIG_DIR"))
    try:
        names = []
        for name, data in files.items():
            rel = name.replace("\\", "/")
            path = os.path.join(work, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data if isinstance(data, bytes) else data.encode("cp1252"))
            names.append(rel)
        cmd = ["gcab", "-c"] + (["-z"] if compress else []) + [os.path.abspath(out)] + names
        subprocess.run(cmd, cwd=work, check=True, stdout=subprocess.DEVNULL)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return out


# Byte-level access for tests about damaged packages.
MARKER_OFFSET = 48
# Where the packer puts the package's SHA-256 in the stub's headers ("cSSHA256" and the digest).
DIGEST_SLOT = 0x3C0
HEADER_SIZE = 738


def marker(data):
    """(magic, StubSize, PackageSize) of a package in memory."""
    return struct.unpack_from("<III", data, MARKER_OFFSET)


def patch_u32(data, offset, value):
    out = bytearray(data)
    struct.pack_into("<I", out, offset, value)
    return bytes(out)


# --- running tests -----------------------------------------------------------


# The setup stub's exit codes (README, "Exit codes") by how a run ends.
EXIT_CODES = {"done": 0, "declined": 1602, "cancelled": 1223, "failed": 1603, "damaged": 1392}


class RigTestCase(unittest.TestCase):
    """A test case with a fresh prefix per test (self.prefix) and a scratch
    folder on the host (self.scratch)."""

    def assertEnds(self, result, *ends):
        """The program, then each relaunched copy of it, ended as named (keys
        of EXIT_CODES); Wine's exit status is the first code's low byte."""
        codes = [EXIT_CODES[e] for e in ends]
        self.assertEqual((result.exit_code, result.codes), (codes[0] % 256, codes),
                         (result, result.process_events, result.exits))

    def setUp(self):
        self.use_prefix()

    def use_prefix(self, locale=None):
        """A fresh prefix (and scratch folder) in place of the current one,
        Wine running in `locale`: one prefix per locale, as Wine keeps the
        locale's settings in its prefix."""
        if getattr(self, "prefix", None):
            self.prefix.__exit__(None, None, None)
        self.prefix = Prefix(locale).__enter__()
        self.addCleanup(self.prefix.__exit__, None, None, None)
        self.scratch = tempfile.mkdtemp(prefix="scratch.", dir=self.prefix.work)
        return self.prefix

    def assertNoTimeout(self, result):
        self.assertFalse(result.timed_out, "the run did not end: %r\n%s" % (result, result.log))


# --- setup runs: what the tests of the stub and the packer share -----------

QUIET = ["/SP-", "/LA-"]
INTERNAL_ERROR = "Internal Error: %s.\r\n\r\nSetup will be terminated."
DAMAGED = "This copy of %s is corrupted!\r\n\r\nPlease download a new copy of it and try again."


def tool(*args, check=True):
    """Runs cabsetup; with check, a failure is the test's."""
    p = subprocess.run([pack_tool_path()] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if check and p.returncode != 0:
        raise AssertionError("cabsetup %s failed (%d): %s" % (args[0], p.returncode, p.stderr.decode()))
    return p


def pack(scratch, files, *options, stub=None, name="setup.exe", all_users=False):
    """An installer made by `cabsetup pack` from `files` (name -> bytes).
    Its shortcuts go to the installing user's Start menu unless all_users
    (the packer's default)."""
    src = write_files(os.path.join(scratch, name + ".src"), files)
    out = os.path.join(scratch, name)
    tool("pack", "--stub", stub or stub_path(), "-o", out, *options, *([] if all_users else ["--current-user"]), src)
    return out


def inspect(host_file):
    return json.loads(tool("inspect", "--json", host_file).stdout)


def _idlist_path(data, pos):
    """The path of the IDList at `pos` as Wine writes it: a drive item
    ("C:\\" in ASCII), then an item per folder and file whose long name is in
    UTF-16 20 bytes into its Unicode part (found through the item's last
    WORD). The link's LinkInfo holds the path only in the ANSI code page,
    where a name outside it is lost. None without a drive item."""
    end = pos + 2 + struct.unpack_from("<H", data, pos)[0]
    pos += 2
    parts = []
    while pos + 2 <= end:
        size, = struct.unpack_from("<H", data, pos)
        if size < 4:
            break
        item = data[pos:pos + size]
        kind = item[2] & 0x70
        if kind == 0x20:
            parts = [item[3:item.index(b"\0", 3)].decode("ascii").rstrip("\\")]
        elif kind == 0x30 and parts:
            name = item[struct.unpack_from("<H", item, size - 2)[0] + 20:]
            length = next(i for i in range(0, len(name), 2) if name[i:i + 2] == b"\0\0")
            parts.append(name[:length].decode("utf-16-le"))
        pos += size
    return "\\".join(parts) if parts else None


def read_link(data):
    """(target, description, icon location, icon index) of a .lnk file."""
    flags, = struct.unpack_from("<I", data, 0x14)
    icon_index, = struct.unpack_from("<i", data, 0x38)
    pos = 0x4C
    target = None
    if flags & 0x1:  # IDList
        target = _idlist_path(data, pos)
        pos += 2 + struct.unpack_from("<H", data, pos)[0]
    if flags & 0x2:  # LinkInfo: local base path, then the common suffix
        size, _, info_flags, _, base_off, _, suffix_off = struct.unpack_from("<7I", data, pos)
        if info_flags & 1:
            base = data[pos + base_off:data.index(b"\0", pos + base_off)]
            suffix = data[pos + suffix_off:data.index(b"\0", pos + suffix_off)]
            target = target or (base + suffix).decode("cp1252")
        pos += size
    strings = {}
    unicode = bool(flags & 0x80)
    for bit, key in ((0x4, "description"), (0x8, "relative"), (0x10, "workdir"), (0x20, "args"),
                     (0x40, "icon")):
        if flags & bit:
            count, = struct.unpack_from("<H", data, pos)
            pos += 2
            width = 2 if unicode else 1
            raw = data[pos:pos + count * width]
            # Wine counts the terminating NUL in the length.
            strings[key] = raw.decode("utf-16-le" if unicode else "cp1252").rstrip("\0")
            pos += count * width
    return target, strings.get("description"), strings.get("icon"), icon_index


def texts(window):
    return [c["text"] for c in window["controls"]] if window else []


def last_progress(result, title):
    """(min, max, pos) of the progress bar in the last look at the window
    that could read it: a look while the stub sleeps gets no answer."""
    for window in reversed(result.windows):
        if title in window["title"]:
            for c in window["controls"]:
                if c["class"] == "msctls_progress32" and c.get("pos") is not None:
                    return c["min"], c["max"], c["pos"]
    return None


def seen(box):
    return (box["caption"], box["text"], box["buttons"], box["icon"])


def log_lines(data):
    """The lines of a stub's "/LOG=" file (UTF-8) by process: {pid: [text, ...]} in
    the order written. A line not in the log's form is kept under None."""
    by_pid = {}
    for line in data.decode("utf-8").split("\r\n"):
        if line:
            m = re.fullmatch(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[(\d+)\] (.*)", line)
            by_pid.setdefault(int(m.group(1)) if m else None, []).append(m.group(2) if m else line)
    return by_pid


class SetupCase(RigTestCase):
    """Runs with the robot and the checks every run shares."""

    def run_setup(self, exe, args=(), rules=DECLINE_ALL, timeout=90, ends=("done",)):
        """A run that ends as `ends` names (see assertEnds)."""
        result = self.prefix.run(exe, list(args), rules=list(rules), timeout=timeout)
        self.assertNoTimeout(result)
        self.assertEqual(result.errors, [], result.log)
        self.assertEnds(result, *ends)
        return result

    def install(self, host_exe, args=QUIET + ["/SILENT"], rules=DECLINE_ALL, where=r"C:\dl\setup.exe",
                ends=("done",)):
        return self.run_setup(self.prefix.copy_in(host_exe, where), args, rules, ends=ends)

    def temp_files(self):
        return self.prefix.listdir(self.prefix.temp)

    def assertLog(self, lines, expected):
        """One process's log lines are, in order, the expected texts (a
        compiled pattern matches a whole line)."""
        want = [e if isinstance(e, re.Pattern) else re.compile(re.escape(e)) for e in expected]
        self.assertTrue(len(lines) == len(want) and all(w.fullmatch(l) for w, l in zip(want, lines)),
                        "log:\n  %s\nexpected:\n  %s" % ("\n  ".join(lines), "\n  ".join(w.pattern for w in want)))

    def assertLink(self, link, target, description, icon_index):
        self.assertTrue(self.prefix.exists(link), link)
        got = read_link(self.prefix.read(link))
        self.assertEqual(got[0].lower(), target.lower(), link)
        self.assertEqual(got[1:], (description, target, icon_index), link)


def payload_files():
    """Names (UTF-8 on the host) to bytes: a file across several blocks,
    incompressible data over 32 KB, empty files, a name outside ASCII, and
    small files that share a block."""
    rnd = random.Random(7)
    words = b"setup cabinet folder block stream header marker shortcut "
    return {
        "text.txt": b"".join(words[i % 7:] for i in range(1500)),
        "noise.bin": bytes(rnd.getrandbits(8) for _ in range(100000)),
        "empty.dat": b"",
        "caf\u00e9.txt": "caf\u00e9 cr\u00e8me\r\n".encode("cp1252"),
        "tiny.ini": b"[a]\r\nb=1\r\n",
        "zero.log": b"",
        "block.bin": bytes(i & 0xFF for i in range(32768)),
    }


def main():
    """Runs the calling module's tests, prints one summary line and exits
    non-zero on any failure or error."""
    program = unittest.main(module="__main__", verbosity=2, exit=False)
    r = program.result
    ok = r.wasSuccessful() and r.testsRun > 0
    print("\nE2E SUMMARY %s: %d run, %d failed, %d errors, %d skipped -> %s"
          % (os.path.basename(sys.argv[0]), r.testsRun, len(r.failures), len(r.errors), len(r.skipped),
             "PASSED" if ok else "FAILED"), flush=True)
    sys.exit(0 if ok else 1)

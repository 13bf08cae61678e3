"""Machinery of the end-to-end tests: Windows programs under Wine on Xvfb.

Standard library only. The scenario modules (tests/e2e/test_*.py) import this
module; tests/e2e/run_e2e.py runs them all in one shared Wine environment.

Session: the test run's environment
-----------------------------------
    s = Session(build_dir, windows_bits=64)
        build_dir: build/win32 (the i686 deliverable and i686 helpers) or
        build/win64 (the x86_64 fallback, for a kernel that runs no 32-bit
        programs). windows_bits: 64, a 64-bit prefix (WOW64 for the i686
        build, as on 64-bit Windows), or 32, a WINEARCH=win32 prefix (32-bit
        Windows; no x86_64 program runs there). Each kind has its own prefix
        (build_dir/e2e or build_dir/e2e-win32).
    s.start()                        # Xvfb, fresh prefix, persistent wineserver
    ...
    s.stop()                         # wineserver -k, stragglers, Xvfb; idempotent,
                                     # also run at exit and on SIGTERM/SIGINT
    session()                        # the shared Session of this run, started on
                                     # first use (build dir from LEXORIA_E2E_BUILD_DIR)

  What runs where:
    s.program_bits, s.windows_bits   # 32 or 64 each
    s.kind                           # "i686 deliverable on 64-bit Windows"
    A program given by path starts through the loader of its bitness
    (/usr/lib/wine/wine for i686, wine64 for x86_64); Wine's own tools given
    by bare name (reg, cmd, wineboot) through the prefix's native loader, as
    Windows runs its own tools.
    @on_32bit_windows_too            # marks a test (method or class) for the
                                     # 32-bit Windows session as well
    runs_32bit_linux_programs()      # the kernel probe behind the fallback

  Paths and files:
    s.build_dir, s.prefix, s.drive_c, s.helpers_dir   (pathlib.Path)
    s.display                        # ":N" of our Xvfb
    s.helper("box_demo")             # e2e-helpers/box_demo.exe (must exist)
    s.product()                      # build_dir/lexoria-update.exe
    s.unix_path(r"C:\\x\\y.txt")     # Path under the prefix (drive via dosdevices)
    s.windows_path(unix_path)        # "Z:\\..." for a file outside drive_c

  Locale and Windows version:
    Every Wine process (reg.exe aside, see Registry) runs with LANG and LC_ALL
    set to a locale: s.default_lang ("ru_RU.UTF-8", giving user LCID 0x419 and
    ANSI code page 1251) unless a call says lang="en_US.UTF-8" (0x409, code
    page 1252). lang=RU_ON_1252 is a Russian user on a Windows whose language
    for non-Unicode programs is English: LANG=ru_RU.UTF-8 with
    LC_CTYPE=en_US.UTF-8, user locale 0x419 with ANSI code page 1252.
    s.set_windows_version("win10")   # HKCU\\Software\\Wine\\Version; None: Wine's default
    s.windows_version()              # the value, or None

  Running:
    s.wine(args, timeout=60, lang=None, env=None, cwd=None, name=None) -> WineResult
        Runs "wine ARGS" to the end (killed after timeout); stdout and stderr
        go to files (a pipe would stay open while a child such as Lexoria.exe
        lives on). WineResult: returncode (the Windows exit code, low 8 bits;
        None after a time-out), timed_out, stdout, stderr (str), seconds.
    s.run_program(exe, args=(), answers=(), default="auto", timeout=60, lang=None,
                  env=None, cwd=None, name=None, answer_delay_ms=0) -> ProgramRun
        Starts the box robot with ANSWERS (words: yes, no, ok, cancel, close, ...),
        runs EXE, stops the robot. ProgramRun: exit_code, timed_out, stdout,
        stderr, seconds (the runner's wall clock, Wine's start and exit
        included), boxes (list of Box), dialogs (other #32770 windows, not
        answered: seq, pid, exe, caption, caption_w), run_dir; describe()
        gives text for an assertion message. With timed=True the program is
        started and waited for inside Wine (helpers/timed_run.cc): ticks =
        (start, end) by GetTickCount, the clock of the stand-in's and the
        robot's logs, and ms the time between, and exit_code is whole (3010;
        otherwise its low 8 bits). hidden_station=True runs it
        (timed) in a window station of its own that is not visible, as a
        rollout tool's service does; with env={"WINEDEBUG": EVENT_LOG_DEBUG}
        run.records holds its event-log records (read_event_records).
    with s.robot(answers, default="auto", lang=None) as robot: ... robot.boxes()
        The robot alone, for runs the scenario drives itself.
    s.start_background(args, lang=None, name=None) -> Background
        "wine ARGS" left running: .pid, .alive(), .wait(timeout), .kill(),
        .wait_for_output(text): its standard output (a file) shows TEXT.
    s.windows_processes(include_services=False) -> [(pid, image name)] of
        this prefix, Wine's own services excluded unless asked for;
        s.kill_strays() kills those (and ends tracked Background processes),
        by pid.
    with s.without_shell_window(): ...
        The session registers a shell window for the desktop (helpers/
        shell_window.cc), as Explorer does on Windows and Wine's explorer.exe
        does not; inside the block the desktop has none.
    s.screenshot(path)               # the whole Xvfb screen as PNG, for looking only

  Box (what the robot saw; see helpers/box_robot.cc for the log format):
    seq, t_ms, tick (GetTickCount, the stand-in's clock), pid, exe, hwnd, owner, style, exstyle, topmost (bool),
    caption, text (bytes as GetWindowTextA gave them, i.e. in the ANSI code page),
    caption_str, text_str (those bytes decoded as cp1251),
    caption_w, text_w (the Unicode texts the box shows),
    buttons (list of Button: id, text bytes as GetWindowTextA gave them, label
    = the text as the user sees it, from GetWindowTextW),
    button_ids, default_button, icon ("hand", "question", "exclamation",
    "asterisk", "none", "unknown"), icon_by, want ("-" when the default
    answered), answer, missed (a scripted button the box did not have).

  Registry, through Wine's reg.exe alone (reg add, reg query, reg delete, one
  run per call). Every call names its view: view=None (the default) is the
  prefix's native view (/reg:64 on 64-bit Windows, /reg:32 on 32-bit), view=32
  the 32-bit view a 32-bit program sees (/reg:32), whose HKLM\\Software\\X is,
  on 64-bit Windows, wow6432(r"HKLM\\Software\\X") = HKLM\\Software\\WOW6432Node\\X
  of the native view. The methods below take view= last; a RegOp carries its own.
    s.reg_set(key, name, value, kind="REG_SZ")    # REG_SZ, REG_EXPAND_SZ,
        REG_DWORD (int), REG_BINARY (bytes), REG_MULTI_SZ (list of non-empty
        str); name None or "" is the default value
    s.reg_apply([RegOp(key, name, value, kind, delete, view)...])   # in order
    s.reg_delete_key(key), s.reg_delete_value(key, name)   # nothing there: fine
    s.reg_get(key, name) -> str | int | bytes | list | None   (exact)
    s.reg_query(key, name) -> (type, data text) | None         (as "reg query" shows it)
    s.reg_key_exists(key)
    reg runs under LANG=en_US.UTF-8 with LC_CTYPE=hi_IN.UTF-8 (REG_CTYPE; see
    below); a reg.exe that fails raises HarnessError with what it printed. A
    REG_MULTI_SZ string holding a literal "\\0" reads back split there.

  A Lexoria installation:
    inst = Installation(s, r"C:\\Program Files\\Lexoria")
    inst.lay_out(pak_version=1040, pak_size=4096, standin=True, standin_config=None)
        Lexoria.exe (the stand-in), lxrq.pak (make_pak), standin.cfg
    inst.register(uninstall_string=None, quoted=True, wow64=False, values=None,
                  installer_bits=None)
        The uninstall entry; UninstallString defaults to DIR\\uninstall.exe;
        installer_bits=32 writes it through the 32-bit view as a 32-bit
        installer does (WOW6432Node on 64-bit Windows, the plain key on 32-bit)
    inst.dir (unix Path), inst.win_dir, inst.pak, inst.exe, inst.file(name)
    inst.write_standin_config(dict), inst.start_lexoria(config=None, wait_for="window")
    inst.standin_events() -> [StandInEvent(tick, pid, event, detail)]
    inst.events_named(name, pid=None) -> those of one event (and process)
    inst.wait_for_event(event, timeout=10)
    inst.wait_until(found, timeout=10, what)  # FOUND() true, for events of several pids
    inst.stop_lexoria()              # standin.stop, then kill what is left
    inst.clean()                     # processes, files, both uninstall keys
    make_pak(version, size) -> bytes # version little-endian at bytes 6..7
    pak_version(data) -> int

  A small disk (root only; for disk-full drills):
    with s.tmpfs_drive("x", size_mb=40) as drive: ...
        A tmpfs of SIZE_MB mounted under the work dir and linked as drive X:;
        drive.dir (unix Path), drive.letter. Leaving the block (also on an
        exception) kills the prefix's stray processes, removes the drive link
        and unmounts; drive.unmount() does the same and may be called again.

  E2ETestCase (unittest.TestCase): self.wine is the shared Session;
    self.run_setup(args, answers, exe=None, exit_code=0) runs the setup and
    asserts its exit code; helpers self.install(...), self.use_windows_version(...),
    self.use_tmpfs_drive(letter, size_mb) and
    self.override_registry_value(key, name, value, kind) undo themselves
    (the override restores the value's type and data, or deletes a value
    that was absent, and checks that it did), and every test ends by killing
    stray Windows processes.

Wine 8.0 as seen here (test_harness_selftest.py holds each of these)
----------------------------------------------------------------------
  * Message boxes: MB_TOPMOST is ignored (no WS_EX_TOPMOST, so Box.topmost is
    False where Windows would say True); MB_SERVICE_NOTIFICATION gives an
    ordinary box in the caller's own process; WM_CLOSE ends even an OK-only
    box with IDCANCEL (2). Under ru_RU the buttons are "&Да"/"&Нет" and the OK
    button is "ОК" in Cyrillic, with MessageBoxA as with MessageBoxExA(25);
    under en_US they are "&Yes"/"&No".
  * The icon handle of a box cannot be compared across processes (shared
    icons are per process under Wine), so the robot matches the icon's pixels
    on screen against the system icons it draws itself.
  * Without a window manager every hidden or destroyed window waits 2 s for
    one; the prefix therefore sets X11 Driver\Managed=N, and a program showing
    a box then runs in about 0.15 s instead of 2 s.
  * wineboot -i leaves a new prefix with two services.exe, and RpcSs then
    never starts (no COM local server: the desktop's IShellWindows fails with
    REGDB_E_KEYMISSING after 3 s); the session restarts Wine after it.
  * A new prefix takes about 13 s (wineboot -i); a wine64 process about 0.05 s
    once the persistent wineserver and Wine's services are up.
  * reg.exe prints in the OEM code page of the system locale (LC_CTYPE):
    cp866 under ru_RU, cp437 under en_US, each losing what it cannot hold
    ("?", or a best fit such as "C" for "Č"). Under a Unicode-only locale
    (hi_IN) Wine's code pages are UTF-8 and what reg prints is exact, so the
    registry helpers run it there, with English messages from LANG=en_US. It
    exits with 1 when it fails, "Unable to find the specified registry key"
    (or "value") when there is nothing to delete or show.
"""

import atexit
import collections
import contextlib
import dataclasses
import os
import pathlib
import re
import shutil
import signal
import subprocess
import time
import unittest

WINE64 = os.environ.get("LEXORIA_WINE64") or shutil.which("wine64") or "/usr/lib/wine/wine64"
# The 32-bit loader (Debian's wine32:i386). It starts i686 programs in a
# 64-bit prefix (WOW64, as on 64-bit Windows) and in a WINEARCH=win32 prefix
# (32-bit Windows).
WINE32 = os.environ.get("LEXORIA_WINE32") or "/usr/lib/wine/wine"
WINESERVER = (
    os.environ.get("LEXORIA_WINESERVER")
    or shutil.which("wineserver")
    or "/usr/lib/wine/wineserver"
)
DLL_OVERRIDES = "mscoree,mshtml=;winemenubuilder.exe=d"
RU = "ru_RU.UTF-8"
EN = "en_US.UTF-8"
# (user locale, system locale): LANG and LC_CTYPE of a Russian user on a
# Windows whose language for non-Unicode programs is English.
RU_ON_1252 = (RU, EN)
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Lexoria"

# Wine's own processes, and the harness's stand-in for Explorer's shell
# window; anything else running in the prefix belongs to a test.
WINE_SERVICES = {
    "shell_window.exe",
    "services.exe",
    "winedevice.exe",
    "plugplay.exe",
    "explorer.exe",
    "rpcss.exe",
    "svchost.exe",
    "conhost.exe",
    "wineboot.exe",
    "winemenubuilder.exe",
    "wineserver",
    "wineserver64",
}

_PREFIX_STAMP = ".lexoria-e2e-prefix"


class HarnessError(Exception):
    """The machinery itself failed (not the program under test)."""


def pe_machine(path):
    """The machine field of a PE file: 0x14C (i386) or 0x8664 (x86_64)."""
    with open(path, "rb") as f:
        head = f.read(4096)
    offset = int.from_bytes(head[0x3C:0x40], "little")
    if head[:2] != b"MZ" or head[offset:offset + 4] != b"PE\0\0":
        raise HarnessError("%s is not a PE file" % path)
    return int.from_bytes(head[offset + 4:offset + 6], "little")


def runs_32bit_linux_programs():
    """Whether this kernel starts i386 programs (IA-32 emulation on).

    The honest probe: a 12-byte static i386 program that exits with 42. Some
    kernels of this kind of machine refuse it (ENOEXEC), others run it.
    LEXORIA_E2E_NO_32BIT=1 makes it say no, to try the fallback here."""
    if os.environ.get("LEXORIA_E2E_NO_32BIT") == "1":
        return False
    import struct
    import tempfile
    code = bytes([0xB8, 1, 0, 0, 0, 0xBB, 42, 0, 0, 0, 0xCD, 0x80])  # exit(42) by int 0x80
    base, header_size, program_header_size = 0x08048000, 52, 32
    ident = b"\x7fELF" + bytes([1, 1, 1, 0]) + bytes(8)
    header = ident + struct.pack("<HHIIIIIHHHHHH", 2, 3, 1,
                                 base + header_size + program_header_size, header_size, 0, 0,
                                 header_size, program_header_size, 1, 0, 0, 0)
    size = header_size + program_header_size + len(code)
    segment = struct.pack("<IIIIIIII", 1, 0, base, base, size, size, 5, 0x1000)
    with tempfile.TemporaryDirectory() as folder:
        probe = pathlib.Path(folder) / "probe32"
        probe.write_bytes(header + segment + code)
        probe.chmod(0o755)
        try:
            return subprocess.run([str(probe)], timeout=10).returncode == 42
        except OSError:
            return False


def on_32bit_windows_too(test):
    """Marks a test method or class to run in the 32-bit Windows session as well:
    the scenarios where the bitness of Windows changes the setup's path."""
    test.lexoria_32bit_windows = True
    return test


def wow6432(key):
    """HKLM\\Software\\X as a 32-bit program sees it, in the 64-bit view."""
    root, _, rest = key.partition("\\")
    first, _, tail = rest.partition("\\")
    if first.lower() != "software":
        raise ValueError("not a key under Software: " + key)
    return "\\".join(part for part in (root, first, "WOW6432Node", tail) if part)


# ---------------------------------------------------------------------------
# Boxes as the robot logs them


@dataclasses.dataclass
class Button:
    id: int
    text: bytes  # GetWindowTextA, in the ANSI code page
    label: str  # GetWindowTextW: as the user sees it


@dataclasses.dataclass
class Box:
    seq: int
    t_ms: int
    tick: int  # GetTickCount() when the robot saw it, before it answered
    pid: int
    exe: str
    hwnd: int
    owner: int
    style: int
    exstyle: int
    topmost: bool
    caption: bytes
    text: bytes
    caption_w: str
    text_w: str
    buttons: list
    default_button: int
    icon: str
    icon_by: str
    want: str
    answer: str

    @property
    def caption_str(self):
        return self.caption.decode("cp1251", errors="replace")

    @property
    def text_str(self):
        return self.text.decode("cp1251", errors="replace")

    @property
    def button_ids(self):
        return [b.id for b in self.buttons]

    @property
    def missed(self):
        """True when the script asked for a button this box did not have."""
        return self.want != "-" and self.want != self.answer

    def __str__(self):
        labels = ",".join("%d:%s" % (b.id, b.label) for b in self.buttons)
        return "box #%d %s caption=%r text=%r buttons=%s icon=%s answer=%s" % (
            self.seq, self.exe, self.caption_w, self.text_w, labels, self.icon, self.answer)


def parse_box_line(line):
    fields = _fields(line)
    labels = dict(item.split(":") for item in filter(None, fields["buttonsw"].split(",")))
    buttons = []
    for item in filter(None, fields.get("buttons", "").split(",")):
        button_id, _, text = item.partition(":")
        buttons.append(Button(int(button_id), bytes.fromhex(text),
                              bytes.fromhex(labels[button_id]).decode("utf-8")))
    return Box(
        seq=int(fields["seq"]),
        t_ms=int(fields["t"]),
        tick=int(fields["tick"]),
        pid=int(fields["pid"]),
        exe=bytes.fromhex(fields["exe"]).decode("utf-8"),
        hwnd=int(fields["hwnd"], 16),
        owner=int(fields["owner"], 16),
        style=int(fields["style"], 16),
        exstyle=int(fields["exstyle"], 16),
        topmost=fields["topmost"] == "1",
        caption=bytes.fromhex(fields["caption"]),
        text=bytes.fromhex(fields["text"]),
        caption_w=bytes.fromhex(fields["captionw"]).decode("utf-8"),
        text_w=bytes.fromhex(fields["textw"]).decode("utf-8"),
        buttons=buttons,
        default_button=int(fields["default"]),
        icon=fields["icon"],
        icon_by=fields["icon_by"],
        want=fields["want"],
        answer=fields["answer"],
    )


@dataclasses.dataclass
class Dialog:
    """A #32770 window that is not a message box; the robot leaves it alone."""

    seq: int
    pid: int
    exe: str
    caption: bytes
    caption_w: str


def _fields(line):
    return dict(item.partition("=")[::2] for item in line.split()[1:])


def read_robot_log(path):
    """(boxes, dialogs) from a robot's log."""
    try:
        lines = pathlib.Path(path).read_text(encoding="ascii").splitlines()
    except FileNotFoundError:
        return [], []
    boxes = [parse_box_line(line) for line in lines if line.startswith("box ")]
    dialogs = []
    for line in lines:
        if line.startswith("dialog "):
            f = _fields(line)
            dialogs.append(Dialog(int(f["seq"]), int(f["pid"]),
                                  bytes.fromhex(f["exe"]).decode("utf-8"),
                                  bytes.fromhex(f["caption"]),
                                  bytes.fromhex(f["captionw"]).decode("utf-8")))
    return boxes, dialogs


def read_box_log(path):
    return read_robot_log(path)[0]


# Event-log records, as Wine prints a program's ReportEventW calls on its
# standard error with WINEDEBUG=EVENT_LOG_DEBUG: the call (type, id), then
# its string, escaped and cut after about 290 characters.
EVENT_LOG_DEBUG = "-all,fixme+advapi,+eventlog"
_REPORT_CALL = re.compile(r"^\w+:fixme:advapi:ReportEventW \(\w+,0x(\w+),0x\w+,0x(\w+),")
_REPORT_TEXT = re.compile(r'^\w+:\w+:eventlog:ReportEventW L"(.*)"')
EventRecord = collections.namedtuple("EventRecord", "type event_id text")


def read_event_records(stderr):
    """[EventRecord(type "error"/"warning"/"information", event_id, text)] in order."""
    records, call = [], None
    for line in stderr.splitlines():
        if _REPORT_CALL.match(line):
            kind, event_id = (int(x, 16) for x in _REPORT_CALL.match(line).groups())
            call = ({1: "error", 2: "warning", 4: "information"}.get(kind, kind), event_id)
        elif _REPORT_TEXT.match(line) and call:
            # debugstr_w's escapes: \r \n \t \" \\ and \XXXX.
            text = re.sub(r'\\([0-9a-f]{4}|.)', lambda m: {"r": "\r", "n": "\n", "t": "\t"}.get(
                m.group(1)) or (chr(int(m.group(1), 16)) if len(m.group(1)) == 4 else m.group(1)),
                _REPORT_TEXT.match(line).group(1))
            records.append(EventRecord(*call, text))
            call = None
    return records


# ---------------------------------------------------------------------------
# Results of running things


@dataclasses.dataclass
class WineResult:
    returncode: object  # int, or None when the time ran out
    timed_out: bool
    stdout: str
    stderr: str
    seconds: float


@dataclasses.dataclass
class ProgramRun:
    exit_code: object
    timed_out: bool
    stdout: str
    stderr: str
    seconds: float
    boxes: list
    run_dir: pathlib.Path
    dialogs: list = dataclasses.field(default_factory=list)
    # (start, end) by GetTickCount inside Wine, for a run with timed=True
    # (helpers/timed_run.cc); None otherwise.
    ticks: tuple = None

    records = property(lambda self: read_event_records(self.stderr))

    @property
    def ms(self):
        """How long the program ran, timed inside Wine (timed=True runs only)."""
        return self.ticks[1] - self.ticks[0]

    def describe(self):
        """A few lines for an assertion message."""
        lines = ["exit code %s%s after %.1f s, run dir %s" % (
            self.exit_code, " (timed out)" if self.timed_out else "", self.seconds,
            self.run_dir)]
        if self.ticks:
            lines.append("  ran %d ms inside Wine, ticks %d to %d" % (
                self.ms, self.ticks[0], self.ticks[1]))
        lines += ["  " + str(box) for box in self.boxes]
        if self.stderr.strip():
            lines.append("  stderr: " + self.stderr.strip()[-2000:])
        return "\n".join(lines)


class Background:
    """A Windows process started with wine64 and left running."""

    def __init__(self, popen, name, stdout_path=None):
        self.popen = popen
        self.name = name
        self.stdout_path = stdout_path

    def wait_for_output(self, text, timeout=60):
        """Waits until the process has printed TEXT (its sign of being ready);
        returns its output then. Raises when it ends or the time runs out first."""
        deadline = time.monotonic() + timeout
        while True:
            output = self.stdout_path.read_text(errors="replace") if self.stdout_path else ""
            if text in output:
                return output
            if not self.alive() or time.monotonic() > deadline:
                raise HarnessError("%s did not print %r (%s); it printed %r" % (
                    self.name, text, "ended" if not self.alive() else "time-out", output))
            time.sleep(0.02)

    @property
    def pid(self):
        return self.popen.pid

    def alive(self):
        return self.popen.poll() is None

    def wait(self, timeout):
        """The exit code, or None if still running after TIMEOUT seconds."""
        try:
            return self.popen.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def kill(self):
        if self.alive():
            self.popen.kill()
        self.popen.wait()


# ---------------------------------------------------------------------------
# The robot


class Robot:
    """helpers/box_robot.exe, answering boxes from a script during one run."""

    WORDS = {"yes", "no", "ok", "cancel", "abort", "retry", "ignore", "tryagain", "continue",
             "close"}

    def __init__(self, session, run_dir, answers, default="auto", lang=None, answer_delay_ms=0,
                 max_seconds=900):
        unknown = [w for w in [*answers, default] if w not in self.WORDS and w != "auto"]
        if unknown:
            raise ValueError("unknown answers for the box robot: %s" % unknown)
        self.session = session
        self.run_dir = pathlib.Path(run_dir)
        self.answers = list(answers)
        self.default = default
        self.lang = lang
        self.answer_delay_ms = answer_delay_ms
        self.max_seconds = max_seconds
        self.log = self.run_dir / "boxes.log"
        self.script = self.run_dir / "answers.txt"
        self.stop_file = self.run_dir / "robot.stop"
        self.ready_file = self.run_dir / "robot.ready"
        self.process = None

    def start(self, timeout=30):
        for path in (self.log, self.stop_file, self.ready_file):
            path.unlink(missing_ok=True)
        self.script.write_text("".join(word + "\n" for word in self.answers), encoding="ascii")
        args = [
            str(self.session.helper("box_robot")),
            self.session.windows_path(self.log),
            self.session.windows_path(self.script),
            self.session.windows_path(self.stop_file),
            self.session.windows_path(self.ready_file),
            "--default=" + self.default,
            "--max-seconds=%d" % self.max_seconds,
            "--answer-delay-ms=%d" % self.answer_delay_ms,
        ]
        self.process = self.session.start_background(args, lang=self.lang, name="robot",
                                                     run_dir=self.run_dir)
        deadline = time.monotonic() + timeout
        while not self.ready_file.exists():
            if not self.process.alive():
                raise HarnessError("box robot ended at start with code %s (see %s)" % (
                    self.process.popen.returncode, self.run_dir))
            if time.monotonic() > deadline:
                self.process.kill()
                raise HarnessError("box robot not ready after %d s" % timeout)
            time.sleep(0.02)
        return self

    def stop(self, timeout=10):
        if self.process is None:
            return
        self.stop_file.touch()
        if self.process.wait(timeout) is None:
            self.process.kill()
        self.process = None

    def boxes(self):
        return read_box_log(self.log)

    def dialogs(self):
        return read_robot_log(self.log)[1]

    def wait_for_boxes(self, count, timeout=20):
        deadline = time.monotonic() + timeout
        while len(self.boxes()) < count:
            if time.monotonic() > deadline:
                raise AssertionError("%d box(es) seen, %d expected" % (len(self.boxes()), count))
            time.sleep(0.05)
        return self.boxes()

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


# ---------------------------------------------------------------------------
# Registry


@dataclasses.dataclass
class RegOp:
    """One change for Session.reg_apply: set a value, or delete a value or key."""

    key: str
    name: object = None  # None: the key itself (create, or delete with delete=True)
    value: object = None
    kind: str = "REG_SZ"
    delete: bool = False
    view: object = None  # None: the prefix's native view; 32: the 32-bit view


# reg.exe prints in the OEM code page of the system locale (LC_CTYPE), which
# loses or best-fits whatever that page lacks; Wine gives a Unicode-only
# locale such as Hindi UTF-8 for its code pages, so under this one what reg
# prints is exact for any text. Its messages follow LANG (English).
REG_CTYPE = "hi_IN.UTF-8"
_REG_ENV = {"LC_ALL": "", "LC_CTYPE": REG_CTYPE}
_REG_NOTHING_THERE = "Unable to find the specified registry"  # key or value


def _reg_data_args(value, kind):
    """The /t, /s and /d arguments of "reg add" for VALUE of type KIND."""
    if kind in ("REG_SZ", "REG_EXPAND_SZ"):
        return ["/t", kind, "/d", value]
    if kind == "REG_DWORD":
        return ["/t", kind, "/d", "0x%x" % (value & 0xFFFFFFFF)]
    if kind == "REG_BINARY":
        return ["/t", kind, "/d", bytes(value).hex()]
    if kind == "REG_MULTI_SZ":
        # reg drops an empty string at the end and refuses one inside.
        if any(not s for s in value):
            raise ValueError("REG_MULTI_SZ holds no empty string: %r" % (value,))
        separator = next((c for c in "|;,#~\x1f" if not any(c in s for s in value)), None)
        if separator is None:
            raise ValueError("no separator left for %r" % (value,))
        return ["/t", kind, "/s", separator, "/d", separator.join(value)]
    raise ValueError("unsupported registry type " + kind)


def _reg_value(kind, text):
    """The data of a value as "reg query" shows it, as Python data."""
    if kind in ("REG_SZ", "REG_EXPAND_SZ"):
        return text
    if kind == "REG_DWORD":
        return int(text, 16)
    if kind == "REG_BINARY":
        return bytes.fromhex(text)
    if kind == "REG_MULTI_SZ":
        return text.split("\\0") if text else []
    # Such as REG_QWORD, which Wine's reg shows as "(null)".
    raise HarnessError("cannot read %s data exactly through reg.exe: %r" % (kind, text))


def _reg_listed_value(listing, name):
    """(type, data) of the value NAME in what "reg query KEY" printed, or None."""
    wanted = "    %s    " % (name or "(Default)")
    for line in listing.splitlines():
        if line.lower().startswith(wanted.lower()):
            kind, _, data = line[len(wanted):].partition("    ")
            return kind, data
    return None


# ---------------------------------------------------------------------------
# The session


class Session:
    def __init__(self, build_dir, work_dir=None, default_lang=RU, keep_prefix=False,
                 log=None, windows_bits=64):
        if windows_bits not in (32, 64):
            raise ValueError("windows_bits is 32 or 64")
        self.build_dir = pathlib.Path(build_dir).resolve()
        # The bitness of the programs under test is that of the build's setup:
        # the i686 deliverable (build/win32) or the x86_64 fallback (build/win64).
        self.program_bits = 32 if pe_machine(self.product()) == 0x14C else 64
        self.windows_bits = windows_bits
        if self.program_bits > self.windows_bits:
            raise HarnessError("32-bit Windows runs no x86_64 program (%s)" % self.product())
        # Programs start through the loader of their bitness; Wine's own tools
        # (reg, wineboot) through the prefix's native one, as Windows runs its
        # own tools natively, without WOW64 redirection.
        self.loader = WINE32 if self.program_bits == 32 else WINE64
        self.tool_loader = WINE32 if self.windows_bits == 32 else WINE64
        default_work = self.build_dir / ("e2e" if windows_bits == 64 else "e2e-win32")
        self.work_dir = pathlib.Path(work_dir or default_work).resolve()
        self.prefix = self.work_dir / "prefix"
        self.drive_c = self.prefix / "drive_c"
        self.runs_dir = self.work_dir / "runs"
        self.helpers_dir = self.build_dir / "e2e-helpers"
        self.default_lang = default_lang
        self.keep_prefix = keep_prefix
        self.display = None
        self.timings = {}
        self._log = log or (lambda message: None)
        self._xvfb = None
        self._server_started = False
        self._background = []
        self._shell_window = None
        self._run_count = 0
        self._drives = []
        self._started = False

    # -- life cycle ---------------------------------------------------------

    def start(self):
        if self._started:
            return self
        self._started = True
        atexit.register(self.stop)
        _stop_on_signals()
        try:
            self.work_dir.mkdir(parents=True, exist_ok=True)
            if self.runs_dir.exists():
                shutil.rmtree(self.runs_dir)
            self.runs_dir.mkdir()
            _check_locale(self.default_lang)
            _check_locale(REG_CTYPE)
            began = time.monotonic()
            self._start_xvfb()
            self.timings["xvfb"] = time.monotonic() - began
            began = time.monotonic()
            self._prepare_prefix()
            self.timings["prefix"] = time.monotonic() - began
            self.start_shell_window()
        except BaseException:
            self.stop()
            raise
        return self

    def stop(self):
        """Ends everything this session started. Safe to call more than once."""
        if not self._started:
            return
        self._started = False
        for background in self._background:
            try:
                background.kill()
            except OSError:
                pass
        self._background = []
        self.stop_shell_window()
        for drive in self._drives:
            try:
                drive.unmount()
            except (HarnessError, OSError, subprocess.SubprocessError):
                pass
        self._drives = []
        if self._server_started:
            self._wineserver("-k", timeout=30, check=False)
            self._server_started = False
        # A process that missed the server's end would keep its pipes open.
        for pid, _ in self._prefix_processes(include_services=True):
            _kill(pid)
        if self._xvfb is not None:
            self._xvfb.terminate()
            try:
                self._xvfb.wait(10)
            except subprocess.TimeoutExpired:
                self._xvfb.kill()
                self._xvfb.wait()
            self._xvfb = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    def _start_xvfb(self):
        # -displayfd lets Xvfb pick a free display itself and tell us which,
        # so parallel runs and a display the machine already has never clash.
        read_end, write_end = os.pipe()
        try:
            with open(self.work_dir / "xvfb.log", "wb") as log:
                self._xvfb = subprocess.Popen(
                    ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                     "-nolisten", "tcp", "-noreset"],
                    pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=log,
                    stderr=subprocess.STDOUT)
            os.close(write_end)
            write_end = None
            number = b""
            deadline = time.monotonic() + 30
            with os.fdopen(read_end, "rb", buffering=0) as reader:
                read_end = None
                while not number.endswith(b"\n"):
                    if time.monotonic() > deadline or self._xvfb.poll() is not None:
                        raise HarnessError("Xvfb did not start (see %s)" % (
                            self.work_dir / "xvfb.log"))
                    chunk = reader.read(16)
                    if not chunk:
                        raise HarnessError("Xvfb ended before naming its display")
                    number += chunk
        finally:
            for fd in (read_end, write_end):
                if fd is not None:
                    os.close(fd)
        self.display = ":" + number.decode().strip()
        self._log("Xvfb on display %s" % self.display)

    def _prepare_prefix(self):
        stamp = self.prefix / _PREFIX_STAMP
        version = subprocess.run([self.tool_loader, "--version"], capture_output=True,
                                 text=True).stdout + "win%d\n" % self.windows_bits
        reuse = self.keep_prefix and stamp.exists() and stamp.read_text() == version
        if not reuse and self.prefix.exists():
            shutil.rmtree(self.prefix)
        self.prefix.mkdir(parents=True, exist_ok=True)
        self._wineserver("-p", timeout=30)
        self._server_started = True
        if reuse:
            self._log("reusing prefix %s" % self.prefix)
            return
        self._log("creating prefix %s" % self.prefix)
        result = self.wine(["wineboot", "-i"], timeout=300, name="wineboot")
        if result.returncode != 0:
            raise HarnessError("wineboot -i failed: %s" % result.stderr[-2000:])
        self.reg_apply([
            # Without a window manager on Xvfb, every hidden or destroyed
            # managed window waits 2 s for one to answer; unmanaged windows
            # close at once.
            RegOp(r"HKCU\Software\Wine\X11 Driver", "Managed", "N"),
            # A crash must end the run with a code, not wait on a dialog.
            RegOp(r"HKCU\Software\Wine\WineDbg", "ShowCrashDialog", 0, "REG_DWORD"),
        ])
        if not (self.prefix / "dosdevices" / "z:").exists():
            (self.prefix / "dosdevices" / "z:").symlink_to("/")
        stamp.write_text(version)
        # A freshly made prefix is left with two service managers (wineboot's
        # own and the one it started), and RpcSs then never starts: no COM
        # local server, no desktop shell windows. Restarting Wine leaves one.
        self._restart_wineserver()

    def _restart_wineserver(self):
        """Every program of the prefix ends; a persistent wineserver runs anew."""
        self._wineserver("-k", timeout=30, check=False)
        self._wineserver("-w", timeout=30, check=False)
        self._wineserver("-p", timeout=30)

    def restart_windows(self):
        """Windows restarts: every program ends (wineserver -k), and wineboot -r does
        what was left for the restart (the renames of PendingFileRenameOperations), as
        Windows does before any program runs; then Wine runs on as before."""
        shell_window = self._shell_window is not None
        self.stop_shell_window()
        self._restart_wineserver()
        result = self.wine(["wineboot", "-r"], timeout=120, name="wineboot-restart")
        if result.returncode != 0:
            raise HarnessError("wineboot -r failed: %s" % result.stderr[-2000:])
        # As after a new prefix: one service manager, and RpcSs for COM.
        self._restart_wineserver()
        if shell_window:
            self.start_shell_window()

    def _wineserver(self, flag, timeout, check=True):
        result = subprocess.run([WINESERVER, flag], env=self.env(), stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                timeout=timeout)
        if check and result.returncode != 0:
            raise HarnessError("wineserver %s failed with %d" % (flag, result.returncode))

    # -- environment and paths ----------------------------------------------

    def env(self, lang=None, extra=None):
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("LC_", "WINE")) and k not in ("LANGUAGE", "DISPLAY")}
        lang = lang or self.default_lang
        user, system = (lang, lang) if isinstance(lang, str) else lang
        env.update({
            "WINEPREFIX": str(self.prefix),
            "WINESERVER": WINESERVER,
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": DLL_OVERRIDES,
            "WINEARCH": "win32" if self.windows_bits == 32 else "win64",
            "LANG": user,
        })
        # LC_ALL would override LC_CTYPE, the system locale.
        env.update({"LC_ALL": user} if user == system else {"LC_CTYPE": system})
        if self.display:
            env["DISPLAY"] = self.display
        env.update(extra or {})
        return env

    def helper(self, name):
        path = self.helpers_dir / (name + ".exe")
        if not path.exists():
            raise HarnessError("helper %s is not built (build the e2e_helpers target)" % path)
        return path

    def product(self):
        return self.build_dir / "lexoria-update.exe"

    def unix_path(self, windows_path):
        """The Unix path of a Windows path such as C:\\Program Files\\Lexoria."""
        drive, _, rest = windows_path.partition(":")
        if len(drive) != 1:
            raise ValueError("not an absolute Windows path: " + windows_path)
        root = (self.prefix / "dosdevices" / (drive.lower() + ":")).resolve()
        parts = [p for p in rest.replace("/", "\\").split("\\") if p]
        return root.joinpath(*parts)

    def windows_path(self, unix_path):
        """The Windows path of a Unix path: C:\\... inside drive_c, else Z:\\...."""
        path = pathlib.Path(unix_path).resolve()
        try:
            relative = path.relative_to(self.drive_c.resolve())
            return "C:\\" + "\\".join(relative.parts)
        except ValueError:
            return "Z:" + str(path).replace("/", "\\")

    # -- running ------------------------------------------------------------

    def _new_run_dir(self, name):
        self._run_count += 1
        safe = re.sub(r"[^A-Za-z0-9_.-]+", "_", name or "run")[:60]
        run_dir = self.runs_dir / ("%03d-%s" % (self._run_count, safe))
        run_dir.mkdir(parents=True)
        return run_dir

    @property
    def kind(self):
        """What runs where, in words: "i686 deliverable on 64-bit Windows"."""
        binary = "i686 deliverable" if self.program_bits == 32 else "x86_64 build"
        return "%s on %d-bit Windows" % (binary, self.windows_bits)

    def _loader_for(self, args):
        """A program given by its path starts through the programs' loader; a
        bare name (reg, cmd, wineboot) is one of Wine's own tools."""
        first = str(args[0]) if args else ""
        return self.loader if ("/" in first or "\\" in first) else self.tool_loader

    def wine(self, args, timeout=60, lang=None, env=None, cwd=None, name=None, run_dir=None):
        run_dir = pathlib.Path(run_dir) if run_dir else self._new_run_dir(name or _name_of(args))
        out_path = run_dir / "stdout.txt"
        err_path = run_dir / "stderr.txt"
        began = time.monotonic()
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            popen = subprocess.Popen([self._loader_for(args), *map(str, args)],
                                     env=self.env(lang, env),
                                     cwd=cwd, stdin=subprocess.DEVNULL, stdout=out, stderr=err)
            timed_out = False
            try:
                returncode = popen.wait(timeout)
            except subprocess.TimeoutExpired:
                popen.kill()
                popen.wait()
                returncode, timed_out = None, True
        return WineResult(
            returncode=returncode,
            timed_out=timed_out,
            stdout=out_path.read_bytes().decode("utf-8", errors="replace"),
            stderr=err_path.read_bytes().decode("utf-8", errors="replace"),
            seconds=time.monotonic() - began,
        )

    def start_background(self, args, lang=None, env=None, cwd=None, name=None, run_dir=None):
        run_dir = pathlib.Path(run_dir) if run_dir else self._new_run_dir(name or _name_of(args))
        tag = name or "background"
        stdout_path = run_dir / (tag + ".stdout.txt")
        with open(stdout_path, "wb") as out, open(run_dir / (tag + ".stderr.txt"), "wb") as err:
            popen = subprocess.Popen([self._loader_for(args), *map(str, args)],
                                     env=self.env(lang, env),
                                     cwd=cwd, stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        background = Background(popen, tag, stdout_path)
        self._background.append(background)
        return background

    def robot(self, answers=(), default="auto", lang=None, answer_delay_ms=0, run_dir=None,
              name=None):
        run_dir = run_dir or self._new_run_dir(name or "robot")
        return Robot(self, run_dir, answers, default, lang, answer_delay_ms)

    def run_program(self, exe, args=(), answers=(), default="auto", timeout=60, lang=None,
                    env=None, cwd=None, name=None, answer_delay_ms=0, timed=False,
                    hidden_station=False):
        run_dir = self._new_run_dir(name or _name_of([exe]))
        command = [exe, *args]
        report = run_dir / "timed.txt"
        timed = timed or hidden_station
        if timed:
            # Started and waited for inside Wine, by the clock the helpers log by.
            command = [self.helper("timed_run"),
                       *(["--hidden-station"] if hidden_station else []),
                       self.windows_path(report), self.windows_path(exe), *args]
        with self.robot(answers, default, lang, answer_delay_ms, run_dir=run_dir) as robot:
            result = self.wine(command, timeout=timeout, lang=lang, env=env, cwd=cwd,
                               run_dir=run_dir)
        ticks = None
        exit_code = result.returncode
        if timed and not result.timed_out:
            fields = _fields("report " + report.read_text(encoding="ascii").strip())
            if "start" not in fields:
                raise HarnessError("timed_run could not start %s: %s" % (exe, fields))
            ticks = (int(fields["start"]), int(fields["end"]))
            # Whole, where the Linux exit status keeps its low 8 bits (3010).
            exit_code = int(fields["exit"])
        return ProgramRun(
            exit_code=exit_code,
            timed_out=result.timed_out,
            stdout=result.stdout,
            stderr=result.stderr,
            seconds=result.seconds,
            boxes=robot.boxes(),
            run_dir=run_dir,
            dialogs=robot.dialogs(),
            ticks=ticks,
        )

    def _prefix_processes(self, include_services=False):
        """(pid, image name) of the Linux processes running in our prefix."""
        marker = b"WINEPREFIX=" + bytes(self.prefix) + b"\0"
        found = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit() or int(entry) == os.getpid():
                continue
            try:
                with open("/proc/%s/environ" % entry, "rb") as f:
                    if marker not in f.read() + b"\0":
                        continue
                with open("/proc/%s/cmdline" % entry, "rb") as f:
                    argv0 = f.read().split(b"\0")[0].decode("utf-8", errors="replace")
            except OSError:
                continue
            image = re.split(r"[\\/]", argv0)[-1]
            if not include_services and image.lower() in WINE_SERVICES:
                continue
            found.append((int(entry), image))
        return found

    def windows_processes(self, include_services=False):
        return self._prefix_processes(include_services)

    def kill_strays(self):
        """Ends every process a test left in the prefix; Wine's services stay."""
        for background in self._background:
            background.kill()
        self._background = []
        for pid, _ in self._prefix_processes():
            _kill(pid)
        deadline = time.monotonic() + 5
        while self._prefix_processes() and time.monotonic() < deadline:
            time.sleep(0.05)

    # -- the desktop's shell window -------------------------------------------

    def start_shell_window(self, timeout=30):
        """Registers a shell window for the desktop, as Explorer does on Windows
        (Wine's explorer.exe serves the desktop's shell objects but registers
        none); it stays for the session, through kill_strays."""
        if self._shell_window is not None and self._shell_window.alive():
            return
        run_dir = self._new_run_dir("shell-window")
        ready = run_dir / "ready.txt"
        popen_args = [self.helper("shell_window"), self.windows_path(ready)]
        with open(run_dir / "stdout.txt", "wb") as out, open(run_dir / "stderr.txt", "wb") as err:
            popen = subprocess.Popen([self._loader_for(popen_args), *map(str, popen_args)],
                                     env=self.env(), stdin=subprocess.DEVNULL, stdout=out,
                                     stderr=err)
        self._shell_window = Background(popen, "shell-window")
        deadline = time.monotonic() + timeout
        while not (ready.exists() and ready.read_text().endswith("\n")):
            if not self._shell_window.alive() or time.monotonic() > deadline:
                self.stop_shell_window()
                raise HarnessError("no shell window registered (see %s)" % run_dir)
            time.sleep(0.02)
        if not ready.read_text().startswith("shell-window="):
            self.stop_shell_window()
            raise HarnessError("shell window not registered: " + ready.read_text().strip())

    def stop_shell_window(self):
        """Ends the shell window: the desktop then has none, as under a shell
        that registers no desktop (a kiosk shell)."""
        if self._shell_window is not None:
            self._shell_window.kill()
            self._shell_window = None

    @contextlib.contextmanager
    def without_shell_window(self):
        self.stop_shell_window()
        try:
            yield
        finally:
            self.start_shell_window()

    def screenshot(self, path):
        """The whole screen as PNG; for a person to look at, never to assert on."""
        subprocess.run(["import", "-display", self.display, "-window", "root", str(path)],
                       env=self.env(), stdin=subprocess.DEVNULL, capture_output=True,
                       timeout=30, check=True)
        return pathlib.Path(path)

    def tmpfs_drive(self, letter, size_mb):
        """A mounted TmpfsDrive; use it in a with block or call unmount(). One
        still mounted when the session stops is unmounted then."""
        drive = TmpfsDrive(self, letter, size_mb).mount()
        self._drives.append(drive)
        return drive

    # -- Windows version ------------------------------------------------------

    def set_windows_version(self, version):
        """win10, win81, win8, win7, vista, winxp64, ... or None for Wine's default."""
        if version is None:
            self.reg_delete_value(r"HKCU\Software\Wine", "Version")
        else:
            self.reg_set(r"HKCU\Software\Wine", "Version", version)

    def windows_version(self):
        return self.reg_get(r"HKCU\Software\Wine", "Version")

    # -- registry -----------------------------------------------------------

    def _reg(self, args, view=None, nothing_there_ok=False):
        """Runs "reg ARGS" in VIEW (None: the native one) and returns what it
        printed, or None when NOTHING_THERE_OK and it found no such key or value."""
        bits = view or self.windows_bits
        if bits not in (32, 64) or bits > self.windows_bits:
            raise ValueError("no %r-bit registry view on %d-bit Windows" % (
                view, self.windows_bits))
        for _ in range(3):
            result = self.wine(["reg", *args, "/reg:%d" % bits], timeout=60, lang=EN,
                               env=_REG_ENV, name="reg-" + args[0])
            # Now and then, under load, Wine fails to start reg.exe at all
            # ("Application could not be started", or nothing printed): that
            # is Wine's, not an answer of reg's, and is tried again.
            said = (result.stdout + result.stderr).strip()
            if result.timed_out or result.returncode == 0 or (
                    said and "could not be started" not in said):
                break
        if result.returncode == 0:
            return result.stdout
        if nothing_there_ok and result.returncode == 1 and _REG_NOTHING_THERE in result.stdout:
            return None
        raise HarnessError("reg %s (/reg:%d) failed with %s: %s" % (
            " ".join(args), bits, "a time-out" if result.timed_out else result.returncode,
            (result.stdout + result.stderr).strip()))

    def reg_apply(self, ops):
        """Each change in order, one reg.exe run each."""
        for op in ops:
            args = ["delete" if op.delete else "add", op.key]
            if op.name is not None:
                args += ["/v", op.name] if op.name else ["/ve"]
                if not op.delete:
                    args += _reg_data_args(op.value, op.kind)
            self._reg(args + ["/f"], op.view, nothing_there_ok=op.delete)

    def reg_set(self, key, name, value, kind="REG_SZ", view=None):
        self.reg_apply([RegOp(key, name or "", value, kind, view=view)])

    def reg_delete_value(self, key, name, view=None):
        self.reg_apply([RegOp(key, name or "", delete=True, view=view)])

    def reg_delete_key(self, key, view=None):
        self.reg_apply([RegOp(key, delete=True, view=view)])

    def reg_key_exists(self, key, view=None):
        return self._reg(["query", key], view, nothing_there_ok=True) is not None

    def reg_query(self, key, name, view=None):
        """(type, data) as Wine's "reg query" prints them, or None."""
        # The whole key, not /v or /ve: for an unset default value /ve prints
        # "(value not set)" and succeeds; the listing leaves it out.
        listing = self._reg(["query", key], view, nothing_there_ok=True)
        return _reg_listed_value(listing, name) if listing is not None else None

    def reg_get(self, key, name, view=None):
        """The value's data (str, int, bytes or list of str), or None if absent."""
        shown = self.reg_query(key, name, view)
        return _reg_value(*shown) if shown else None


def _check_locale(lang):
    """Wine falls back to English without a word when LANG is not generated."""
    available = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.split()
    wanted = lang.lower().replace("utf-8", "utf8")
    if wanted not in (name.lower() for name in available):
        raise HarnessError("locale %s is not generated on this machine (locale -a)" % lang)


def _name_of(args):
    return re.split(r"[\\/]", str(args[0]))[-1] if args else "run"


def _kill(pid):
    try:
        os.kill(pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


_signals_hooked = False


def _stop_on_signals():
    """Turns SIGTERM and SIGHUP into KeyboardInterrupt so that cleanup still runs.

    KeyboardInterrupt, unlike SystemExit, is not taken for a test's error by
    unittest: it ends the run, and the finally blocks and atexit stop Wine.
    """
    global _signals_hooked
    if _signals_hooked:
        return
    _signals_hooked = True

    def leave(signum, frame):
        raise KeyboardInterrupt("signal %d" % signum)

    for signum in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(signum, leave)


_session = None


def open_session(build_dir, **kwargs):
    """Starts the shared session of this run (the runner calls this once)."""
    global _session
    if _session is None:
        _session = Session(build_dir, **kwargs).start()
    return _session


def session():
    """The shared session; started here when a module runs without the runner."""
    if _session is None:
        build_dir = os.environ.get("LEXORIA_E2E_BUILD_DIR")
        if not build_dir:
            build_dir = pathlib.Path(__file__).resolve().parents[2] / "build" / (
                "win32" if runs_32bit_linux_programs() else "win64")
        open_session(build_dir)
    return _session


def close_session():
    global _session
    if _session is not None:
        _session.stop()
        _session = None


# ---------------------------------------------------------------------------
# A Lexoria installation


def make_pak(version, size):
    """Package bytes of SIZE with VERSION (little-endian) at bytes 6..7."""
    if size < 8:
        raise ValueError("a package has at least 8 bytes")
    pattern = bytes((i * 7 + 3) & 0xFF for i in range(251))
    data = bytearray((pattern * (size // len(pattern) + 1))[:size])
    data[6:8] = (version & 0xFFFF).to_bytes(2, "little")
    return bytes(data)


def pak_version(data):
    return int.from_bytes(data[6:8], "little")


@dataclasses.dataclass
class StandInEvent:
    tick: int
    pid: int
    event: str
    detail: str


class Installation:
    """Lexoria laid out under drive_c and registered for uninstall."""

    def __init__(self, session, win_dir=r"C:\Program Files\Lexoria", key=UNINSTALL_KEY):
        self.session = session
        self.win_dir = win_dir.rstrip("\\")
        self.dir = session.unix_path(self.win_dir)
        self.key = key
        self.lexoria = None

    @property
    def exe(self):
        return self.dir / "Lexoria.exe"

    @property
    def pak(self):
        return self.dir / "lxrq.pak"

    def file(self, name):
        return self.dir / name

    def lay_out(self, pak_version=1000, pak_size=4096, standin=True, standin_config=None):
        """Creates the folder with Lexoria.exe and lxrq.pak (None: no package)."""
        self.dir.mkdir(parents=True, exist_ok=True)
        if standin:
            shutil.copyfile(self.session.helper("stand_in_lexoria"), self.exe)
            self.write_standin_config(standin_config or {})
        if pak_version is not None:
            self.pak.write_bytes(make_pak(pak_version, pak_size))
        return self

    def register(self, uninstall_string=None, quoted=True, wow64=False, values=None,
                 installer_bits=None):
        """Writes the uninstall entry; returns the key written, as the native view
        of the prefix's Windows names it.

        By default the entry is written where a 64-bit installer writes it (the
        native view), or under WOW6432Node with wow64=True. installer_bits=32
        writes it as a 32-bit installer does, through the 32-bit registry view
        (reg add /reg:32): under WOW6432Node on 64-bit Windows, under the plain
        key on 32-bit Windows."""
        if uninstall_string is None:
            uninstall_string = self.win_dir + "\\uninstall.exe"
            if quoted:
                uninstall_string = '"%s"' % uninstall_string
        values = {"UninstallString": uninstall_string, **(values or {})}
        if installer_bits == 32:
            key, view = self.key, 32
        else:
            key, view = (wow6432(self.key) if wow64 else self.key), None
        self.session.reg_apply(
            RegOp(key, name, value, "REG_DWORD" if isinstance(value, int) else "REG_SZ", view=view)
            for name, value in values.items())
        if view == 32 and self.session.windows_bits == 64:
            return wow6432(key)
        return key

    def write_standin_config(self, config):
        text = "".join("%s=%s\n" % item for item in config.items())
        (self.dir / "standin.cfg").write_text(text, encoding="ascii")

    def start_lexoria(self, config=None, wait_for="window", timeout=15, lang=None):
        """Starts Lexoria.exe as a user would and waits for a stand-in event."""
        if config is not None:
            self.write_standin_config(config)
        (self.dir / "standin.stop").unlink(missing_ok=True)
        seen = len(self.standin_events())
        self.lexoria = self.session.start_background([self.exe], lang=lang, name="lexoria",
                                                     cwd=self.dir)
        if wait_for:
            self.wait_for_event(wait_for, timeout, after=seen)
        return self.lexoria

    def standin_events(self):
        path = self.dir / "standin.log"
        if not path.exists():
            return []
        events = []
        for line in path.read_text(encoding="latin-1").splitlines():
            parts = line.split(" ", 3)
            if len(parts) >= 3 and parts[0].isdigit() and parts[1].isdigit():
                events.append(StandInEvent(int(parts[0]), int(parts[1]), parts[2],
                                           parts[3] if len(parts) > 3 else ""))
        return events

    def events_named(self, name, pid=None):
        """The stand-in's events called NAME (of process PID only, when given)."""
        return [e for e in self.standin_events()
                if e.event == name and (pid is None or e.pid == pid)]

    def wait_until(self, found, timeout=10, what="it"):
        """Polls FOUND() until it gives something true, which it returns."""
        deadline = time.monotonic() + timeout
        while True:
            result = found()
            if result:
                return result
            if time.monotonic() > deadline:
                raise AssertionError("%s: not seen within %s s; stand-in log: %s" % (
                    what, timeout, [(e.pid, e.event) for e in self.standin_events()]))
            time.sleep(0.05)

    def wait_for_event(self, event, timeout=10, after=0):
        deadline = time.monotonic() + timeout
        while True:
            for item in self.standin_events()[after:]:
                if item.event == event:
                    return item
            if time.monotonic() > deadline:
                raise AssertionError("stand-in did not log %r within %s s; log: %s" % (
                    event, timeout, [e.event for e in self.standin_events()]))
            time.sleep(0.05)

    def lexoria_processes(self):
        return [pid for pid, image in self.session.windows_processes()
                if image.lower() == "lexoria.exe"]

    def stop_lexoria(self, timeout=5):
        """Asks every stand-in to end through standin.stop, then kills the rest."""
        if self.dir.exists():
            (self.dir / "standin.stop").touch()
        deadline = time.monotonic() + timeout
        while self.lexoria_processes() and time.monotonic() < deadline:
            time.sleep(0.05)
        for pid in self.lexoria_processes():
            _kill(pid)
        if self.lexoria is not None:
            self.lexoria.kill()
            self.lexoria = None
        (self.dir / "standin.stop").unlink(missing_ok=True)

    def clean(self):
        self.stop_lexoria()
        if self.dir.exists():
            shutil.rmtree(self.dir)
        self.session.reg_apply([RegOp(self.key, delete=True),
                                RegOp(wow6432(self.key), delete=True)])


# ---------------------------------------------------------------------------
# A small disk


class TmpfsDrive:
    """A tmpfs of a fixed size, linked as a Wine drive; see Session.tmpfs_drive."""

    def __init__(self, session, letter, size_mb):
        if len(letter) != 1 or not letter.isalpha() or letter.lower() in "cz":
            raise ValueError("drive letter must be a free letter other than C and Z: " + letter)
        self.session = session
        self.letter = letter.lower()
        self.size_mb = size_mb
        self.dir = session.work_dir / ("tmpfs-" + self.letter)
        self.link = session.prefix / "dosdevices" / (self.letter + ":")
        self.mounted = False

    def mount(self):
        if self.link.exists() or self.link.is_symlink():
            raise HarnessError("drive %s: is in use in the prefix" % self.letter.upper())
        self.dir.mkdir(parents=True, exist_ok=True)
        if os.path.ismount(self.dir):
            raise HarnessError("%s is already a mount point" % self.dir)
        result = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%dm" % self.size_mb, "tmpfs",
                                 str(self.dir)], capture_output=True, text=True, timeout=30)
        if result.returncode != 0:
            raise HarnessError("mount of a tmpfs failed: " + result.stderr.strip())
        self.mounted = True
        try:
            self.link.symlink_to(self.dir)
        except BaseException:
            self.unmount()
            raise
        return self

    def unmount(self):
        """Ends processes that could hold files there, then unlinks and unmounts."""
        if self.link.is_symlink():
            self.link.unlink()
        if not self.mounted:
            return
        self.session.kill_strays()
        for _ in range(50):
            if subprocess.run(["umount", str(self.dir)], capture_output=True,
                              timeout=30).returncode == 0:
                break
            time.sleep(0.1)
        else:
            # Still busy: detach it now, the kernel frees it when the last user goes.
            subprocess.run(["umount", "-l", str(self.dir)], capture_output=True, timeout=30)
        self.mounted = os.path.ismount(self.dir)
        if self.mounted:
            raise HarnessError("could not unmount " + str(self.dir))
        self.dir.rmdir()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.unmount()


# ---------------------------------------------------------------------------
# Test case base


class E2ETestCase(unittest.TestCase):
    """A scenario in the shared Wine session; undoes what its helpers changed."""

    wine = None

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.wine = session()

    def setUp(self):
        super().setUp()
        self.addCleanup(self.wine.kill_strays)

    def run_setup(self, args=(), answers=(), exe=None, exit_code=0, timeout=180, **kwargs):
        """Runs the setup under test (or EXE) with the box robot; asserts that it
        ended in time with EXIT_CODE. Keyword arguments go to run_program."""
        run = self.wine.run_program(exe or self.wine.product(), args, answers=answers,
                                    timeout=timeout, **kwargs)
        self.assertFalse(run.timed_out, run.describe())
        self.assertEqual(run.exit_code, exit_code, run.describe())
        return run

    def install(self, win_dir=r"C:\Program Files\Lexoria", **lay_out):
        """An installation laid out now and removed after the test."""
        installation = Installation(self.wine, win_dir)
        self.addCleanup(installation.clean)
        installation.lay_out(**lay_out)
        return installation

    def use_windows_version(self, version):
        previous = self.wine.windows_version()
        self.addCleanup(self.wine.set_windows_version, previous)
        self.wine.set_windows_version(version)

    def use_tmpfs_drive(self, letter, size_mb):
        """A tmpfs drive for this test; unmounted after the cleanups registered later
        (an installation on it is removed first)."""
        drive = self.wine.tmpfs_drive(letter, size_mb)
        self.addCleanup(drive.unmount)
        return drive

    def override_registry_value(self, key, name, value, kind="REG_SZ"):
        """Sets a value for this test; afterwards its old type and data come back."""
        original = self.wine.reg_query(key, name)
        data = _reg_value(*original) if original else None
        self.addCleanup(self._restore_registry_value, key, name, original, data)
        self.wine.reg_set(key, name, value, kind)

    def _restore_registry_value(self, key, name, original, data):
        if original is None:
            self.wine.reg_delete_value(key, name)
        else:
            self.wine.reg_set(key, name, data, original[0])
        if self.wine.reg_query(key, name) != original:
            raise HarnessError("%s\\%s not restored: %r, was %r" % (
                key, name, self.wine.reg_query(key, name), original))


if __name__ == "__main__":
    # For the scripts: "harness.py runs-32bit-programs" exits with 0 when this
    # kernel starts i386 programs.
    import sys
    if sys.argv[1:] != ["runs-32bit-programs"]:
        sys.exit("usage: harness.py runs-32bit-programs")
    sys.exit(0 if runs_32bit_linux_programs() else 1)

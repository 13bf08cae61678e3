"""Every path through the update, run whole under Wine with the real setup.

The scenario table: each row lays out a Lexoria installation (its package of
some version, the uninstall entry, a running Lexoria or another program that
holds the package), runs the setup under test (carrying lxrq.pak of version
1040, 88,000,000 bytes) with its arguments and the robot's answers, and checks
the whole outcome: the exit code, every box as the user reads it (its wide
texts, and on a system of code page 1251 its ANSI bytes too) with its buttons
and icon, the package (the new one, or the installed one byte
for byte), no "~" file where none belongs, "EstimatedSize" as "reg query"
shows it, the quit request to a running Lexoria, and the launch. Each row is a
test of its own (test_<name>); rows marked for it run on 32-bit Windows too.
The paths that need more than a row (planted links, the progress window on
screen) follow the table as tests of their own.

Times are taken by the clocks the helpers log by (GetTickCount inside Wine:
the stand-in's events, the robot's boxes), never by the runner's.
"""

import dataclasses
import os
import shutil
import threading
import time

import harness
from harness import EN, RU, RU_ON_1252

CARRIED_VERSION = 1040
CARRIED_SIZE = 88000000  # the generated sample package of the builds
# The setup's exit codes (README, "Exit codes").
EXIT_NOT_ADMINISTRATOR = 2
EXIT_SETUP_DAMAGED = 3
EXIT_NO_INSTALLATION = 4
EXIT_REGISTRY_UNREADABLE = 5
EXIT_PACKAGE_NOT_WRITTEN = 6
EXIT_UNANSWERED = 7
EXIT_RESTART_PENDING = 3010
EXIT_INVALID_COMMAND_LINE = 1639
EXIT_ANOTHER_UPDATE_RUNNING = 1618
PACKAGE_FULL_TITLE = "\"Озвучка русско-английских заданий\" версии 1040"

TITLE_RU = "Обновление Lexoria"
TITLE_EN = "Lexoria update"
QUESTION_CAPTION_RU = "Резонный вопрос"
QUESTION_CAPTION_EN = "Sound question"

CONFIRMATION_RU = ("Вы действительно хотите установить\r\n" + TITLE_RU + " -\r\n" +
                   PACKAGE_FULL_TITLE + "?")
CONFIRMATION_EN = "Would you like to setup\r\n" + TITLE_EN + " -\r\n" + PACKAGE_FULL_TITLE + "?"
LAUNCH_QUESTION = ("На Ваш компьютер установлено\r\n" + TITLE_RU + " -\r\n" + PACKAGE_FULL_TITLE +
                   "\r\n\r\nЗапустить программу?")
NO_SUBJECT_EN = ("There's no subject of update - the Lexoria installed.\r\n"
                 "Please, install the program at first.")
NO_SUBJECT_RU = ("Нет предмета обновления - установленной программы Lexoria.\r\n"
                 "Пожалуйста, сначала установите программу.")
INSTALL_FAILED_RU = "Не удается установить файл {pak}"
INSTALL_FAILED_EN = "Can't install file {pak}"
OLDER_QUESTION_RU = ("Устанавливаемый файл {pak}\r\n"
                     "более старой версии, чем уже установленный.\r\n\r\n"
                     "Действительно ли Вы хотите заменить уже имеющийся\r\n"
                     "файл версии 1041 на более старый версии 1040?")
OLDER_QUESTION_EN = ("{pak} file installing is of older version\r\n"
                     "than the same already installed.\r\n\r\n"
                     "Do you really want to replace existing\r\n"
                     "new file version 1041 with an older file version 1040?")

# Wine's own button labels: Russian for ru_RU and for language id 25 (the
# launch question under en_US too), English for en_US.
YES_NO_RU = [(6, "&Да"), (7, "&Нет")]
YES_NO_EN = [(6, "&Yes"), (7, "&No")]
# The icon of a box that comes while the progress window is still on screen:
# Wine gives MB_TOPMOST boxes no topmost style, the progress window covers the
# box's icon, and the robot cannot match its pixels.
QUESTION_UNDER_PROGRESS_WINDOW = ("question", "unknown")
OK_RU = [(1, "ОК")]
OK_EN = [(1, "OK")]

CONFIRM_RU = (CONFIRMATION_RU, QUESTION_CAPTION_RU, YES_NO_RU, "question")
CONFIRM_EN = (CONFIRMATION_EN, QUESTION_CAPTION_EN, YES_NO_EN, "question")
LAUNCH_RU = (LAUNCH_QUESTION, TITLE_EN, YES_NO_RU, "question")
LAUNCH_EN = (LAUNCH_QUESTION, TITLE_EN, YES_NO_RU, "question")
NO_SUBJECT = (NO_SUBJECT_RU, TITLE_RU, OK_RU, "hand")
# The usage text, as /? shows it in Russian.
USAGE_RU = (
    "Запуск: lexoria-update.exe [modest [runapp]] [/quiet] [/log ПУТЬ]\r\n\r\n"
    "modest - без подтверждения и без вопроса о запуске; сообщение об ошибке и вопрос перед "
    "заменой более новой версии появляются, если их кто-то может увидеть\r\n"
    "modest runapp - то же, затем запускается Lexoria\r\n"
    "/quiet (/q, /qn, /s, /silent, /verysilent) - без окон: на каждый вопрос берётся ответ, "
    "меняющий меньше всего; с runapp после него в конце запускается Lexoria\r\n"
    "/log ПУТЬ (/log=ПУТЬ, /log:ПУТЬ) - журнал запуска дописывается в файл ПУТЬ\r\n"
    "/norestart, /suppressmsgboxes - допускаются; установка никогда не перезапускает "
    "Windows\r\n"
    "/?, /h, /help - этот текст\r\n\r\n"
    "Коды завершения: 0 выполнено; 1 сбой; 2 нет прав администратора; 3 файл установки "
    "повреждён; 4 Lexoria не установлена; 5 реестр недоступен; 6 пакет не удалось записать; "
    "7 вопрос, на который некому ответить; 1618 выполняется другое обновление; 1639 неверная "
    "командная строка; 3010 выполнено, завершится при следующем перезапуске.")
ANOTHER_RUN_EN = "Another update of Lexoria is in progress. Please wait until it has finished."
ANOTHER_RUN_RU = "Выполняется другое обновление Lexoria. Пожалуйста, дождитесь его окончания."


# The event source every run registers for its record, as eventcreate does.
EVENT_SOURCE_KEY = r"HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Lexoria Update"
NOT_SHOWN = "box, not shown (nobody could answer), "
# The setup's own key, where detection rules look in every tool.
DETECTION_KEY = r"HKLM\SOFTWARE\Orvane\Lexoria Update"
# Where Windows keeps the renames it makes at its next restart.
SESSION_MANAGER_KEY = r"HKLM\SYSTEM\CurrentControlSet\Control\Session Manager"


def tree_kib(directory, leaving_out=()):
    """The folder's size as the setup counts it: all files, whole KiB."""
    return sum(p.stat().st_size for p in directory.rglob("*")
               if p.is_file() and p.name not in leaving_out) >> 10


def folder_state(directory):
    """Name and content of every file but the stand-in's log: what "nothing lost" compares."""
    return sorted((p.name, p.read_bytes()) for p in directory.iterdir()
                  if p.is_file() and p.name != "standin.log")


class UpdateAssertions:
    """What every scenario checks of a finished run; mixed into E2ETestCase."""

    def run_setup(self, args=(), answers=(), exe=None, exit_code=0, **kwargs):
        run = super().run_setup(args, answers, exe=exe, exit_code=exit_code, **kwargs)
        # A box that lacked the scripted button would hide a wrong box kind.
        self.assertEqual([b for b in run.boxes if b.missed], [], run.describe())
        return run

    def assertBoxes(self, run, expected, exe="lexoria-update.exe", lang=RU):
        """EXPECTED: (text, caption, [(button id, label)], icon) per box, in order, as
        the user reads them (the wide texts); the icon may be a tuple of the kinds
        allowed. Under LANG ru_RU (code page 1251) the ANSI texts too, byte for byte,
        as the boxes showed them before they were Unicode."""

        def icon_as_expected(box, index):
            allowed = expected[index][3] if index < len(expected) else None
            return allowed if isinstance(allowed, tuple) and box.icon in allowed else box.icon

        seen = [(b.text_w, b.caption_w, [(x.id, x.label) for x in b.buttons],
                 icon_as_expected(b, i)) for i, b in enumerate(run.boxes)]
        self.maxDiff = None
        self.assertEqual(seen, [(text, caption, list(buttons), icon)
                                for text, caption, buttons, icon in expected], run.describe())
        if lang == RU:
            self.assertEqual(
                [(b.text, b.caption, [(x.id, x.text) for x in b.buttons]) for b in run.boxes],
                [(text.encode("cp1251"), caption.encode("cp1251"),
                  [(i, label.encode("cp1251")) for i, label in buttons])
                 for text, caption, buttons, _ in expected], run.describe())
        for box in run.boxes:
            self.assertEqual(box.exe, exe, run.describe())

    def assertCarriedPackage(self, inst):
        data = inst.pak.read_bytes()
        self.assertEqual((harness.pak_version(data), len(data)), (CARRIED_VERSION, CARRIED_SIZE))

    def assertCarriedPackageLeftAsTempFile(self, inst):
        """The complete new content waits under the "~" name for the next run."""
        data = inst.file("~lxrq.pak").read_bytes()
        self.assertEqual((harness.pak_version(data), len(data)), (CARRIED_VERSION, CARRIED_SIZE))

    def assertNoTempFile(self, inst):
        left = sorted(p.name for p in inst.dir.iterdir() if p.name.startswith("~"))
        self.assertEqual(left, [], "a temporary file was left in %s" % inst.dir)

    def assertEstimatedSize(self, inst, written_after=(), key=harness.UNINSTALL_KEY):
        """EstimatedSize is the folder's size in KiB as the setup walked it.

        WRITTEN_AFTER names files that a running stand-in may have written to
        while or after the setup walked the folder: the value then lies
        between the size without them and the size with them.
        """
        recorded = self.wine.reg_query(key, "EstimatedSize")
        self.assertIsNotNone(recorded, "EstimatedSize not written")
        kind, text = recorded
        self.assertEqual(kind, "REG_DWORD")
        value = int(text, 16)
        everything = tree_kib(inst.dir)
        without = tree_kib(inst.dir, leaving_out=written_after)
        self.assertTrue(without <= value <= everything,
                        "EstimatedSize %d, folder %d KiB (%d without %s)" % (
                            value, everything, without, written_after))

    def assertNoEstimatedSize(self):
        self.assertIsNone(self.wine.reg_query(harness.UNINSTALL_KEY, "EstimatedSize"))

    def assertNoEntryCreated(self):
        for key in (harness.UNINSTALL_KEY, harness.wow6432(harness.UNINSTALL_KEY)):
            self.assertFalse(self.wine.reg_key_exists(key), key)

    def assertNotStarted(self, inst, already_running=0):
        self.assertEqual(len(inst.events_named("started")), already_running,
                         inst.standin_events())

    def assertStartedAndInFront(self, inst, already_running=()):
        """One Lexoria started by the setup (no pid of ALREADY_RUNNING), not asked to quit,
        and a Lexoria window shown and brought to the front: the new one's, or that of an
        earlier Lexoria still running (the launch activates the window FindWindowA finds)."""

        def started_anew():
            return [e for e in inst.events_named("started") if e.pid not in already_running]

        inst.wait_until(lambda: started_anew(), timeout=20, what="a new Lexoria")
        new = started_anew()
        self.assertEqual(len(new), 1, inst.standin_events())
        alive = {new[0].pid} | {pid for pid in already_running
                                if not inst.events_named("exit", pid=pid)}
        for event in ("shown", "activated"):
            inst.wait_until(lambda: [e for e in inst.events_named(event) if e.pid in alive],
                            timeout=20, what="%s of a running Lexoria" % event)
        self.assertEqual(inst.events_named("WM_QUIT", pid=new[0].pid), [],
                         "the launch asked it to quit")


# ---------------------------------------------------------------------------
# The table

CARRIED = "carried"  # the installed package is the new one
KEPT = "kept"  # the installed package is byte for byte what it was
UNREADABLE = "unreadable"  # an installed lxrq.pak of 5 bytes: no version word
DIRECTORY = "directory"  # a directory where Lexoria.exe belongs


@dataclasses.dataclass(frozen=True)
class Row:
    name: str  # the test is test_<name>
    doc: str  # what the row shows
    # What the setup is given.
    args: tuple = ()
    answers: tuple = ()
    lang: str = RU
    answer_delay_ms: int = 0
    # The machine before the run.
    win_dir: str = r"C:\Program Files\Lexoria"  # the installation folder
    installed: object = 1039  # version of lxrq.pak; None: no package; UNREADABLE
    exe: object = True  # the stand-in as Lexoria.exe; False: none; DIRECTORY
    folder: bool = True  # the installation folder exists
    registered: bool = True  # the uninstall entry names the folder
    running: dict = None  # a Lexoria running before, with this stand-in config
    holder: str = None  # "program": another program holds lxrq.pak without
    # delete sharing; "scanner": a reader with full sharing
    # The outcome.
    exit_code: int = 0
    boxes: tuple = ()  # (text, caption, buttons, icon); "{pak}" is lxrq.pak's path
    package: str = CARRIED  # CARRIED or KEPT
    temp_left: bool = False  # the complete new package left as "~lxrq.pak"
    size: bool = True  # EstimatedSize recorded (else none written)
    asked_to_quit: bool = False  # the running Lexoria got WM_QUIT (wparam 0)
    launched: bool = False  # a new Lexoria started and brought to the front
    # Times by the helpers' clock, in ms: from the quit request to the
    # failure box (a wait for Lexoria to let go), or from the confirmation
    # box to the failure box (no wait).
    quit_to_failure_ms: tuple = None
    confirmation_to_failure_ms: tuple = None
    # Run in a window station of its own that is not visible, as a rollout
    # tool's service runs it: no box can be answered, and it must end at once.
    unattended: bool = False
    record: tuple = ()  # pieces of the run's one event-log record
    # Windows restarts after the run (Wine: wineserver -k, wineboot -r): the
    # replacement scheduled for it is done, the carried package in place.
    restart: bool = False
    # The installation folder's Unix mode (Wine makes its security from it:
    # 0o777 lets Everyone add, delete and rename its entries).
    folder_mode: int = None
    on_32bit_windows_too: bool = False

    @property
    def record_type(self):
        """An error for codes 1 to 6; a warning for 7, 3010 and a newer package kept."""
        if self.exit_code:
            return ("error" if self.exit_code < EXIT_UNANSWERED or
                    self.exit_code == EXIT_INVALID_COMMAND_LINE else "warning")
        return "warning" if self.newer_kept else "information"

    @property
    def newer_kept(self):
        return (isinstance(self.installed, int) and self.installed > CARRIED_VERSION and
                self.package == KEPT and self.exit_code == 0)

    @property
    def event_id(self):
        return {EXIT_RESTART_PENDING: 110, 1618: 118,
                EXIT_INVALID_COMMAND_LINE: 139}.get(self.exit_code, 100 + self.exit_code)

    @property
    def detected(self):
        """The version the "lxrq.pak" value names afterwards: the folder's once a pending
        replacement is done, written by every run that reached the package step (the one
        still installed after a failed write); none where the run ended before."""
        if self.exit_code == EXIT_RESTART_PENDING or (self.exit_code == 0 and
                                                      self.package == CARRIED):
            return CARRIED_VERSION
        reached = self.newer_kept or self.exit_code == EXIT_PACKAGE_NOT_WRITTEN
        return self.installed if reached and isinstance(self.installed, int) else None


ROWS = [
    Row("typical_run_russian",
        "the typical run under ru_RU: Russian confirmation, 1039 replaced by 1040, "
        "EstimatedSize recorded, the launch answered Yes starts Lexoria and brings it to the "
        "front; the record names the outcome and the answered boxes in English",
        answers=("yes", "yes"), boxes=(CONFIRM_RU, LAUNCH_RU), launched=True,
        record=("Exit code 0: the package was written.\r\n"
                "Question box, answered Yes:\r\n" + CONFIRMATION_EN[:40],),
        on_32bit_windows_too=True),
    Row("typical_run_english",
        "the typical run under en_US: the confirmation is English with caption \"Sound "
        "question\", the launch question still Russian with caption \"Lexoria update\"",
        answers=("yes", "no"), lang=EN, boxes=(CONFIRM_EN, LAUNCH_EN),
        record=("Question box, answered Yes:\r\n" + CONFIRMATION_EN[:78],),  # to the title's end
        on_32bit_windows_too=True),
    Row("quiet_mode", "\"modest\": the update without any box, and nothing started",
        args=("modest",), on_32bit_windows_too=True),
    Row("quiet_mode_in_capitals", "\"MODEST\" is quiet mode as well",
        args=("MODEST",), on_32bit_windows_too=True),
    Row("quiet_mode_with_runapp_in_mixed_case",
        "\"modest RunApp\": the update without a box, then Lexoria started, shown and "
        "brought to the front",
        args=("modest", "RunApp"), launched=True, on_32bit_windows_too=True),
    Row("runapp_as_first_argument_is_normal_mode",
        "\"runapp\" alone is no quiet mode: both questions, and a launch answered No starts "
        "nothing",
        args=("runapp",), answers=("yes", "no"), boxes=(CONFIRM_RU, LAUNCH_RU)),
    Row("nothing_to_update_without_entry_or_folder",
        "no uninstall entry and no Lexoria under Program Files: \"no subject of update\", "
        "exit code 4, no folder and no entry created",
        registered=False, folder=False, answers=("ok",), exit_code=EXIT_NO_INSTALLATION,
        boxes=(NO_SUBJECT,), package=None, size=False, on_32bit_windows_too=True),
    Row("nothing_to_update_in_an_empty_default_folder",
        "no uninstall entry and an empty Lexoria folder under Program Files: the refusal, "
        "and the folder as it was",
        registered=False, installed=None, exe=False, answers=("ok",),
        exit_code=EXIT_NO_INSTALLATION, boxes=(NO_SUBJECT,), package=KEPT, size=False),
    Row("nothing_to_update_when_lexoria_exe_is_a_directory",
        "a directory in the place of Lexoria.exe is no installation: the refusal, nothing "
        "written",
        exe=DIRECTORY, answers=("ok",), exit_code=EXIT_NO_INSTALLATION, boxes=(NO_SUBJECT,),
        package=KEPT, size=False),
    Row("running_lexoria_asked_to_quit_then_no",
        "a running Lexoria gets WM_QUIT while the confirmation is still unanswered; No then "
        "writes no file and no registry value",
        running={}, answers=("no",), answer_delay_ms=3000, boxes=(CONFIRM_RU,), package=KEPT,
        size=False, asked_to_quit=True),
    Row("running_lexoria_asked_to_quit_then_yes",
        "a running Lexoria gets WM_QUIT before the confirmation is answered Yes, and the "
        "update goes on",
        running={}, answers=("yes", "no"), answer_delay_ms=3000, boxes=(CONFIRM_RU, LAUNCH_RU),
        asked_to_quit=True),
    Row("running_lexoria_during_a_quiet_update",
        "\"modest\" with a running Lexoria: WM_QUIT, and the update without a box",
        running={}, args=("modest",), asked_to_quit=True),
    Row("running_lexoria_lets_go_of_the_package_after_the_quit",
        "Lexoria's own updater's run: Lexoria holds lxrq.pak (no delete sharing) for 3 s after "
        "the quit request; \"modest\" waits for it and installs without a box",
        running={"hold": "lxrq.pak", "quit_delay_ms": 3000}, args=("modest",),
        asked_to_quit=True, on_32bit_windows_too=True),
    Row("running_lexoria_lets_go_of_the_package_after_the_quit_then_runapp",
        "the same with \"modest runapp\": the package installed without a box, then a new "
        "Lexoria started and brought to the front",
        running={"hold": "lxrq.pak", "quit_delay_ms": 3000}, args=("modest", "runapp"),
        asked_to_quit=True, launched=True, on_32bit_windows_too=True),
    Row("running_lexoria_never_lets_go_of_the_package",
        "a Lexoria that holds lxrq.pak and ignores the quit request: the replacement is tried "
        "for 15 s, then \"Can't install file\" and exit code 6; the installed file byte for "
        "byte, the new one removed again, the size and the launch still follow",
        running={"hold": "lxrq.pak", "ignore_quit": 1}, args=("modest", "runapp"), lang=EN,
        answers=("ok",), exit_code=EXIT_PACKAGE_NOT_WRITTEN,
        boxes=((INSTALL_FAILED_EN, TITLE_EN, OK_EN, "hand"),), package=KEPT,
        asked_to_quit=True, launched=True, quit_to_failure_ms=(15000, 20000)),
    Row("package_held_by_another_program",
        "a package another program holds without delete sharing, no Lexoria asked to quit: "
        "\"Не удается установить файл\" at once, exit code 6, the installed file byte for byte "
        "and no \"~lxrq.pak\" left; the flow goes on",
        holder="program", answers=("yes", "ok", "no"), exit_code=EXIT_PACKAGE_NOT_WRITTEN,
        boxes=(CONFIRM_RU, (INSTALL_FAILED_RU, TITLE_RU, OK_RU, "hand"), LAUNCH_RU),
        package=KEPT, confirmation_to_failure_ms=(0, 10000)),
    Row("newer_installed_package_kept_in_english",
        "the older-version question under en_US over an installed 1041: No keeps the file "
        "byte for byte",
        installed=1041, answers=("yes", "no", "no"), lang=EN,
        boxes=(CONFIRM_EN, (OLDER_QUESTION_EN, QUESTION_CAPTION_EN, YES_NO_EN, "question"),
               (LAUNCH_QUESTION, TITLE_EN, YES_NO_RU, QUESTION_UNDER_PROGRESS_WINDOW)),
        package=KEPT),
    Row("newer_installed_package_replaced_in_english",
        "the older-version question under en_US over an installed 1041: Yes replaces it",
        installed=1041, answers=("yes", "yes", "no"), lang=EN,
        boxes=(CONFIRM_EN, (OLDER_QUESTION_EN, QUESTION_CAPTION_EN, YES_NO_EN, "question"),
               (LAUNCH_QUESTION, TITLE_EN, YES_NO_RU, QUESTION_UNDER_PROGRESS_WINDOW))),
    Row("newer_installed_package_kept_while_a_scanner_reads_it",
        "the Russian older-version question comes also while a scanner holds the file open "
        "for reading with full sharing; No keeps it",
        installed=1041, holder="scanner", answers=("yes", "no", "no"),
        boxes=(CONFIRM_RU, (OLDER_QUESTION_RU, QUESTION_CAPTION_RU, YES_NO_RU, "question"),
               (LAUNCH_QUESTION, TITLE_EN, YES_NO_RU, QUESTION_UNDER_PROGRESS_WINDOW)),
        package=KEPT),
    Row("russian_user_on_a_western_system",
        "a Russian user (user locale 0x419) on a Windows whose language for non-Unicode "
        "programs is English (code page 1252), Lexoria in a folder named with a letter code "
        "page 1251 lacks: the confirmation, the older-version question with the package's "
        "path and the launch offer read in Cyrillic, the path in its own letters, as the "
        "scanner's row reads them under ru_RU; No keeps the newer file",
        lang=RU_ON_1252, win_dir=r"C:\Program Files\Lexoria Édition", installed=1041,
        answers=("yes", "no", "no"),
        boxes=(CONFIRM_RU, (OLDER_QUESTION_RU, QUESTION_CAPTION_RU, YES_NO_RU, "question"),
               (LAUNCH_QUESTION, TITLE_EN, YES_NO_RU, QUESTION_UNDER_PROGRESS_WINDOW)),
        package=KEPT),
    Row("quiet_mode_asks_before_replacing_a_newer_package",
        "\"modest\" asks no question of its own, but the older-version question still comes; "
        "No keeps the file",
        installed=1041, args=("modest",), answers=("no",),
        boxes=((OLDER_QUESTION_RU, QUESTION_CAPTION_RU, YES_NO_RU, "question"),),
        package=KEPT),
    Row("unattended_quiet_run_without_installation",
        "a rollout tool's \"modest\" on a PC without Lexoria: exit code 4 at once, the box's "
        "text in the record", args=("modest",), registered=False, folder=False,
        unattended=True, exit_code=EXIT_NO_INSTALLATION, package=None, size=False,
        record=("Exit code 4: no installation of Lexoria to update.\r\nError " + NOT_SHOWN +
                "OK taken:\r\n" + NO_SUBJECT_EN,), on_32bit_windows_too=True),
    Row("unattended_quiet_runapp_updates_and_starts_nothing",
        "a rollout tool's \"modest runapp\": 1039 replaced, Lexoria not started unseen",
        args=("modest", "runapp"), unattended=True, on_32bit_windows_too=True,
        record=("Exit code 0: the package was written.\r\nInstallation folder: C:\\Program "
                "Files\\Lexoria\\\r\nPackage version before: 1039, after: 1040.",
                "Lexoria was not started")),
    Row("unattended_normal_mode_changes_nothing",
        "a rollout tool's normal mode: the confirmation takes No, exit code 7, nothing written, "
        "the running Lexoria not asked to quit", unattended=True, running={},
        exit_code=EXIT_UNANSWERED, package=KEPT, size=False,
        record=("Exit code 7: a question nobody could answer: nothing was changed.\r\n"
                "Question " + NOT_SHOWN + "No taken:\r\n" + CONFIRMATION_EN[:40],)),
    Row("unattended_quiet_run_keeps_a_newer_package",
        "a rollout tool's \"modest\" over 1041: the older-version question takes No",
        args=("modest",), installed=1041, unattended=True, package=KEPT,
        record=("Exit code 0: the newer installed package was kept.\r\nQuestion " + NOT_SHOWN,)),
    Row("unattended_rollout_while_lexoria_is_open_on_the_desktop",
        "a rollout tool's \"modest\" while the user's Lexoria holds lxrq.pak and never lets "
        "go: no quit request reaches it from the hidden station, so the replacement is left "
        "to the next restart at once, exit code 3010, the installed file byte for byte and "
        "the new one waiting as \"~lxrq.pak\"; after Wine's restart the new package is in "
        "place", args=("modest",), unattended=True,
        running={"hold": "lxrq.pak", "ignore_quit": 1}, exit_code=EXIT_RESTART_PENDING,
        package=KEPT, temp_left=True, restart=True,
        record=("Exit code 3010: the package is written and replaces the installed one at the "
                "next restart.",), on_32bit_windows_too=True),
    Row("unattended_rollout_in_a_folder_users_may_change_queues_nothing",
        "the same rollout where standard users may change the installation folder (mode 0777): "
        "a rename queued for the restart would be resolved by names they choose, so nothing is "
        "queued: exit code 6, the installed file byte for byte, no \"~lxrq.pak\" left, and the "
        "record says why", args=("modest",), unattended=True, folder_mode=0o777,
        running={"hold": "lxrq.pak", "ignore_quit": 1}, exit_code=EXIT_PACKAGE_NOT_WRITTEN,
        package=KEPT,
        record=("Exit code 6: the package could not be written.",)),
    Row("help_switch_shows_the_usage_and_changes_nothing",
        "\"/?\" on the visible desktop: the usage text in a box, exit code 0, nothing else: no "
        "file, no registry value, a running Lexoria not asked to quit", args=("/?",),
        running={}, answers=("ok",), boxes=((USAGE_RU, TITLE_RU, OK_RU, "asterisk"),),
        package=KEPT, size=False, record=("Exit code 0: the usage text was asked for",)),
    Row("unknown_switch_on_a_hidden_station_changes_nothing",
        "an unknown switch where nobody can see the run: no box, exit code 1639 (as msiexec), "
        "the usage text in the record, nothing changed", args=("/passive", "modest"),
        unattended=True, exit_code=EXIT_INVALID_COMMAND_LINE, package=KEPT, size=False,
        record=("Exit code 1639: the command line is invalid: nothing was done.\r\nError " +
                NOT_SHOWN + "OK taken:\r\nUnknown argument: /passive",)),
    Row("quiet_switch_on_the_visible_desktop_keeps_a_newer_package",
        "\"/quiet\" on the visible desktop: no box at all; the question before replacing a "
        "newer package takes No, exit code 0", args=("/quiet",), installed=1041, package=KEPT,
        record=("Question box, not shown (/quiet), No taken:",)),
    Row("quiet_switch_on_the_visible_desktop_over_a_held_package",
        "\"/quiet\" on the visible desktop while Lexoria holds its package and ignores the quit "
        "request: no box, the replacement left to the next restart, exit code 3010; after "
        "Wine's restart the new package is in place", args=("/quiet",),
        running={"hold": "lxrq.pak", "ignore_quit": 1}, asked_to_quit=True,
        quit_to_failure_ms=None, exit_code=EXIT_RESTART_PENDING, package=KEPT, temp_left=True,
        restart=True),
    Row("unreadable_installed_version_is_replaced_without_question",
        "an installed lxrq.pak of 5 bytes (no version word) counts as version 0 and is "
        "replaced without the older-version question",
        installed=UNREADABLE, answers=("yes", "no"), boxes=(CONFIRM_RU, LAUNCH_RU)),
]


class ScenarioTest(UpdateAssertions, harness.E2ETestCase):
    def arrange(self, row):
        """The installation and the programs around it, as the row has them."""
        inst = harness.Installation(self.wine, row.win_dir)
        self.addCleanup(inst.clean)
        if row.folder:
            inst.lay_out(pak_version=row.installed if isinstance(row.installed, int) else None,
                         standin=row.exe is True)
            if row.folder_mode is not None:
                inst.dir.chmod(row.folder_mode)
            if row.installed == UNREADABLE:
                inst.pak.write_bytes(b"LXRQ\x01")
            if row.exe == DIRECTORY:
                inst.exe.mkdir()
        if row.registered:
            inst.register()
        if row.running is not None:
            inst.start_lexoria(row.running, wait_for="window")
            if "hold" in row.running:
                inst.wait_for_event("holding")
        if row.holder:
            holder = self.wine.start_background(
                [self.wine.helper("hold_open"), inst.win_dir + "\\lxrq.pak", "600",
                 *(["full"] if row.holder == "scanner" else [])], name="hold_open")
            self.addCleanup(holder.kill)
            holder.wait_for_output("held=1")
        return inst

    def run_row(self, row):
        # Another row's run may have left its value there, or a rename for a
        # restart that did not come.
        self.wine.reg_delete_key(DETECTION_KEY)
        self.wine.reg_delete_value(SESSION_MANAGER_KEY, "PendingFileRenameOperations")
        inst = self.arrange(row)
        before = folder_state(inst.dir) if inst.dir.exists() else None
        already_running = [e.pid for e in inst.events_named("started")]
        if row.unattended:
            # Registered anew by the run, as on a PC where it never ran.
            self.wine.reg_delete_key(EVENT_SOURCE_KEY)

        run = self.run_setup(row.args, answers=row.answers, lang=row.lang,
                             answer_delay_ms=row.answer_delay_ms, exit_code=row.exit_code,
                             env={"WINEDEBUG": harness.EVENT_LOG_DEBUG},
                             hidden_station=row.unattended, timeout=60 if row.unattended else 180,
                             # Linux keeps an exit status's low 8 bits: 3010 whole only
                             # as Wine's own clock run reports it.
                             timed=row.exit_code > 255)
        self.check_record(row, run)

        pak = inst.win_dir + "\\lxrq.pak"
        self.assertBoxes(run, [(text.replace("{pak}", pak), caption, buttons, icon)
                               for text, caption, buttons, icon in row.boxes], lang=row.lang)
        if not row.folder:
            self.assertFalse(inst.dir.exists(), "the folder was created")
        elif row.package == CARRIED:
            self.assertCarriedPackage(inst)
        elif row.temp_left:
            self.assertEqual([f for f in folder_state(inst.dir) if f[0] != "~lxrq.pak"], before)
            self.assertCarriedPackageLeftAsTempFile(inst)
        else:
            self.assertEqual(folder_state(inst.dir), before, "the folder changed")
        if row.folder and not row.temp_left:
            self.assertNoTempFile(inst)
            # Nothing is left for the restart to rename: only a run that keeps
            # the new package as "~lxrq.pak" queues its rename.
            pending = self.wine.reg_query(SESSION_MANAGER_KEY, "PendingFileRenameOperations")
            self.assertNotIn("lxrq.pak", pending[1] if pending else "")
        if row.size:
            # A Lexoria running before the setup logs while the setup walks the
            # folder; one started by the launch only after the walk.
            if row.running is not None:
                self.assertEstimatedSize(inst, written_after=("standin.log",))
            else:
                recorded = self.wine.reg_query(harness.UNINSTALL_KEY, "EstimatedSize")
                self.assertEqual(recorded,
                                 ("REG_DWORD", "0x%x" % tree_kib(inst.dir, ("standin.log",))))
        else:
            self.assertNoEstimatedSize()
        if not row.registered:
            self.assertNoEntryCreated()
        detected = None if row.detected is None else ("REG_DWORD", "0x%x" % row.detected)
        for key in (harness.UNINSTALL_KEY, DETECTION_KEY):
            self.assertEqual(self.wine.reg_query(key, "lxrq.pak"), detected, key)
        if row.running is not None:
            self.check_quit(row, inst, run, already_running[0])
        if row.restart:
            self.wine.restart_windows()
            self.assertCarriedPackage(inst)
            self.assertNoTempFile(inst)
        if row.launched:
            self.assertStartedAndInFront(inst, already_running)
        elif inst.dir.exists():
            self.assertNotStarted(inst, len(already_running))
        if row.confirmation_to_failure_ms:
            low, high = row.confirmation_to_failure_ms
            self.assertTrue(low <= run.boxes[1].tick - run.boxes[0].tick < high, run.describe())

    def check_record(self, row, run):
        """One record of the row's type and id; an unattended run ended within seconds
        and registered the event source."""
        self.assertEqual([(r.type, r.event_id) for r in run.records],
                         [(row.record_type, row.event_id)], run.describe())
        for piece in row.record:
            self.assertIn(piece, run.records[0].text)
        if row.unattended:
            self.assertLess(run.ms, 10000, run.describe())
            self.assertEqual([self.wine.reg_query(EVENT_SOURCE_KEY, name) for name in
                              ("EventMessageFile", "TypesSupported", "CustomSource")],
                             [("REG_EXPAND_SZ", r"%SystemRoot%\System32\EventCreate.exe"),
                              ("REG_DWORD", "0x7"), ("REG_DWORD", "0x1")])

    def check_quit(self, row, inst, run, lexoria):
        """The quit request to the Lexoria running before the setup (pid LEXORIA)."""
        if not row.asked_to_quit:
            self.assertEqual(inst.events_named("WM_QUIT"), [])
            return
        quit_event = inst.wait_for_event("WM_QUIT")
        self.assertEqual((quit_event.pid, quit_event.detail), (lexoria, "wparam=0"))
        if row.answer_delay_ms:
            # Asked before the confirmation was answered: the robot answers
            # ANSWER_DELAY_MS after it logged the box.
            self.assertLess(quit_event.tick, run.boxes[0].tick + row.answer_delay_ms,
                            "WM_QUIT came only after the confirmation was answered")
        if row.running.get("ignore_quit"):
            inst.wait_for_event("quit-ignored")
            if not row.quit_to_failure_ms:
                return
            low, high = row.quit_to_failure_ms
            waited = run.boxes[0].tick - quit_event.tick
            self.assertTrue(low <= waited < high,
                            "the failure came %d ms after the quit request" % waited)
            return
        ended = inst.wait_until(lambda: inst.events_named("exit", pid=lexoria), timeout=20,
                                what="the end of the Lexoria asked to quit")[0]
        # It held the package for its delay (Sleep, measured in the coarse
        # steps of GetTickCount) before it ended; the setup had waited.
        held = row.running.get("quit_delay_ms", 0)
        self.assertGreaterEqual(ended.tick - quit_event.tick, held - 100)

    def test_links_and_leftovers_in_the_installation_folder(self):
        """Tests what a standard user may plant in a writable installation folder (links made
        on the Linux side): hard links at "~lxrq.pak" and lxrq.pak to files outside leave both
        files byte-identical and the update lands; a link at "~lxrq.pak" to a folder leaves
        the folder and its file untouched, a dangling one gets nothing made at its target; a
        read-only leftover is replaced and the update lands; a hard link to a read-only file
        outside keeps that file's content and its mode 0444 (the attribute belongs to the
        file), and the update fails with its box. Wine follows the two symbolic links even
        where the setup asks to open the name itself, so the setup sees the name lead out of
        the folder and leaves it; there the update fails with its box, where Windows opens
        the link itself, removes it and the update lands."""
        outside = self.wine.unix_path(r"C:\outside")
        self.addCleanup(shutil.rmtree, outside, True)
        for case in ("hard links", "folder link", "dangling link", "read-only leftover",
                     "read-only hard link"):
            with self.subTest(case):
                inst = self.install(pak_version=1039)
                inst.register()
                temp = inst.file("~lxrq.pak")
                if temp.is_symlink() or temp.exists():
                    temp.unlink()
                shutil.rmtree(outside, True)
                (outside / "folder").mkdir(parents=True)
                (outside / "folder" / "kept.txt").write_bytes(b"kept")
                victim = outside / "settings.dat"
                victim.write_bytes(b"a file of the system, not of Lexoria\r\n" * 100)
                older = outside / "older.pak"
                older.write_bytes(harness.make_pak(1039, 4096))
                if case == "hard links":
                    inst.pak.unlink()
                    os.link(older, inst.pak)
                    os.link(victim, temp)
                elif case == "folder link":
                    temp.symlink_to(outside / "folder", target_is_directory=True)
                elif case == "dangling link":
                    temp.symlink_to(outside / "evil.dll")
                elif case == "read-only hard link":
                    victim.chmod(0o444)
                    os.link(victim, temp)
                else:
                    temp.write_bytes(b"an earlier run's")
                    temp.chmod(0o444)
                failing = case in ("folder link", "dangling link", "read-only hard link")
                victim_before, older_before = victim.read_bytes(), older.read_bytes()
                victim_mode = victim.stat().st_mode

                run = self.run_setup(["modest"], answers=("ok",) if failing else (), lang=EN,
                                     exit_code=EXIT_PACKAGE_NOT_WRITTEN if failing else 0)

                self.assertEqual((outside / "folder" / "kept.txt").read_bytes(), b"kept")
                self.assertEqual(victim.read_bytes(), victim_before)
                self.assertEqual(victim.stat().st_mode, victim_mode)
                self.assertEqual(older.read_bytes(), older_before)
                self.assertFalse((outside / "evil.dll").exists())
                self.assertEqual(len(run.boxes), 1 if failing else 0, run.describe())
                if not failing:
                    self.assertCarriedPackage(inst)
                    self.assertNoTempFile(inst)
                inst.clean()

    def test_folder_held_from_the_check_to_the_end(self):
        """Tests that a standard user cannot trade the installation folder for another while the
        confirmation is open: in a folder Everyone may change (C:\\Lexoria, mode 0777), its
        rename through the Windows API fails while the setup holds it (Wine: error 32), so no
        link can take its name, and Yes then updates the real folder."""
        inst = self.install(r"C:\Lexoria", pak_version=1039)
        inst.dir.chmod(0o777)
        inst.register()
        moved_away = self.wine.unix_path(r"C:\Lexoria.old")
        self.addCleanup(shutil.rmtree, moved_away, True)
        with self.wine.robot(["yes", "no"], answer_delay_ms=3000, name="held-folder") as robot:
            result = {}
            worker = threading.Thread(target=lambda: result.update(run=self.wine.wine(
                [self.wine.product()], timeout=180, name="held-folder-setup")))
            worker.start()
            try:
                robot.wait_for_boxes(1, timeout=120)
                move = self.wine.wine([self.wine.helper("poke"), "move", r"C:\Lexoria",
                                       r"C:\Lexoria.old"], timeout=30, name="poke-move")
            finally:
                worker.join()
        self.assertEqual(result["run"].returncode, 0, result["run"].stderr)
        self.assertIn("moved=0 error=32", move.stdout)
        self.assertEqual(robot.boxes()[0].text_str, CONFIRMATION_RU)
        self.assertFalse(moved_away.exists())
        self.assertCarriedPackage(inst)
        self.assertNoTempFile(inst)

    def test_two_runs_at_once_give_one_update_and_one_1618(self):
        """Tests two runs at once: a "modest" run started while a first run waits on its
        confirmation (and a Lexoria runs that the first did not ask to quit) shows "Выполняется
        другое обновление Lexoria..." and, while the first still waits, has changed nothing: no
        file, no registry value, no quit request; it ends with 1618, its record a warning of id
        118. Yes then lets the first update. Wine 8 has no private namespaces (a stub of
        CreateBoundaryDescriptorW alone), so there both runs meet at the global name, as on
        Windows XP."""
        inst = self.install(pak_version=1039)
        inst.register()
        report = self.wine.runs_dir / "second-run.txt"
        runs, threads = {}, []

        def start(name, command):
            threads.append(threading.Thread(target=lambda: runs.update({name: self.wine.wine(
                command, timeout=180, env={"WINEDEBUG": harness.EVENT_LOG_DEBUG}, name=name)})))
            threads[-1].start()

        with self.wine.robot(["yes", "ok", "no"], answer_delay_ms=10000, name="two-runs") as robot:
            try:
                start("first", [self.wine.product()])
                robot.wait_for_boxes(1, timeout=120)
                inst.start_lexoria(wait_for="window")
                before = folder_state(inst.dir)
                start("second", [self.wine.helper("timed_run"), self.wine.windows_path(report),
                                 self.wine.windows_path(self.wine.product()), "modest"])
                deadline = time.monotonic() + 60
                while ANOTHER_RUN_RU.encode("cp1251").hex() not in self.wine.wine(
                        [self.wine.helper("poke"), "window", "#32770"], name="poke-box").stdout:
                    self.assertLess(time.monotonic(), deadline, "no box of the second run")
                self.assertEqual(folder_state(inst.dir), before)
                self.assertEqual(inst.events_named("WM_QUIT"), [])
                for name in ("EstimatedSize", "lxrq.pak"):
                    self.assertIsNone(self.wine.reg_query(harness.UNINSTALL_KEY, name), name)
                # The confirmation is still open: none of that was the first run's to do yet.
                self.assertEqual(len(robot.boxes()), 1, robot.boxes())
            finally:
                for thread in threads:
                    thread.join()
        self.assertEqual([(r.type, r.event_id) for r in
                          harness.read_event_records(runs["first"].stderr)],
                         [("information", 100)], runs["first"].stderr[-2000:])
        self.assertIn("exit=%d" % EXIT_ANOTHER_UPDATE_RUNNING, report.read_text())
        records = harness.read_event_records(runs["second"].stderr)
        self.assertEqual([(r.type, r.event_id) for r in records], [("warning", 118)])
        self.assertIn("Exit code 1618: another update of Lexoria is in progress: nothing was "
                      "changed.\r\nError box, answered OK:\r\n" + ANOTHER_RUN_EN,
                      records[0].text)
        self.assertEqual([(b.text_str, b.caption_str, b.icon) for b in robot.boxes()],
                         [(CONFIRMATION_RU, QUESTION_CAPTION_RU, "question"),
                          (ANOTHER_RUN_RU, TITLE_RU, "hand"),
                          (LAUNCH_QUESTION, TITLE_EN, "question")])
        self.assertCarriedPackage(inst)
        self.assertNoTempFile(inst)
        self.assertEqual(self.wine.reg_query(harness.UNINSTALL_KEY, "lxrq.pak"),
                         ("REG_DWORD", "0x%x" % CARRIED_VERSION))

    def test_links_on_the_way_to_the_folder(self):
        """Tests the installation folder reached through a link (made on the Linux side; Wine
        reports it by its name and gives it its target's security): in C:\\Open, which Everyone
        may change (mode 0777), a standard user could have made it, so the folder is refused:
        "Can't install file", exit code 6, nothing written, the record says why; in C:\\Closed
        (mode 0755) it is followed, and the package lands in the real folder."""
        real = self.install(r"C:\Real\Lexoria", pak_version=1039)
        self.addCleanup(shutil.rmtree, real.dir.parent, True)
        for parent, mode, written in ((r"C:\Open", 0o777, False), (r"C:\Closed", 0o755, True)):
            with self.subTest(parent):
                holder = self.wine.unix_path(parent)
                holder.mkdir(exist_ok=True)
                holder.chmod(mode)
                self.addCleanup(shutil.rmtree, holder, True)
                (holder / "Lexoria").symlink_to(real.dir, target_is_directory=True)
                inst = harness.Installation(self.wine, parent + r"\Lexoria")
                inst.register()
                before = folder_state(real.dir)
                run = self.run_setup(["modest"], answers=() if written else ("ok",), lang=EN,
                                     exit_code=0 if written else EXIT_PACKAGE_NOT_WRITTEN,
                                     env={"WINEDEBUG": harness.EVENT_LOG_DEBUG})
                if written:
                    self.assertBoxes(run, [])
                    self.assertCarriedPackage(real)
                else:
                    self.assertBoxes(run, [(INSTALL_FAILED_EN.format(pak=parent + r"\Lexoria\lxrq.pak"),
                                            TITLE_EN, OK_EN, "hand")])
                    self.assertEqual(folder_state(real.dir), before)
                    self.assertIsNone(self.wine.reg_query(harness.UNINSTALL_KEY, "EstimatedSize"))
                    # Wine prints the record's first 300 characters or so: the reason's
                    # start (the unit tests read it whole).
                    self.assertIn("Package version: not read.\r\nThe installation folder was "
                                  "refused", run.records[0].text)
                self.assertNoTempFile(real)
                self.assertNotStarted(real)

    def test_log_file_and_a_link_at_its_name(self):
        """Tests /log: the run appends a UTF-8 log (a header with its version and command line,
        its steps, its record) to the file it names, a second run below the first; a link a
        user planted at the name (a symbolic link, made on the Linux side, to another file) is
        not followed: that file stays as it was, and the run itself goes on as without a log."""
        inst = self.install(pak_version=1039)
        inst.register()
        logs = self.wine.unix_path(r"C:\logs")
        logs.mkdir(exist_ok=True)
        self.addCleanup(shutil.rmtree, logs, True)
        log = logs / "lexoria.log"
        for run_number in (1, 2):
            self.run_setup(["modest", "/log", r"C:\logs\lexoria.log"])
        text = log.read_bytes().decode("utf-8")
        self.assertEqual(text.count("==== Lexoria update 1.0.%d.0, " % CARRIED_VERSION), 2, text)
        for piece in ("Command line: ", " modest /log C:\\logs\\lexoria.log\r\n",
                      "1. Package lxrq.pak, version 1040.\r\n",
                      "7. Installation folder taken and held: C:\\Program Files\\Lexoria\\; "
                      "package version there: 1039.\r\n",
                      "9. The package is written.\r\n",
                      "Record, event id 100:\r\nExit code 0: the package was written.\r\n",
                      "Package version before: 1040, after: 1040.\r\n"):
            self.assertIn(piece, text)
        self.assertRegex(text, r"Account: [^\r\n(]+\\[^\r\n(]+ \(S-1-5-21-[0-9-]+\); session \d+")
        victim = logs / "victim.txt"
        victim.write_bytes(b"not a log\r\n")
        (logs / "planted.log").symlink_to(victim)
        self.run_setup(["modest", "/log", r"C:\logs\planted.log"])
        self.assertEqual(victim.read_bytes(), b"not a log\r\n")
        self.assertCarriedPackage(inst)

    def test_a_queued_replacement_survives_a_later_run(self):
        """Tests a run after a 3010, before the restart, while Lexoria still holds its package:
        an attended "modest" run asks it to quit, waits, and ends with its box and exit code 6,
        but keeps the queued "~lxrq.pak" (its rename queued once) and the detection value 1040;
        Wine's restart then puts the new package in place."""
        inst = self.install(pak_version=1039)
        inst.register()
        inst.start_lexoria({"hold": "lxrq.pak", "ignore_quit": 1}, wait_for="window")
        inst.wait_for_event("holding")
        self.run_setup(["modest"], hidden_station=True, exit_code=EXIT_RESTART_PENDING)
        self.assertCarriedPackageLeftAsTempFile(inst)
        pending = self.wine.reg_query(SESSION_MANAGER_KEY, "PendingFileRenameOperations")
        self.run_setup(["modest"], answers=("ok",), exit_code=EXIT_PACKAGE_NOT_WRITTEN,
                       timeout=120)
        self.assertCarriedPackageLeftAsTempFile(inst)
        self.assertEqual(self.wine.reg_query(SESSION_MANAGER_KEY, "PendingFileRenameOperations"),
                         pending, "the rename was queued a second time")
        for key in (harness.UNINSTALL_KEY, DETECTION_KEY):
            self.assertEqual(self.wine.reg_query(key, "lxrq.pak"),
                             ("REG_DWORD", "0x%x" % CARRIED_VERSION), key)
        inst.stop_lexoria()
        self.wine.restart_windows()
        self.assertCarriedPackage(inst)
        self.assertNoTempFile(inst)

    def test_detection_key_for_an_entry_in_either_view(self):
        """Tests that the setup's own key, HKLM\\SOFTWARE\\Orvane\\Lexoria Update in the 64-bit
        view, holds the detection value beside the uninstall entry's, whether Lexoria's
        installer wrote its entry as a 64-bit or as a 32-bit program (under WOW6432Node)."""
        for bits in (64, 32):
            with self.subTest(installer_bits=bits):
                self.wine.reg_delete_key(DETECTION_KEY)
                inst = self.install(pak_version=1039)
                key = inst.register(installer_bits=bits)
                self.run_setup(["modest"])
                self.assertEqual(self.wine.reg_query(DETECTION_KEY, "lxrq.pak", view=64),
                                 ("REG_DWORD", "0x%x" % CARRIED_VERSION))
                self.assertEqual(self.wine.reg_query(key, "lxrq.pak"),
                                 ("REG_DWORD", "0x%x" % CARRIED_VERSION))
                inst.clean()
                self.wine.reg_delete_key(key)

    def test_a_first_install_killed_while_writing(self):
        """Tests a first install (no lxrq.pak yet) killed in the middle of the package's write,
        as a management tool's time limit or a power cut ends it: no lxrq.pak is left, only
        part of "~lxrq.pak", which the next run clears before it writes the package whole."""
        inst = self.install(pak_version=None)
        inst.register()
        temp = inst.file("~lxrq.pak")
        caught = None
        for attempt in range(5):
            setup = self.wine.start_background([self.wine.product(), "modest"],
                                               name="killed-setup-%d" % attempt)
            deadline = time.monotonic() + 60
            while caught is None and setup.alive() and time.monotonic() < deadline:
                size = temp.stat().st_size if temp.exists() else 0
                if 0 < size < CARRIED_SIZE:
                    setup.kill()
                    caught = size
                time.sleep(0.001)
            setup.kill()
            self.wine.kill_strays()
            if caught is not None:
                break
            # It got through first: again from no package.
            for leftover in (inst.pak, temp):
                if leftover.exists():
                    leftover.unlink()
        self.assertIsNotNone(caught, "no run was caught in the middle of its write")
        print("killed with %d bytes of ~lxrq.pak written" % caught)
        self.assertFalse(inst.pak.exists(), "a truncated lxrq.pak was left")
        self.assertLess(temp.stat().st_size, CARRIED_SIZE)
        self.run_setup(["modest"])
        self.assertCarriedPackage(inst)
        self.assertNoTempFile(inst)

    def test_progress_window_appears_after_the_older_version_question(self):
        """Tests that the empty progress window is on screen after the older-version
        question, while the launch question waits: class "PlainWindow", 408 x 76 and
        centred, topmost, with its label and progress bar where they belong (a screenshot
        is kept for looking)."""
        inst = harness.Installation(self.wine)
        self.addCleanup(inst.clean)
        inst.lay_out(pak_version=1041)
        inst.register()
        with self.wine.robot(["yes", "yes", "no"], answer_delay_ms=4000,
                             name="progress-window") as robot:
            result = {}
            worker = threading.Thread(target=lambda: result.update(run=self.wine.wine(
                [self.wine.product()], timeout=180, name="progress-window-setup")))
            worker.start()
            try:
                # The launch question is up: the progress window shown again
                # after the older-version question stays until the end.
                robot.wait_for_boxes(3, timeout=120)
                probe = self.wine.wine([self.wine.helper("poke"), "window", "PlainWindow"],
                                       timeout=30, name="poke-window")
                shot = self.wine.screenshot(self.wine.runs_dir / "progress-window.png")
            finally:
                worker.join()
        run = result["run"]
        self.assertFalse(run.timed_out)
        self.assertEqual(run.returncode, 0)
        boxes = robot.boxes()
        self.assertEqual(len(boxes), 3)
        self.assertEqual(boxes[2].text_str, LAUNCH_QUESTION)
        seen = probe.stdout
        self.assertIn("window visible=1", seen)
        print("progress window as the system reports it:\n" + seen.strip())
        print("progress window screenshot:", shot)

        def fields(line):
            return dict(item.split("=", 1) for item in line.split()[1:])

        lines = seen.splitlines()
        window = fields(next(line for line in lines if line.startswith("window ")))
        width, height = 408, 76
        screen_w, screen_h = (int(v) for v in window["screen"].split("x"))
        self.assertEqual((int(window["width"]), int(window["height"])), (width, height), seen)
        self.assertEqual((int(window["left"]), int(window["top"])),
                         ((screen_w - width) >> 1, (screen_h - height) >> 1), seen)
        style, exstyle = int(window["style"], 16), int(window["exstyle"], 16)
        self.assertEqual(style & 0x00400000, 0x00400000, seen)  # WS_DLGFRAME
        self.assertEqual(style & 0xC0080000, 0, seen)  # no WS_POPUP, WS_CHILD, WS_SYSMENU
        self.assertEqual(exstyle & 0x00020009, 0x00020009, seen)  # modal frame, topmost, edge
        self.assertEqual(int(window["class_style"], 16), 0x0203, seen)
        self.assertEqual(window["text"], "", seen)  # shown again with an empty caption
        children = [fields(line) for line in lines if line.startswith("child ")]
        self.assertEqual(
            [(c["class"].lower(), int(c["left"]), int(c["top"]), int(c["width"]),
              int(c["height"]), c["text"]) for c in children],
            [("static", 2, 2, 399, 20, ""), ("msctls_progress32", 2, 24, 400, 20, "")], seen)
        self.assertEqual(int(children[0]["style"], 16) & 0x50000000, 0x50000000, seen)
        self.assertEqual(int(children[1]["style"], 16) & 0x50040000, 0x50040000, seen)


def _row_test(row):
    def test(self):
        self.run_row(row)

    test.__name__ = "test_" + row.name
    test.__doc__ = "Tests " + row.doc + "."
    if row.on_32bit_windows_too:
        test = harness.on_32bit_windows_too(test)
    return test


for _row in ROWS:
    assert not hasattr(ScenarioTest, "test_" + _row.name), _row.name
    setattr(ScenarioTest, "test_" + _row.name, _row_test(_row))

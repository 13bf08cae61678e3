"""Every path through the update, run whole under Wine with the real setup.

Each scenario starts the setup under test (carrying lxrq.pak of
version 1040, 88,000,000 bytes) against a stand-in Lexoria and checks the
whole outcome: the exit code, the files of the installation (no "~" file where
none belongs), the uninstall entry as "reg query" shows it, and every box the
robot saw, byte for byte in code page 1251 with its buttons and icon.

Paths asserted elsewhere are not repeated: the older-version question in
Russian, the file held open by another program and the progress window are in
test_package_install.py; the entry under WOW6432Node, quoted uninstall
strings, the timing of the quit request and the launch's waits are in
test_environment.py. The boxes here come from the fixed texts of the setup.
"""

import os
import shutil

import harness
import test_package_install as package_install
from harness import EN, RU

CARRIED_VERSION = 1040
EXIT_SETUP_DAMAGED = package_install.EXIT_SETUP_DAMAGED
EXIT_NO_INSTALLATION = package_install.EXIT_NO_INSTALLATION
EXIT_REGISTRY_UNREADABLE = package_install.EXIT_REGISTRY_UNREADABLE
EXIT_PACKAGE_NOT_WRITTEN = package_install.EXIT_PACKAGE_NOT_WRITTEN
CARRIED_SIZE = 88000000
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
NO_SUBJECT_RU = ("Нет предмета обновления - установленной программы Lexoria.\r\n"
                 "Пожалуйста, сначала установите программу.")

# Wine's own button labels: Russian for ru_RU (and for language id 25),
# English for en_US.
YES_NO_RU = [(6, "&Да"), (7, "&Нет")]
YES_NO_EN = [(6, "&Yes"), (7, "&No")]
# The launch question under en_US: Wine labels MessageBoxExA's buttons for
# language id 25 with its Russian "&Да" and "&Нет", which the robot reads in
# code page 1252, where Cyrillic letters become "?".
YES_NO_RU_READ_AS_1252 = [(6, "&??"), (7, "&???")]
# The icon of a box that comes while the progress window is still on screen:
# Wine gives MB_TOPMOST boxes no topmost style, the progress window covers the
# box's icon, and the robot cannot match its pixels.
QUESTION_UNDER_PROGRESS_WINDOW = ("question", "unknown")
OK_RU = [(1, "ОК")]
INSTALL_FAILED_RU = "Не удается установить файл "
OK_EN = [(1, "OK")]


def older_question_en(path, installed, carried):
    return (path + " file installing is of older version\r\n"
            "than the same already installed.\r\n\r\n"
            "Do you really want to replace existing\r\n"
            "new file version %d with an older file version %d?" % (installed, carried))


def events_named(installation, name):
    return [e for e in installation.standin_events() if e.event == name]


class UpdateAssertions:
    """What every scenario checks of a finished run; mixed into E2ETestCase."""

    def run_setup(self, args=(), answers=(), exe=None, exit_code=0, **kwargs):
        run = super().run_setup(args, answers, exe=exe, exit_code=exit_code, **kwargs)
        # A box that lacked the scripted button would hide a wrong box kind.
        self.assertEqual([b for b in run.boxes if b.missed], [], run.describe())
        return run

    def assertBoxes(self, run, expected, exe="lexoria-update.exe"):
        """EXPECTED: (text, caption, [(button id, label)], icon) per box, in order;
        the icon may be a tuple of the kinds allowed."""

        def icon_as_expected(box, index):
            allowed = expected[index][3] if index < len(expected) else None
            return allowed if isinstance(allowed, tuple) and box.icon in allowed else box.icon

        seen = [(b.text, b.caption, [(x.id, x.text) for x in b.buttons], icon_as_expected(b, i))
                for i, b in enumerate(run.boxes)]
        wanted = [(text.encode("cp1251"), caption.encode("cp1251"),
                   [(i, label.encode("cp1251")) for i, label in buttons], icon)
                  for text, caption, buttons, icon in expected]
        self.maxDiff = None
        self.assertEqual(seen, wanted, run.describe())
        for box in run.boxes:
            self.assertEqual(box.exe, exe, run.describe())

    def assertCarriedPackage(self, inst):
        data = inst.pak.read_bytes()
        self.assertEqual((harness.pak_version(data), len(data)), (CARRIED_VERSION, CARRIED_SIZE))

    def assertNoTempFile(self, inst):
        left = sorted(p.name for p in inst.dir.iterdir() if p.name.startswith("~"))
        self.assertEqual(left, [], "a temporary file was left in %s" % inst.dir)

    def assertEstimatedSize(self, inst, written_after=()):
        """EstimatedSize is the folder's size in KiB as the setup walked it.

        WRITTEN_AFTER names files that a running stand-in may have written to
        while or after the setup walked the folder: the value then lies
        between the size without them and the size with them.
        """
        recorded = self.wine.reg_query(harness.UNINSTALL_KEY, "EstimatedSize")
        self.assertIsNotNone(recorded, "EstimatedSize not written")
        kind, text = recorded
        self.assertEqual(kind, "REG_DWORD")
        value = int(text, 16)
        everything = package_install.tree_kib(inst.dir)
        without = sum(p.stat().st_size for p in inst.dir.rglob("*")
                      if p.is_file() and p.name not in written_after) >> 10
        self.assertTrue(without <= value <= everything,
                        "EstimatedSize %d, folder %d KiB (%d without %s)" % (
                            value, everything, without, written_after))

    def assertNoEstimatedSize(self):
        self.assertIsNone(self.wine.reg_query(harness.UNINSTALL_KEY, "EstimatedSize"))

    def assertNotStarted(self, inst):
        self.assertEqual(events_named(inst, "started"), [])
        self.assertEqual(inst.lexoria_processes(), [])

    def assertStartedAgainAndInFront(self, inst, old_pid):
        """A new Lexoria, not the one asked to quit, started once and brought to the front."""
        inst.wait_for_event("activated", timeout=20)
        started = [e for e in events_named(inst, "started") if e.pid != old_pid]
        self.assertEqual(len(started), 1, inst.standin_events())
        new_pid = started[0].pid
        self.assertTrue([e for e in events_named(inst, "shown") if e.pid == new_pid],
                        inst.standin_events())
        self.assertEqual([e for e in events_named(inst, "WM_QUIT") if e.pid == new_pid], [])

    def assertStartedAndInFront(self, inst):
        inst.wait_for_event("shown", timeout=20)
        inst.wait_for_event("activated", timeout=10)
        self.assertEqual(len(events_named(inst, "started")), 1, inst.standin_events())
        self.assertEqual(events_named(inst, "WM_QUIT"), [], "the launch asked it to quit")


class ScenarioTest(UpdateAssertions, harness.E2ETestCase):
    @harness.on_32bit_windows_too
    def test_typical_run_russian(self):
        """Tests the typical run under ru_RU: Russian confirmation, 1039 replaced by 1040,
        EstimatedSize recorded, launch answered Yes starts Lexoria and brings it to the front."""
        inst = self.install(pak_version=1039)
        inst.register()
        run = self.run_setup(answers=["yes", "yes"], lang=RU)
        self.assertBoxes(run, [
            (CONFIRMATION_RU, QUESTION_CAPTION_RU, YES_NO_RU, "question"),
            (LAUNCH_QUESTION, TITLE_EN, YES_NO_RU, "question"),
        ])
        self.assertCarriedPackage(inst)
        self.assertNoTempFile(inst)
        # The stand-in's log appears only with the launch, after the walk.
        self.assertEstimatedSize(inst, written_after=("standin.log",))
        self.assertStartedAndInFront(inst)

    @harness.on_32bit_windows_too
    def test_typical_run_english(self):
        """Tests the typical run under en_US: the confirmation is English with caption "Sound
        question", the launch question still Russian with caption "Lexoria update"."""
        inst = self.install(pak_version=1039)
        inst.register()
        run = self.run_setup(answers=["yes", "no"], lang=EN)
        self.assertBoxes(run, [
            (CONFIRMATION_EN, QUESTION_CAPTION_EN, YES_NO_EN, "question"),
            (LAUNCH_QUESTION, TITLE_EN, YES_NO_RU_READ_AS_1252, "question"),
        ])
        self.assertCarriedPackage(inst)
        self.assertNoTempFile(inst)
        self.assertEstimatedSize(inst)
        self.assertNotStarted(inst)

    @harness.on_32bit_windows_too
    def test_quiet_mode_without_runapp(self):
        """Tests that "modest" in any letter case updates without a box and starts nothing."""
        for argument in ("modest", "MODEST"):
            with self.subTest(argument=argument):
                inst = self.install(pak_version=1039)
                inst.register()
                run = self.run_setup([argument])
                self.assertBoxes(run, [])
                self.assertCarriedPackage(inst)
                self.assertNoTempFile(inst)
                self.assertEstimatedSize(inst)
                self.assertNotStarted(inst)
                inst.clean()

    @harness.on_32bit_windows_too
    def test_quiet_mode_with_runapp_in_mixed_case(self):
        """Tests that "modest RunApp" updates without a box, then starts Lexoria, shows its
        window and brings it to the front."""
        inst = self.install(pak_version=1039)
        inst.register()
        run = self.run_setup(["modest", "RunApp"])
        self.assertBoxes(run, [])
        self.assertCarriedPackage(inst)
        self.assertNoTempFile(inst)
        self.assertEstimatedSize(inst, written_after=("standin.log",))
        self.assertStartedAndInFront(inst)

    def test_runapp_as_first_argument_is_normal_mode(self):
        """Tests that "runapp" alone is no quiet mode: both questions are asked, and a launch
        answered No starts nothing."""
        inst = self.install(pak_version=1039)
        inst.register()
        run = self.run_setup(["runapp"], answers=["yes", "no"])
        self.assertBoxes(run, [
            (CONFIRMATION_RU, QUESTION_CAPTION_RU, YES_NO_RU, "question"),
            (LAUNCH_QUESTION, TITLE_EN, YES_NO_RU, "question"),
        ])
        self.assertCarriedPackage(inst)
        self.assertNoTempFile(inst)
        self.assertEstimatedSize(inst)
        self.assertNotStarted(inst)

    def test_refused_when_there_is_nothing_to_update(self):
        """Tests the "no subject of update" refusal, which writes nothing, for a default folder
        that exists but is empty and for a Lexoria.exe that is a directory."""

        def empty_default_folder():
            inst = harness.Installation(self.wine)
            self.addCleanup(inst.clean)
            inst.dir.mkdir(parents=True)
            return inst

        def exe_is_a_directory():
            inst = self.install(pak_version=1039, standin=False)
            inst.exe.mkdir()
            inst.register()
            return inst

        for name, prepare in (("default folder empty, no entry", empty_default_folder),
                              ("Lexoria.exe a directory", exe_is_a_directory)):
            with self.subTest(name):
                inst = prepare()
                before = sorted((p.name, p.is_dir(), p.stat().st_size if p.is_file() else 0,
                                 p.read_bytes() if p.is_file() else b"")
                                for p in inst.dir.iterdir())
                run = self.run_setup(answers=["ok"], exit_code=EXIT_NO_INSTALLATION)
                self.assertBoxes(run, [(NO_SUBJECT_RU, TITLE_RU, OK_RU, "hand")])
                after = sorted((p.name, p.is_dir(), p.stat().st_size if p.is_file() else 0,
                                p.read_bytes() if p.is_file() else b"")
                               for p in inst.dir.iterdir())
                self.assertEqual(after, before, "the folder changed")
                self.assertNoEstimatedSize()
                inst.clean()

    def test_confirmation_answered_no_writes_nothing(self):
        """Tests that a No to the confirmation writes no file and no registry value, while the
        running Lexoria has already been asked to quit."""
        inst = self.install(pak_version=1039)
        inst.register()
        inst.start_lexoria(wait_for="window")
        before = inst.pak.read_bytes()
        run = self.run_setup(answers=["no"])
        self.assertBoxes(run, [(CONFIRMATION_RU, QUESTION_CAPTION_RU, YES_NO_RU, "question")])
        self.assertEqual(inst.pak.read_bytes(), before)
        self.assertNoTempFile(inst)
        self.assertNoEstimatedSize()
        self.assertEqual(inst.wait_for_event("WM_QUIT", timeout=10).detail, "wparam=0")
        inst.wait_for_event("exit", timeout=10)

    def test_newer_installed_package_in_english(self):
        """Tests the older-version question under en_US over an installed 1041: No keeps the
        file byte for byte, Yes replaces it; no "~" file either way, size recorded both times."""
        for answer in ("no", "yes"):
            with self.subTest(answer=answer):
                inst = self.install(pak_version=1041)
                inst.register()
                before = inst.pak.read_bytes()
                run = self.run_setup(answers=["yes", answer, "no"], lang=EN)
                self.assertBoxes(run, [
                    (CONFIRMATION_EN, QUESTION_CAPTION_EN, YES_NO_EN, "question"),
                    (older_question_en(inst.win_dir + "\\lxrq.pak", 1041, CARRIED_VERSION),
                     QUESTION_CAPTION_EN, YES_NO_EN, "question"),
                    (LAUNCH_QUESTION, TITLE_EN, YES_NO_RU_READ_AS_1252,
                     QUESTION_UNDER_PROGRESS_WINDOW),
                ])
                if answer == "no":
                    self.assertEqual(inst.pak.read_bytes(), before)
                else:
                    self.assertCarriedPackage(inst)
                self.assertNoTempFile(inst)
                self.assertEstimatedSize(inst)
                inst.clean()

    def test_unreadable_installed_version_is_replaced_without_question(self):
        """Tests that an installed lxrq.pak of 5 bytes (no version word) counts as version 0
        and is replaced without the older-version question."""
        inst = self.install(pak_version=None)
        inst.pak.write_bytes(b"LXRQ\x01")
        inst.register()
        run = self.run_setup(answers=["yes", "no"])
        self.assertBoxes(run, [
            (CONFIRMATION_RU, QUESTION_CAPTION_RU, YES_NO_RU, "question"),
            (LAUNCH_QUESTION, TITLE_EN, YES_NO_RU, "question"),
        ])
        self.assertCarriedPackage(inst)
        self.assertNoTempFile(inst)
        self.assertEstimatedSize(inst)

    def test_lexoria_running_during_a_quiet_update(self):
        """Tests that a running Lexoria gets WM_QUIT during "modest" and the update completes
        without a box."""
        inst = self.install(pak_version=1039)
        inst.register()
        inst.start_lexoria(wait_for="window")
        lexoria_pid = events_named(inst, "started")[-1].pid
        run = self.run_setup(["modest"])
        self.assertBoxes(run, [])
        quit_event = inst.wait_for_event("WM_QUIT", timeout=10)
        self.assertEqual((quit_event.pid, quit_event.detail), (lexoria_pid, "wparam=0"))
        inst.wait_for_event("exit", timeout=10)
        self.assertEqual(inst.lexoria_processes(), [])
        self.assertCarriedPackage(inst)
        self.assertNoTempFile(inst)
        # The stand-in logs its quit and exit while the setup walks the folder.
        self.assertEstimatedSize(inst, written_after=("standin.log",))
        self.assertEqual(len(events_named(inst, "started")), 1, "quiet mode started Lexoria")

    @harness.on_32bit_windows_too
    def test_running_lexoria_that_holds_the_package_while_it_quits(self):
        """Tests Lexoria's own updater's run: Lexoria holds lxrq.pak open (no delete sharing)
        and lets go of it 3 s after the quit request; "modest" and "modest runapp" wait for it,
        install the package without a box and exit with 0, and "runapp" then starts a new
        Lexoria and brings it to the front."""
        for args in (["modest"], ["modest", "runapp"]):
            with self.subTest(args=args):
                inst = self.install(pak_version=1039)
                inst.register()
                inst.start_lexoria({"hold": "lxrq.pak", "quit_delay_ms": 3000},
                                   wait_for="window")
                inst.wait_for_event("holding")
                old_pid = events_named(inst, "started")[-1].pid

                run = self.run_setup(args)

                self.assertBoxes(run, [])
                quit_event = inst.wait_for_event("WM_QUIT")
                self.assertEqual((quit_event.pid, quit_event.detail), (old_pid, "wparam=0"))
                exited = [e for e in events_named(inst, "exit") if e.pid == old_pid]
                self.assertEqual(len(exited), 1, inst.standin_events())
                # It held the package for its 3 s (Sleep, measured in the
                # coarse steps of GetTickCount) before it let go.
                self.assertGreaterEqual(exited[0].tick - quit_event.tick, 2900)
                self.assertCarriedPackage(inst)
                self.assertNoTempFile(inst)
                if args == ["modest"]:
                    self.assertEqual(len(events_named(inst, "started")), 1)
                else:
                    self.assertStartedAgainAndInFront(inst, old_pid)
                inst.clean()

    def test_running_lexoria_that_never_lets_go_of_the_package(self):
        """Tests a Lexoria that holds lxrq.pak and ignores the quit request: "modest" tries
        the replacement for 15 s, then shows "Can't install file" and exits with the code of
        a package not written; the installed file is byte-identical and the complete new
        content is left as the "~" file."""
        inst = self.install(pak_version=1039)
        inst.register()
        inst.start_lexoria({"hold": "lxrq.pak", "ignore_quit": 1}, wait_for="window")
        inst.wait_for_event("holding")
        before = inst.pak.read_bytes()

        run = self.run_setup(["modest"], answers=["ok"], exit_code=EXIT_PACKAGE_NOT_WRITTEN)

        self.assertBoxes(run, [(INSTALL_FAILED_RU + inst.win_dir + "\\lxrq.pak", TITLE_RU, OK_RU,
                                "hand")])
        inst.wait_for_event("quit-ignored")
        self.assertEqual(inst.pak.read_bytes(), before)
        temp = inst.dir / "~lxrq.pak"
        self.assertEqual(harness.pak_version(temp.read_bytes()), CARRIED_VERSION)
        # It waited the 15 s, and not much longer.
        self.assertGreaterEqual(run.seconds, 15.0, run.describe())
        self.assertLess(run.seconds, 40.0, run.describe())
        self.assertEstimatedSize(inst, written_after=("standin.log",))

    def test_links_planted_in_the_installation_folder_are_not_written_through(self):
        """Tests an installation folder a standard user can write into: hard links planted
        at "~lxrq.pak" and at lxrq.pak to files outside the installation leave both files
        byte-identical, and the update lands."""
        inst = self.install(pak_version=None)
        inst.register()
        outside = self.wine.unix_path(r"C:\outside")
        outside.mkdir(exist_ok=True)
        self.addCleanup(shutil.rmtree, outside, True)
        victim = outside / "settings.dat"
        victim.write_bytes(b"a file of the system, not of Lexoria\r\n" * 100)
        older = outside / "older.pak"
        older.write_bytes(harness.make_pak(1039, 4096))
        os.link(victim, inst.dir / "~lxrq.pak")
        os.link(older, inst.pak)
        victim_before, older_before = victim.read_bytes(), older.read_bytes()

        run = self.run_setup(["modest"])

        self.assertBoxes(run, [])
        self.assertEqual(victim.read_bytes(), victim_before)
        self.assertEqual(older.read_bytes(), older_before)
        self.assertCarriedPackage(inst)
        self.assertNoTempFile(inst)

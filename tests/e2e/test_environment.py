"""Scenarios of environment discovery and of the running Lexoria, under Wine.

The setup finds Lexoria through its uninstall entry (the native view, else
WOW6432Node, where a 32-bit installer writes it on 64-bit Windows; a quoted
"UninstallString" cut to its path), and in quiet mode with "runapp" starts
Lexoria through the desktop shell and brings its window to the front. The
stand-in Lexoria (helpers/stand_in_lexoria.cc) logs what happens to it. A
running Lexoria and a missing installation are rows of the scenario table
(test_scenarios.py).
"""

import os
import signal
import threading
import time

import harness
import test_scenarios as scenarios

CONFIRMATION_RU = "Вы действительно хотите установить"



class EnvironmentTest(harness.E2ETestCase):
    def assertConfirmationAsked(self, run):
        """The setup's first box is its confirmation: it found an installation."""
        self.assertGreaterEqual(len(run.boxes), 1, run.describe())
        first = run.boxes[0]
        self.assertTrue(first.text_str.startswith(CONFIRMATION_RU), run.describe())
        self.assertEqual(first.icon, "question", run.describe())
        self.assertEqual(first.exe, "lexoria-update.exe")

    @harness.on_32bit_windows_too
    def test_modest_runapp_starts_lexoria_and_brings_it_to_the_front(self):
        """Tests that "modest runapp" starts Lexoria.exe in its folder, waits for its marker
        and window (created 1.2 s and 1 s later) and shows and activates the window; the
        desktop shell starts it where the desktop has a shell window, the setup itself only
        where it has none, and then as the session's user with a normal user's rights (not a
        member of Administrators; Wine's Safer hands out no token, so the setup makes the
        restriction itself)."""
        for shell_window, parent in ((True, "explorer.exe"), (False, "lexoria-update.exe")):
            with self.subTest(shell_window=shell_window):
                inst = self.install(pak_version=1040, standin_config={"marker_delay_ms": 1200,
                                                                      "window_delay_ms": 1000})
                inst.register()

                if shell_window:
                    run = self.run_setup(["modest", "runapp"])
                else:
                    with self.wine.without_shell_window():
                        run = self.run_setup(["modest", "runapp"])

                self.assertEqual(run.boxes, [], run.describe())
                started = inst.wait_for_event("started", timeout=5)
                window = inst.wait_for_event("window", timeout=5)
                shown = inst.wait_for_event("shown", timeout=5)
                inst.wait_for_event("activated", timeout=5)
                events = [e.event for e in inst.standin_events()]
                self.assertLess(events.index("marker"), events.index("window"), events)
                self.assertLess(events.index("window"), events.index("shown"), events)
                self.assertEqual(len(inst.events_named("started")), 1, events)
                cwd = inst.events_named("cwd")[0].detail
                self.assertEqual(cwd.rstrip("\\").lower(), inst.win_dir.lower())
                # Who started Lexoria: the desktop shell (Wine's explorer.exe
                # serves the desktop's shell objects), so that it runs as the
                # logged-on user and not with the setup's rights, and still in
                # its own folder; the setup itself only without a shell window,
                # and then without the administrator's group.
                self.assertTrue(started.detail.lower().startswith("parent=%s " % parent),
                                started.detail)
                if not shell_window:
                    self.assertTrue(started.detail.endswith(" admin=0"), started.detail)
                # The window is found at a whole 1024 ms step after the marker;
                # it cannot be shown before it exists.
                self.assertGreaterEqual(shown.tick - started.tick, 2200)
                self.assertGreaterEqual(shown.tick, window.tick)
                self.assertEqual(inst.events_named("WM_QUIT"), [],
                                 "the launch must not ask it to quit")
                inst.clean()

    def test_modest_runapp_with_a_hung_desktop_shell(self):
        """Tests that calls into the desktop shell that do not return hold "modest runapp" up
        for the 15 s bound and the 8 marker looks, no longer: the package is written, the
        setup ends with exit code 0 while its call is still pending, and nothing starts
        Lexoria, not even once the shell answers again. The shell's calls hang from the
        moment the setup writes the package: RpcSs, through which Wine reaches the desktop's
        shell objects, is stopped then and resumed after the run."""
        inst = self.install(pak_version=1039)
        inst.register()
        rpcss = [pid for pid, image in self.wine.windows_processes(include_services=True)
                 if image.lower() == "rpcss.exe"]
        self.assertTrue(rpcss, "no rpcss.exe in the prefix")
        temp = inst.dir / "~lxrq.pak"
        stopped = threading.Event()
        run_over = threading.Event()

        def hang_the_shell_once_the_package_is_written():
            # The launch comes only after the package is in place: the "~"
            # file appears before it, at the start of the 88 MB write.
            while not temp.exists():
                if run_over.wait(0.002):
                    return
            for pid in rpcss:
                os.kill(pid, signal.SIGSTOP)
            stopped.set()

        def let_the_shell_answer_again():
            for pid in rpcss:
                try:
                    os.kill(pid, signal.SIGCONT)
                except ProcessLookupError:
                    pass

        self.addCleanup(let_the_shell_answer_again)
        stopper = threading.Thread(target=hang_the_shell_once_the_package_is_written, daemon=True)
        stopper.start()
        try:
            run = self.run_setup(["modest", "runapp"], timeout=90, timed=True)
        finally:
            run_over.set()
            stopper.join()
            let_the_shell_answer_again()
        self.assertTrue(stopped.is_set(), "the shell was not stopped")

        self.assertEqual(run.boxes, [], run.describe())
        data = inst.pak.read_bytes()
        self.assertEqual((harness.pak_version(data), len(data)),
                         (scenarios.CARRIED_VERSION, scenarios.CARRIED_SIZE))
        # 15 s for the shell, then 8 looks of 512 ms for a marker that never
        # comes; a setup that waited for the shell would run into the time-out.
        self.assertGreaterEqual(run.ms, 15000 + 8 * 512, run.describe())
        self.assertLess(run.ms, 15000 + 8 * 512 + 10000, run.describe())
        # The shell, running again, gets its pending call from a caller that
        # has ended, and starts nothing; nor did the setup start Lexoria
        # itself. These two seconds are the scenario's own: the time a late
        # start would take to show.
        time.sleep(2)
        self.assertEqual(inst.standin_events(), [])
        self.assertEqual(inst.lexoria_processes(), [])

    def test_modest_runapp_gives_up_when_lexoria_never_comes_up(self):
        """Tests that a Lexoria without marker makes the setup give up after its 8 looks
        (about 4 s) without showing any window."""
        inst = self.install(pak_version=1040, standin_config={"marker": 0})
        inst.register()

        run = self.run_setup(["modest", "runapp"], timed=True)

        self.assertEqual(run.boxes, [], run.describe())
        started = inst.wait_for_event("started", timeout=5)
        inst.wait_for_event("window", timeout=5)
        self.assertEqual(inst.events_named("shown"), [])
        # Eight looks of 512 ms, all inside the setup's run; eleven more of
        # 1024 ms for a window would end some 15 s after the launch, which
        # comes before the stand-in's start.
        self.assertGreaterEqual(run.ms, 8 * 512, run.describe())
        self.assertLess(run.ticks[1] - started.tick, 8 * 512 + 5000, run.describe())

    @harness.on_32bit_windows_too
    def test_entry_written_by_a_32bit_installer(self):
        """Tests an entry written as a 32-bit installer writes it (the 32-bit registry
        view): on 64-bit Windows it lies under WOW6432Node only, the setup finds it
        there, and "EstimatedSize" goes into that entry, with no 64-bit entry created;
        on 32-bit Windows it is the plain entry, found and sized in place."""
        inst = self.install(r"C:\Apps32\Lexoria", pak_version=1000)
        key = inst.register(installer_bits=32)
        if self.wine.windows_bits == 64:
            self.assertEqual(key, harness.wow6432(harness.UNINSTALL_KEY))
            self.assertFalse(self.wine.reg_key_exists(harness.UNINSTALL_KEY))
        else:
            self.assertEqual(key, harness.UNINSTALL_KEY)

        run = self.run_setup(answers=["yes", "no"])

        self.assertConfirmationAsked(run)
        self.assertEqual(len(run.boxes), 2, run.describe())
        self.assertEqual(harness.pak_version(inst.pak.read_bytes()), 1040)
        self.assertEqual(list(inst.dir.glob("~*")), [])
        size_kib = sum(p.stat().st_size for p in inst.dir.rglob("*") if p.is_file()) // 1024
        self.assertEqual(self.wine.reg_query(key, "EstimatedSize"),
                         ("REG_DWORD", "0x%x" % size_kib))
        if self.wine.windows_bits == 64:
            self.assertFalse(self.wine.reg_key_exists(harness.UNINSTALL_KEY),
                             "an entry of EstimatedSize alone was created in the 64-bit view")

    def test_quoted_uninstall_string_with_arguments(self):
        """Tests that a quoted "UninstallString" with arguments gives the uninstaller's
        folder, where the path outside the quotes would not."""
        inst = self.install(r"C:\Apps\Lexoria Q", pak_version=1000)
        inst.register(uninstall_string=r'"C:\Apps\Lexoria Q\unins000.exe" /LOG="C:\Temp\u.log"')

        run = self.run_setup(answers=["no"])

        self.assertConfirmationAsked(run)
        self.assertEqual(len(run.boxes), 1, run.describe())

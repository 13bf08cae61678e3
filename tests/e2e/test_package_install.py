"""Scenarios of the package installation, under Wine.

The setup writes its package (version 1040) as lxrq.pak into the Lexoria
folder: an installed file of an older or equal version is replaced through a
"~lxrq.pak" file moved over it in one step, a newer installed one only after
the older-version question; then "EstimatedSize" of the uninstall entry gets
the folder's size in KiB. A file held open by another program cannot be
replaced: the setup says so and the installed file stays as it was.
"""

import threading
import time

import harness

CARRIED_VERSION = 1040
CARRIED_SIZE = 88000000  # the generated sample package of the win64 build
CONFIRMATION_RU = "Вы действительно хотите установить"
LAUNCH_RU = "На Ваш компьютер установлено"
# The setup's exit codes (README, "Exit codes").
EXIT_NOT_ADMINISTRATOR = 2
EXIT_SETUP_DAMAGED = 3
EXIT_NO_INSTALLATION = 4
EXIT_REGISTRY_UNREADABLE = 5
EXIT_PACKAGE_NOT_WRITTEN = 6
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Lexoria"


def older_question_ru(path, installed, carried):
    return ("Устанавливаемый файл " + path + "\r\n"
            "более старой версии, чем уже установленный.\r\n\r\n"
            "Действительно ли Вы хотите заменить уже имеющийся\r\n"
            "файл версии %d на более старый версии %d?" % (installed, carried))


def tree_kib(directory):
    """The folder's size as the setup counts it: all files, whole KiB."""
    return sum(p.stat().st_size for p in directory.rglob("*") if p.is_file()) >> 10


class PackageInstallTest(harness.E2ETestCase):
    def temp_file(self, inst):
        return inst.dir / ("~" + inst.pak.name)

    def assertCarriedPackage(self, inst):
        data = inst.pak.read_bytes()
        self.assertEqual(harness.pak_version(data), CARRIED_VERSION)
        self.assertEqual(len(data), CARRIED_SIZE)

    def assertEstimatedSize(self, inst):
        recorded = self.wine.reg_query(UNINSTALL_KEY, "EstimatedSize")
        self.assertIsNotNone(recorded, "EstimatedSize written")
        kind, text = recorded
        self.assertEqual(kind, "REG_DWORD")
        self.assertEqual(int(text, 16), tree_kib(inst.dir))

    def test_typical_run_replaces_an_older_package(self):
        """Tests the typical run: lxrq.pak of version 1039 is replaced by 1040,
        no "~" file is left, and EstimatedSize is the folder's size in KiB."""
        inst = self.install(pak_version=1039)
        inst.register()
        run = self.run_setup(answers=["yes", "no"])
        texts = [box.text_str for box in run.boxes]
        self.assertEqual(len(run.boxes), 2, run.describe())
        self.assertTrue(texts[0].startswith(CONFIRMATION_RU), run.describe())
        self.assertTrue(texts[1].startswith(LAUNCH_RU), run.describe())
        self.assertCarriedPackage(inst)
        self.assertFalse(self.temp_file(inst).exists())
        self.assertEstimatedSize(inst)

    def test_newer_installed_package_is_replaced_only_after_yes(self):
        """Tests the older-version question over an installed file of version 1041:
        No keeps it byte for byte with no "~" file left, Yes replaces it; the question
        comes also while a scanner holds the file open for reading with full sharing."""
        for answer, scanner in (("no", False), ("yes", False), ("no", True)):
            with self.subTest(answer=answer, scanner=scanner):
                inst = self.install(pak_version=1041)
                inst.register()
                before = inst.pak.read_bytes()
                if scanner:
                    holder = self.wine.start_background(
                        [str(self.wine.helper("hold_open")), inst.win_dir + "\\lxrq.pak", "120",
                         "full"], name="hold_open_full")
                    self.addCleanup(holder.kill)
                    time.sleep(2)
                    self.assertTrue(holder.alive())
                run = self.run_setup(answers=["yes", answer, "no"])
                if scanner:
                    holder.kill()
                self.assertEqual(len(run.boxes), 3, run.describe())
                question = run.boxes[1]
                self.assertEqual(question.text_str,
                                 older_question_ru(inst.win_dir + "\\lxrq.pak", 1041,
                                                   CARRIED_VERSION), run.describe())
                self.assertEqual(question.caption_str, "Резонный вопрос")
                self.assertEqual(question.icon, "question")
                self.assertTrue(run.boxes[2].text_str.startswith(LAUNCH_RU), run.describe())
                if answer == "no":
                    self.assertEqual(inst.pak.read_bytes(), before)
                else:
                    self.assertCarriedPackage(inst)
                self.assertFalse(self.temp_file(inst).exists())
                self.assertEstimatedSize(inst)
                inst.clean()

    def test_file_held_open_without_delete_sharing_is_kept(self):
        """Tests that a package held open by another program (no delete sharing)
        gives "Не удается установить файл " + path, leaves the installed file
        intact with the new content as the "~" file, and the flow goes on."""
        inst = self.install(pak_version=1039)
        inst.register()
        before = inst.pak.read_bytes()
        holder = self.wine.start_background(
            [str(self.wine.helper("hold_open")), inst.win_dir + "\\lxrq.pak", "120"],
            name="hold_open")
        self.addCleanup(holder.kill)
        time.sleep(2)
        self.assertTrue(holder.alive())
        run = self.run_setup(answers=["yes", "ok", "no"],
                             exit_code=EXIT_PACKAGE_NOT_WRITTEN)
        # At once: no Lexoria was asked to quit, so nothing is waited for
        # (a wait for a program that lets go lasts 15 s).
        self.assertLess(run.seconds, 12.0, run.describe())
        texts = [box.text_str for box in run.boxes]
        self.assertEqual(len(texts), 3, run.describe())
        self.assertEqual(texts[1], "Не удается установить файл " + inst.win_dir + "\\lxrq.pak",
                         run.describe())
        self.assertEqual(run.boxes[1].icon, "hand")
        self.assertTrue(texts[2].startswith(LAUNCH_RU), "the flow goes on")
        holder.kill()
        self.assertEqual(inst.pak.read_bytes(), before)
        self.assertEqual(harness.pak_version(self.temp_file(inst).read_bytes()),
                         CARRIED_VERSION)
        self.assertEstimatedSize(inst)

    def test_quiet_mode_writes_without_questions(self):
        """Tests that "modest" installs over an older file without any box, and that
        the older-version question still comes in quiet mode."""
        inst = self.install(pak_version=1039)
        inst.register()
        run = self.run_setup(args=["modest"])
        self.assertEqual(run.boxes, [], run.describe())
        self.assertCarriedPackage(inst)
        self.assertEstimatedSize(inst)
        inst.clean()

        inst = self.install(pak_version=1041)
        inst.register()
        before = inst.pak.read_bytes()
        run = self.run_setup(args=["modest"], answers=["no"])
        self.assertEqual(len(run.boxes), 1, run.describe())
        self.assertTrue(run.boxes[0].text_str.startswith("Устанавливаемый файл "))
        self.assertEqual(inst.pak.read_bytes(), before)

    def test_progress_window_appears_after_the_older_version_question(self):
        """Tests that the empty progress window is on screen after the older-version
        question, while the launch question waits: class "PlainWindow", 408 x 76 and
        centred, topmost, with its label and progress bar where they belong (screenshots
        are kept for looking)."""
        inst = self.install(pak_version=1041)
        inst.register()
        result = {}
        worker = threading.Thread(target=lambda: result.update(run=self.wine.run_program(
            self.wine.product(), (), answers=["yes", "yes", "no"], timeout=180,
            answer_delay_ms=4000)))
        worker.start()
        shots = []
        seen = None
        while worker.is_alive():
            time.sleep(1.0)
            path = self.wine.runs_dir / ("progress-window-%02d.png" % len(shots))
            try:
                self.wine.screenshot(path)
                shots.append(path)
            except Exception:  # the screen may be going away with the run
                break
            if seen is None:
                probe = self.wine.wine([self.wine.helper("poke"), "window", "PlainWindow"],
                                       timeout=30, name="poke-window")
                if "window visible=1" in probe.stdout:
                    seen = probe.stdout
        worker.join()
        run = result["run"]
        self.assertFalse(run.timed_out, run.describe())
        self.assertEqual(len(run.boxes), 3, run.describe())
        self.assertTrue(run.boxes[2].text_str.startswith(LAUNCH_RU), run.describe())
        self.assertIsNotNone(seen, "no visible PlainWindow while the launch question waited")
        print("progress window as the system reports it:\n" + seen.strip())

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
        print("progress window screenshots:", *shots, sep="\n  ")

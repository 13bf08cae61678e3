"""Checks of the end-to-end machinery itself, against the demo helpers.

If these fail, no product scenario can be trusted: the robot must record
exactly what a box showed and give exactly the answer it logs, and the
stand-in must do what the scenarios will rely on.
"""

import os
import unittest

import harness
from harness import EN, RU, RU_ON_1252

CAPTION = "Обновление Лексории"
TEXT = "Лексория запущена.\nЗакрыть её и продолжить?"

MB_OK = 0x0
MB_YESNO = 0x4
MB_ICONQUESTION_TOPMOST_TASKMODAL = 0x00042024  # plus MB_YESNO
MB_ICONSTOP_SERVICE_NOTIFICATION = 0x00200010  # MB_OK


def hexed(data):
    return data.hex() or "-"


class BoxRobotTest(harness.E2ETestCase):
    def show(self, flags, caption=CAPTION, text=TEXT, answers=(), lang=None, langid=None,
             encoding="cp1251", default="auto"):
        """Runs box_demo with one box; returns (demo's result, the robot's boxes)."""
        caption_bytes = caption.encode(encoding)
        text_bytes = text.encode(encoding)
        if langid is None:
            args = ["a", hex(flags), hexed(caption_bytes), hexed(text_bytes)]
        else:
            args = ["ex", hex(flags), hexed(caption_bytes), hexed(text_bytes), str(langid)]
        run = self.wine.run_program(self.wine.helper("box_demo"), args, answers=answers,
                                    lang=lang, default=default, timeout=30)
        self.assertFalse(run.timed_out, run.describe())
        self.assertIn("result=%d" % run.exit_code, run.stdout, run.describe())
        return run.exit_code, run.boxes, run

    def test_russian_question_box_recorded_byte_for_byte(self):
        """Tests that caption, text, buttons and icon of a Russian box are recorded exactly."""
        for answer, code in (("yes", 6), ("no", 7)):
            with self.subTest(answer=answer):
                result, boxes, run = self.show(MB_ICONQUESTION_TOPMOST_TASKMODAL, answers=[answer],
                                               langid=25)
                self.assertEqual(result, code, run.describe())
                self.assertEqual(len(boxes), 1, run.describe())
                box = boxes[0]
                self.assertEqual(box.caption, CAPTION.encode("cp1251"))
                self.assertEqual(box.text, TEXT.encode("cp1251"))
                self.assertEqual(box.caption_w, CAPTION)
                self.assertEqual(box.text_w, TEXT)
                # Wine labels MessageBoxExA's buttons from its Russian
                # resources for language id 25.
                self.assertEqual([(b.id, b.label) for b in box.buttons],
                                 [(6, "&Да"), (7, "&Нет")])
                self.assertEqual(box.default_button, 6)
                self.assertEqual(box.icon, "question")
                # Wine ignores MB_TOPMOST (Windows gives the box WS_EX_TOPMOST);
                # a scenario cannot see the flag on the window here.
                self.assertFalse(box.topmost)
                self.assertEqual(box.exe, "box_demo.exe")
                self.assertGreater(box.pid, 0)
                self.assertEqual((box.want, box.answer), (answer, answer))

    def test_service_notification_box_is_an_ordinary_box_of_the_caller(self):
        """Tests that an MB_SERVICE_NOTIFICATION error box is seen, in the caller's process."""
        result, boxes, run = self.show(MB_ICONSTOP_SERVICE_NOTIFICATION, answers=["ok"])
        self.assertEqual(result, 1, run.describe())
        self.assertEqual(len(boxes), 1, run.describe())
        box = boxes[0]
        self.assertEqual(box.exe, "box_demo.exe")
        self.assertEqual(box.icon, "hand")
        self.assertFalse(box.topmost)
        # MessageBoxA under the Russian locale: Wine's Russian "ОК", in Cyrillic.
        self.assertEqual([(b.id, b.label) for b in box.buttons], [(1, "ОК")])
        self.assertEqual(box.caption, CAPTION.encode("cp1251"))

    def test_every_icon_kind_is_told_apart(self):
        """Tests that each MB_ICON* flag is recognised as its own icon, and no flag as none."""
        for flags, icon in ((0x10, "hand"), (0x20, "question"), (0x30, "exclamation"),
                            (0x40, "asterisk"), (0x00, "none")):
            with self.subTest(icon=icon):
                _, boxes, run = self.show(flags, answers=["ok"])
                self.assertEqual([b.icon for b in boxes], [icon], run.describe())

    def test_script_runs_out_into_the_default(self):
        """Tests that boxes past the script get the default: ok for OK only, else no."""
        _, boxes, _ = self.show(MB_OK, answers=[])
        self.assertEqual((boxes[0].want, boxes[0].answer), ("-", "ok"))
        result, boxes, _ = self.show(MB_YESNO, answers=[])
        self.assertEqual((result, boxes[0].answer), (7, "no"))
        result, boxes, _ = self.show(MB_YESNO, answers=[], default="yes")
        self.assertEqual((result, boxes[0].answer), (6, "yes"))

    def test_scripted_button_missing_is_reported(self):
        """Tests that asking for Yes on an OK box clicks OK and marks the box as missed."""
        result, boxes, _ = self.show(MB_OK, answers=["yes"])
        self.assertEqual(result, 1)
        self.assertEqual((boxes[0].want, boxes[0].answer), ("yes", "ok"))
        self.assertTrue(boxes[0].missed)

    def test_close_ends_an_ok_box_as_cancel(self):
        """Tests that "close" sends WM_CLOSE, which Wine turns into IDCANCEL even without Cancel."""
        result, boxes, _ = self.show(MB_OK, answers=["close"])
        self.assertEqual(result, 2)
        self.assertEqual(boxes[0].answer, "close")

    def test_answers_go_to_boxes_in_order(self):
        """Tests that one robot answers successive boxes with successive script lines."""
        demo = self.wine.helper("box_demo")
        with self.wine.robot(["no", "yes"], name="two-boxes") as robot:
            first = self.wine.wine([demo, "a", "0x24", "41", "42"], timeout=30)
            second = self.wine.wine([demo, "a", "0x24", "43", "44"], timeout=30)
        self.assertEqual((first.returncode, second.returncode), (7, 6))
        boxes = robot.boxes()
        self.assertEqual([(b.caption, b.answer) for b in boxes], [(b"A", "no"), (b"C", "yes")])
        self.assertNotEqual(boxes[0].pid, boxes[1].pid)

    def test_other_dialogs_are_left_alone(self):
        """Tests that a #32770 dialog without a message text is noted but never answered."""
        run = self.wine.run_program(self.wine.helper("box_demo"), ["dialog", "1500"], timeout=30)
        self.assertEqual(run.exit_code, 0, run.describe())
        self.assertIn("disturbed=0", run.stdout)
        self.assertEqual(run.boxes, [])
        self.assertEqual([(d.exe, d.caption_w) for d in run.dialogs],
                         [("box_demo.exe", "Progress")])

    def test_a_program_past_its_time_is_killed(self):
        """Tests that run_program ends a program that outlives its time-out."""
        run = self.wine.run_program(self.wine.helper("box_demo"), ["a", "0x4", "41", "42"],
                                    timeout=1, answer_delay_ms=3000)
        self.assertTrue(run.timed_out)
        self.assertIsNone(run.exit_code)
        self.assertNotIn("box_demo.exe", [image for _, image in self.wine.windows_processes()])

    def test_english_locale_keeps_the_bytes_but_not_the_letters(self):
        """Tests that under en_US the robot still has the program's bytes, shown as cp1252."""
        result, boxes, run = self.show(MB_YESNO, answers=["yes"], lang=EN)
        self.assertEqual(result, 6, run.describe())
        box = boxes[0]
        self.assertEqual(box.caption, CAPTION.encode("cp1251"))
        self.assertEqual(box.caption_w, CAPTION.encode("cp1251").decode("cp1252"))
        self.assertEqual([(b.id, b.label) for b in box.buttons], [(6, "&Yes"), (7, "&No")])


class LocaleAndVersionTest(harness.E2ETestCase):
    def poke(self, *args, lang=None):
        result = self.wine.wine([self.wine.helper("poke"), *args], timeout=30, lang=lang)
        values = dict(line.split("=", 1) for line in result.stdout.split() if "=" in line)
        return result.returncode, values

    def test_locale_follows_lang(self):
        """Tests that LANG picks Wine's user locale and ANSI code page, and LC_CTYPE, where
        it differs, the ANSI code page alone."""
        for lang, lcid, acp in ((RU, "0x419", "1251"), (EN, "0x409", "1252"),
                                (RU_ON_1252, "0x419", "1252")):
            with self.subTest(lang=lang):
                _, values = self.poke("locale", lang=lang)
                self.assertEqual((values.get("user_lcid"), values.get("acp")), (lcid, acp))

    def test_windows_version_setter(self):
        """Tests that the Version value changes what RtlGetVersion reports."""
        for version, expected in (("win10", "10.0."), ("win7", "6.1."), ("winxp64", "5.2.")):
            with self.subTest(version=version):
                self.use_windows_version(version)
                self.assertEqual(self.wine.windows_version(), version)
                _, values = self.poke("version")
                self.assertTrue(values.get("rtlgetversion", "").startswith(expected), values)


@harness.on_32bit_windows_too
class ServicesTest(harness.E2ETestCase):
    def test_one_service_manager(self):
        """Tests that the prefix runs one services.exe: a new prefix is left by
        wineboot with two, and then RpcSs never starts, so COM local servers such
        as the desktop's shell windows are out of reach (the launch scenario
        shows that they answer)."""
        self.wine.wine([self.wine.helper("poke"), "locale"], timeout=30)
        images = [image.lower() for _, image in
                  self.wine._prefix_processes(include_services=True)]
        self.assertEqual(images.count("services.exe"), 1, images)


class RegistryTest(harness.E2ETestCase):
    KEY = r"HKLM\Software\LexoriaE2ESelfTest"

    def setUp(self):
        super().setUp()
        self.addCleanup(self.wine.reg_delete_key, self.KEY)
        self.addCleanup(self.wine.reg_delete_key, harness.wow6432(self.KEY))

    def test_values_round_trip(self):
        """Tests that each kind of value reads back as written, through both readers."""
        tricky = '"C:\\Program Files\\Lexoria\\uninstall.exe" /x "a b"'
        # Outside code pages 437, 866 and 1251; "Č" is what a best fit turns into "C".
        unicode = "Жүктеулер-Әң 下载 Č"
        self.wine.reg_apply([
            harness.RegOp(self.KEY, "Text", tricky),
            harness.RegOp(self.KEY, unicode, unicode),
            harness.RegOp(self.KEY, "Size", 0x1234, "REG_DWORD"),
            harness.RegOp(self.KEY, "Big", 0xFFFFFFFF, "REG_DWORD"),
            harness.RegOp(self.KEY, "Blob", b"\x00\x01\xfe", "REG_BINARY"),
            harness.RegOp(self.KEY, "Path", "%ProgramFiles%\\Lexoria", "REG_EXPAND_SZ"),
            harness.RegOp(self.KEY, "List", ["a", "b c"], "REG_MULTI_SZ"),
        ])
        self.assertEqual(self.wine.reg_get(self.KEY, "Text"), tricky)
        self.assertEqual(self.wine.reg_get(self.KEY, unicode), unicode)
        self.assertIsNone(self.wine.reg_get(self.KEY, None))
        self.wine.reg_set(self.KEY, None, "default")
        self.assertEqual(self.wine.reg_get(self.KEY, None), "default")
        self.assertEqual(self.wine.reg_get(self.KEY, "Size"), 0x1234)
        self.assertEqual(self.wine.reg_get(self.KEY, "Big"), 0xFFFFFFFF)
        self.assertEqual(self.wine.reg_get(self.KEY, "Blob"), b"\x00\x01\xfe")
        self.assertEqual(self.wine.reg_get(self.KEY, "Path"), "%ProgramFiles%\\Lexoria")
        self.assertEqual(self.wine.reg_get(self.KEY, "List"), ["a", "b c"])
        self.assertIsNone(self.wine.reg_get(self.KEY, "Missing"))
        self.assertEqual(self.wine.reg_query(self.KEY, "Size"), ("REG_DWORD", "0x1234"))
        self.assertEqual(self.wine.reg_query(self.KEY, "Text"), ("REG_SZ", tricky))

    def test_delete_value_and_key(self):
        """Tests that deleting a value leaves the key, and deleting the key removes it."""
        self.wine.reg_apply([harness.RegOp(self.KEY, "A", "1"), harness.RegOp(self.KEY, "B", "2")])
        self.wine.reg_delete_value(self.KEY, "A")
        self.assertIsNone(self.wine.reg_get(self.KEY, "A"))
        self.assertEqual(self.wine.reg_get(self.KEY, "B"), "2")
        self.wine.reg_delete_key(self.KEY)
        self.assertFalse(self.wine.reg_key_exists(self.KEY))
        self.assertIsNone(self.wine.reg_query(self.KEY, "B"))

    def test_wow6432_is_a_separate_key(self):
        """Tests that a value under WOW6432Node is not visible in the 64-bit key."""
        self.wine.reg_set(harness.wow6432(self.KEY), "Only32", "x")
        self.assertEqual(self.wine.reg_get(harness.wow6432(self.KEY), "Only32"), "x")
        self.assertIsNone(self.wine.reg_get(self.KEY, "Only32"))

    @harness.on_32bit_windows_too
    def test_the_32bit_view(self):
        """Tests that a value written through the 32-bit view reads back through it and
        lies under WOW6432Node of the native view on 64-bit Windows, in the plain key on
        32-bit Windows."""
        self.wine.reg_set(self.KEY, "Via32", "y", view=32)
        self.assertEqual(self.wine.reg_query(self.KEY, "Via32", view=32), ("REG_SZ", "y"))
        if self.wine.windows_bits == 64:
            self.assertEqual(self.wine.reg_get(harness.wow6432(self.KEY), "Via32"), "y")
            self.assertFalse(self.wine.reg_key_exists(self.KEY))
        else:
            self.assertEqual(self.wine.reg_get(self.KEY, "Via32"), "y")

    def test_a_failing_reg_raises_and_nothing_to_delete_does_not(self):
        """Tests that a reg.exe failure raises with what reg printed, and that deleting a
        key or value that is not there passes."""
        nowhere = r"HKXX\Nowhere"
        for call in (lambda: self.wine.reg_set(nowhere, "A", "1"),
                     lambda: self.wine.reg_get(nowhere, "A"),
                     lambda: self.wine.reg_key_exists(nowhere),
                     lambda: self.wine.reg_delete_key(nowhere)):
            with self.assertRaisesRegex(harness.HarnessError, "Invalid system key"):
                call()
        self.wine.reg_delete_key(self.KEY + r"\Missing")
        self.wine.reg_delete_value(self.KEY + r"\Missing", "A")
        self.wine.reg_delete_value(self.KEY, "Missing")


class InstallationTest(harness.E2ETestCase):
    def test_layout_and_uninstall_entry(self):
        """Tests the installation files, the package version bytes and both entry forms."""
        inst = self.install(pak_version=0x0411, pak_size=10000)
        self.assertEqual(inst.dir, self.wine.drive_c / "Program Files" / "Lexoria")
        data = inst.pak.read_bytes()
        self.assertEqual((len(data), data[6:8]), (10000, b"\x11\x04"))
        self.assertEqual(harness.pak_version(data), 0x0411)
        self.assertEqual(inst.exe.read_bytes(), self.wine.helper("stand_in_lexoria").read_bytes())
        inst.register(quoted=True, values={"EstimatedSize": 5})
        self.assertEqual(self.wine.reg_get(inst.key, "UninstallString"),
                         '"C:\\Program Files\\Lexoria\\uninstall.exe"')
        self.assertEqual(self.wine.reg_get(inst.key, "EstimatedSize"), 5)
        key = inst.register(quoted=False, wow64=True)
        self.assertIn("WOW6432Node", key)
        self.assertEqual(self.wine.reg_get(key, "UninstallString"),
                         "C:\\Program Files\\Lexoria\\uninstall.exe")
        inst.clean()
        self.assertFalse(inst.dir.exists())
        self.assertFalse(self.wine.reg_key_exists(inst.key))
        self.assertFalse(self.wine.reg_key_exists(key))

    def test_paths(self):
        """Tests the Windows and Unix path conversions both ways."""
        unix = self.wine.unix_path(r"C:\Program Files\Lexoria\lxrq.pak")
        self.assertEqual(unix, self.wine.drive_c / "Program Files" / "Lexoria" / "lxrq.pak")
        self.assertEqual(self.wine.windows_path(unix), r"C:\Program Files\Lexoria\lxrq.pak")
        self.assertEqual(self.wine.windows_path("/tmp/x y"), r"Z:\tmp\x y")



class StandInTest(harness.E2ETestCase):
    def poke(self, *args):
        result = self.wine.wine([self.wine.helper("poke"), *args], timeout=30)
        values = dict(line.split("=", 1) for line in result.stdout.split() if "=" in line)
        return result.returncode, values

    def events(self, inst):
        return [e.event for e in inst.standin_events()]

    def test_marker_and_window_come_after_their_delays(self):
        """Tests that the mapping and the hidden window appear only after their delays: each
        is missing whenever it is looked for before its delay ran out, by the clock the
        stand-in logs by, and there once it is logged."""
        inst = self.install()
        inst.start_lexoria({"marker_delay_ms": 1500, "window_delay_ms": 1000}, wait_for="started")
        started = inst.wait_for_event("started")
        mapping_code, mapping_seen = self.poke("mapping")
        window_code, window_seen = self.poke("window", "TLXMainForm")
        marker = inst.wait_for_event("marker", timeout=10)
        window = inst.wait_for_event("window", timeout=10)
        self.assertGreaterEqual(marker.tick - started.tick, 1500)
        self.assertGreaterEqual(window.tick - marker.tick, 1000)
        # A look that ended before the delay ran out saw nothing; one that
        # came late says nothing about the delay.
        if int(mapping_seen["tick"]) < started.tick + 1500:
            self.assertEqual(mapping_code, 1, "mapping exists before its delay")
        if int(window_seen["tick"]) < started.tick + 2500:
            self.assertEqual(window_code, 1, "window exists before its delay")
        self.assertEqual(self.poke("mapping")[0], 0)
        self.assertEqual(self.poke("window", "TLXMainForm")[0], 0)
        self.assertNotIn("shown", self.events(inst))

    def test_wm_quit_posted_to_the_window_ends_it(self):
        """Tests that WM_QUIT posted to TLXMainForm is logged and the stand-in exits."""
        inst = self.install()
        lexoria = inst.start_lexoria({})
        code, values = self.poke("quit")
        self.assertEqual((code, values.get("posted")), (0, "1"))
        inst.wait_for_event("exit", timeout=10)
        self.assertEqual(lexoria.wait(10), 0)
        events = self.events(inst)
        self.assertLess(events.index("WM_QUIT"), events.index("exit"))
        self.assertEqual(self.poke("mapping")[0], 1, "mapping outlived the stand-in")

    def test_wm_quit_is_seen_while_a_delay_runs(self):
        """Tests that a quit arriving while the marker's delay runs ends the stand-in at once."""
        inst = self.install()
        lexoria = inst.start_lexoria({"marker_delay_ms": 20000}, wait_for="started")
        pid = inst.standin_events()[0].pid
        code, values = self.poke("quit-threads", str(pid))
        self.assertEqual(code, 0, values)
        self.assertEqual(lexoria.wait(5), 0, "stand-in still running after the quit")
        events = self.events(inst)
        self.assertIn("WM_QUIT", events)
        self.assertNotIn("marker", events)

    def test_front_shows_and_activates_the_window(self):
        """Tests that ShowWindow + SetForegroundWindow from another process are logged."""
        inst = self.install()
        inst.start_lexoria({})
        code, values = self.poke("front")
        self.assertEqual((code, values.get("was_visible")), (0, "0"))
        inst.wait_for_event("shown")
        inst.wait_for_event("activated")
        inst.wait_for_event("foreground")
        self.assertEqual(self.poke("quit")[0], 0)
        inst.wait_for_event("exit")

    def test_hold_keeps_the_package_from_being_written(self):
        """Tests that hold= opens the file so that writing it fails with error 32."""
        inst = self.install()
        pak = inst.win_dir + "\\lxrq.pak"
        self.assertEqual(self.poke("write", pak)[0], 0)
        inst.start_lexoria({"hold": "lxrq.pak"}, wait_for="holding")
        code, values = self.poke("write", pak)
        self.assertEqual((code, values.get("error")), (1, "32"))
        inst.stop_lexoria()
        self.assertEqual(self.poke("write", pak)[0], 0)

    def test_ignore_quit_keeps_running(self):
        """Tests that ignore_quit=1 logs each quit and lives on until stopped: quits are still
        logged and ignored 2 s after its start by its own clock, and only the stop file ends
        it."""
        inst = self.install()
        inst.start_lexoria({"ignore_quit": 1})
        started = inst.wait_for_event("started")

        def ignored_two_seconds_in():
            self.poke("quit")
            return [e for e in inst.events_named("quit-ignored")
                    if e.tick >= started.tick + 2000]

        inst.wait_until(ignored_two_seconds_in, timeout=30,
                        what="a quit ignored 2 s after the start")
        self.assertEqual(inst.events_named("exit"), [])
        self.assertTrue(inst.lexoria_processes())
        inst.stop_lexoria()
        self.assertEqual([e.event for e in inst.standin_events()][-2:], ["stop-file", "exit"])
        self.assertEqual([e.pid for e in inst.events_named("exit")], [started.pid])
        self.assertFalse(inst.lexoria_processes())

    def test_strays_are_killed_after_a_test(self):
        """Tests that kill_strays ends a stand-in nobody stopped, and only it."""
        inst = self.install()
        inst.start_lexoria({})
        self.assertTrue(inst.lexoria_processes())
        self.wine.kill_strays()
        self.assertEqual(self.wine.windows_processes(), [])


class TmpfsDriveTest(harness.E2ETestCase):
    def test_drive_is_unmounted_even_when_the_block_fails(self):
        """Tests that a tmpfs drive is visible to Wine inside its block and is unlinked and
        unmounted when the block raises."""
        with self.assertRaises(RuntimeError):
            with self.wine.tmpfs_drive("y", size_mb=1) as drive:
                self.assertTrue(os.path.ismount(drive.dir))
                self.assertEqual(self.wine.unix_path(r"Y:\sub"), drive.dir / "sub")
                raise RuntimeError("the drill failed")
        self.assertFalse(os.path.ismount(drive.dir))
        self.assertFalse(drive.link.is_symlink())
        self.assertFalse(drive.dir.exists())


if __name__ == "__main__":
    unittest.main()

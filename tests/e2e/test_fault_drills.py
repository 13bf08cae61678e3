"""Fault drills of the setup under Wine: each ends with nothing lost.

A damaged setup file, a disk that fills while the new package is written,
registry values of the wrong type, and folders the setup meets on users'
machines. (A package held open by Lexoria or by another program is a row of
the scenario table, test_scenarios.py.) Each drill checks the box the user gets (its text,
also as bytes in code page 1251, buttons, icon), the exit code, that the installed package is byte for byte
what it was and that no partial "~" file is left behind, and the uninstall
entry. Every change to the prefix (a drive, a registry value) is undone, also
when a drill fails.
"""

import os
import pathlib
import shutil
import sys

import harness
import test_scenarios as scenarios
from harness import EN, RU

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "deliverable"))
from pe_file import PeFile  # noqa: E402

DAMAGED_EN = "The setup file is damaged. Please download it again."
DAMAGED_RU = "Файл установки повреждён. Пожалуйста, загрузите его заново."
CANT_INSTALL_EN = "Can't install file "
CANT_INSTALL_RU = "Не удается установить файл "
NO_REGISTRY_RU = "Нет доступа к системному реестру"

SHELL_FOLDERS_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders"
CURRENT_VERSION_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion"
PACKAGE_RESOURCE = ("PAK", "LXRQ", 1049)


class FaultDrillTest(scenarios.UpdateAssertions, harness.E2ETestCase):
    def damaged_copy(self, name, damage):
        """A copy of the setup, damaged by DAMAGE(bytearray), in a folder of its own."""
        folder = self.wine.work_dir / "damaged" / name
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        self.addCleanup(shutil.rmtree, folder, True)
        data = bytearray(self.wine.product().read_bytes())
        damage(data)
        copy = folder / "lexoria-update.exe"
        copy.write_bytes(data)
        return copy

    def test_damaged_setup_is_refused_before_anything_is_written(self):
        """Tests that a setup with one flipped byte inside its package, or cut short by one
        byte, shows the "damaged" box (in both interface languages), and that one cut inside
        its package is not even started; nothing is written in any case."""
        original = self.wine.product().read_bytes()
        offset, size = PeFile(original).resources()[PACKAGE_RESOURCE]
        self.assertEqual(size, scenarios.CARRIED_SIZE)

        def flip(data):
            data[offset + size // 2] ^= 0xFF

        # The last byte is alignment padding of the last section: Wine's
        # loader still maps the image, and only the self-check sees the cut.
        def cut_one_byte(data):
            del data[-1]

        # A download broken off inside the package: the sections reach past
        # the end of the file and Wine's loader refuses to start it at all.
        def cut_inside_package(data):
            del data[offset + size // 2:]

        damaged_box_ru = (DAMAGED_RU, scenarios.TITLE_RU, scenarios.OK_RU, "hand")
        damaged_box_en = (DAMAGED_EN, scenarios.TITLE_EN, scenarios.OK_EN, "hand")
        rows = (
            ("one byte flipped in the package, ru_RU", flip, RU, scenarios.EXIT_SETUP_DAMAGED,
             [damaged_box_ru]),
            ("cut short by one byte, en_US", cut_one_byte, EN, scenarios.EXIT_SETUP_DAMAGED,
             [damaged_box_en]),
            ("cut inside the package, not loaded", cut_inside_package, RU, 1, []),
        )
        for name, damage, lang, exit_code, boxes in rows:
            with self.subTest(name):
                inst = self.install(pak_version=1039)
                inst.register()
                before = scenarios.folder_state(inst.dir)
                copy = self.damaged_copy(damage.__name__, damage)
                self.assertNotEqual(copy.read_bytes(), original)
                run = self.run_setup(exe=copy, answers=["ok"], lang=lang, exit_code=exit_code)
                self.assertBoxes(run, boxes, lang=lang)
                if not boxes:
                    self.assertIn("failed to start", run.stderr, run.describe())
                self.assertEqual(scenarios.folder_state(inst.dir), before)
                self.assertNoTempFile(inst)
                self.assertNoEstimatedSize()
                inst.clean()

    def test_disk_full_while_the_temporary_file_is_written(self):
        """Tests that a disk too small for the new package gives "Не удается установить
        файл " + path, keeps the installed file, removes the partial "~" file, records the
        size and still asks the launch question."""
        drive = self.use_tmpfs_drive("x", size_mb=40)
        inst = self.install(r"X:\Lexoria", pak_version=1039)
        self.assertEqual(inst.dir.parent, drive.dir)
        inst.register()
        before = scenarios.folder_state(inst.dir)

        run = self.run_setup(answers=["yes", "ok", "no"],
                             exit_code=scenarios.EXIT_PACKAGE_NOT_WRITTEN)

        self.assertBoxes(run, [
            (scenarios.CONFIRMATION_RU, scenarios.QUESTION_CAPTION_RU, scenarios.YES_NO_RU,
             "question"),
            (CANT_INSTALL_RU + "X:\\Lexoria\\lxrq.pak", scenarios.TITLE_RU, scenarios.OK_RU,
             "hand"),
            (scenarios.LAUNCH_QUESTION, scenarios.TITLE_EN, scenarios.YES_NO_RU, "question"),
        ])
        self.assertEqual(scenarios.folder_state(inst.dir), before)
        self.assertNoTempFile(inst)
        self.assertEstimatedSize(inst)
        # The space the partial file took is free again.
        stat = os.statvfs(drive.dir)
        self.assertGreater(stat.f_bavail * stat.f_frsize, 30 * 1024 * 1024)

    def test_user_shell_folder_of_the_wrong_type(self):
        """Tests that "Programs" stored as REG_DWORD gives "Нет доступа к системному реестру"
        and exit code 0, before a running Lexoria is asked to quit or anything is written."""
        inst = self.install(pak_version=1039)
        inst.register()
        inst.start_lexoria(wait_for="window")
        before = scenarios.folder_state(inst.dir)
        self.override_registry_value(SHELL_FOLDERS_KEY, "Programs", 1, "REG_DWORD")

        run = self.run_setup(answers=["ok"], exit_code=scenarios.EXIT_REGISTRY_UNREADABLE)

        self.assertBoxes(run, [(NO_REGISTRY_RU, scenarios.TITLE_RU, scenarios.OK_RU, "hand")])
        self.assertEqual(scenarios.folder_state(inst.dir), before)
        self.assertNoTempFile(inst)
        self.assertNoEstimatedSize()
        self.assertEqual(inst.events_named("WM_QUIT"), [])
        self.assertEqual(len(inst.lexoria_processes()), 1)

    def test_program_files_folder_of_the_wrong_type(self):
        """Tests that "ProgramFilesDir" stored as REG_DWORD is an uncaught failure: a box
        naming the value and exit code 1, with nothing written."""
        inst = self.install(pak_version=1039)
        inst.register()
        before = scenarios.folder_state(inst.dir)
        self.override_registry_value(CURRENT_VERSION_KEY, "ProgramFilesDir", 1, "REG_DWORD")

        run = self.run_setup(answers=["ok"], exit_code=1)

        self.assertBoxes(run, [("Invalid data type for 'ProgramFilesDir'", scenarios.TITLE_RU,
                                scenarios.OK_RU, "hand")])
        self.assertEqual(scenarios.folder_state(inst.dir), before)
        self.assertNoTempFile(inst)
        self.assertNoEstimatedSize()

    def test_setup_started_from_folders_named_outside_the_ansi_code_page(self):
        """Tests that the setup copied into a folder whose name the ANSI code page (1251)
        cannot hold, Kazakh or Chinese, or into one it can, checks its own file and installs
        in quiet mode without any box."""
        for folder_name in ("Жүктеулер-Әң", "下载", "Загрузки"):
            with self.subTest(folder_name):
                inst = self.install(pak_version=1039)
                inst.register()
                folder = self.wine.work_dir / "downloads" / folder_name
                shutil.rmtree(folder, ignore_errors=True)
                folder.mkdir(parents=True)
                self.addCleanup(shutil.rmtree, folder, True)
                copy = folder / "lexoria-update.exe"
                shutil.copyfile(self.wine.product(), copy)

                run = self.run_setup(["modest"], exe=copy)

                self.assertBoxes(run, [])
                self.assertCarriedPackage(inst)
                self.assertNoTempFile(inst)
                self.assertEstimatedSize(inst)
                inst.clean()
                shutil.rmtree(folder, ignore_errors=True)

    def test_no_installation_directory_relative_to_the_current_directory(self):
        """Tests that with no uninstall entry and a "ProgramFilesDir" that is missing or
        not an absolute path, the setup shows "no subject of update" and neither writes
        into nor starts from the Lexoria folder below its current directory."""
        for name, program_files, below in (("missing", None, "Lexoria"),
                                           ("relative", "Apps", "Apps/Lexoria")):
            with self.subTest(name):
                for key in (harness.UNINSTALL_KEY, harness.wow6432(harness.UNINSTALL_KEY)):
                    self.assertFalse(self.wine.reg_key_exists(key), key)
                if program_files is None:
                    original = self.wine.reg_get(CURRENT_VERSION_KEY, "ProgramFilesDir")
                    self.addCleanup(self.wine.reg_set, CURRENT_VERSION_KEY, "ProgramFilesDir",
                                    original)
                    self.wine.reg_delete_value(CURRENT_VERSION_KEY, "ProgramFilesDir")
                else:
                    self.override_registry_value(CURRENT_VERSION_KEY, "ProgramFilesDir",
                                                 program_files)
                cwd = self.wine.work_dir / "cwd" / name
                shutil.rmtree(cwd, ignore_errors=True)
                (cwd / below).mkdir(parents=True)
                self.addCleanup(shutil.rmtree, cwd, True)
                shutil.copyfile(self.wine.helper("stand_in_lexoria"), cwd / below / "Lexoria.exe")

                run = self.run_setup(["modest", "runapp"], answers=["ok"], cwd=cwd,
                                     exit_code=scenarios.EXIT_NO_INSTALLATION)

                self.assertBoxes(run, [(scenarios.NO_SUBJECT_RU, scenarios.TITLE_RU,
                                        scenarios.OK_RU, "hand")])
                self.assertEqual(sorted(p.name for p in (cwd / below).iterdir()),
                                 ["Lexoria.exe"], "nothing written, Lexoria not started")
                for key in (harness.UNINSTALL_KEY, harness.wow6432(harness.UNINSTALL_KEY)):
                    self.assertFalse(self.wine.reg_key_exists(key), key)
                self.assertNotIn("lexoria.exe",
                                 [image.lower() for _, image in self.wine.windows_processes()])
                # Restores ProgramFilesDir before the next row changes it.
                self.doCleanups()

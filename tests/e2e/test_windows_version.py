"""Start-up settings and Windows identification with the real adapters.

windows_probe.exe (tests/e2e/probes/windows_probe.cc) runs InitializeSettings
as the setup does and reports the edition text, Is64BitWindows, RussianUi,
FirstArgument and SharedRegistry's access mask. The probe is built with the
setup (i686 beside the deliverable, x86_64 in the fallback) and, like it, has
no supported-OS manifest, so Wine reports 6.2 for win8, win81 and win10 and the
"ver" probe has to tell them apart. Every scenario here runs on 64-bit and on
32-bit Windows: the bitness of Windows decides the edition's " 64-bit" or
" 32-bit", Is64BitWindows and SharedRegistry's access mask.
"""

import shutil
import unittest

import harness
from harness import EN, RU

CURRENT_VERSION = r"HKLM\Software\Microsoft\Windows NT\CurrentVersion"
USER_ENVIRONMENT = r"HKCU\Environment"
PROBE_KEY = r"Software\Microsoft\Windows\CurrentVersion\Uninstall\LexoriaProbe"


def parse(stdout):
    """The probe's report as a dict; hex fields decoded to cp1251 text."""
    report = {}
    for line in stdout.splitlines():
        key, sep, value = line.strip().partition("=")
        if not sep:
            continue
        if key in ("edition", "first_argument", "ver", "temp", "text", "raised"):
            value = "" if value == "-" else bytes.fromhex(value).decode("cp1251")
        report[key] = value
    return report


# (Wine version, the edition words without ProductName, Is64BitWindows) per
# bitness of Windows. Vista and later carry " 64-bit" or " 32-bit"; the x64
# editions of 5.2 say "x64", which is not " 64". The words follow what Wine
# 8.0 reports for each version: 6.2 for win8, win81 and win10 (the probe, like
# the setup, declares no supported systems, so "ver" tells them apart), and
# product type 3 (server) for an explicit "win7" and "win2003". The expected
# words are fixed here, not derived from what the setup read, so that a wrong
# reading of the version record shows as a wrong edition.
EDITIONS = {
    64: [
        ("winxp64", "XP Professional x64", "0"),
        ("win2003", "Server 2003 Standard x64", "0"),
        ("vista", "Vista  64-bit", "1"),
        ("win7", "Server 2008 R2  64-bit", "1"),
        ("win8", "8  64-bit", "1"),
        ("win81", "8.1  64-bit", "1"),
        ("win10", "10  64-bit", "1"),
    ],
    32: [
        ("winxp", "XP Professional", "0"),
        ("win2003", "Server 2003 Standard", "0"),
        ("vista", "Vista  32-bit", "0"),
        ("win7", "Server 2008 R2  32-bit", "0"),
        ("win8", "8  32-bit", "0"),
        ("win81", "8.1  32-bit", "0"),
        ("win10", "10  32-bit", "0"),
    ],
}


@harness.on_32bit_windows_too
class WindowsVersionTest(harness.E2ETestCase):
    @property
    def bits(self):
        return self.wine.windows_bits

    def probe(self, args=(), lang=EN):
        result = self.wine.wine([self.wine.helper("windows_probe"), *args], timeout=60, lang=lang,
                                name="windows_probe")
        self.assertFalse(result.timed_out, "probe timed out")
        self.assertEqual(result.returncode, 0, result.stderr)
        report = parse(result.stdout)
        self.assertIn("edition", report, result.stdout)
        return report

    def temp_dir(self, report):
        return self.wine.unix_path(report["temp"])

    def without_product_name(self):
        """Removes ProductName for this test, so the version words show."""
        previous = self.wine.reg_get(CURRENT_VERSION, "ProductName")
        if previous is not None:
            self.addCleanup(self.wine.reg_set, CURRENT_VERSION, "ProductName", previous)
            self.wine.reg_delete_value(CURRENT_VERSION, "ProductName")

    def test_edition_per_wine_version(self):
        """Tests the edition, Is64BitWindows and SharedRegistry's access mask for each Wine
        version."""
        rows = EDITIONS[self.bits]
        self.without_product_name()
        for version, words, is64 in rows:
            with self.subTest(version=version):
                self.use_windows_version(version)
                report = self.probe()
                edition = "Microsoft Windows " + words
                self.assertTrue(report["edition"].startswith(edition), report)
                rest = report["edition"][len(edition):]
                self.assertTrue(rest == "" or rest.startswith(" Service Pack"), report)
                self.assertEqual(report["is64"], is64, report)
                # SharedRegistry asks for the 64-bit view exactly on 64-bit Windows
                # from Vista on; the 5.2 x64 editions lack " 64" and so the flag.
                self.assertEqual(report["access"], "0x000F013F" if is64 == "1" else "0x000F003F")

    def test_ver_probe_separates_8_81_and_10(self):
        """Tests that "ver" shows what the version query hides, and leaves no file in Temp."""
        rows = [("win8", " 6.2"), ("win81", " 6.3"), ("win10", " 10.")]
        for version, banner in rows:
            with self.subTest(version=version):
                self.use_windows_version(version)
                report = self.probe()
                self.assertEqual(report["version"].split(".")[:2], ["6", "2"], report)
                self.assertIn(banner, report["ver"], report)
                self.assertTrue(report["ver"].endswith("\r\n"), report)
                leftovers = [p.name for p in self.temp_dir(report).iterdir()
                             if len(p.name) == 8 and p.name.isalpha() and p.name.islower()]
                self.assertEqual(leftovers, [], "temporary files left in Temp")

    def user_value(self, key, name, value):
        """Sets a value the user may set for himself, for this test only."""
        previous = self.wine.reg_get(key, name)
        if previous is None:
            self.addCleanup(self.wine.reg_delete_value, key, name)
        else:
            self.addCleanup(self.wine.reg_set, key, name, previous)
        self.wine.reg_set(key, name, value)

    def test_ver_probe_ignores_the_users_comspec(self):
        """Tests that a ComSpec the user set for himself is not started by the "ver" probe."""
        # Wine 8.0's cmd runs no AutoRun commands at all, so the /d against a
        # waiting AutoRun cannot be shown here; the unit tests hold it.
        self.use_windows_version("win10")
        planted = harness.Installation(self.wine, r"C:\Planted").lay_out(
            pak_version=None, standin_config={"lifetime_ms": 3000, "window": 0})
        self.addCleanup(shutil.rmtree, planted.dir, True)
        self.user_value(USER_ENVIRONMENT, "ComSpec", planted.win_dir + r"\Lexoria.exe")
        # Control: the user's value is what a process started now sees.
        control = self.wine.wine(["cmd", "/c", "echo", "%ComSpec%"], timeout=30,
                                 name="cmd_comspec_control")
        self.assertIn(planted.win_dir + r"\Lexoria.exe", control.stdout)
        report = self.probe()
        self.assertIn(" 10.", report["ver"], report)
        self.assertFalse(planted.file("standin.log").exists(), "the planted ComSpec was started")

    def test_oem_conversion_covers_bytes_after_nul(self):
        """Tests that the port converts the whole output from code page 866, past a NUL byte."""
        report = self.probe(["oem-to-char", "8f00e0a8"], lang=RU)  # "П", NUL, "ри"
        self.assertEqual(report.get("converted"), "cf00f0e8", report)

    def test_product_name_replaces_edition(self):
        """Tests that on 6.x the registry's ProductName is the edition name."""
        self.use_windows_version("win10")
        product = self.wine.reg_get(CURRENT_VERSION, "ProductName")
        self.assertIsInstance(product, str)
        report = self.probe()
        self.assertTrue(report["edition"].startswith(product + " %d-bit" % self.bits), report)

    def test_product_name_not_text_keeps_words(self):
        """Tests that a REG_DWORD ProductName is passed over and start-up goes on."""
        self.use_windows_version("win7")
        previous = self.wine.reg_get(CURRENT_VERSION, "ProductName")
        if previous is not None:
            self.addCleanup(self.wine.reg_set, CURRENT_VERSION, "ProductName", previous)
        self.wine.reg_set(CURRENT_VERSION, "ProductName", 7, kind="REG_DWORD")
        report = self.probe()
        # Wine 8.0 reports an explicit "win7" as a server (see EDITIONS).
        words = "Server 2008 R2  %d-bit" % self.bits
        self.assertTrue(report["edition"].startswith("Microsoft Windows " + words), report)
        self.assertEqual(report["is64"], "1" if self.bits == 64 else "0")

    def test_locale_and_first_argument(self):
        """Tests RussianUi per locale and FirstArgument lowered A-Z only."""
        rows = [
            (RU, ["MODEST", "RUNAPP"], "1", "modest"),
            (EN, ["MoDeSt"], "0", "modest"),
            (EN, [], "0", ""),
            (RU, ["ТИХО"], "1", "ТИХО"),
            (RU, ["Mixed Case Words"], "1", "mixed case words"),
        ]
        for lang, args, russian, first in rows:
            with self.subTest(lang=lang, args=args):
                report = self.probe(args, lang=lang)
                self.assertEqual(report["russian_ui"], russian, report)
                self.assertEqual(report["lcid"], "0x0419" if lang == RU else "0x0409")
                self.assertEqual(report["first_argument"], first, report)

    def test_shared_registry_writes_to_the_native_view(self):
        """Tests that SharedRegistry writes land in the native view as reg query shows:
        the 64-bit view on 64-bit Windows (never WOW6432Node, where a 32-bit
        program's plain writes go), the only view on 32-bit Windows."""
        self.use_windows_version("win10")
        key = "HKLM\\" + PROBE_KEY
        self.addCleanup(self.wine.reg_delete_key, key)
        report = self.probe(["write-dword", PROBE_KEY, "EstimatedSize", "-1"])
        self.assertEqual(report.get("written"), "1", report)
        self.assertEqual(self.wine.reg_query(key, "EstimatedSize"), ("REG_DWORD", "0xffffffff"))
        self.assertFalse(self.wine.reg_key_exists(
            r"HKLM\Software\WOW6432Node\Microsoft\Windows\CurrentVersion\Uninstall\LexoriaProbe"))

    def test_dword_read_as_text_raises(self):
        """Tests that reading a REG_DWORD as text raises the accessor's type error."""
        key = "HKLM\\" + PROBE_KEY
        self.addCleanup(self.wine.reg_delete_key, key)
        self.wine.reg_set(key, "EstimatedSize", 1234, kind="REG_DWORD")
        self.wine.reg_set(key, "Text", "abc")
        report = self.probe(["read-text", PROBE_KEY, "EstimatedSize"])
        self.assertEqual(report.get("raised"), "Invalid data type for 'EstimatedSize'", report)
        report = self.probe(["read-text", PROBE_KEY, "Text"])
        self.assertEqual(report.get("text"), "abc", report)
        report = self.probe(["read-text", PROBE_KEY, "Missing"])
        self.assertEqual(report.get("text"), "", report)


if __name__ == "__main__":
    unittest.main()

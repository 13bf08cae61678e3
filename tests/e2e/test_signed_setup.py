"""The signed release setup, under Wine.

A signature appends a certificate table to the file and rewrites the header's
checksum. The setup checks its own file against that checksum before it does
anything, so a signer that left the header stale would turn every release into
a setup that calls itself damaged. This runs the signed file the release test
made (tests/release/test_release.sh, path in LEXORIA_SIGNED_SETUP) in quiet
mode over an older package.

The signed file is the i686 deliverable, run in the 64-bit prefix through
WOW64; where this kernel runs no 32-bit programs, the release test signs and
time-stamps the x86_64 build alike, and that one runs under wine64.
"""

import os
import pathlib
import shutil
import unittest

import harness

CARRIED_VERSION = 1040
CARRIED_SIZE = 88000000  # the generated sample package the release test carries
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Lexoria"


def signed_setup():
    """The signed file, or None when the run made none."""
    path = os.environ.get("LEXORIA_SIGNED_SETUP")
    if not path or not pathlib.Path(path).is_file():
        return None
    return pathlib.Path(path)


class SignedSetupTest(harness.E2ETestCase):
    def setUp(self):
        super().setUp()
        if signed_setup() is None:
            self.skipTest("no signed setup: LEXORIA_SIGNED_SETUP names no file "
                          "(tests/release/test_release.sh makes one)")
        bits = 32 if harness.pe_machine(signed_setup()) == 0x14C else 64
        if bits != self.wine.program_bits:
            self.skipTest("the signed setup is a %d-bit program; this session runs %d-bit ones"
                          % (bits, self.wine.program_bits))

    def test_signed_setup_installs_in_quiet_mode(self):
        """Tests that the signed setup, started as "modest" over lxrq.pak of
        version 1039, shows no box, exits 0 and leaves the carried package of
        version 1040 installed (a failed self-check would show the damaged-file
        box instead)."""
        inst = self.install(pak_version=1039)
        inst.register()
        # Started from a folder of its own, as a downloaded file would be.
        folder = self.wine.drive_c / "Downloads"
        folder.mkdir(exist_ok=True)
        self.addCleanup(shutil.rmtree, folder, True)
        setup = folder / signed_setup().name
        shutil.copyfile(signed_setup(), setup)

        run = self.wine.run_program(setup, ["modest"], timeout=180, name="signed-setup")
        self.assertFalse(run.timed_out, run.describe())
        self.assertEqual(run.boxes, [], run.describe())
        self.assertEqual(run.exit_code, 0, run.describe())
        data = inst.pak.read_bytes()
        self.assertEqual(harness.pak_version(data), CARRIED_VERSION)
        self.assertEqual(len(data), CARRIED_SIZE)
        self.assertIsNotNone(self.wine.reg_query(UNINSTALL_KEY, "EstimatedSize"),
                             "EstimatedSize written")


if __name__ == "__main__":
    unittest.main()

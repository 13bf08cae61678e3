"""The setup's checksum stamp, judged by Windows' own imagehlp.

The build stamps the PE image checksum into the setup and the setup checks its
own file against it. Our calculator must not be checked only against itself:
here Wine's imagehlp MapFileAndCheckSumA (helpers/checksum_probe.cc) reads the
stamp of the built setup and computes the checksum of its bytes, and a copy
with one byte of the package changed must no longer match.
"""

import pathlib
import re
import shutil
import sys

import harness

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "deliverable"))
from pe_file import PeFile  # noqa: E402

PACKAGE_RESOURCE = ("PAK", "LXRQ", 1049)


class ChecksumStampTest(harness.E2ETestCase):
    def imagehlp(self, path):
        """(stamped, computed) as MapFileAndCheckSumA reports them for PATH."""
        probe = self.wine.helper("checksum_probe")
        result = self.wine.wine([probe, self.wine.windows_path(path)], timeout=120,
                                name="checksum-probe")
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        match = re.search(r"header=0x([0-9A-F]{8}) computed=0x([0-9A-F]{8}) rc=0",
                          result.stdout)
        self.assertIsNotNone(match, result.stdout)
        return int(match.group(1), 16), int(match.group(2), 16)

    def test_imagehlp_agrees_with_the_stamp_of_the_built_setup(self):
        """Tests that imagehlp finds the setup's stamp non-zero and equal to the
        checksum it computes itself over the 88 MB file."""
        setup = self.wine.product()
        stamped, computed = self.imagehlp(setup)
        self.assertNotEqual(stamped, 0)
        self.assertEqual(stamped, PeFile(setup.read_bytes()).checksum)
        # imagehlp subtracts the stored field instead of skipping it: in the
        # one build in 65535 whose other words sum to a multiple of 0xFFFF it
        # reports 0xFFFF less than the word-fold definition our stamp follows.
        self.assertIn(stamped - computed, (0, 0xFFFF),
                      "stamp 0x%08X, imagehlp 0x%08X" % (stamped, computed))

    def test_imagehlp_sees_a_changed_package_byte(self):
        """Tests that one changed byte of the carried package makes imagehlp's checksum
        differ from the stamp, as the setup's own check then refuses the file."""
        data = bytearray(self.wine.product().read_bytes())
        offset, size = PeFile(bytes(data)).resources()[PACKAGE_RESOURCE]
        data[offset + size // 3] ^= 0x01
        folder = self.wine.work_dir / "checksum-stamp"
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        self.addCleanup(shutil.rmtree, folder, True)
        copy = folder / "lexoria-update.exe"
        copy.write_bytes(data)

        stamped, computed = self.imagehlp(copy)
        self.assertEqual(stamped, PeFile(bytes(data)).checksum)
        self.assertNotIn(stamped - computed, (0, 0xFFFF))

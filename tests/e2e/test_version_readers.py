"""ReadExeFileVersion under Wine, through the real VersionApi.

version_probe.exe (tests/e2e/probes/) runs ReadExeFileVersion on a path (and
ExeFileVersionOf on the file's bytes, which must agree with it) and
prints the text as hex. The expected texts are read here straight from the
files' version resources, so the test checks the reader against the file and
not against what Wine's version.dll happens to say.

Wine 8.0 as seen here: system32\\notepad.exe carries no version resource;
explorer.exe does (FileVersion 6.1.7601.17567, block 040904B0); DLLs such as
kernel32.dll do too, but SHGetFileInfoA with SHGFI_EXETYPE gives 0 for a DLL,
as Windows does, so the reader gives the empty text before version.dll is
asked. Wine's own user32.dll imports version.dll, so under Wine that module is
in every GUI process from start-up, whatever the setup does.
"""

import pathlib

import harness

FILE_VERSION_KEY = "FileVersion\0".encode("utf-16-le")
VERSION_INFO_KEY = "VS_VERSION_INFO\0".encode("utf-16-le")


def file_version_in(path):
    """The first FileVersion text in the file's version resource, or None.

    A String entry is wLength, wValueLength, wType, the UTF-16 key with its
    NUL, padding to a 4-byte boundary, then the UTF-16 value with its NUL.
    Resource data starts 4-aligned in the file, so file offsets keep that
    alignment.
    """
    data = pathlib.Path(path).read_bytes()
    # From the resource's own start: a program may name the key in its code.
    at = data.find(VERSION_INFO_KEY)
    at = data.find(FILE_VERSION_KEY, at) if at != -1 else -1
    while at != -1 and at % 2 != 0:
        at = data.find(FILE_VERSION_KEY, at + 1)
    if at == -1:
        return None
    value = (at + len(FILE_VERSION_KEY) + 3) & ~3
    end = value
    while data[end:end + 2] != b"\0\0":
        end += 2
    return data[value:end].decode("utf-16-le")


class ReadExeFileVersionTest(harness.E2ETestCase):
    def probe(self, windows_path, from_image=False):
        """ReadExeFileVersion of the path as the probe printed it (bytes), or with
        FROM_IMAGE the version read from the file's bytes, as of a new package."""
        run = self.wine.wine([self.wine.helper("version_probe"), "exe", windows_path],
                             timeout=60, name="version_probe")
        self.assertFalse(run.timed_out, run.stderr)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        lines = dict(line.split("=", 1) for line in run.stdout.splitlines() if "=" in line)
        self.assertIn("fileversion", lines, run.stdout)
        text = lines["image" if from_image else "fileversion"].strip()
        return b"" if text == "-" else bytes.fromhex(text)

    def test_a_windows_executable_of_the_prefix_gives_its_file_version(self):
        path = r"C:\windows\system32\explorer.exe"
        expected = file_version_in(self.wine.unix_path(path))
        self.assertIsNotNone(expected, "Wine's explorer.exe carries a version resource")
        self.assertEqual(self.probe(path), expected.encode("cp1251"))
        self.assertEqual(self.probe(path, from_image=True), expected.encode("cp1251"))

    def test_an_executable_without_version_resource_gives_the_empty_text(self):
        path = r"C:\windows\system32\notepad.exe"
        self.assertIsNone(file_version_in(self.wine.unix_path(path)),
                          "Wine's notepad.exe carries no version resource")
        self.assertEqual(self.probe(path), b"")
        self.assertEqual(self.probe(path, from_image=True), b"")

    def test_a_dll_is_no_executable_for_the_shell(self):
        path = r"C:\windows\system32\kernel32.dll"
        self.assertIsNotNone(file_version_in(self.wine.unix_path(path)))
        self.assertEqual(self.probe(path), b"")

    def test_our_own_setup_gives_its_file_version(self):
        product = self.wine.product()
        self.assertTrue(product.exists(), "lexoria-update.exe is not built")
        package = self.wine.build_dir / "packages" / "lxrq.pak"
        version = 1040
        if package.exists():
            with open(package, "rb") as f:
                head = f.read(8)
            version = harness.pak_version(head)
        expected = "1.0.%d.0" % version
        self.assertEqual(file_version_in(product), expected)
        self.assertEqual(self.probe(self.wine.windows_path(product)), expected.encode("ascii"))
        self.assertEqual(self.probe(self.wine.windows_path(product), from_image=True),
                         expected.encode("ascii"))

    def test_a_text_file_and_a_missing_file_give_the_empty_text(self):
        text_file = self.wine.unix_path(r"C:\lexoria-e2e\readme.txt")
        text_file.parent.mkdir(parents=True, exist_ok=True)
        text_file.write_bytes(b"FileVersion 9.9.9.9\r\n")
        self.addCleanup(text_file.unlink)
        self.assertEqual(self.probe(r"C:\lexoria-e2e\readme.txt"), b"")
        self.assertEqual(self.probe(r"C:\lexoria-e2e\missing.exe"), b"")


if __name__ == "__main__":
    import unittest
    unittest.main()

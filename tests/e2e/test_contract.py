"""The rows of tests/contract/ on the real adapter under Wine (contract_probe.exe).

The unit tests run the same rows on the fakes. Wine makes no link through
its API, so the links the rows lay are made here first, as Unix symbolic
links, which Wine shows as links by their names.
"""

import shutil

import harness

ROOT = r"C:\lexoria-contract"


class ContractTest(harness.E2ETestCase):
    def probe(self, command):
        run = self.wine.wine([self.wine.helper("contract_probe"), command, ROOT], timeout=120,
                             name="contract-" + command)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        return run.stdout.splitlines()

    @harness.on_32bit_windows_too
    def test_every_row_of_the_contract_holds_on_the_real_adapter(self):
        root = self.wine.unix_path(ROOT)
        shutil.rmtree(root, ignore_errors=True)
        self.addCleanup(shutil.rmtree, root, True)
        for line in self.probe("links"):
            _, path, target, _ = line.split(" ")
            link = self.wine.unix_path(path)
            link.parent.mkdir(parents=True, exist_ok=True)
            link.symlink_to(self.wine.unix_path(target))
        rows = [line for line in self.probe("run") if line.startswith("row ")]
        self.assertGreater(len(rows), 10)
        for line in rows:
            with self.subTest(line.split(" ")[1]):
                self.assertTrue(line.endswith(" ok"), line)

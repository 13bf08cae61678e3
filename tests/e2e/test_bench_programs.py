"""The benchmark's programs (bench/, target bench_tools) run once each, so that a
change that breaks them fails here and not at the next bench run."""

import harness


class BenchProgramsTest(harness.E2ETestCase):
    def bench(self, name, *args):
        program = self.wine.build_dir / "bench" / (name + ".exe")
        self.assertTrue(program.exists(), "%s is not built (target bench_tools)" % program)
        run = self.wine.wine([program, *args], timeout=300, name=name)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        return run.stdout

    def test_each_program_measures_what_it_is_for(self):
        setup = self.wine.windows_path(self.wine.product())
        target = r"C:\lexoria-e2e\bench\lxrq.pak"
        self.wine.unix_path(target).parent.mkdir(parents=True, exist_ok=True)
        self.addCleanup(self.wine.unix_path(target).unlink, True)
        self.assertIn("copy_ms=", self.bench("bench_floor", target, "copy", "flush"))
        self.assertIn("exit=0 ", self.bench("bench_launch", self.wine.windows_path(
            self.wine.build_dir / "bench" / "bench_floor.exe"), target))
        self.assertIn("intact=1", self.bench("bench_checksum", setup, "1"))
        self.assertIn("kib=", self.bench("bench_size_walk", r"C:\lexoria-e2e\bench"))

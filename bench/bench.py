#!/usr/bin/env python3
"""Benchmark of the update setup under Wine; prints figures, fails nothing.

Usage: bench.py BUILD_DIR [--rounds N] [--runs N] [--host-bench PATH] [--keep-prefix]
                [--only update|checksum|walk]

BUILD_DIR is the win32 build (the i686 deliverable, run in a 64-bit prefix as
on 64-bit Windows) or, where the kernel runs no 32-bit programs, the win64
build, with lexoria-update.exe, packages/lxrq.pak and bench/ (the bench_tools
target). --host-bench names the host build's checksum_bench (Google
Benchmark) when it was built. Everything runs in one Wine session whose
wineserver and desktop stay up (bench_desktop holds the desktop, as Windows
always has one):

  1. the quiet update ("modest") over an installed package of version 1039,
     the NSIS silent installer of the same package (built here with makensis:
     same bitness as the setup, no compression, CRC check on) and the floor
     (bench_floor: one WriteFile of the same resource), in N alternating
     rounds (default 20, the order rotating each round), each run timed
     inside Wine by bench_launch (QueryPerformanceCounter around
     CreateProcess and the wait); per program the median, the 90th
     percentile and the spread, and the ratios of this run. Beside them, in
     the same rounds, the split of the setup's time: its own steps timed one
     by one inside bench_steps (the same code, adapter and resource), the
     flush before the rename timed inside bench_floor (a step the setup takes
     and NSIS does not), and the process's start and end as the rest;
  2. peak memory of that update, against twice the package size plus 24 MB;
  3. throughput of the self-check on the real setup file, against plain
     reading of the same file;
  4. EstimateInstalledSize over 50,000 files in 2,000 directories, against
     "cmd /c dir /s /a" of the same tree.

The load average is printed before and after the rounds: the machine may be
shared, and the rounds alternate so that load hits every program alike.
The exit code is 0 when the figures could be measured at all, 1 when the
machinery failed (Wine would not start, a helper is missing).
"""

import argparse
import filecmp
import json
import os
import pathlib
import re
import shutil
import statistics
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))

import harness  # noqa: E402

MB = 1 << 20
INSTALL_DIR = r"C:\Program Files\Lexoria"
TREE_DIR = r"C:\bench-tree"
TREE_TOP_DIRS = 40
TREE_SUB_DIRS = 49  # under each top directory: 40 + 40 * 49 = 2,000 directories
TREE_FILES_PER_DIR = 25  # 2,000 * 25 = 50,000 files
OLD_VERSION = 1039


def median(values):
    return statistics.median(values) if values else float("nan")


def percentile90(values):
    """The nearest-rank 90th percentile: the 18th of 20 sorted runs."""
    ordered = sorted(values)
    return ordered[max(0, -(-9 * len(ordered) // 10) - 1)] if ordered else float("nan")


def load_average():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def fmt_runs(values, unit="ms", digits=0):
    return ", ".join(("%." + str(digits) + "f") % v for v in values) + " " + unit


def parse_fields(line):
    return dict(re.findall(r"(\w+)=(\S+)", line))


class Bench:
    def __init__(self, build_dir, runs, host_bench, keep_prefix, rounds=20):
        self.build_dir = pathlib.Path(build_dir).resolve()
        self.runs = max(5, runs)
        self.rounds = max(5, rounds)
        self.host_bench = host_bench
        self.bench_dir = self.build_dir / "bench"
        self.setup = self.build_dir / "lexoria-update.exe"
        self.package = self.build_dir / "packages" / "lxrq.pak"
        self.session = harness.Session(self.build_dir, work_dir=self.build_dir / "bench-wine",
                                       keep_prefix=keep_prefix)
        self.notes = []
        self.results = {}

    # -- plumbing -------------------------------------------------------------

    def tool(self, name):
        path = self.bench_dir / (name + ".exe")
        if not path.exists():
            raise harness.HarnessError("%s is not built (cmake --build %s --target bench_tools)"
                                       % (path, self.build_dir))
        return path

    def win(self, path):
        return self.session.windows_path(path)

    def launch(self, program_args, poll_ms=0, name=None, timeout=300):
        """Runs a program under bench_launch; returns its fields and wall seconds."""
        args = [self.tool("bench_launch")]
        if poll_ms:
            args += ["--poll-ms", str(poll_ms)]
        result = self.session.wine(args + list(program_args), timeout=timeout, name=name)
        for line in result.stdout.splitlines():
            if line.startswith("exit="):
                fields = parse_fields(line)
                return {
                    "exit": int(fields["exit"]),
                    "ms": float(fields["ms"]),
                    "peak_ws": int(fields["peak_ws"]),
                    "peak_pagefile": int(fields["peak_pagefile"]),
                    "outer_s": result.seconds,
                }
        raise harness.HarnessError("bench_launch printed nothing (rc %s): %s %s" % (
            result.returncode, result.stdout[-500:], result.stderr[-500:]))

    # -- 1 and 2: the quiet update against the floor ---------------------------

    def prepare_installation(self):
        self.inst = harness.Installation(self.session, INSTALL_DIR)
        self.inst.dir.mkdir(parents=True, exist_ok=True)
        # Only its presence matters in quiet mode without "runapp": the
        # stand-in when the e2e helpers are built, else any small program.
        standin = self.build_dir / "e2e-helpers" / "stand_in_lexoria.exe"
        source = standin if standin.exists() else self.tool("bench_launch")
        self.inst.exe.write_bytes(source.read_bytes())
        self.inst.register()
        data = bytearray(self.package.read_bytes())
        self.new_version = int.from_bytes(data[6:8], "little")
        data[6:8] = OLD_VERSION.to_bytes(2, "little")
        self.old_package = bytes(data)

    def lay_out_old_package(self):
        """The installed package of version 1039, written anew and on disk."""
        for leftover in self.inst.dir.glob("~*"):
            leftover.unlink()
        with open(self.inst.pak, "wb") as f:
            f.write(self.old_package)
            f.flush()
            os.fsync(f.fileno())

    def installed_version(self):
        with open(self.inst.pak, "rb") as f:
            head = f.read(8)
        return int.from_bytes(head[6:8], "little") if len(head) == 8 else None

    def run_update(self, poll_ms=0):
        self.lay_out_old_package()
        run = self.launch([self.win(self.setup), "modest"], poll_ms=poll_ms, name="update")
        run["version"] = self.installed_version()
        run["ok"] = (run["exit"] == 0 and self.inst.pak.stat().st_size == len(self.old_package)
                     and run["version"] == self.new_version
                     and not any(self.inst.dir.glob("~*")))
        return run

    def build_nsis(self):
        """The NSIS installer of the same package, or None when makensis is missing."""
        makensis = shutil.which("makensis")
        if makensis is None:
            self.notes.append("NSIS comparison skipped: makensis not installed (Debian nsis)")
            return None
        folder = self.bench_dir / "nsis"
        folder.mkdir(parents=True, exist_ok=True)
        script = folder / "setup.nsi"
        # The stub of the setup's own bitness: a machine whose kernel runs no
        # 32-bit programs measures the x86_64 build, and the x86 stub would not run.
        target = "x86-unicode" if self.session.program_bits == 32 else "amd64-unicode"
        self.nsis_target = target
        script.write_text("\n".join([
            "Unicode true",
            "Target " + target,
            "SetCompress off",  # the setup carries its package uncompressed too
            "CRCCheck on",  # and checks its own file before writing
            "RequestExecutionLevel admin",
            "SilentInstall silent",
            'Name "Lexoria package (bench)"',
            'OutFile "%s"' % (folder / "nsis-setup.exe"),
            'InstallDir "%s"' % INSTALL_DIR,
            "Section",
            '  SetOutPath "$INSTDIR"',
            "  SetOverwrite on",
            '  File "%s"' % self.package,
            "SectionEnd",
            ""]), encoding="utf-8")
        result = subprocess.run([makensis, "-V2", str(script)], capture_output=True, text=True,
                                timeout=300)
        if result.returncode != 0:
            raise harness.HarnessError("makensis failed: " + result.stdout[-500:])
        return folder / "nsis-setup.exe"

    def run_nsis(self, poll_ms=0):
        self.lay_out_old_package()
        run = self.launch([self.win(self.nsis), "/S", "/D=" + INSTALL_DIR], poll_ms=poll_ms,
                          name="nsis")
        run["ok"] = run["exit"] == 0 and self.installed_version() == self.new_version
        return run

    def run_floor(self, poll_ms=0):
        self.lay_out_old_package()
        run = self.launch([self.win(self.tool("bench_floor")), INSTALL_DIR + "\\lxrq.pak"],
                          poll_ms=poll_ms, name="floor")
        run["ok"] = run["exit"] == 0 and self.installed_version() == self.new_version
        return run

    def run_shares(self):
        """bench_floor with the flush the update does before its rename, timed by the
        floor itself: its share of the update."""
        self.lay_out_old_package()
        result = self.session.wine([self.tool("bench_floor"), INSTALL_DIR + "\\lxrq.pak",
                                    "flush"], timeout=300, name="floor-shares")
        fields = parse_fields(result.stdout)
        ok = (result.returncode == 0 and "flush_ms" in fields and
              self.installed_version() == self.new_version)
        return {"ok": ok, "flush_ms": float(fields["flush_ms"]) if ok else None}

    def run_steps(self):
        """bench_steps: the update's own steps, each timed inside one process."""
        self.lay_out_old_package()
        result = self.session.wine([self.tool("bench_steps"), self.win(self.setup)], timeout=300,
                                   name="steps")
        fields = {k[:-3]: float(v) for k, v in parse_fields(result.stdout).items()
                  if k.endswith("_ms")}
        fields["ok"] = result.returncode == 0 and self.installed_version() == self.new_version
        return fields

    def hold_desktop(self):
        """Starts bench_desktop and waits until its window exists; returns it."""
        run_dir = self.session.runs_dir / "desktop"
        run_dir.mkdir(exist_ok=True)
        holder = self.session.start_background([self.tool("bench_desktop")], name="desktop",
                                               run_dir=run_dir)
        out = run_dir / "desktop.stdout.txt"
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline and holder.alive():
            if out.exists() and "ready" in out.read_text(errors="replace"):
                return holder
            time.sleep(0.1)
        raise harness.HarnessError("bench_desktop did not start (see %s)" % out.parent)

    def measure_update(self):
        self.prepare_installation()
        self.nsis = self.build_nsis()
        holder = self.hold_desktop()
        sides = [("update", self.run_update), ("floor", self.run_floor), ("shares", self.run_shares),
                 ("steps", self.run_steps)]
        if self.nsis is not None:
            sides.insert(1, ("nsis", self.run_nsis))
        # Two untimed rounds: a freshly booted prefix is still settling.
        warm = self.run_update()
        for _ in range(2):
            for _, run in sides:
                run()
        identical = warm["ok"] and filecmp.cmp(self.inst.pak, self.package, shallow=False)
        timed = {name: [] for name, _ in sides}
        load_before = load_average()
        for i in range(self.rounds):
            # A rotating order, so that no program always runs first or last.
            for name, run in sides[i % len(sides):] + sides[:i % len(sides)]:
                timed[name].append(run())
        load_after = load_average()
        desktop_held = holder.alive()
        holder.kill()
        mem_updates = [self.run_update(poll_ms=5) for _ in range(self.runs)]
        mem_floors = [self.run_floor(poll_ms=5) for _ in range(self.runs)]
        self.results["update"] = dict(timed=timed, identical=identical, warm=warm,
                                      load=(load_before, load_after), desktop_held=desktop_held,
                                      mem_updates=mem_updates, mem_floors=mem_floors)

    # -- 3: the self-check ------------------------------------------------------

    def measure_checksum(self):
        result = self.session.wine([self.tool("bench_checksum"), self.win(self.setup),
                                    str(self.runs)], timeout=600, name="checksum")
        lines = result.stdout.splitlines()
        head = parse_fields(lines[0]) if lines else {}
        runs = [parse_fields(line) for line in lines if line.startswith("run=")]
        if "bytes" not in head or len(runs) < self.runs:
            raise harness.HarnessError("bench_checksum failed (rc %s): %s %s" % (
                result.returncode, result.stdout[-500:], result.stderr[-500:]))
        self.results["checksum"] = dict(
            bytes=int(head["bytes"]), intact=head.get("intact") == "1",
            read=[float(r["read_ms"]) for r in runs],
            selfcheck=[float(r["selfcheck_ms"]) for r in runs],
            memsum=[float(r["memsum_ms"]) for r in runs],
            host=self.measure_host_checksum())

    def measure_host_checksum(self):
        if not self.host_bench or not pathlib.Path(self.host_bench).exists():
            return None
        out = subprocess.run(
            [self.host_bench, "--benchmark_repetitions=%d" % self.runs,
             "--benchmark_report_aggregates_only=true", "--benchmark_format=json"],
            capture_output=True, text=True, timeout=900)
        if out.returncode != 0:
            return {"error": out.stderr[-300:]}
        figures = {}
        for entry in json.loads(out.stdout).get("benchmarks", []):
            if entry.get("aggregate_name") == "median":
                figures[entry["run_name"]] = entry.get("bytes_per_second", 0.0)
        return figures

    # -- 4: the size walk --------------------------------------------------------

    def make_tree(self):
        """50,000 files in 2,000 directories; returns the expected estimate."""
        root = self.session.unix_path(TREE_DIR)
        stamp = root / ".bench-tree-complete"
        sizes_total = 0
        plan = []
        index = 0
        for top in range(TREE_TOP_DIRS):
            top_dir = root / ("d%02d" % top)
            dirs = [top_dir] + [top_dir / ("s%02d" % sub) for sub in range(TREE_SUB_DIRS)]
            for directory in dirs:
                files = []
                for n in range(TREE_FILES_PER_DIR):
                    size = (index * 37) % 4096
                    index += 1
                    sizes_total += size
                    files.append(("f%02d.dat" % n, size))
                plan.append((directory, files))
        if not stamp.exists():
            filler = bytes(4096)
            for directory, files in plan:
                directory.mkdir(parents=True, exist_ok=True)
                for name, size in files:
                    with open(directory / name, "wb") as f:
                        f.write(filler[:size])
            stamp.write_text("%d files, %d directories\n" % (index, len(plan)))
            # The stamp itself is part of the tree that both sides list.
        sizes_total += stamp.stat().st_size
        return sizes_total >> 10, index, len(plan)

    def measure_size_walk(self):
        expected, files, dirs = self.make_tree()
        walk_args = [self.win(self.tool("bench_size_walk")), TREE_DIR + "\\"]
        dir_args = [r"C:\windows\system32\cmd.exe", "/c", "dir", "/s", "/a", TREE_DIR, ">", "NUL"]
        estimates = set()
        inner = []
        walks, dirs_runs = [], []
        self.launch(walk_args, name="size-walk")
        self.launch(dir_args, name="dir")
        for i in range(self.runs):
            pair = [(walks, walk_args, "size-walk"), (dirs_runs, dir_args, "dir")]
            if i % 2:
                pair.reverse()
            for bucket, args, name in pair:
                bucket.append(self.launch(args, name=name))
        # The walk alone, without process start, from the helper's own clock.
        for _ in range(self.runs):
            result = self.session.wine(walk_args, name="size-walk-alone")
            fields = parse_fields(result.stdout)
            if "kib" in fields:
                estimates.add(int(fields["kib"]))
                inner.append(float(fields["ms"]))
        self.results["walk"] = dict(expected=expected, files=files, dirs=dirs, walks=walks,
                                    dirs_runs=dirs_runs, estimates=estimates, inner=inner)

    # -- report ------------------------------------------------------------------

    def verdict(self, met):
        return "target met" if met else "TARGET MISSED"

    def report(self):
        print()
        print("setup   %s (%d bytes): %s" % (self.setup, self.setup.stat().st_size,
                                             self.session.kind))
        print("package %s (%d bytes)" % (self.package, self.package.stat().st_size))
        for note in self.notes:
            print("note    " + note)
        checksum = self.results.get("checksum")
        self.report_update()
        self.report_memory()
        self.report_checksum(checksum)
        self.report_walk()

    def report_update(self):
        data = self.results.get("update")
        if not data:
            return
        timed = data["timed"]
        print()
        print("1. Quiet update (modest) over lxrq.pak %d: %d alternating rounds, each run timed "
              "inside Wine" % (OLD_VERSION, len(timed["update"])))
        print("   load average (1, 5, 15 min) before %s, after %s, on %d cores; Wine's desktop "
              "held up throughout: %s" % (data["load"][0], data["load"][1], os.cpu_count(),
                                          "yes" if data["desktop_held"] else "NO"))
        print("   %-7s %7s %7s %13s   %s" % ("", "median", "p90", "spread", "runs (ms, sorted)"))
        figures = {}
        labels = [("update", "setup"), ("nsis", "NSIS"), ("floor", "floor")]
        for name, label in labels:
            runs = timed.get(name)
            if not runs:
                continue
            ms = sorted(r["ms"] for r in runs)
            figures[name] = (median(ms), percentile90(ms))
            print("   %-7s %7.0f %7.0f %6.0f-%-6.0f   %s" % (
                label, figures[name][0], figures[name][1], ms[0], ms[-1],
                " ".join("%.0f" % v for v in ms)))
        up, up90 = figures["update"]
        fl = figures["floor"][0]
        print("   setup/floor %.2f at the median (target at most 2.50): %s" % (
            up / fl, self.verdict(up <= 2.5 * fl)))
        if "nsis" in figures:
            ns, ns90 = figures["nsis"]
            print("   setup/NSIS %.2f at the median, %.2f at p90 (target: ahead at both): %s; "
                  "NSIS/floor %.2f; NSIS: %s stub, silent" % (
                      up / ns, up90 / ns90, self.verdict(up < ns and up90 < ns90), ns / fl,
                      self.nsis_target))
        else:
            print("   no NSIS figure")
        self.report_split(timed, up, fl)
        bad = [r for r in timed["update"] + data["mem_updates"] if not r["ok"]]
        bad_nsis = [r for r in timed.get("nsis", []) if not r["ok"]]
        bad_floor = [r for r in timed["floor"] if not r["ok"]]
        print("   every run installed version %d (setup: exit 0, no ~ file, byte-identical): %s" % (
            self.new_version, "yes" if not (bad or bad_nsis or bad_floor) and data["identical"]
            else "NO (setup %d, NSIS %d, floor %d runs failed; identical: %s)" % (
                len(bad), len(bad_nsis), len(bad_floor), data["identical"])))

    def report_split(self, timed, up, fl):
        """Where the setup's median goes: its steps, the flush inside the write, the rest."""
        steps = [r for r in timed["steps"] if r["ok"]]
        shares = [r for r in timed["shares"] if r["ok"]]
        if not steps:
            print("   split: no figure (bench_steps wrote no package)")
            return
        names = [n for n in ("settings", "discovery", "running", "selfcheck", "pin", "write",
                             "size", "record") if all(n in r for r in steps)]
        parts = {n: median([r[n] for r in steps]) for n in names}
        flush = median([r["flush_ms"] for r in shares]) if shares else float("nan")
        rest = up - sum(parts.values())
        print("   split of the setup's median (its steps timed inside bench_steps, medians; the "
              "flush inside bench_floor):")
        print("     " + ", ".join("%s %.0f" % (n, parts[n]) for n in names) +
              " ms; of the write, the flush %.0f ms" % flush)
        print("     the process's start and end, and the libraries it loads: the rest, %.0f ms "
              "(the floor's whole run: %.0f ms)" % (rest, fl))
        print("     beyond the floor: %.0f ms" % (up - fl))

    def report_memory(self):
        data = self.results.get("update")
        if not data:
            return
        pkg = self.package.stat().st_size
        budget = 2 * pkg + 24 * MB
        ws = [r["peak_ws"] for r in data["mem_updates"]]
        pf = [r["peak_pagefile"] for r in data["mem_updates"]]
        fws = [r["peak_ws"] for r in data["mem_floors"]]
        fpf = [r["peak_pagefile"] for r in data["mem_floors"]]
        peak = median(ws)
        print()
        print("2. Peak memory of that update (GetProcessMemoryInfo, sampled every 5 ms)")
        print("   update  PeakWorkingSetSize %s  median %.1f MB; private (PeakPagefileUsage) "
              "median %.1f MB" % (fmt_runs([v / MB for v in ws], "MB", 1), peak / MB,
                                  median(pf) / MB))
        print("   floor   PeakWorkingSetSize %s  median %.1f MB; private median %.1f MB" % (
            fmt_runs([v / MB for v in fws], "MB", 1), median(fws) / MB, median(fpf) / MB))
        print("   budget 2 x %.1f MB + 24 MB = %.1f MB; update peak = %.2f x budget, %.2f x the "
              "floor: %s" % (pkg / MB, budget / MB, peak / budget, peak / median(fws),
                             self.verdict(peak <= budget)))
        if peak > budget:
            print("   why: the update writes from the mapped resource, as the floor does; what "
                  "it holds above the floor (%.1f MB) is its libraries and their heaps." % (
                      (peak - median(fws)) / MB))

    def report_checksum(self, data):
        if not data:
            return
        size = data["bytes"]
        check, read, mem = median(data["selfcheck"]), median(data["read"]), median(data["memsum"])
        rate = size / (check / 1000) / 1e9
        print()
        print("3. Self-check throughput on the %.0f MB setup file under Wine (real adapter, 1 MiB "
              "blocks)" % (size / MB))
        print("   SetupFileIsIntact %s  median %.1f ms = %.2f GB/s  (file judged intact: %s)" % (
            fmt_runs(data["selfcheck"], "ms", 1), check, rate, "yes" if data["intact"] else "NO"))
        print("   plain read        %s  median %.1f ms = %.2f GB/s" % (
            fmt_runs(data["read"], "ms", 1), read, size / (read / 1000) / 1e9))
        print("   sum in memory     %s  median %.1f ms = %.2f GB/s" % (
            fmt_runs(data["memsum"], "ms", 1), mem, size / (mem / 1000) / 1e9))
        print("   ratio %.2f x the plain read; %.2f GB/s (target >= 1 GB/s): %s" % (
            check / read, rate, self.verdict(rate >= 1.0)))
        host = data.get("host")
        if host is None:
            print("   host Google Benchmark: not built (libbenchmark-dev missing?)")
        elif "error" in host:
            print("   host Google Benchmark failed: %s" % host["error"])
        else:
            for name in sorted(host):
                print("   host %-34s median %.2f GB/s" % (name, host[name] / 1e9))
        if not data["intact"]:
            print("   NOTE: the self-check judged the setup file damaged: is the checksum "
                  "stamped? The time is still that of a full pass.")
        if rate < 1.0:
            if read > 0.6 * check:
                print("   why: reading alone takes %.0f%% of the self-check: Wine's ReadFile "
                      "copies every block from the page cache through its own layer; the sum "
                      "itself runs at %.2f GB/s." % (100 * read / check,
                                                     size / (mem / 1000) / 1e9))
                print("   what would close it: mapping the file (CreateFileMapping) instead of "
                      "reading it, or larger blocks to save per-call cost.")
            else:
                print("   why: the calculation dominates (%.1f ms of %.1f ms) - the sum loop is "
                      "not vectorised for this target." % (mem, check))
                print("   what would close it: a wider sum loop (SSE2 words into 64-bit lanes), "
                      "as the host benchmark's block figures show what the code can reach.")

    def report_walk(self):
        data = self.results.get("walk")
        if not data:
            return
        walks = [r["ms"] for r in data["walks"]]
        dirs = [r["ms"] for r in data["dirs_runs"]]
        walk, listing = median(walks), median(dirs)
        print()
        print("4. EstimateInstalledSize over %d files in %d directories (%s)" % (
            data["files"], data["dirs"], TREE_DIR))
        print("   estimate process  %s  median %.0f ms (the call alone, by the helper's own clock in "
              "separate runs: median %.0f ms)" % (
            fmt_runs(walks), walk, median(data["inner"])))
        print("   cmd /c dir /s /a  %s  median %.0f ms" % (fmt_runs(dirs), listing))
        estimates = sorted(data["estimates"])
        right = estimates == [data["expected"]]
        print("   estimate %s KiB, expected %d KiB: %s" % (
            "/".join(map(str, estimates)) or "none", data["expected"],
            "right" if right else "WRONG"))
        if not right:
            print("   ratio %.2f x dir: NO FIGURE - the estimate is not that of the tree%s, so "
                  "this time is not that of the walk" % (
                      walk / listing, " (-1: is the size walk in the build yet?)"
                      if estimates == [-1] else ""))
            return
        print("   ratio %.2f x dir (target <= 1.00, not slower): %s" % (
            walk / listing, self.verdict(walk <= listing)))
        if walk > listing:
            start = walk - median(data["inner"])
            print("   why: of the %.0f ms, the walk itself takes %.0f ms and starting the "
                  "process %.0f ms; dir does the same enumeration through the wide "
                  "FindFirstFileW calls, while the walk goes through FindFirstFileA/"
                  "FindNextFileA, which Wine converts from Unicode for every entry, and "
                  "keeps every directory path in its pending list." % (
                      walk, median(data["inner"]), start))
            print("   what would close it: fewer conversions per entry (the wide calls inside "
                  "the adapter) or a larger enumeration batch; the order and the totals of "
                  "the walk would stay the same.")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("build_dir")
    parser.add_argument("--rounds", type=int, default=20,
                        help="alternating rounds of figure 1 (default 20)")
    parser.add_argument("--runs", type=int, default=7,
                        help="runs of figures 2 to 4 (default 7)")
    parser.add_argument("--host-bench")
    parser.add_argument("--keep-prefix", action="store_true")
    parser.add_argument("--only", choices=["update", "checksum", "walk"], action="append")
    args = parser.parse_args()
    bench = Bench(args.build_dir, args.runs, args.host_bench, args.keep_prefix, args.rounds)
    wanted = args.only or ["update", "checksum", "walk"]
    began = time.monotonic()
    failed = False
    try:
        print("Starting Wine (prefix %s) ..." % bench.session.prefix, flush=True)
        bench.session.start()
        for name, step in (("update", bench.measure_update), ("checksum", bench.measure_checksum),
                           ("walk", bench.measure_size_walk)):
            if name not in wanted:
                continue
            print("measuring %s ..." % name, flush=True)
            try:
                step()
            except (harness.HarnessError, OSError, subprocess.SubprocessError) as error:
                failed = True
                print("   %s could not be measured: %s" % (name, error), flush=True)
        bench.report()
    except KeyboardInterrupt:
        print("\ninterrupted; Wine stopped", flush=True)
        failed = True
    finally:
        bench.session.stop()
    print()
    print("bench finished in %.0f s" % (time.monotonic() - began))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env bash
# The benchmark: builds what it needs with the presets, then measures the
# win64 setup under Wine (its own prefix, Xvfb and wineserver, all stopped at
# the end, also on failure or Ctrl-C) and prints the figures.
#
#   bash bench/run.sh [--runs N] [--keep-prefix] [--only update|checksum|walk]
#
# A missed target is printed, never turned into a failure: the exit code is
# non-zero only when something could not be built or measured at all.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

echo "== building the win64 setup and the bench programs"
cmake --preset win64 >/dev/null
cmake --build build/win64
cmake --build build/win64 --target bench_tools

host_bench=()
echo "== building the host checksum benchmark"
if cmake --preset host >/dev/null && cmake --build build/host --target checksum_bench; then
  host_bench=(--host-bench build/host/checksum_bench)
else
  echo "(host checksum_bench not built: Google Benchmark missing or the host build failed)"
fi

echo "== measuring"
# exec: the Python driver owns the Wine session and ends it on every exit
# path, signals included.
exec python3 bench/bench.py build/win64 "${host_bench[@]}" "$@"

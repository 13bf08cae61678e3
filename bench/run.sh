#!/usr/bin/env bash
# The benchmark: builds what it needs with the presets, then measures the
# setup under Wine (its own prefix, Xvfb and wineserver, all stopped at the
# end, also on failure or Ctrl-C) and prints the figures. The setup measured
# is the i686 deliverable in a 64-bit prefix (as on 64-bit Windows) where this
# kernel runs 32-bit programs, else the x86_64 build of the same sources.
#
#   bash bench/run.sh [--rounds N] [--runs N] [--keep-prefix] [--only update|checksum|walk]
#
# A missed target is printed, never turned into a failure: the exit code is
# non-zero only when something could not be built or measured at all.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

bash scripts/install-deps.sh
# NSIS builds the comparison installer at bench time; the tests never need it.
# Other users of the machine may hold apt's lock: wait for it.
if ! command -v makensis >/dev/null; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  { $sudo apt-get -o DPkg::Lock::Timeout=600 update -qq &&
    DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
      --no-install-recommends nsis >/dev/null; } || echo "(nsis not installed: no NSIS figure)"
fi

preset=win64
if [ -x /usr/lib/wine/wine ] && python3 -B tests/e2e/harness.py runs-32bit-programs; then
  preset=win32
fi
echo "== building the $preset setup and the bench programs"
cmake --preset $preset >/dev/null
cmake --build build/$preset
cmake --build build/$preset --target bench_tools

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
exec python3 bench/bench.py build/$preset "${host_bench[@]}" "$@"

#!/usr/bin/env bash
# The main job: builds the setup (the i686 deliverable and the x86_64 build of
# the same sources), then runs the deliverable under Wine in a 64-bit prefix
# against a sandbox Lexoria installation with an older package and shows what
# changed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
for preset in win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
echo
echo "Deliverable: build/win32/lexoria-update.exe ($(stat -c %s build/win32/lexoria-update.exe) bytes)"
# The deliverable itself where this kernel runs 32-bit programs; else the
# x86_64 build of the same sources.
build=build/win64
if [ -x /usr/lib/wine/wine ] && python3 -B tests/e2e/harness.py runs-32bit-programs; then
  build=build/win32
else
  echo "No 32-bit Wine here (this kernel runs no 32-bit programs, or wine32:i386 could not be installed): running the x86_64 build of the same sources."
fi
exec python3 scripts/demo.py "$build" "$@"

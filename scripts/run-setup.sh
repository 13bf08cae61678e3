#!/usr/bin/env bash
# The main job: builds the setup (the i686 deliverable and the x86_64 build of
# the same sources for Wine), then runs it under Wine against a sandbox Lexoria
# installation with an older package and shows what changed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
for preset in win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
echo
echo "Deliverable: build/win32/lexoria-update.exe ($(stat -c %s build/win32/lexoria-update.exe) bytes)"
exec python3 scripts/demo.py build/win64 "$@"

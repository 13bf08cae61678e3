#!/usr/bin/env bash
# Runs every test layer: the host unit tests (ASan/UBSan), the checks of the
# built executables as files, and the end-to-end scenarios under Wine. Installs
# what is missing first. The last line reads "N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/install-deps.sh || { echo "dependency installation failed"; exit 1; }

passed=0
failed=0
layers=()
count() {  # count <layer> <passed> <failed>
  # A count that is not one number (no summary line, or a garbled one) is a
  # layer that failed, never one that goes unseen.
  local p=$2 f=$3
  [[ "$p" =~ ^[0-9]+$ ]] || p=0
  [[ "$f" =~ ^[0-9]+$ ]] || f=1
  passed=$((passed + p))
  failed=$((failed + f))
  layers+=("$1: $p passed, $f failed")
}
# The counts of a layer's own last "N passed, N failed" line: a layer may
# print such lines of the checks it runs inside before its own.
last_count() {  # last_count <output> passed|failed
  local line
  line=$(echo "$1" | grep -E '^[0-9]+ passed, [0-9]+ failed$' | tail -1)
  if [ "$2" = passed ]; then echo "${line%% passed*}"; else
    line=${line##*, }
    echo "${line%% failed}"
  fi
}
step() { echo; echo "=== $*"; }

step "host build and unit tests"
# The benchmark's host program is built with them: a change to what it uses
# that breaks it fails here, not at the next bench run.
if cmake --preset host >/dev/null && cmake --build --preset host &&
  cmake --build --preset host --target checksum_bench; then
  ctest --preset host -j2 2>&1 | tee build/host-ctest.log | tail -15
  total=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\2/p' build/host-ctest.log)
  bad=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\1/p' build/host-ctest.log)
  count "unit" "$(( ${total:-0} - ${bad:-0} ))" "${bad:-1}"
else
  count "unit (build)" 0 1
fi

for preset in win32 win64; do
  step "$preset build, with the benchmark's programs"
  if cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" &&
    cmake --build --preset "$preset" --target bench_tools; then
    count "$preset build" 1 0
  else
    count "$preset build" 0 1
  fi
done

step "the deliverable as a file"
for arch in win32:i386 win64:amd64; do
  dir=build/${arch%%:*}
  out=$(python3 tests/deliverable/check_deliverable.py "$dir/lexoria-update.exe" \
        "$dir/packages/lxrq.pak" --machine "${arch##*:}" 2>&1)
  echo "$out"
  p=$(last_count "$out" passed)
  f=$(last_count "$out" failed)
  count "deliverable ${arch%%:*}" "${p:-0}" "${f:-1}"
done
if [ -f tests/deliverable/check_imports.py ]; then
  out=$(python3 tests/deliverable/check_imports.py build/win32/lexoria-update.exe \
        build/win64/lexoria-update.exe 2>&1)
  rc=$?
  echo "$out"
  if [ $rc -eq 0 ]; then count "imports" 1 0; else count "imports" 0 1; fi
fi

step "the release command: build, signature, reproducibility"
out=$(bash tests/release/test_release.sh 2>&1)
echo "$out"
p=$(last_count "$out" passed)
f=$(last_count "$out" failed)
count "release" "${p:-0}" "${f:-1}"
signed=$(echo "$out" | sed -n 's/^signed setup: //p')
[ -n "$signed" ] && export LEXORIA_SIGNED_SETUP="$signed"

step "end-to-end scenarios under Wine"
# The i686 deliverable itself on 64-bit (WOW64) and 32-bit Windows where this
# kernel runs 32-bit programs; the x86_64 build of the same sources elsewhere.
if [ -x /usr/lib/wine/wine ] && python3 -B tests/e2e/harness.py runs-32bit-programs; then
  e2e_args=(build/win32 --windows 64+32)
else
  e2e_args=(build/win64 --windows 64)
fi
out_file=build/e2e.log
python3 tests/e2e/run_e2e.py "${e2e_args[@]}" 2>&1 | tee "$out_file"
# "e2e (...): N passed, N failed; harness self-tests: M passed, M failed":
# the layer counts both.
last=$(grep -E '^e2e \(.*\): [0-9]+ passed, [0-9]+ failed' "$out_file" | tail -1)
label=$(echo "$last" | sed -n 's/^\(e2e (.*)\): [0-9]* passed.*/\1/p')
p=$(echo "$last" | grep -oE '[0-9]+ passed' | awk '{n += $1} END {if (NR) print n}')
f=$(echo "$last" | grep -oE '[0-9]+ failed' | awk '{n += $1} END {if (NR) print n}')
count "${label:-e2e} with its harness self-tests" "${p:-0}" "${f:-1}"

echo
echo "=== summary"
for l in "${layers[@]}"; do echo "  $l"; done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]

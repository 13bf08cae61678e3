#!/usr/bin/env bash
# The release command, run as a release engineer runs it: signs the setup
# with a throwaway self-signed certificate, and checks that the result
# verifies, that the unsigned executable is byte for byte the one the win32
# preset built (same commit, same package, another build folder), and that a
# refused input leaves the dist folder empty.
#
#   bash tests/release/test_release.sh
#
# Needs the win32 preset's build (build/win32/lexoria-update.exe and its
# sample package). Builds in build/release-test/ and leaves the signed setup
# there; prints "signed setup: PATH" for the scenario under Wine and, last,
# "N passed, N failed".
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
cd "$root"

reference=build/win32/lexoria-update.exe
package=build/win32/packages/lxrq.pak
work=build/release-test
build_dir=$work/build
dist_dir=$work/dist

passed=0
failed=0
check() {  # check <name> <command...>
  local name="$1"
  shift
  if "$@"; then
    echo "ok   $name"
    passed=$((passed + 1))
  else
    echo "FAIL $name"
    failed=$((failed + 1))
  fi
}
dist_empty() { [ -z "$(ls -A "$1" 2>/dev/null)" ]; }

if [ ! -f "$reference" ] || [ ! -f "$package" ]; then
  echo "FAIL $reference and $package must be built first (cmake --build --preset win32)"
  echo "0 passed, 1 failed"
  exit 1
fi

keys="$(mktemp -d)"
trap 'rm -rf "$keys"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Lexoria release test" \
  -keyout "$keys/key.pem" -out "$keys/cert.pem" 2>/dev/null
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Someone else" \
  -keyout "$keys/other-key.pem" -out "$keys/other-cert.pem" 2>/dev/null
head -c 5 "$package" >"$keys/short.pak"

rm -rf "$dist_dir"
mkdir -p "$work"

# Refused inputs: checked before anything is built, so cheap.
mkdir -p "$dist_dir"
bash scripts/build-setup.sh "$keys/short.pak" --build-dir "$build_dir" --dist-dir "$dist_dir" \
  >"$work/short.log" 2>&1
rc=$?
check "a package of 5 bytes is refused with exit code 1" [ $rc -eq 1 ]
check "... saying it is too short to hold its version" grep -q "too short" "$work/short.log"
check "... and nothing is in dist" dist_empty "$dist_dir"

bash scripts/build-setup.sh "$package" --sign "$keys/cert.pem" "$keys/other-key.pem" \
  --build-dir "$build_dir" --dist-dir "$dist_dir" >"$work/wrong-key.log" 2>&1
rc=$?
check "a key not belonging to the certificate is refused with exit code 1" [ $rc -eq 1 ]
check "... saying so" grep -q "does not belong" "$work/wrong-key.log"
check "... and nothing is in dist" dist_empty "$dist_dir"

# The release itself.
start=$(date +%s)
bash scripts/build-setup.sh "$package" --sign "$keys/cert.pem" "$keys/key.pem" \
  --build-dir "$build_dir" --dist-dir "$dist_dir" >"$work/release.log" 2>&1
rc=$?
echo "(release build, signature and checks: $(($(date +%s) - start)) s)"
check "the signed release is built (exit code 0)" [ $rc -eq 0 ]
[ $rc -eq 0 ] || tail -30 "$work/release.log"
sed -n '/^== release$/,$p' "$work/release.log"

version=$(od -An -tu1 -j6 -N2 "$package" | awk '{print $1 + 256 * $2}')
signed="$dist_dir/lexoria-update-$version.exe"
check "dist holds exactly lexoria-update-$version.exe and its .sha256" \
  [ "$(ls "$dist_dir" 2>/dev/null | tr '\n' ' ')" = "lexoria-update-$version.exe lexoria-update-$version.exe.sha256 " ]
check "the SHA-256 file matches the file (sha256sum -c)" \
  bash -c "cd '$dist_dir' && sha256sum --quiet -c 'lexoria-update-$version.exe.sha256'"
check "the summary names the package version and the signature" \
  bash -c "grep -q '^package version: $version\$' '$work/release.log' &&
           grep -q '^signed: *yes' '$work/release.log'"

check "the unsigned executable equals the win32 preset's byte for byte" \
  cmp "$build_dir/lexoria-update.exe" "$reference"
check "no build folder is named inside the executable" \
  bash -c "! strings -a '$build_dir/lexoria-update.exe' | grep -q -e '$root' -e 'release-test'"

check "osslsigncode verifies the signature against the certificate" \
  bash -c "osslsigncode verify -in '$signed' -CAfile '$keys/cert.pem' >'$work/verify.log' 2>&1"
check "the signed file is not the unsigned one" \
  bash -c "! cmp -s '$signed' '$build_dir/lexoria-update.exe'"
check "the signed file's PE checksum holds" \
  "$build_dir/host_tools/stamp_checksum" --verify "$signed"

[ -f "$signed" ] && echo "signed setup: $root/$signed"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]

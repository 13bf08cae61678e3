#!/usr/bin/env bash
# The release build: the i686 setup carrying one package, optionally signed,
# with its SHA-256, checked as a file.
#
#   bash scripts/build-setup.sh PACKAGE [--sign CERT KEY] [--build-dir DIR] [--dist-dir DIR]
#
#   PACKAGE      the lxrq.pak to carry; its version is read from bytes 6-7
#   --sign       sign with osslsigncode: CERT and KEY are PEM files (the key
#                unencrypted); no time-stamp server is asked
#   --build-dir  the build folder (default build/release; environment
#                LEXORIA_RELEASE_BUILD_DIR)
#   --dist-dir   where the result goes (default dist; environment
#                LEXORIA_DIST_DIR)
#
# Writes DIST/lexoria-update-<version>.exe and DIST/lexoria-update-<version>.exe.sha256
# (sha256sum format) and prints a summary. Any failure (unusable package,
# certificate or key, build, signature, checks) prints why and exits 1 with
# nothing written to DIST: the files are made in the build folder and moved
# there only when everything has passed.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

fail() {
  echo "build-setup: $*" >&2
  exit 1
}

usage() {
  echo "usage: bash scripts/build-setup.sh PACKAGE [--sign CERT KEY] [--build-dir DIR] [--dist-dir DIR]" >&2
  exit 1
}

package=""
cert=""
key=""
build_dir="${LEXORIA_RELEASE_BUILD_DIR:-$root/build/release}"
dist_dir="${LEXORIA_DIST_DIR:-$root/dist}"
while [ $# -gt 0 ]; do
  case "$1" in
    --sign)
      [ $# -ge 3 ] || usage
      cert="$2"
      key="$3"
      shift 3
      ;;
    --build-dir)
      [ $# -ge 2 ] || usage
      build_dir="$2"
      shift 2
      ;;
    --dist-dir)
      [ $# -ge 2 ] || usage
      dist_dir="$2"
      shift 2
      ;;
    -*) usage ;;
    *)
      [ -z "$package" ] || usage
      package="$1"
      shift
      ;;
  esac
done
[ -n "$package" ] || usage
build_dir="$(realpath -m "$build_dir")"
dist_dir="$(realpath -m "$dist_dir")"

# --- What is given, checked before anything is built.

[ -e "$package" ] || fail "package $package does not exist"
[ -f "$package" ] || fail "package $package is not a file"
[ -r "$package" ] || fail "package $package cannot be read"
package="$(realpath "$package")"
package_size=$(stat -c %s "$package")
[ "$package_size" -ge 8 ] ||
  fail "package $package is $package_size bytes, too short to hold its version (bytes 6-7)"
read -r low high < <(od -An -tu1 -j6 -N2 "$package")
version=$((low + 256 * high))

if [ -n "$cert" ]; then
  command -v osslsigncode >/dev/null || fail "osslsigncode is not installed (bash scripts/install-deps.sh)"
  command -v openssl >/dev/null || fail "openssl is not installed (bash scripts/install-deps.sh)"
  [ -r "$cert" ] && [ -f "$cert" ] || fail "certificate $cert cannot be read"
  [ -r "$key" ] && [ -f "$key" ] || fail "key $key cannot be read"
  openssl x509 -in "$cert" -noout 2>/dev/null || fail "certificate $cert is no PEM X.509 certificate"
  openssl x509 -in "$cert" -noout -checkend 0 >/dev/null 2>&1 ||
    fail "certificate $cert has expired or is not yet valid"
  key_public=$(openssl pkey -in "$key" -passin pass: -pubout 2>/dev/null) ||
    fail "key $key is no unencrypted PEM private key"
  cert_public=$(openssl x509 -in "$cert" -noout -pubkey)
  [ "$key_public" = "$cert_public" ] || fail "key $key does not belong to certificate $cert"
  cert="$(realpath "$cert")"
  key="$(realpath "$key")"
fi

# --- The build: the win32 preset's configuration in a folder of its own.

echo "== building the i686 setup carrying $package (version $version) in $build_dir"
cd "$root"
cmake --preset win32 -B "$build_dir" -DLEXORIA_PACKAGE="$package" -DLEXORIA_E2E_HELPERS=OFF >/dev/null ||
  fail "configuring $build_dir failed"
cmake --build "$build_dir" --target lexoria-update -j2 || fail "the build failed"
built="$build_dir/lexoria-update.exe"
stamp_tool="$build_dir/host_tools/stamp_checksum"

# Everything is made in a staging folder beside the build and moved into the
# dist folder only at the end.
stage="$(mktemp -d "$build_dir/stage.XXXXXX")"
trap 'rm -rf "$stage"' EXIT
name="lexoria-update-$version.exe"
cp "$built" "$stage/$name"

signed="no"
if [ -n "$cert" ]; then
  echo "== signing with $cert"
  osslsigncode sign -certs "$cert" -key "$key" -n "Lexoria update" -h sha256 \
    -in "$stage/$name" -out "$stage/$name.signed" >"$stage/sign.log" 2>&1 ||
    { cat "$stage/sign.log" >&2; fail "osslsigncode could not sign with $cert and $key"; }
  mv "$stage/$name.signed" "$stage/$name"
  # A certificate from a public authority verifies against the system's
  # authorities; a private or self-signed one against itself.
  if osslsigncode verify -in "$stage/$name" >"$stage/verify.log" 2>&1; then
    verified_by="the system's certificate authorities"
  elif osslsigncode verify -in "$stage/$name" -CAfile "$cert" >"$stage/verify.log" 2>&1; then
    verified_by="$cert"
  else
    cat "$stage/verify.log" >&2
    fail "osslsigncode verify rejects the signed file"
  fi
  echo "signature verified against $verified_by"
  # The signature is appended to the file; the setup checks its own file
  # against the header's checksum, which the signer must have updated.
  "$stamp_tool" --verify "$stage/$name" || fail "the signed file's PE checksum does not hold"
  signed="yes ($(openssl x509 -in "$cert" -noout -subject | sed 's/^subject=//'))"
fi

echo "== checking the file"
python3 "$root/tests/deliverable/check_deliverable.py" "$stage/$name" "$package" --machine i386 ||
  fail "the deliverable checks failed"
python3 "$root/tests/deliverable/check_imports.py" "$stage/$name" ||
  fail "the import check failed"

(cd "$stage" && sha256sum "$name" >"$name.sha256")
sha256=$(cut -d' ' -f1 "$stage/$name.sha256")
size=$(stat -c %s "$stage/$name")

mkdir -p "$dist_dir" || fail "cannot create $dist_dir"
mv -f "$stage/$name" "$dist_dir/$name" && mv -f "$stage/$name.sha256" "$dist_dir/$name.sha256" ||
  { rm -f "$dist_dir/$name" "$dist_dir/$name.sha256"; fail "cannot write into $dist_dir"; }

echo
echo "== release"
echo "file:            $(realpath "$dist_dir/$name")"
echo "size:            $size bytes"
echo "package version: $version"
echo "SHA-256:         $sha256"
echo "signed:          $signed"

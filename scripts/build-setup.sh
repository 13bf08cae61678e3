#!/usr/bin/env bash
# The release build: the i686 setup carrying one package, optionally signed
# and time-stamped, with its SHA-256, checked as a file.
#
#   bash scripts/build-setup.sh PACKAGE [KEY SOURCE] [--pass-file FILE]
#                               [--timestamp URL]... [--tsa-cafile FILE]
#                               [--build-dir DIR] [--dist-dir DIR]
#   bash scripts/build-setup.sh --help
#
#   PACKAGE      the lxrq.pak to carry; its version is read from bytes 6-7
#
# KEY SOURCE, at most one (without one the file is not signed):
#   --sign CERT KEY      a PEM certificate and its PEM private key, plain or
#                        encrypted
#   --pkcs12 FILE        a PKCS#12 file (.pfx, .p12) holding the certificate,
#                        its chain and its key
#   --pkcs11-module MODULE --key URI --cert CERT
#                        a key that never leaves its token or HSM: MODULE is
#                        the token's PKCS#11 library, URI names the key
#                        (pkcs11:token=...;object=...), CERT is its PEM
#                        certificate
#                A CERT file may hold the certificate's chain after it. The
#                certificate must be valid now and name codeSigning among its
#                extended key usages.
#   --pass-file FILE
#                the key's passphrase or the token's PIN is the first line of
#                FILE; without it, the environment variable LEXORIA_SIGN_PASS,
#                which the command takes out of its environment before it
#                starts any program (it stays readable in the command's
#                /proc/PID/environ while it runs: prefer --pass-file). It is
#                never taken from the command line, never printed and never
#                written to a file.
#   --timestamp URL
#                an RFC 3161 time-stamp server; give it more than once and the
#                servers are tried in order until one answers, each for at most
#                LEXORIA_TIMESTAMP_TIMEOUT seconds (default 60). When none
#                answers, or the time-stamp's signature does not verify, the
#                command fails.
#   --tsa-cafile FILE
#                the PEM root certificate(s) the time-stamp is verified
#                against, for an authority whose root is not among the
#                system's certificate authorities
#   --build-dir  the build folder (default build/release; environment
#                LEXORIA_RELEASE_BUILD_DIR)
#   --dist-dir   where the result goes (default dist; environment
#                LEXORIA_DIST_DIR)
#
# Writes DIST/lexoria-update-<version>.exe and DIST/lexoria-update-<version>.exe.sha256
# (sha256sum format) and prints a summary: the file, its size, the package
# version, the SHA-256, the signer, and the time-stamp authority and time (or
# "not time-stamped"). Any failure (unusable package, certificate, key,
# passphrase or PIN, build, signature, time-stamp, checks) prints one line
# saying why and exits 1 leaving DIST as it was: the files are made in the
# build folder and, only when everything has passed, written into DIST under
# temporary names and renamed into place, the checksum last. A release of the
# same version already in DIST stays a matching pair until the new one is
# complete; an interrupted run (INT, TERM, HUP) puts it back too.

# Before anything else, before any program is started with it in its
# environment: the passphrase moves from the environment into a variable of
# this shell that is not exported (one of the same name inherited from the
# environment would be).
pass="${LEXORIA_SIGN_PASS-}"; unset -v LEXORIA_SIGN_PASS; export -n pass
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# A crashing tool would dump its memory, the passphrase with it, into a file.
ulimit -c 0

fail() {
  echo "build-setup: $*" >&2
  exit 1
}

usage_error() {
  fail "$* (bash scripts/build-setup.sh --help)"
}

# However the command ends: a release half put into the dist folder is taken
# back (publishing, at the end), and the temporary files go. A signal ends it
# as a failure.
stage=""
temps=()
publishing="no"
made_dist=""
cleanup() {
  trap '' INT TERM HUP
  [ "$publishing" != started ] || unpublish
  rm -f "${temps[@]}" || true
  [ "$publishing" = "done" ] || [ -z "$made_dist" ] || rmdir "$made_dist" 2>/dev/null || true
  [ -z "$stage" ] || rm -rf "$stage" || true
}
trap cleanup EXIT
trap 'fail "interrupted (SIGINT)"' INT
trap 'fail "interrupted (SIGTERM)"' TERM
trap 'fail "interrupted (SIGHUP)"' HUP

help() {
  # The comment at the top of this file, without its comment signs.
  awk 'NR > 1 && !/^#/ { exit } NR > 1 { sub(/^# ?/, ""); print }' "${BASH_SOURCE[0]}"
  exit 0
}

package=""
source=""  # pem, pkcs12 or pkcs11: where the signing key comes from
cert=""
key=""
pkcs12=""
module=""
pass_file=""
timestamps=()
tsa_cafile=""
build_dir="${LEXORIA_RELEASE_BUILD_DIR:-$root/build/release}"
dist_dir="${LEXORIA_DIST_DIR:-$root/dist}"
set_source() {
  [ -z "$source" ] || [ "$source" = "$1" ] || usage_error "give one key source only"
  source="$1"
}
while [ $# -gt 0 ]; do
  case "$1" in
    --help | -h) help ;;
    --sign)
      [ $# -ge 3 ] || usage_error "--sign needs CERT and KEY"
      set_source pem
      cert="$2"
      key="$3"
      shift 3
      ;;
    --pkcs12)
      [ $# -ge 2 ] || usage_error "--pkcs12 needs FILE"
      set_source pkcs12
      pkcs12="$2"
      shift 2
      ;;
    --pkcs11-module | --key | --cert)
      [ $# -ge 2 ] || usage_error "$1 needs a value"
      set_source pkcs11
      case "$1" in
        --pkcs11-module) module="$2" ;;
        --key) key="$2" ;;
        --cert) cert="$2" ;;
      esac
      shift 2
      ;;
    --pass-file)
      [ $# -ge 2 ] || usage_error "--pass-file needs FILE"
      pass_file="$2"
      shift 2
      ;;
    --timestamp)
      [ $# -ge 2 ] || usage_error "--timestamp needs URL"
      timestamps+=("$2")
      shift 2
      ;;
    --tsa-cafile)
      [ $# -ge 2 ] || usage_error "--tsa-cafile needs FILE"
      tsa_cafile="$2"
      shift 2
      ;;
    --build-dir)
      [ $# -ge 2 ] || usage_error "--build-dir needs DIR"
      build_dir="$2"
      shift 2
      ;;
    --dist-dir)
      [ $# -ge 2 ] || usage_error "--dist-dir needs DIR"
      dist_dir="$2"
      shift 2
      ;;
    -*) usage_error "unknown option $1" ;;
    *)
      [ -z "$package" ] || usage_error "one PACKAGE only"
      package="$1"
      shift
      ;;
  esac
done
[ -n "$package" ] || usage_error "no PACKAGE given"
if [ "$source" = pkcs11 ]; then
  [ -n "$module" ] && [ -n "$key" ] && [ -n "$cert" ] ||
    usage_error "a token's key needs --pkcs11-module MODULE, --key URI and --cert CERT"
fi
[ ${#timestamps[@]} -eq 0 ] || [ -n "$source" ] || usage_error "--timestamp needs a key source"
[ -z "$tsa_cafile" ] || [ ${#timestamps[@]} -gt 0 ] || usage_error "--tsa-cafile needs --timestamp"
ts_timeout="${LEXORIA_TIMESTAMP_TIMEOUT:-60}"
[[ "$ts_timeout" =~ ^[1-9][0-9]*$ ]] ||
  usage_error "LEXORIA_TIMESTAMP_TIMEOUT is $ts_timeout, not a number of seconds"
build_dir="$(realpath -m "$build_dir")"
dist_dir="$(realpath -m "$dist_dir")"

# The passphrase or PIN stays in this shell's memory: no child gets it in its
# environment or command line (both readable in /proc), and it reaches openssl
# and osslsigncode through a pipe, never through a file. A file given wins
# over the environment's.
if [ -n "$pass_file" ]; then
  [ -f "$pass_file" ] && [ -r "$pass_file" ] || fail "passphrase file $pass_file cannot be read"
  IFS= read -r pass <"$pass_file" || true
  pass="${pass%$'\r'}"
fi
pass_line() { printf '%s\n' "$pass"; }  # for openssl's -passin fd:3

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

readable_file() {  # readable_file <what> <path>
  [ -r "$2" ] && [ -f "$2" ] || fail "$1 $2 cannot be read"
}

# Reads the private key's public half; fails with the reason when the key or
# its passphrase is wrong. A token gets one login, so a wrong PIN costs one
# attempt of the few before it locks.
key_public=""
needs_pass="no"
leaf=""  # the signing certificate, PEM
if [ -n "$source" ]; then
  command -v osslsigncode >/dev/null || fail "osslsigncode is not installed (bash scripts/install-deps.sh)"
  command -v openssl >/dev/null || fail "openssl is not installed (bash scripts/install-deps.sh)"
fi
case "$source" in
  pem)
    readable_file certificate "$cert"
    readable_file key "$key"
    cert="$(realpath "$cert")"
    key="$(realpath "$key")"
    leaf=$(openssl x509 -in "$cert" 2>/dev/null) || fail "certificate $cert is no PEM X.509 certificate"
    signer="certificate $cert"
    if grep -q "ENCRYPTED" "$key"; then
      needs_pass="yes"
      [ -n "$pass" ] ||
        fail "key $key is encrypted: give its passphrase with --pass-file FILE or LEXORIA_SIGN_PASS"
      key_public=$(openssl pkey -in "$key" -passin fd:3 -pubout 3< <(pass_line) 2>/dev/null) ||
        fail "wrong passphrase for key $key"
    else
      key_public=$(openssl pkey -in "$key" -passin pass: -pubout 2>/dev/null) ||
        fail "key $key is no PEM private key"
    fi
    ;;
  pkcs12)
    readable_file "PKCS#12 file" "$pkcs12"
    pkcs12="$(realpath "$pkcs12")"
    needs_pass="yes"
    # Read as it is first: openssl 3 reads AES and 3DES containers so. Only
    # one encrypted with an algorithm it keeps in its legacy provider (RC2,
    # which many older exports use) is read again with -legacy.
    legacy=()
    read_pkcs12() {
      openssl pkcs12 "${legacy[@]}" -in "$pkcs12" -nokeys -passin fd:3 "$@" 3< <(pass_line)
    }
    opened=yes
    pkcs12_certs=$(read_pkcs12 2>&1) || opened=no
    # "...:digital envelope routines:inner_evp_generic_fetch:unsupported:...
    # Algorithm (RC2-40-CBC : 0), Properties ()"
    algorithm=$(sed -n 's/.*:unsupported:.*Algorithm (\([^ ]*\).*/\1/p;T;q' <<<"$pkcs12_certs")
    if [ "$opened" = no ] && [ -n "$algorithm" ]; then
      legacy=(-legacy)
      opened=yes
      pkcs12_certs=$(read_pkcs12 2>&1) || opened=no
    fi
    [ "$opened" = yes ] || case "$pkcs12_certs" in
      *"Mac verify error"*) fail "wrong passphrase for PKCS#12 file $pkcs12" ;;
      *"unable to load provider legacy"*)
        fail "PKCS#12 file $pkcs12 is encrypted with $algorithm, which openssl reads only with its legacy provider, and that cannot be loaded" ;;
      *":unsupported:"*) fail "PKCS#12 file $pkcs12 is encrypted with $algorithm, which openssl cannot read" ;;
      *) fail "$pkcs12 is no PKCS#12 file" ;;
    esac
    # The certificate of the key: the one the container pairs with it.
    leaf=$(read_pkcs12 -clcerts | openssl x509 2>/dev/null) ||
      fail "PKCS#12 file $pkcs12 holds no certificate for its key"
    signer="the certificate in $pkcs12"
    ;;
  pkcs11)
    readable_file "PKCS#11 module" "$module"
    readable_file certificate "$cert"
    module="$(realpath "$module")"
    cert="$(realpath "$cert")"
    leaf=$(openssl x509 -in "$cert" 2>/dev/null) || fail "certificate $cert is no PEM X.509 certificate"
    signer="certificate $cert"
    case "$key" in
      pkcs11:*) ;;
      *) fail "key $key is no PKCS#11 URI (pkcs11:token=...;object=...)" ;;
    esac
    case "$key" in
      *pin-value=* | *pin-source=*)
        fail "key $key carries a PIN: give it with --pass-file FILE or LEXORIA_SIGN_PASS" ;;
    esac
    openssl engine pkcs11 >/dev/null 2>&1 ||
      fail "openssl's PKCS#11 engine is not installed (bash scripts/install-deps.sh)"
    needs_pass="yes"
    # Without a PIN the token would be asked with an empty one, which counts
    # as a wrong attempt.
    [ -n "$pass" ] || fail "the token's PIN is needed: give it with --pass-file FILE or LEXORIA_SIGN_PASS"
    token_out=$(PKCS11_MODULE_PATH="$module" openssl pkey -engine pkcs11 -inform ENGINE \
      -in "$key" -pubout -passin fd:3 3< <(pass_line) 2>&1) || true
    key_public=$(sed -n '/^-----BEGIN PUBLIC KEY-----$/,/^-----END PUBLIC KEY-----$/p' <<<"$token_out")
    if [ -z "$key_public" ]; then
      case "$token_out" in
        *"Unable to load PKCS#11 module"*) fail "PKCS#11 module $module cannot be loaded" ;;
        *"No matching initialized token"*) fail "no token matches $key" ;;
        *"PIN locked"*) fail "the PIN of the token of $key is locked" ;;
        *"PIN incorrect"* | *"Login failed"*) fail "wrong PIN for the token of $key" ;;
        *"object not found"*) fail "the token holds no key matching $key" ;;
        *) fail "key $key cannot be read from the token: $(grep -m1 -i error <<<"$token_out")" ;;
      esac
    fi
    ;;
esac

if [ -n "$tsa_cafile" ]; then
  readable_file "time-stamp authority's certificate file" "$tsa_cafile"
  tsa_cafile="$(realpath "$tsa_cafile")"
  openssl x509 -in "$tsa_cafile" -noout 2>/dev/null ||
    fail "time-stamp authority's certificate file $tsa_cafile holds no PEM X.509 certificate"
fi

if [ -n "$source" ]; then
  openssl x509 -noout -checkend 0 <<<"$leaf" >/dev/null ||
    fail "$signer expired on $(openssl x509 -noout -enddate <<<"$leaf" | sed 's/^notAfter=//')"
  openssl x509 -noout -ext extendedKeyUsage <<<"$leaf" 2>/dev/null | grep -q "Code Signing" ||
    fail "$signer is not for code signing (no codeSigning among its extended key usages)"
  if [ -n "$key_public" ]; then
    [ "$key_public" = "$(openssl x509 -noout -pubkey <<<"$leaf")" ] ||
      fail "key $key does not belong to $signer"
  fi
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
name="lexoria-update-$version.exe"
cp "$built" "$stage/$name"

signed="no"
time_stamp="not time-stamped"
if [ -n "$source" ]; then
  echo "== signing with $signer"
  case "$source" in
    pem) sign_args=(-certs "$cert" -key "$key") ;;
    pkcs12) sign_args=(-pkcs12 "$pkcs12") ;;
    pkcs11) sign_args=(-pkcs11module "$module" -key "$key" -certs "$cert") ;;
  esac
  sign_args+=(-n "Lexoria update" -h sha256 -in "$stage/$name" -out "$stage/$name.signed")
  # -readpass reads the passphrase (or PIN) from the pipe; osslsigncode takes
  # an empty file for an error, so an empty passphrase is given as none.
  if [ "$needs_pass" = yes ] && [ -n "$pass" ]; then
    osslsigncode sign "${sign_args[@]}" -readpass <(printf '%s' "$pass") >"$stage/sign.log" 2>&1
  else
    osslsigncode sign "${sign_args[@]}" >"$stage/sign.log" 2>&1
  fi || { cat "$stage/sign.log" >&2; fail "osslsigncode could not sign with $signer"; }
  mv "$stage/$name.signed" "$stage/$name"

  # The time-stamp is added to the signature in a second step, so a server
  # that fails costs no second use of the key, and the next one is asked.
  stamped_by=""
  failures=""
  for url in "${timestamps[@]}"; do
    echo "== time-stamping at $url"
    rm -f "$stage/$name.stamped"
    rc=0
    timeout --kill-after=5 "$ts_timeout" osslsigncode add -ts "$url" \
      -in "$stage/$name" -out "$stage/$name.stamped" >"$stage/timestamp.log" 2>&1 || rc=$?
    if [ $rc -eq 0 ]; then
      mv "$stage/$name.stamped" "$stage/$name"
      stamped_by="$url"
      break
    fi
    if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then
      why="no answer within $ts_timeout s"
    elif grep -q "Failed to convert timestamp reply" "$stage/timestamp.log"; then
      why="the answer is no time-stamp reply"
    elif code=$(grep -o 'code=[0-9]*, reason=.*' "$stage/timestamp.log"); then
      why="HTTP ${code#code=}"
    elif grep -q "HTTP failure" "$stage/timestamp.log"; then
      why="no answer ($(grep -o -m1 'Connection refused\|Name or service not known\|Connection timed out\|No route to host' \
        "$stage/timestamp.log" || echo "cannot connect"))"
    else
      why="refused to time-stamp"
    fi
    echo "$url: $why"
    failures="${failures:+$failures; }$url: $why"
  done
  [ ${#timestamps[@]} -eq 0 ] || [ -n "$stamped_by" ] ||
    fail "no time-stamp server answered ($failures)"

  # A certificate from a public authority verifies against the system's
  # authorities; a private or self-signed one against the certificates given
  # with the key.
  trust="$cert"
  trust_name="$cert"
  if [ "$source" = pkcs12 ]; then
    trust="$stage/pkcs12-certs.pem"
    trust_name="the certificates in $pkcs12"
    printf '%s\n' "$pkcs12_certs" >"$trust"
  fi
  verify_args=(-in "$stage/$name")
  tsa_trust="the system's certificate authorities"
  if [ -n "$tsa_cafile" ]; then
    verify_args+=(-TSA-CAfile "$tsa_cafile")
    tsa_trust="$tsa_cafile"
  fi
  if osslsigncode verify "${verify_args[@]}" >"$stage/verify.log" 2>&1; then
    verified_by="the system's certificate authorities"
  elif osslsigncode verify "${verify_args[@]}" -CAfile "$trust" >"$stage/verify.log" 2>&1; then
    verified_by="$trust_name"
  else
    cat "$stage/verify.log" >&2
    fail "osslsigncode verify rejects the signed file"
  fi
  echo "signature verified against $verified_by"
  # The signature is appended to the file; the setup checks its own file
  # against the header's checksum, which the signer must have updated.
  "$stamp_tool" --verify "$stage/$name" || fail "the signed file's PE checksum does not hold"
  signed="yes ($(openssl x509 -noout -subject <<<"$leaf" | sed 's/^subject=//'))"

  if [ -n "$stamped_by" ]; then
    # osslsigncode verify exits with 0 also when the time-stamp's signature
    # does not verify: only its line tells, "Timestamp Server Signature
    # verification: ok" or "... failed". It must say ok, and nothing else.
    if ! grep -q '^Timestamp Server Signature verification: ok$' "$stage/verify.log" ||
      grep -qP '^Timestamp Server Signature verification: (?!ok$)' "$stage/verify.log"; then
      why=$(sed -n 's/^[[:space:]]*Error: //p;T;q' "$stage/verify.log")
      [ -n "$tsa_cafile" ] || why="${why:+$why; }give its authority's root with --tsa-cafile FILE"
      fail "the time-stamp from $stamped_by does not verify against $tsa_trust${why:+ ($why)}"
    fi
    # Read back from the file: the countersignature's time and the subject of
    # the certificate whose serial it names.
    ts_time=$(sed -n 's/^[[:space:]]*Timestamp time: //p' "$stage/verify.log" | head -n1)
    ts_serial=$(sed -n '/^Countersignatures:/,$s/^[[:space:]]*Serial: //p' "$stage/verify.log" | head -n1)
    ts_subject=$(awk -v serial="$ts_serial" '
      /^[[:space:]]*Subject: / { sub(/^[[:space:]]*Subject: /, ""); subject = $0 }
      /^[[:space:]]*Serial : / && $3 == serial { print subject; exit }' "$stage/verify.log")
    [ -n "$ts_time" ] && [ -n "$ts_subject" ] || fail "the signed file carries no time-stamp"
    time_stamp="$ts_time by $ts_subject ($stamped_by)"
  fi
fi

echo "== checking the file"
python3 "$root/tests/deliverable/check_deliverable.py" "$stage/$name" "$package" --machine i386 ||
  fail "the deliverable checks failed"
python3 "$root/tests/deliverable/check_imports.py" "$stage/$name" ||
  fail "the import check failed"

(cd "$stage" && sha256sum "$name" >"$name.sha256")
sha256=$(cut -d' ' -f1 "$stage/$name.sha256")
size=$(stat -c %s "$stage/$name")

# --- Publishing. Both files are written into the dist folder under temporary
# names and renamed into place, the checksum last, so that a name never holds
# part of a file. A release of the same version already there stays a
# matching pair until this one is complete: its .exe gets a second name to be
# put back from, and its checksum is renamed away before the new .exe takes
# the name (an .exe without a checksum is plainly incomplete; one beside the
# checksum of another build would pass for a release). Should the command end
# before publishing is done, unpublish puts back what was there, the release
# before or nothing. That includes a signal that arrives during the checksum's
# rename: bash acts on it only once mv has ended, the rename made or not, so
# a new checksum already in place is taken away too, and first: no name holds
# a checksum without its .exe at any step, should the command be killed.

final="$dist_dir/$name"
errors="$stage/dist.err"
dist_fail() {  # dist_fail <what failed>: with the reason the tool gave
  local reason
  reason=$(sed -n '$s/.*: //p' "$errors")
  fail "$1${reason:+: $reason}"
}
if [ ! -d "$dist_dir" ]; then
  mkdir -p "$dist_dir" 2>"$errors" || dist_fail "cannot create $dist_dir"
  made_dist="$dist_dir"
fi
new_exe=$(mktemp "$dist_dir/.$name.new.XXXXXX" 2>"$errors") || dist_fail "cannot write into $dist_dir"
temps+=("$new_exe")
new_sum=$(mktemp "$dist_dir/.$name.sha256.new.XXXXXX" 2>"$errors") || dist_fail "cannot write into $dist_dir"
temps+=("$new_sum")
{ cp "$stage/$name" "$new_exe" && cp "$stage/$name.sha256" "$new_sum" &&
  chmod --reference="$stage/$name" "$new_exe" &&
  chmod --reference="$stage/$name.sha256" "$new_sum" &&
  sync "$new_exe" "$new_sum"; } 2>"$errors" || dist_fail "cannot write into $dist_dir"

old_exe=""
old_sum=""
unpublish() {
  # The new checksum has left its temporary name only for its own.
  { if [ ! -e "$new_sum" ]; then
      rm -f "$final.sha256"
    fi && if [ -z "$old_exe" ]; then
      rm -f "$final"
    elif ! [ "$old_exe" -ef "$final" ]; then
      mv -fT "$old_exe" "$final"
    fi && if [ -n "$old_sum" ] && [ -e "$old_sum" ]; then
      mv -fT "$old_sum" "$final.sha256"
    fi; } 2>"$errors" ||
    echo "build-setup: the release before in $dist_dir could not be put back: $(sed -n '$s/.*: //p' "$errors")" >&2
}
if [ -e "$final" ]; then
  old_exe=$(mktemp -u "$dist_dir/.$name.old.XXXXXX")
  temps+=("$old_exe")
  { ln -T "$final" "$old_exe" || cp -p "$final" "$old_exe"; } 2>"$errors" ||
    dist_fail "cannot keep $final until the new one is complete"
fi
publishing="started"
if [ -e "$final.sha256" ]; then
  old_sum=$(mktemp -u "$dist_dir/.$name.sha256.old.XXXXXX")
  temps+=("$old_sum")
  mv -T "$final.sha256" "$old_sum" 2>"$errors" || dist_fail "cannot rename $final.sha256"
fi
mv -fT "$new_exe" "$final" 2>"$errors" || dist_fail "cannot rename $new_exe to $name"
mv -fT "$new_sum" "$final.sha256" 2>"$errors" || dist_fail "cannot rename $new_sum to $name.sha256"
publishing="done"

echo
echo "== release"
echo "file:            $(realpath "$dist_dir/$name")"
echo "size:            $size bytes"
echo "package version: $version"
echo "SHA-256:         $sha256"
echo "signed:          $signed"
echo "time-stamp:      $time_stamp"

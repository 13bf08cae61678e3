#!/usr/bin/env bash
# The release command, run as a release engineer runs it: signs the setup once
# from each key source (a PEM key, plain and encrypted, a PKCS#12 file, a key
# in a SoftHSM2 token) with certificates of a throwaway authority, time-stamps
# one signature at a loopback time-stamp authority, and checks that the results
# verify, that the unsigned executable is byte for byte the one the win32
# preset built (same commit, same package, another build folder), that each
# refused input (unusable key, passphrase, PIN, certificate, time-stamp
# server or time-stamp) leaves the dist folder empty with a one-line reason,
# and that the passphrase and PIN turn up in no output, file or command line.
#
#   bash tests/release/test_release.sh
#
# Needs the win32 preset's build (build/win32/lexoria-update.exe and its
# sample package). Builds in build/release-test/ and leaves the signed setups
# there; makes its keys, token and time-stamp server in a temporary folder
# and removes them. Prints "signed setup: PATH" (the time-stamped one; the
# x86_64 build signed alike where this kernel runs no 32-bit programs) for the
# scenario under Wine and, last, "N passed, N failed".
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
cd "$root"

reference=build/win32/lexoria-update.exe
package=build/win32/packages/lxrq.pak
work=build/release-test
build_dir=$work/build
softhsm=/usr/lib/softhsm/libsofthsm2.so

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
dist_state() { (cd "$1" && ls -A && sha256sum -- *) 2>/dev/null; }  # names and contents
give_up() {
  echo "FAIL $*"
  echo "$passed passed, $((failed + 1)) failed"
  exit 1
}

if [ ! -f "$reference" ] || [ ! -f "$package" ]; then
  give_up "$reference and $package must be built first (cmake --build --preset win32)"
fi

# --- Keys, certificates, token and time-stamp authority, all throwaway.

k="$(mktemp -d)"
tsa_pid=""
cleanup() {
  if [ -n "$tsa_pid" ]; then
    kill "$tsa_pid" 2>/dev/null
    wait "$tsa_pid" 2>/dev/null
  fi
  rm -rf "$k"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# Distinct enough that finding one anywhere is no accident.
pass="Lx-pass-$RANDOM$RANDOM"
pin="Lx-pin-$RANDOM$RANDOM"
wrong="Lx-wrong-$RANDOM$RANDOM"

make_keys() {
  cat >"$k/ext.cnf" <<'EOF'
[codesign]
basicConstraints = CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
[tls]
basicConstraints = CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
[tsa]
basicConstraints = CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, timeStamping
EOF
  new_ca() {  # new_ca <name> <subject>
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=$2" \
      -addext "basicConstraints=critical,CA:true" -addext "keyUsage=critical,keyCertSign,cRLSign" \
      -keyout "$k/$1-key.pem" -out "$k/$1.pem" 2>/dev/null
  }
  issue() {  # issue <name> <subject> <ca> <extensions> <days>
    openssl req -new -newkey rsa:2048 -nodes -subj "/CN=$2" -keyout "$k/$1-key.pem" \
      -out "$k/$1.csr" 2>/dev/null &&
      openssl x509 -req -in "$k/$1.csr" -CA "$k/$3.pem" -CAkey "$k/$3-key.pem" -days "$5" \
        -extfile "$k/ext.cnf" -extensions "$4" -out "$k/$1.pem" 2>/dev/null
  }
  new_ca ca "Lexoria test CA" &&
    new_ca tsa-ca "Lexoria test TSA CA" &&
    issue signing "Lexoria release test" ca codesign 2 &&
    issue expired "Lexoria release test" ca codesign -1 &&
    issue tls "lexoria.test" ca tls 2 &&
    issue tsa "Lexoria test TSA" tsa-ca tsa 2 &&
    openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$k/other-key.pem" 2>/dev/null ||
    return 1
  # The certificate file carries its chain, as authorities deliver it.
  cat "$k/signing.pem" "$k/ca.pem" >"$k/cert.pem"
  mv "$k/signing-key.pem" "$k/key.pem"

  printf '%s\n' "$pass" >"$k/pass.txt"
  printf '%s\n' "$pin" >"$k/pin.txt"
  printf '%s\n' "$wrong" >"$k/wrong.txt"
  chmod 600 "$k"/*.txt "$k"/*key.pem
  mkdir "$k/no-modules"  # as OPENSSL_MODULES: an openssl without its legacy provider
  openssl pkey -in "$k/key.pem" -aes256 -passout fd:3 -out "$k/encrypted-key.pem" 3<"$k/pass.txt" &&
    openssl pkcs12 -export -in "$k/signing.pem" -inkey "$k/key.pem" -certfile "$k/ca.pem" \
      -passout fd:3 -out "$k/signing.p12" 3<"$k/pass.txt" &&
    openssl pkcs12 -export -legacy -in "$k/signing.pem" -inkey "$k/key.pem" -certfile "$k/ca.pem" \
      -passout fd:3 -out "$k/legacy.p12" 3<"$k/pass.txt" &&
    openssl pkcs12 -export -in "$k/expired.pem" -inkey "$k/expired-key.pem" -certfile "$k/ca.pem" \
      -passout fd:3 -out "$k/expired.p12" 3<"$k/pass.txt" || return 1

  # The token: SoftHSM2 keeps it in files under the folder its configuration names.
  mkdir "$k/tokens"
  printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' \
    "$k/tokens" >"$k/softhsm2.conf"
  export SOFTHSM2_CONF="$k/softhsm2.conf"
  softhsm2-util --init-token --free --label lex --pin "$pin" --so-pin "$wrong" >/dev/null &&
    softhsm2-util --import "$k/key.pem" --token lex --label signkey --id 01 --pin "$pin" >/dev/null
}

start_tsa() {
  cat >"$k/tsa.cnf" <<EOF
[tsa]
default_tsa = loopback
[loopback]
serial = $k/tsa-serial
crypto_device = builtin
signer_cert = $k/tsa.pem
certs = $k/tsa-ca.pem
signer_key = $k/tsa-key.pem
signer_digest = sha256
default_policy = 1.3.6.1.4.1.99999.1
digests = sha256, sha384, sha512
accuracy = secs:1
ess_cert_id_alg = sha256
EOF
  echo 01 >"$k/tsa-serial"
  python3 tests/release/tsa_server.py "$k/tsa.cnf" >"$k/tsa.port" 2>"$k/tsa.err" &
  tsa_pid=$!
  local _
  for _ in $(seq 50); do
    [ -s "$k/tsa.port" ] && break
    sleep 0.1
  done
  tsa="http://127.0.0.1:$(head -n1 "$k/tsa.port")"
  [ -s "$k/tsa.port" ]
}

started=$(date +%s)
make_keys || give_up "making the throwaway certificates, keys and token"
start_tsa || give_up "starting the loopback time-stamp authority"
# A port nothing listens on: the socket is closed again at once.
dead="http://127.0.0.1:$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')/"

# openssl and osslsigncode, as build-setup.sh starts them, and dirname, the
# first program it starts, go through shims that write down their command
# line and whether the passphrase variable reached them: none may hold a
# passphrase or PIN.
mkdir "$k/shim"
for tool in openssl osslsigncode dirname; do
  printf '#!/bin/sh\nprintf "%%s %%s\\n" "$*" "${LEXORIA_SIGN_PASS:-}" >>"%s"\nexec "%s" "$@"\n' \
    "$k/argv.log" "$(command -v "$tool")" >"$k/shim/$tool"
  chmod +x "$k/shim/$tool"
done
# mv plays a rename of the new checksum into place that fails or is
# interrupted, when publish_fault says so.
printf '#!/bin/sh\ncase "${publish_fault:-}:$*" in\n%s\n%s\nesac\nexec %s "$@"\n' \
  '  fail:*.sha256.new.*) echo "mv: cannot move: Input/output error" >&2; exit 1 ;;' \
  '  interrupt:*.sha256.new.*) kill -TERM "$PPID" ;;' "$(command -v mv)" >"$k/shim/mv"
chmod +x "$k/shim/mv"
build_setup() { PATH="$k/shim:$PATH" bash scripts/build-setup.sh "$package" "$@"; }

head -c 5 "$package" >"$k/short.pak"

rm -rf "$work"/dist* "$work"/*.log
mkdir -p "$work"

# --- Refused inputs: checked before anything is built, so cheap.

bash scripts/build-setup.sh --help >"$work/help.log" 2>&1
rc=$?
check "--help prints the usage, every key source, --timestamp and --tsa-cafile among it, with exit code 0" \
  bash -c "[ $rc -eq 0 ] && grep -q -- '--pkcs11-module MODULE --key URI --cert CERT' '$work/help.log' &&
           grep -q -- '--pkcs12 FILE' '$work/help.log' && grep -q -- '--timestamp URL' '$work/help.log' &&
           grep -q -- '--tsa-cafile FILE' '$work/help.log'"

mkdir -p "$work/dist"
PATH="$k/shim:$PATH" bash scripts/build-setup.sh "$k/short.pak" --build-dir "$build_dir" \
  --dist-dir "$work/dist" >"$work/short.log" 2>&1
rc=$?
check "a package of 5 bytes is refused with exit code 1" [ $rc -eq 1 ]
check "... saying it is too short to hold its version" grep -q "too short" "$work/short.log"
check "... and nothing is in dist" dist_empty "$work/dist"

build_setup --sign "$k/cert.pem" "$k/other-key.pem" --build-dir "$build_dir" --dist-dir "$work/dist" \
  >"$work/wrong-key.log" 2>&1
rc=$?
check "a key not belonging to the certificate is refused with exit code 1" [ $rc -eq 1 ]
check "... saying so" grep -q "does not belong" "$work/wrong-key.log"
check "... and nothing is in dist" dist_empty "$work/dist"

# --- Each key source signs once. The first run builds; the others find the
# build up to date.

# signs <id> <what> <time-stamp summary, extended regex> <build-setup arguments...>
# Runs the release into build/release-test/dist-<id> and checks that it ends
# with exit code 0, a file that verifies against the test authority, a PE
# checksum that holds, and a summary naming the signer and the time-stamp.
signs() {
  local id="$1" what="$2" stamp="$3"
  shift 3
  local dist="$work/dist-$id" log="$work/$id.log"
  build_setup "$@" --build-dir "$build_dir" --dist-dir "$dist" >"$log" 2>&1
  rc=$?
  local file="$dist/lexoria-update-$version.exe" why=""
  if [ $rc -ne 0 ]; then
    why="exit code $rc"
  elif [ "$(ls -A "$dist" | tr '\n' ' ')" != "${file##*/} ${file##*/}.sha256 " ]; then
    why="dist holds $(ls -A "$dist" | tr '\n' ' ')"
  elif ! (cd "$dist" && sha256sum --quiet -c "${file##*/}.sha256") ||
    ! grep -q "^SHA-256: *$(cut -d' ' -f1 "$file.sha256")\$" "$log"; then
    why="the .sha256 is not this run's or does not match"
  elif ! osslsigncode verify -in "$file" -CAfile "$k/ca.pem" >"$work/$id-verify.log" 2>&1; then
    why="osslsigncode verify -CAfile ca.pem fails"
  elif ! "$build_dir/host_tools/stamp_checksum" --verify "$file" >/dev/null; then
    why="the PE checksum does not hold"
  elif ! grep -q '^signed: *yes (CN = Lexoria release test)$' "$log"; then
    why="the summary names no signer"
  elif ! grep -Eq "^time-stamp: +$stamp\$" "$log"; then
    why="the summary's time-stamp line is not /$stamp/"
  fi
  [ -z "$why" ] || { echo "     $why"; tail -15 "$log"; }
  check "$what signs" [ -z "$why" ]
}

version=$(od -An -tu1 -j6 -N2 "$package" | awk '{print $1 + 256 * $2}')
stamp_time='[A-Z][a-z]{2} [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4} GMT'

start=$(date +%s)
signs plain "a PEM certificate and plain key (--sign)" "not time-stamped" \
  --sign "$k/cert.pem" "$k/key.pem"
echo "(release build, signature and checks: $(($(date +%s) - start)) s)"
LEXORIA_SIGN_PASS="$pass" signs encrypted \
  "an encrypted PEM key, passphrase from LEXORIA_SIGN_PASS (--sign)" "not time-stamped" \
  --sign "$k/cert.pem" "$k/encrypted-key.pem"
OPENSSL_MODULES="$k/no-modules" signs pkcs12 \
  "a PKCS#12 file (AES), passphrase from a file, openssl without its legacy provider (--pkcs12)" \
  "not time-stamped" --pkcs12 "$k/signing.p12" --pass-file "$k/pass.txt"
signs pkcs12 "an RC2 PKCS#12 file (openssl pkcs12 -export -legacy), over the release before in dist," \
  "not time-stamped" \
  --pkcs12 "$k/legacy.p12" --pass-file "$k/pass.txt"
signs pkcs11 "a key in a SoftHSM2 token, PIN from a file, time-stamped (--pkcs11-module)" \
  "$stamp_time by /CN=Lexoria test TSA \\($tsa/\\)" \
  --pkcs11-module "$softhsm" --key "pkcs11:token=lex;object=signkey" --cert "$k/cert.pem" \
  --pass-file "$k/pin.txt" --timestamp "$dead" --timestamp "$tsa/" --tsa-cafile "$k/tsa-ca.pem"

# The first run in detail: the release as a whole.
dist_dir="$work/dist-plain"
signed="$dist_dir/lexoria-update-$version.exe"
sed -n '/^== release$/,$p' "$work/plain.log"
check "dist holds exactly lexoria-update-$version.exe and its .sha256" \
  [ "$(ls "$dist_dir" 2>/dev/null | tr '\n' ' ')" = "lexoria-update-$version.exe lexoria-update-$version.exe.sha256 " ]
check "the SHA-256 file matches the file (sha256sum -c)" \
  bash -c "cd '$dist_dir' && sha256sum --quiet -c 'lexoria-update-$version.exe.sha256'"
check "the summary names the package version and the signature" \
  bash -c "grep -q '^package version: $version\$' '$work/plain.log' &&
           grep -q '^signed: *yes' '$work/plain.log'"

check "the unsigned executable equals the win32 preset's byte for byte" \
  cmp "$build_dir/lexoria-update.exe" "$reference"
check "no build folder is named inside the executable" \
  bash -c "! strings -a '$build_dir/lexoria-update.exe' | grep -q -e '$root' -e 'release-test'"

check "osslsigncode verifies the signature against the certificate" \
  bash -c "osslsigncode verify -in '$signed' -CAfile '$k/cert.pem' >'$work/verify.log' 2>&1"
check "the signed file is not the unsigned one" \
  bash -c "! cmp -s '$signed' '$build_dir/lexoria-update.exe'"
check "the signed file's PE checksum holds" \
  "$build_dir/host_tools/stamp_checksum" --verify "$signed"

# The time-stamped run in detail.
stamped="$work/dist-pkcs11/lexoria-update-$version.exe"
sed -n '/^== release$/,$p' "$work/pkcs11.log"
osslsigncode verify -in "$stamped" -CAfile "$k/ca.pem" -TSA-CAfile "$k/tsa-ca.pem" \
  >"$work/tsa-verify.log" 2>&1
rc=$?
# osslsigncode's exit code does not cover the time-stamp: its line does.
check "osslsigncode verify -TSA-CAfile verifies the time-stamp against the loopback authority" \
  bash -c "[ $rc -eq 0 ] && grep -q '^Timestamp Server Signature verification: ok$' '$work/tsa-verify.log'"
tsa_time=$(sed -n 's/^[[:space:]]*Timestamp time: //p' "$work/tsa-verify.log" | head -n1)
check "the summary's time-stamp time is the one in the file ($tsa_time)" \
  grep -qF "time-stamp:      $tsa_time by " "$work/pkcs11.log"
check "a server that does not answer is passed over for the next one" \
  grep -q "^$dead: no answer" "$work/pkcs11.log"

# --- Refused: exit code 1, one line on stderr saying why, dist as it was.

# [seed=DIR] refused <what> <reason, extended regex> <build-setup arguments...>
# With seed, dist holds the files of DIR before the run, and must hold them after.
refused() {
  local what="$1" reason="$2"
  shift 2
  local id=$((++refusals)) dist="$work/dist-refused" before
  rm -rf "$dist" && mkdir -p "$dist" && { [ -z "${seed:-}" ] || cp "$seed"/* "$dist"; }
  before=$(dist_state "$dist")
  build_setup "$@" --build-dir "$build_dir" --dist-dir "$dist" \
    >"$work/refused-$id.log" 2>"$work/refused-$id.err"
  rc=$?
  local why=""
  if [ $rc -ne 1 ]; then
    why="exit code $rc"
  elif [ "$(wc -l <"$work/refused-$id.err")" -ne 1 ]; then
    why="stderr holds $(wc -l <"$work/refused-$id.err") lines"
  elif ! grep -Eq "^build-setup: .*$reason" "$work/refused-$id.err"; then
    why="stderr does not say /$reason/"
  elif [ "$(dist_state "$dist")" != "$before" ]; then
    why="dist is not as it was: $(ls -A "$dist" | tr '\n' ' ')"
  fi
  [ -z "$why" ] || { echo "     $why"; cat "$work/refused-$id.err"; }
  check "refused: $what" [ -z "$why" ]
}
refusals=0
token=(--pkcs11-module "$softhsm" --cert "$k/cert.pem")

refused "an encrypted PEM key with a wrong passphrase" "wrong passphrase for key" \
  --sign "$k/cert.pem" "$k/encrypted-key.pem" --pass-file "$k/wrong.txt"
refused "an encrypted PEM key without a passphrase" "is encrypted" \
  --sign "$k/cert.pem" "$k/encrypted-key.pem"
LEXORIA_SIGN_PASS="$wrong" refused "a PKCS#12 file with a wrong passphrase" \
  "wrong passphrase for PKCS#12" --pkcs12 "$k/signing.p12"
refused "an RC2 PKCS#12 file with a wrong passphrase" "wrong passphrase for PKCS#12" \
  --pkcs12 "$k/legacy.p12" --pass-file "$k/wrong.txt"
OPENSSL_MODULES="$k/no-modules" refused "an RC2 PKCS#12 file where openssl has no legacy provider" \
  "encrypted with RC2-40-CBC, which openssl reads only with its legacy provider" \
  --pkcs12 "$k/legacy.p12" --pass-file "$k/pass.txt"
refused "a token with a wrong PIN" "wrong PIN" \
  "${token[@]}" --key "pkcs11:token=lex;object=signkey" --pass-file "$k/wrong.txt"
refused "a token that is not there" "no token matches" \
  "${token[@]}" --key "pkcs11:token=absent;object=signkey" --pass-file "$k/pin.txt"
refused "a key object that is not in the token" "holds no key matching" \
  "${token[@]}" --key "pkcs11:token=lex;object=absent" --pass-file "$k/pin.txt"
refused "a PKCS#12 file whose certificate has expired" "expired on" \
  --pkcs12 "$k/expired.p12" --pass-file "$k/pass.txt"
refused "a certificate without the code-signing usage" "not for code signing" \
  --sign "$k/tls.pem" "$k/tls-key.pem"
LEXORIA_TIMESTAMP_TIMEOUT=3 refused "time-stamp servers that do not answer" \
  "no time-stamp server answered \\($dead: no answer .*; $tsa/silent: no answer within 3 s\\)" \
  --sign "$k/cert.pem" "$k/key.pem" --timestamp "$dead" --timestamp "$tsa/silent"
refused "a time-stamp server answering with no time-stamp reply" "$tsa/garbage: the answer is no time-stamp reply" \
  --sign "$k/cert.pem" "$k/key.pem" --timestamp "$tsa/garbage"
# osslsigncode verify exits with 0 for these two: the command reads its output.
seed="$work/dist-plain" refused "a time-stamp whose authority's root is not among the system's" \
  "the time-stamp from $tsa/ does not verify against the system's certificate authorities" \
  --sign "$k/cert.pem" "$k/key.pem" --timestamp "$tsa/"
refused "a time-stamp checked against another authority's root (--tsa-cafile)" \
  "the time-stamp from $tsa/ does not verify against $k/ca.pem" \
  --sign "$k/cert.pem" "$k/key.pem" --timestamp "$tsa/" --tsa-cafile "$k/ca.pem"
# The release before, of the same version, stays a matching pair; without one, neither file stays.
seed="$work/dist-plain" publish_fault=fail refused "the rename of the new checksum into place fails" \
  "cannot rename .*\\.sha256: Input/output error" --sign "$k/cert.pem" "$k/key.pem"
seed="$work/dist-plain" publish_fault=interrupt refused "interrupted in the rename of the new checksum" \
  "interrupted \\(SIGTERM\\)" --sign "$k/cert.pem" "$k/key.pem"
publish_fault=interrupt refused "interrupted in the rename of the new checksum, no release before in dist" \
  "interrupted \\(SIGTERM\\)" --sign "$k/cert.pem" "$k/key.pem"

# --- Where this kernel runs no 32-bit programs, the scenario under Wine
# cannot start the signed i686 setup. The x86_64 build of the same sources is
# then signed from the token and time-stamped alike, through the same shims,
# and handed to the scenario instead: it shows that a signed, time-stamped
# file still passes its own self-check under Wine.

x86_64=build/win64/lexoria-update.exe
if ! python3 -B tests/e2e/harness.py runs-32bit-programs && [ -f "$x86_64" ]; then
  signed64="$work/signed-x86_64/lexoria-update.exe"
  rm -rf "$work/signed-x86_64"
  mkdir -p "$work/signed-x86_64"
  PATH="$k/shim:$PATH" osslsigncode sign -pkcs11module "$softhsm" \
    -key "pkcs11:token=lex;object=signkey" -certs "$k/cert.pem" -n "Lexoria update" -h sha256 \
    -ts "$tsa/" -in "$x86_64" -out "$signed64" -readpass <(printf '%s' "$pin") \
    >"$work/sign-x86_64.log" 2>&1
  check "the x86_64 build, signed from the token and time-stamped, verifies with its time-stamp" \
    bash -c "osslsigncode verify -in '$signed64' -CAfile '$k/ca.pem' -TSA-CAfile '$k/tsa-ca.pem' \
               >'$work/tsa-verify-x86_64.log' 2>&1 &&
             grep -q '^Timestamp Server Signature verification: ok\$' '$work/tsa-verify-x86_64.log'"
  check "its PE checksum holds" "$build_dir/host_tools/stamp_checksum" --verify "$signed64"
  stamped="$signed64"
fi

# --- The secrets.

no_secret_left() {
  if [ ! -s "$k/argv.log" ]; then
    echo "     the shims saw no command line"
    return 1
  fi
  local found
  found=$(grep -rlF -e "$pass" -e "$pin" -e "$wrong" "$work" "$k/argv.log")
  [ -z "$found" ] || { echo "     found in: $found"; return 1; }
}
check "the passphrase and PINs are in no output, no file in build/release-test and no command line" \
  no_secret_left

echo "(release layer: $(($(date +%s) - started)) s)"
[ -f "$stamped" ] && echo "signed setup: $root/$stamped"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]

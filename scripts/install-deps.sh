#!/usr/bin/env bash
# Installs what building and testing the setup needs on Debian 12, and only
# what is missing. Safe to run again.
set -euo pipefail

packages=(
  cmake ninja-build g++ googletest libgtest-dev libgmock-dev libbenchmark-dev clang-format
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64 xvfb xauth x11-utils imagemagick icoutils locales python3 osslsigncode openssl
  softhsm2 libengine-pkcs11-openssl
)
# Other builds on the machine may be installing at the same time: wait for
# dpkg's lock instead of failing at once.
apt=(apt-get -o DPkg::Lock::Timeout=600)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

# A mirror in the middle of a sync serves an index that does not match its
# Release file, and apt-get update then fails for that one index although
# every other one is fresh. Tried three times; what could be had is used, and
# the install that follows says whether it was enough.
update_package_lists() {
  local attempt
  for attempt in 1 2 3; do
    $sudo "${apt[@]}" update -qq && return 0
    [ "$attempt" -lt 3 ] && sleep 20
  done
  echo "warning: apt-get update failed for some package lists; going on with those it could read" >&2
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  update_package_lists
  DEBIAN_FRONTEND=noninteractive $sudo "${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# 32-bit Wine runs the i686 deliverable itself, where this machine's kernel
# runs 32-bit programs (IA-32 emulation; some kernels of this kind of machine
# have it off). The probe is a 12-byte static i386 program that exits with 42.
if python3 -B "$(dirname "$0")/../tests/e2e/harness.py" runs-32bit-programs 2>/dev/null; then
  if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
    echo "Installing: wine32:i386 (this kernel runs 32-bit programs)"
    dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
    update_package_lists
    # Without it the end-to-end tests run the x86_64 build, as on a kernel
    # without 32-bit programs: a mirror that cannot serve the i386 packages
    # costs the 32-bit runs, not the whole test run.
    if ! DEBIAN_FRONTEND=noninteractive $sudo "${apt[@]}" install -y -qq --no-install-recommends \
      wine32:i386 >/dev/null; then
      echo "warning: wine32:i386 could not be installed; the end-to-end tests run the x86_64 build" >&2
    fi
  fi
else
  echo "This kernel runs no 32-bit programs: no 32-bit Wine; the end-to-end tests run the x86_64 build."
fi

# Wine takes the user locale from LANG: the tests run it Russian and English.
# The e2e harness runs reg.exe with LC_CTYPE=hi_IN.UTF-8, a locale whose Windows
# code pages Wine makes UTF-8, so that what reg prints is exact.
need_locales=0
for l in ru_RU.utf8 en_US.utf8 hi_IN.utf8; do
  locale -a 2>/dev/null | grep -qx "$l" || need_locales=1
done
if [ "$need_locales" -eq 1 ]; then
  $sudo sed -i -e 's/^# *ru_RU.UTF-8 UTF-8/ru_RU.UTF-8 UTF-8/' -e 's/^# *en_US.UTF-8 UTF-8/en_US.UTF-8 UTF-8/' /etc/locale.gen
  # Debian lists this one as "hi_IN UTF-8", which would be named hi_IN.
  grep -qx 'hi_IN.UTF-8 UTF-8' /etc/locale.gen || echo 'hi_IN.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
  # --keep-existing: the locales already there stay usable while it runs.
  $sudo locale-gen --keep-existing >/dev/null
fi

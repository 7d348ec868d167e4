#!/usr/bin/env bash
# Installs what building, running and testing Kivoline need on a fresh
# Debian 12 machine, and generates the locales the tests run the client
# under. Run as root. Safe to repeat: it installs only what is missing and
# touches nothing when everything is there.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

packages=(
  g++-mingw-w64-i686 cmake ninja-build
  wine wine32:i386
  xvfb xauth x11-utils imagemagick xdotool
  locales python3 python3-pil fonts-wqy-zenhei fonts-dejavu-core fonts-wine fonts-arphic-uming
  iproute2 iputils-ping
  clang libclang-rt-14-dev googletest
  osslsigncode openssl nsis
)

if [ "$(id -u)" -ne 0 ]; then
  echo "setup.sh: run as root" >&2
  exit 1
fi

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

added_i386=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "setup.sh: adding the i386 architecture (for wine32)"
  dpkg --add-architecture i386
  added_i386=1
fi

missing=()
for package in "${packages[@]}"; do
  installed "$package" || missing+=("$package")
done
if [ "${#missing[@]}" -gt 0 ] || [ "$added_i386" -eq 1 ]; then
  echo "setup.sh: installing ${missing[*]:-nothing (package lists only)}"
  apt-get update
  if [ "${#missing[@]}" -gt 0 ]; then
    # No recommends: they would bring wine64, and the tests use a 32-bit prefix.
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
  fi
fi

# en_US zh_CN zh_HK zh_TW zh_SG en_GB come from glibc; zh_MO is compiled
# from zh_HK's data (glibc has none), which is all Wine needs for 5124.
PYTHONPATH="$root/tests/e2e" /usr/bin/python3 -m harness.locales --generate > /dev/null
PYTHONPATH="$root/tests/e2e" /usr/bin/python3 -m harness.locales

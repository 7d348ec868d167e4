#!/usr/bin/env bash
# Installs what building, running and testing Kivoline need on a fresh
# Debian 12 machine, and generates the locales the tests run the client
# under. Run as root. Safe to repeat: it installs only what is missing and
# touches nothing when everything is there.
#
#   bash scripts/setup.sh [i686|x86_64]
#
# The architecture (default: what harness.arch picks for this machine)
# decides the cross compiler and the Wine loader: i686 takes wine32 from the
# i386 architecture; x86_64 takes wine64 alone, so that on a machine that
# cannot run 32-bit programs no wine32 is installed that could not start.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
arch="${1:-$(PYTHONPATH="$root/tests/e2e" /usr/bin/python3 -m harness.arch | cut -d' ' -f1)}"

packages=(
  cmake ninja-build
  xvfb xauth x11-utils imagemagick xdotool
  locales python3 python3-pil fonts-wqy-zenhei fonts-dejavu-core fonts-wine fonts-arphic-uming
  iproute2 iputils-ping
  clang libclang-rt-14-dev googletest
  osslsigncode openssl nsis
  softhsm2 libengine-pkcs11-openssl
)
case "$arch" in
  i686) packages+=(g++-mingw-w64-i686 wine32:i386) ;;
  x86_64) packages+=(g++-mingw-w64-x86-64 wine64) ;;
  *) echo "setup.sh: unknown architecture '$arch' (i686 or x86_64)" >&2; exit 2 ;;
esac

if [ "$(id -u)" -ne 0 ]; then
  echo "setup.sh: run as root" >&2
  exit 1
fi

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

added_i386=0
if [ "$arch" = i686 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
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
    # No recommends: the loaders are called by their own paths, and the
    # i686 path needs no wine64 (nor the x86_64 path wine32).
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
  fi
fi

# en_US zh_CN zh_HK zh_TW zh_SG en_GB come from glibc; zh_MO is compiled
# from zh_HK's data (glibc has none), which is all Wine needs for 5124.
PYTHONPATH="$root/tests/e2e" /usr/bin/python3 -m harness.locales --generate > /dev/null
PYTHONPATH="$root/tests/e2e" /usr/bin/python3 -m harness.locales

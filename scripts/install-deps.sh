#!/bin/sh
# Installs everything the build and the tests need on a Debian 12 machine (run as root). Safe to run again.
set -eu
need="cmake make g++ clang libclang-rt-14-dev googletest libbenchmark-dev zlib1g-dev libzopfli-dev nsis
g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 libz-mingw-w64-dev
wine wine64 xvfb x11-apps imagemagick zopfli icoutils file
openssl osslsigncode softhsm2 libengine-pkcs11-openssl"
missing=""
for p in $need; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "install-deps: installing$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  # shellcheck disable=SC2086
  apt-get install -y -q --no-install-recommends $missing
fi

#!/bin/sh
# Installs everything the build and the tests need on Debian 12 (bookworm) or Debian 13 (trixie), run as root.
# Safe to run again: it installs only what is missing. Every name below is one that both releases carry (the
# unversioned libclang-rt-dev follows each release's default clang), so one list serves both.
set -eu

die() { echo "install-deps: $*" >&2; exit 1; }

# The release decides which toolchain and Wine the tests meet; only the two that the suite is proven on are taken.
[ -r /etc/os-release ] || die "no /etc/os-release: supported systems are Debian 12 (bookworm) and Debian 13 (trixie)"
. /etc/os-release
case "${ID:-}:${VERSION_ID:-}" in
  debian:12|debian:13) ;;
  *) die "${PRETTY_NAME:-this system} is not supported: supported systems are Debian 12 (bookworm) and Debian 13 (trixie)" ;;
esac

need="cmake make g++ clang libclang-rt-dev googletest libbenchmark-dev zlib1g-dev libzopfli-dev nsis
g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 libz-mingw-w64-dev
wine wine64 xvfb x11-apps imagemagick zopfli icoutils file
openssl osslsigncode softhsm2 libengine-pkcs11-openssl ca-certificates git python3 python3-jsonschema
shellcheck reprotest diffoscope-minimal mmdebstrap apt-utils gnupg sudo uidmap
python3-debian python3-pefile python3-hypothesis"
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

# Sourced by release.sh and verify-release.sh: the release build, the offline signature check and the package
# versions a .buildinfo records, so that a release and its later check do exactly the same. Needs $root (the
# source folder) and a die function.

# Packages whose versions shape the setup's bytes (compiler, runtime and headers, linker, zlib, zopfli, CMake).
shaping_packages="g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
binutils-mingw-w64-x86-64 libz-mingw-w64-dev libzopfli1 cmake"

# package_version NAME: the installed version, or "none".
package_version() {
  dpkg-query -W -f='${Version}' "$1" 2>/dev/null || echo none
}

# debian_release: "12.12 (bookworm)", or the system's own name elsewhere.
debian_release() {
  local name codename
  name=$(. /etc/os-release 2>/dev/null && echo "${PRETTY_NAME:-unknown}")
  codename=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
  if [ -r /etc/debian_version ]; then
    echo "$(cat /etc/debian_version)${codename:+ ($codename)}"
  else
    echo "$name"
  fi
}

# build_setup SOURCE WORK PAYLOAD LOG: the release build of SOURCE into the fresh folder WORK, the payload from
# PAYLOAD (the demo stand-ins when it holds neither file); Release, zopfli. The unsigned setup is then
# WORK/src/Quillmart-Setup.exe.
build_setup() {
  rm -rf "$2"
  { cmake -S "$1" -B "$2" --toolchain "$1/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release \
      -DQMT_PAYLOAD_DIR="$3" -DQMT_ZOPFLI=ON &&
    cmake --build "$2" -j2 --target Quillmart-Setup; } >"$4" 2>&1
}

# has_option OPTION: whether the installed osslsigncode knows OPTION (its usage text lists every option).
has_option() {
  osslsigncode --help 2>&1 | grep -qw -- "$1"
}

# trusted_roots OUT [CA]: writes the system's CA bundle and CA into OUT and sets roots_text to what it holds. The
# bundle comes from Debian's ca-certificates; QMT_SYSTEM_ROOTS names another file (tests).
trusted_roots() {
  local bundle=${QMT_SYSTEM_ROOTS:-/etc/ssl/certs/ca-certificates.crt}
  : >"$1"
  if [ -r "$bundle" ]; then
    cat "$bundle" >>"$1"
    roots_text="the system's ($bundle)"
  else
    roots_text="no system roots ($bundle is missing: install ca-certificates)"
  fi
  if [ -n "${2:-}" ]; then
    cat "$2" >>"$1"
    roots_text="$roots_text + $2"
  fi
}

# crl_bundle OUT FILE...: the CRLs of every FILE (PEM, several to a file, or DER) as one PEM file.
crl_bundle() {
  local out=$1 file
  shift
  : >"$out"
  for file in "$@"; do
    [ -f "$file" ] && [ -r "$file" ] || die "the CRL file $file does not exist or cannot be read"
    if grep -q "BEGIN X509 CRL" "$file"; then
      cat "$file" >>"$out"
    else
      openssl crl -inform DER -in "$file" >>"$out" 2>/dev/null || die "--crl $file is not a CRL (PEM or DER)"
    fi
  done
}

# verify_offline FILE TRUST [CRLS]: checks FILE's signature, its chain up to a root in TRUST and its digest (and a
# timestamp's) without reaching any URL: osslsigncode 2.5 fetches nothing, newer ones are told not to fetch CRLs.
# With CRLS (a PEM file of CRLs) every certificate of the chains is checked against them. Sets verify_output, and
# verify_cause to one line naming why a failed check failed.
verify_offline() {
  local args=(-CAfile "$2" -TSA-CAfile "$2")
  ! has_option -ignore-crl || args+=(-ignore-crl)
  [ -z "${3:-}" ] || args+=(-CRLfile "$3" -TSA-CRLfile "$3")
  verify_cause=""
  verify_output=$(osslsigncode verify "${args[@]}" -in "$1" 2>&1) && return 0
  local part="the signature"
  grep -q "^Timestamp Server Signature verification: failed" <<<"$verify_output" && part="the timestamp"
  local url
  url=$(grep -m1 -oE 'Failed to get data from [^ ]+|get CRL from [^ ]+' <<<"$verify_output" | awk '{ print $NF }')
  if grep -q "MISMATCH" <<<"$verify_output"; then
    verify_cause="the file's digest does not match its signature: it was changed after signing"
  elif [ -n "$url" ]; then
    verify_cause="this osslsigncode fetches the CRL at $url and cannot reach it (no root is missing); give the CRLs with --crl"
  elif grep -q "certificate revoked" <<<"$verify_output"; then
    verify_cause="a certificate of $part's chain is revoked by a CRL given with --crl"
  elif grep -q "unable to get certificate CRL" <<<"$verify_output"; then
    verify_cause="the --crl files hold no CRL for a certificate of $part's chain"
  elif grep -qE "unable to get (local )?issuer certificate|self.signed certificate in certificate chain" \
    <<<"$verify_output"; then
    verify_cause="$part's chain does not lead to a trusted root (give the root with --ca, the intermediates with the certificate)"
  elif grep -q "certificate has expired\|certificate is not yet valid" <<<"$verify_output"; then
    verify_cause="a certificate of $part's chain is $(grep -m1 -o 'certificate has expired\|certificate is not yet valid' <<<"$verify_output" | sed 's/certificate //') at the signing time"
  elif grep -q "No signature found\|Unable to extract existing signature" <<<"$verify_output"; then
    verify_cause="the file is not signed"
  else
    verify_cause=$(grep -iE -m1 'error|fail' <<<"$verify_output" || echo "osslsigncode verify failed")
  fi
  return 1
}

#!/usr/bin/env bash
# Builds a release of Quillmart-Setup.exe: a fresh build of its own with zopfli-compressed streams, Authenticode
# signing (SHA-256) with osslsigncode, an offline verification of the signature, the release check on the signed
# file, a provenance record (<out>.buildinfo) and a report. Every bad input ends the run with one line naming the
# cause and a non-zero exit, and leaves --out and its .buildinfo as they were: the results are written beside --out
# under temporary names and renamed only at the very end.
#
#   bash scripts/release.sh [options]        (bash scripts/release.sh --help lists them)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
started=$(date +%s.%N)

usage() {
  cat <<'EOF'
Usage: bash scripts/release.sh [options]

Payload
  --payload DIR          folder with WebView2Loader.dll and Quillmart.exe (default: payload/)
  --demo                 allow the demo stand-ins when DIR holds neither file (never for a real release)

Key (exactly one)
  --pkcs12 FILE          PKCS#12 file; its password from QMT_SIGN_PASSWORD or --password-file
  --cert FILE --key FILE certificate and private key as PEM (an encrypted key takes the same password)
  --cert FILE --pkcs11-module LIB --pkcs11-key URI
                         a key that stays in a token or signing service (PKCS#11); its PIN from QMT_SIGN_PIN
  --unsigned             build without a signature
  --password-file FILE   file whose first line is the password (instead of QMT_SIGN_PASSWORD)

  The certificate file (--cert, or inside --pkcs12) holds the signer's certificate first, then its
  intermediates; all of them are embedded in the signature.

Signature
  --timestamp URL        RFC 3161 time-stamping authority (without it: no timestamp)
  --ca FILE              root certificate(s) the signature must verify against, besides the system's
  --crl FILE             check revocation against this CRL (PEM or DER; repeatable). Without it revocation is not
                         checked: the signature is verified offline, no CRL or OCSP URL is fetched

Output
  --out FILE             the signed setup (default: build/release/Quillmart-Setup.exe)
  --work DIR             build folder, emptied first (default: build/release-work)
  --setup FILE           sign and check this already built, unsigned setup instead of building one;
                         --payload must name the files it was built from
  --allow-dirty          build although tracked files have uncommitted changes (the .buildinfo says so)
  --help                 this text

The signing time is SOURCE_DATE_EPOCH when set (else now). Two runs with the same tree, payload and
SOURCE_DATE_EPOCH give the same unsigned setup; with an RSA key and no timestamp also the same signed one
(ECDSA signatures and timestamps differ on every run). scripts/verify-release.sh checks a published setup
against its .buildinfo.
EOF
}

die() {
  echo "release.sh: $*" >&2
  exit 1
}

payload=$root/payload demo=0 pkcs12="" cert="" key="" module="" token_key="" unsigned=0 password_file=""
timestamp="" ca="" crls=() out=$root/build/release/Quillmart-Setup.exe work=$root/build/release-work setup=""
allow_dirty=0
while [ $# -gt 0 ]; do
  option=$1
  case $option in
    --help) usage; exit 0 ;;
    --demo) demo=1; shift; continue ;;
    --unsigned) unsigned=1; shift; continue ;;
    --allow-dirty) allow_dirty=1; shift; continue ;;
    --payload | --pkcs12 | --cert | --key | --pkcs11-module | --pkcs11-key | --password-file | --timestamp | \
      --ca | --crl | --out | --work | --setup)
      [ $# -ge 2 ] && [ -n "$2" ] || die "$option needs a value"
      value=$2; shift 2 ;;
    *) die "unknown option $option (see --help)" ;;
  esac
  case $option in
    --payload) payload=$value ;; --pkcs12) pkcs12=$value ;; --cert) cert=$value ;; --key) key=$value ;;
    --pkcs11-module) module=$value ;; --pkcs11-key) token_key=$value ;; --password-file) password_file=$value ;;
    --timestamp) timestamp=$value ;; --ca) ca=$value ;; --crl) crls+=("$value") ;;
    --out) out=$value ;; --work) work=$value ;; --setup) setup=$value ;;
  esac
done
. "$root/scripts/release-common.sh"

# --- Nothing an input could be overwritten with --------------------------------------------------------------------
# The results replace --out and --out.buildinfo only at the very end; neither may be one of the inputs.
same_file() {
  local what=$1 file=$2 result
  for result in "$out" "$out.buildinfo"; do
    [ ! -e "$result" ] || [ ! "$result" -ef "$file" ] || die "--out $out would overwrite the $what $file"
  done
}
[ -z "$setup" ] || same_file setup "$setup"
for name in WebView2Loader.dll Quillmart.exe; do same_file "payload file" "$payload/$name"; done
for input in "$pkcs12" "$cert" "$key" "$password_file" "$ca" "$module" ${crls[@]+"${crls[@]}"}; do
  [ -z "$input" ] || same_file "key or certificate file" "$input"
done

# --- What to sign with -------------------------------------------------------------------------------------------
kind=""
keys_text="--pkcs12 FILE, --cert FILE --key FILE, --cert FILE --pkcs11-module LIB --pkcs11-key URI, or --unsigned"
choose() {
  [ -z "$kind" ] || die "give only one key: $keys_text"
  kind=$1
}
[ -n "$pkcs12" ] && choose pkcs12
[ -n "$key" ] && choose pem
[ -n "$module$token_key" ] && choose pkcs11
[ "$unsigned" = 1 ] && choose unsigned
[ -n "$kind" ] || die "no key: give $keys_text"
case $kind in
  pem) [ -n "$cert" ] || die "--key needs --cert" ;;
  pkcs11) [ -n "$cert" ] && [ -n "$module" ] && [ -n "$token_key" ] ||
    die "a PKCS#11 key needs --cert, --pkcs11-module and --pkcs11-key" ;;
  pkcs12 | unsigned) [ -z "$cert" ] || die "--cert goes with --key or --pkcs11-module, not with --$kind" ;;
esac
[ "$kind" != unsigned ] || [ -z "$timestamp${crls[*]+x}" ] || die "--unsigned takes no timestamp and no --crl"

signing_time=${SOURCE_DATE_EPOCH:-$(date +%s)}
[[ $signing_time =~ ^[0-9]+$ ]] || die "SOURCE_DATE_EPOCH is not a number of seconds: $signing_time"

# The .buildinfo names the commit that was built; a tree that differs from it is built only when asked for.
commit=$(git -C "$root" rev-parse --verify -q HEAD 2>/dev/null) ||
  die "the sources in $root are not a git checkout with a commit: the .buildinfo records the commit built"
tree_state=clean
if [ -n "$(git -C "$root" status --porcelain --untracked-files=no)" ]; then
  [ "$allow_dirty" = 1 ] ||
    die "the sources in $root have uncommitted changes to tracked files; commit them, or give --allow-dirty"
  tree_state="dirty (--allow-dirty: uncommitted changes to tracked files)"
fi

# A file given by the user: it must be a readable file (one line naming what is wrong otherwise).
need_file() {
  local what=$1 file=$2
  [ -e "$file" ] || die "$what $file does not exist"
  [ -f "$file" ] || die "$what $file is not a file"
  [ -r "$file" ] || die "$what $file cannot be read"
}

# --- The payload -------------------------------------------------------------------------------------------------
[ -d "$payload" ] || die "payload folder $payload does not exist"
payload=$(cd "$payload" && pwd)
present=0
for name in WebView2Loader.dll Quillmart.exe; do
  file=$payload/$name
  if [ -d "$file" ]; then die "payload file $file is a folder, not a file"; fi
  if [ -e "$file" ] || [ -L "$file" ]; then need_file "payload file" "$file"; present=$((present + 1)); fi
done
case $present in
  2) demo=0 ;;
  1) for name in WebView2Loader.dll Quillmart.exe; do
       [ -e "$payload/$name" ] || die "payload file $payload/$name is missing: a release needs both files"
     done ;;
  0) [ "$demo" = 1 ] ||
       die "payload folder $payload holds neither WebView2Loader.dll nor Quillmart.exe: the demo stand-ins are refused without --demo"
     [ -z "$setup" ] ||
       die "--setup needs the payload folder the setup was built from; $payload holds neither file" ;;
esac
[ -z "$setup" ] || need_file "setup" "$setup"

# --- Output: temporary names beside --out, renamed at the very end -------------------------------------------------
out_dir=$(dirname "$out")
[ ! -d "$out" ] || die "--out $out is a folder"
mkdir -p "$out_dir" 2>/dev/null || die "cannot create the output folder $out_dir"
out=$(cd "$out_dir" && pwd)/$(basename "$out")
if [ -z "$setup" ]; then
  work_path=$(realpath -m "$work")
  case $out in "$work_path"/*) die "--out $out lies in --work $work_path, which the build empties" ;; esac
fi
private=$(mktemp -d "${TMPDIR:-/tmp}/qmt-release.XXXXXX")
partial=$out_dir/.$(basename "$out").partial.$$
partial_info=$out_dir/.$(basename "$out").buildinfo.partial.$$
trap 'rm -rf "$private" "$partial" "$partial_info"' EXIT

# --- The key and its certificate ---------------------------------------------------------------------------------
# Secrets reach openssl and osslsigncode only through a file readable by this user alone, never an argument.
pass_args=()
secret=""
keep_secret() {
  secret=$private/secret
  (umask 077 && printf '%s\n' "$1" >"$secret")
}
if [ -n "$password_file" ]; then
  need_file "password file" "$password_file"
  keep_secret "$(head -n 1 "$password_file")"
elif [ "$kind" = pkcs11 ]; then
  [ -z "${QMT_SIGN_PIN+set}" ] || keep_secret "$QMT_SIGN_PIN"
elif [ -n "${QMT_SIGN_PASSWORD+set}" ]; then
  keep_secret "$QMT_SIGN_PASSWORD"
fi
[ -z "$secret" ] || pass_args=(-readpass "$secret")
passin=(-passin pass:)
[ -z "$secret" ] || passin=(-passin "file:$secret")

signer_cert=$private/signer.pem
case $kind in
  pkcs12)
    need_file "PKCS#12 file" "$pkcs12"
    if ! errors=$(openssl pkcs12 -in "$pkcs12" -nokeys -clcerts "${passin[@]}" -out "$signer_cert" 2>&1); then
      if grep -qi "unsupported" <<<"$errors"; then
        openssl pkcs12 -legacy -in "$pkcs12" -nokeys -clcerts "${passin[@]}" -out "$signer_cert" 2>/dev/null ||
          die "cannot read the PKCS#12 file $pkcs12 (legacy encryption)"
      elif grep -qiE "mac verify|invalid password" <<<"$errors"; then
        die "wrong password for the PKCS#12 file $pkcs12 (QMT_SIGN_PASSWORD or --password-file)"
      else
        die "$pkcs12 is not a PKCS#12 file"
      fi
    fi
    grep -q "BEGIN CERTIFICATE" "$signer_cert" || die "the PKCS#12 file $pkcs12 holds no certificate for its key"
    key_args=(-pkcs12 "$pkcs12") ;;
  pem)
    need_file "certificate" "$cert"
    need_file "private key" "$key"
    openssl x509 -in "$cert" -out "$signer_cert" 2>/dev/null || die "$cert is not a PEM certificate"
    openssl pkey -in "$key" "${passin[@]}" -pubout -out "$private/key.pub" 2>/dev/null ||
      die "cannot read the private key $key (not a PEM key, or encrypted with another password)"
    [ "$(openssl x509 -in "$cert" -noout -pubkey)" = "$(cat "$private/key.pub")" ] ||
      die "the private key $key does not belong to the certificate $cert"
    key_args=(-certs "$cert" -key "$key") ;;
  pkcs11)
    need_file "certificate" "$cert"
    need_file "PKCS#11 module" "$module"
    openssl x509 -in "$cert" -out "$signer_cert" 2>/dev/null || die "$cert is not a PEM certificate"
    key_args=(-pkcs11module "$module" -certs "$cert" -key "$token_key") ;;
esac

# Windows would accept a certificate without the code-signing usage or outside its validity only to show the
# signature as invalid to every user; refuse such a key before building anything.
utc() { date -u -d "@$1" '+%Y-%m-%d %H:%M:%S UTC'; }
signer=unsigned
if [ "$kind" != unsigned ]; then
  signer=$(openssl x509 -in "$signer_cert" -noout -subject -nameopt RFC2253 | sed 's/^subject=//')
  openssl x509 -in "$signer_cert" -noout -ext extendedKeyUsage 2>/dev/null | grep -q "Code Signing" ||
    die "the certificate $signer lacks the code-signing usage (extended key usage codeSigning)"
  not_before=$(date -u -d "$(openssl x509 -in "$signer_cert" -noout -startdate | cut -d= -f2)" +%s)
  not_after=$(date -u -d "$(openssl x509 -in "$signer_cert" -noout -enddate | cut -d= -f2)" +%s)
  [ "$signing_time" -le "$not_after" ] ||
    die "the certificate $signer expired on $(utc "$not_after"), before the signing time $(utc "$signing_time")"
  [ "$signing_time" -ge "$not_before" ] ||
    die "the certificate $signer is valid only from $(utc "$not_before"), after the signing time $(utc "$signing_time")"
fi
# The key's kind decides whether the signed bytes can be reproduced: RSA (PKCS#1 v1.5) signatures are a function
# of key and digest, ECDSA ones hold a random number.
reproducible="unsigned bytes reproducible"
if [ "$kind" != unsigned ]; then
  key_type=$(openssl x509 -in "$signer_cert" -noout -text | sed -n 's/^ *Public Key Algorithm: //p' | head -n 1)
  case $key_type in
    rsaEncryption) key_type=RSA ;;
    id-ecPublicKey) key_type=ECDSA ;;
  esac
  if [ -n "$timestamp" ]; then
    reproducible="signed bytes not reproducible (timestamp); unsigned bytes reproducible"
  elif [ "$key_type" = RSA ]; then
    reproducible="signed bytes reproducible (RSA, with the same SOURCE_DATE_EPOCH)"
  else
    reproducible="signed bytes not reproducible ($key_type); unsigned bytes reproducible"
  fi
fi
timestamp_args=()
[ -z "$timestamp" ] || timestamp_args=(-ts "$timestamp")
[ -z "$ca" ] || need_file "root certificate file" "$ca"
# Revocation is checked only against CRLs the user has (one PEM file of them all), never fetched.
crl_file=""
revocation="not checked (offline)"
if [ ${#crls[@]} -gt 0 ]; then
  crl_file=$private/crls.pem
  crl_bundle "$crl_file" "${crls[@]}"
  revocation="checked against ${crls[*]}"
fi

# --- Build ---------------------------------------------------------------------------------------------------------
mkdir -p "$work" || die "cannot create the build folder $work"
work=$(cd "$work" && pwd)
log=$work.log
if [ -z "$setup" ]; then
  # Emptied first: only a folder that is empty or a build folder of its own, never one that holds the sources.
  case $root/ in "$work"/*) die "--work $work holds the sources; give a folder of its own" ;; esac
  [ -z "$(ls -A "$work")" ] || [ -f "$work/CMakeCache.txt" ] ||
    die "--work $work is neither empty nor a build folder; it would be emptied"
  echo "release.sh: building in $work (zopfli; log: $log)" >&2
  build_setup "$root" "$work" "$payload" "$log" || die "the build failed; its log: $log"
  unsigned_exe=$work/src/Quillmart-Setup.exe
  check=$work/tools/host/qmt-payload-check
  inputs=$payload
  [ "$demo" = 0 ] || inputs=$work/payload/demo
else
  # Only the release check is needed, built for this machine in a folder of its own (not the one a full build
  # of the same --work folder uses for its tools).
  { cmake -S "$root/tools/host" -B "$work/release-check" -DCMAKE_BUILD_TYPE=Release &&
    cmake --build "$work/release-check" -j2 --target qmt-payload-check; } >"$log" 2>&1 ||
    die "building the release check failed; its log: $log"
  unsigned_exe=$setup
  check=$work/release-check/qmt-payload-check
  inputs=$payload
fi

# --- Sign, verify, check -----------------------------------------------------------------------------------------
# sign_failure ERRORS: one line naming why osslsigncode could not sign. A refused PIN is said as such and never
# retried: a hardware token locks itself after a few wrong PINs.
sign_failure() {
  local first
  first=$(grep -v '^Succeeded\|^Failed$\|^Engine ".*" set' <<<"$1" | head -n 1)
  if grep -q "Unknown option" <<<"$1"; then
    echo "this osslsigncode ($(osslsigncode --version 2>&1 | head -n 1)) does not support: $first"
  elif grep -qi "timestamping failed\|Time-Stamp" <<<"$1"; then
    echo "the time-stamping authority $timestamp failed: $(grep -m1 -i 'failure\|error' <<<"$1" || echo "$first")"
  elif [ "$kind" != pkcs11 ]; then
    echo "osslsigncode could not sign: $first"
  elif grep -qi "load.*'pkcs11' engine\|no such engine" <<<"$1"; then
    echo "OpenSSL's PKCS#11 engine cannot be loaded (Debian package libengine-pkcs11-openssl)"
  elif grep -q "Unable to load module\|Unable to load PKCS#11 module" <<<"$1"; then
    echo "the PKCS#11 module $module cannot be loaded: $(grep -m1 -B1 'Unable to load module' <<<"$1" | head -n 1)"
  elif grep -q "PIN locked\|PIN_LOCKED" <<<"$1"; then
    echo "the token's PIN is locked; it must be unlocked with the token's own tools"
  elif grep -q "PIN incorrect\|PIN_INCORRECT\|PIN_LEN_RANGE\|Login failed" <<<"$1"; then
    echo "the token refused the PIN (QMT_SIGN_PIN or --password-file); tried once, not retried"
  elif grep -q "No matching initialized token" <<<"$1"; then
    echo "no token matches $token_key in the module $module"
  elif grep -q "private key was not found\|object not found" <<<"$1"; then
    echo "the token holds no private key matching $token_key"
  else
    echo "cannot sign with $token_key through $module: $first"
  fi
}
trust=$private/trust.pem
roots_text=""
if [ "$kind" = unsigned ]; then
  cp "$unsigned_exe" "$partial"
else
  if ! errors=$(osslsigncode sign "${key_args[@]}" "${pass_args[@]}" -h sha256 -n "Quillmart Setup" \
      -time "$signing_time" "${timestamp_args[@]}" -in "$unsigned_exe" -out "$partial" 2>&1); then
    rm -f "$partial"
    die "$(sign_failure "$errors")"
  fi
  trusted_roots "$trust" "$ca"
  verify_offline "$partial" "$trust" "$crl_file" ||
    die "the signed setup does not verify against $roots_text: $verify_cause"
  if [ ${#timestamp_args[@]} -gt 0 ]; then
    grep -q "Timestamp Server Signature verification: ok\|Timestamp verified using" <<<"$verify_output" ||
      die "the timestamp does not verify against the trusted roots (give the authority's root with --ca)"
  fi
fi
report=$("$check" "$partial" "$inputs/WebView2Loader.dll" "$inputs/Quillmart.exe" 2>&1) ||
  die "the release check failed on the signed setup: $(grep -m1 '^FAIL\|cannot' <<<"$report")"

# --- Provenance record: <out>.buildinfo ----------------------------------------------------------------------------
sha() { sha256sum "$1" | cut -d' ' -f1; }
size() { wc -c <"$1" | tr -d ' '; }
{
  echo "Format: 1"
  echo "Source: Quillmart-Setup"
  echo "Source-Commit: $commit"
  echo "Source-Tree: $tree_state"
  if [ -z "$setup" ]; then
    echo "Build: scripts/release.sh (Release, zopfli)"
  else
    echo "Build: given with --setup, not built by this run"
  fi
  echo "Source-Date-Epoch: ${SOURCE_DATE_EPOCH:-unset}"
  echo "Debian-Release: $(debian_release)"
  for package in $shaping_packages; do echo "Package: $package $(package_version "$package")"; done
  if [ "$demo" = 1 ]; then echo "Payload: demo stand-ins"; else echo "Payload: release files"; fi
  for name in WebView2Loader.dll Quillmart.exe; do
    echo "Payload-File: $name $(size "$inputs/$name") $(sha "$inputs/$name")"
  done
  echo "Unsigned-SHA256: $(sha "$unsigned_exe")"
  if [ "$kind" = unsigned ]; then
    echo "Signed-SHA256: none (unsigned)"
    echo "Signer: none"
    echo "Signer-Certificate-SHA256: none"
  else
    echo "Signed-SHA256: $(sha "$partial")"
    echo "Signer: $signer"
    echo "Signer-Certificate-SHA256: $(openssl x509 -in "$signer_cert" -noout -fingerprint -sha256 |
      sed 's/.*=//; s/://g' | tr 'A-F' 'a-f')"
    echo "Signature-Key: $key_type"
  fi
  echo "Timestamp-Authority: ${timestamp:-none}"
  echo "Reproducible: $reproducible"
} >"$partial_info"
mv -f "$partial" "$out"
mv -f "$partial_info" "$out.buildinfo"

# --- Report ------------------------------------------------------------------------------------------------------
elapsed=$(awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
echo "=== Quillmart-Setup release"
if [ "$demo" = 1 ]; then
  echo "payload         DEMO stand-ins ($payload holds no release files), built into $inputs"
else
  echo "payload         $payload"
fi
printf '%-19s %10s %10s %7s  %s\n' file size stream ratio sha256
streams=0
for name in WebView2Loader.dll Quillmart.exe; do
  stream=$(awk -v n="$name" '$1 == n && $2 ~ /^[0-9]+$/ { print $2 }' <<<"$report")
  hash=$(awk -v n="$name" '$1 == n && $2 == "sha256" { print $3 }' <<<"$report")
  bytes=$(size "$inputs/$name")
  streams=$((streams + stream))
  printf '%-19s %10s %10s %6s%%  %s\n' "$name" "$bytes" "$stream" \
    "$(awk -v s="$stream" -v b="$bytes" 'BEGIN { printf "%.1f", b ? 100 * s / b : 0 }')" "$hash"
done
total=$(size "$out")
echo "setup           $total bytes; without its streams $((total - streams)) bytes"
echo "source          commit $commit, $tree_state"
echo "unsigned sha256 $(sha "$unsigned_exe")"
if [ "$kind" = unsigned ]; then
  echo "signed sha256   - (unsigned)"
else
  echo "signed sha256   $(sha "$out")"
fi
echo "signer          $signer"
if [ "$kind" != unsigned ]; then
  echo "signing time    $(utc "$signing_time")${SOURCE_DATE_EPOCH:+ (SOURCE_DATE_EPOCH)}"
  echo "timestamp       ${timestamp:-none}"
  echo "verified        signature, chain and digest against $roots_text, offline"
  echo "revocation      $revocation"
fi
echo "reproducible    $reproducible"
echo "release check   $(tail -n 1 <<<"$report")"
echo "output          $out"
echo "provenance      $out.buildinfo"
echo "time            $elapsed s"

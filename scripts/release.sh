#!/usr/bin/env bash
# Builds a release of Quillmart-Setup.exe: a fresh build of its own with zopfli-compressed streams, Authenticode
# signing (SHA-256) with osslsigncode, verification of the signature, the release check on the signed file, and a
# report. Every bad input ends the run with one line naming the cause, a non-zero exit and no file at --out: the
# result is written beside --out under a temporary name and renamed only at the very end.
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

Signature
  --timestamp URL        RFC 3161 time-stamping authority (without it: no timestamp)
  --tsa-cert FILE --tsa-key FILE
                         sign the timestamp with this local authority instead of a URL (offline signing, tests)
  --ca FILE              root certificate(s) the signature must verify against, besides the system's

Output
  --out FILE             the signed setup (default: build/release/Quillmart-Setup.exe)
  --work DIR             build folder, emptied first (default: build/release-work)
  --setup FILE           sign and check this already built, unsigned setup instead of building one;
                         --payload must name the files it was built from
  --help                 this text

The signing time is SOURCE_DATE_EPOCH when set (else now): two runs with the same tree, payload, key and
SOURCE_DATE_EPOCH give byte-identical setups, unless a timestamp is requested.
EOF
}

die() {
  echo "release.sh: $*" >&2
  exit 1
}

payload=$root/payload demo=0 pkcs12="" cert="" key="" module="" token_key="" unsigned=0 password_file=""
timestamp="" tsa_cert="" tsa_key="" ca="" out=$root/build/release/Quillmart-Setup.exe work=$root/build/release-work
setup=""
while [ $# -gt 0 ]; do
  option=$1
  case $option in
    --help) usage; exit 0 ;;
    --demo) demo=1; shift; continue ;;
    --unsigned) unsigned=1; shift; continue ;;
    --payload | --pkcs12 | --cert | --key | --pkcs11-module | --pkcs11-key | --password-file | --timestamp | \
      --tsa-cert | --tsa-key | --ca | --out | --work | --setup)
      [ $# -ge 2 ] && [ -n "$2" ] || die "$option needs a value"
      value=$2; shift 2 ;;
    *) die "unknown option $option (see --help)" ;;
  esac
  case $option in
    --payload) payload=$value ;; --pkcs12) pkcs12=$value ;; --cert) cert=$value ;; --key) key=$value ;;
    --pkcs11-module) module=$value ;; --pkcs11-key) token_key=$value ;; --password-file) password_file=$value ;;
    --timestamp) timestamp=$value ;; --tsa-cert) tsa_cert=$value ;; --tsa-key) tsa_key=$value ;; --ca) ca=$value ;;
    --out) out=$value ;; --work) work=$value ;; --setup) setup=$value ;;
  esac
done
# A failed run leaves nothing at --out, not even the setup of an earlier run that could be published by mistake.
[ -d "$out" ] || rm -f -- "$out"

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
[ -z "$timestamp" ] || [ -z "$tsa_cert$tsa_key" ] || die "give --timestamp or --tsa-cert/--tsa-key, not both"
[ -z "$tsa_cert$tsa_key" ] || { [ -n "$tsa_cert" ] && [ -n "$tsa_key" ]; } ||
  die "--tsa-cert and --tsa-key go together"
[ "$kind" != unsigned ] || [ -z "$timestamp$tsa_cert" ] || die "--unsigned takes no timestamp"

signing_time=${SOURCE_DATE_EPOCH:-$(date +%s)}
[[ $signing_time =~ ^[0-9]+$ ]] || die "SOURCE_DATE_EPOCH is not a number of seconds: $signing_time"

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

# --- Output: a temporary name beside --out, renamed at the very end -----------------------------------------------
out_dir=$(dirname "$out")
mkdir -p "$out_dir" 2>/dev/null || die "cannot create the output folder $out_dir"
[ ! -d "$out" ] || die "--out $out is a folder"
out=$(cd "$out_dir" && pwd)/$(basename "$out")
private=$(mktemp -d "${TMPDIR:-/tmp}/qmt-release.XXXXXX")
partial=$out_dir/.$(basename "$out").partial.$$
trap 'rm -rf "$private" "$partial"' EXIT

# --- The key and its certificate ---------------------------------------------------------------------------------
# Secrets reach openssl and osslsigncode only through a file readable by this user alone, never an argument.
pass_args=()
secret=""
keep_secret() {
  secret=$private/secret
  (umask 077 && printf '%s\n' "$1" >"$secret")
}
if [ "$kind" = pkcs11 ]; then
  [ -z "${QMT_SIGN_PIN+set}" ] || keep_secret "$QMT_SIGN_PIN"
elif [ -n "$password_file" ]; then
  need_file "password file" "$password_file"
  keep_secret "$(head -n 1 "$password_file")"
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
timestamp_args=()
if [ -n "$timestamp" ]; then
  timestamp_args=(-ts "$timestamp")
elif [ -n "$tsa_cert" ]; then
  need_file "time-stamping certificate" "$tsa_cert"
  need_file "time-stamping key" "$tsa_key"
  timestamp_args=(-TSA-certs "$tsa_cert" -TSA-key "$tsa_key" -TSA-time "$signing_time")
fi
[ -z "$ca" ] || need_file "root certificate file" "$ca"

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
  rm -rf "$work"
  { cmake -S "$root" -B "$work" --toolchain "$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release \
      -DQMT_PAYLOAD_DIR="$payload" -DQMT_ZOPFLI=ON &&
    cmake --build "$work" -j2 --target Quillmart-Setup; } >"$log" 2>&1 || die "the build failed; its log: $log"
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
if [ "$kind" = unsigned ]; then
  cp "$unsigned_exe" "$partial"
else
  if ! errors=$(osslsigncode sign "${key_args[@]}" "${pass_args[@]}" -h sha256 -n "Quillmart Setup" \
      -time "$signing_time" "${timestamp_args[@]}" -in "$unsigned_exe" -out "$partial" 2>&1); then
    rm -f "$partial"
    case $kind in
      pkcs11)
        die "cannot sign with $token_key through $module: wrong PIN (QMT_SIGN_PIN) or no such key on the token" ;;
      *) die "osslsigncode could not sign: $(grep -v '^Succeeded\|^Failed$' <<<"$errors" | head -n 1)" ;;
    esac
  fi
  trust=$private/trust.pem
  cat /etc/ssl/certs/ca-certificates.crt ${ca:+"$ca"} >"$trust" 2>/dev/null || : >"$trust"
  verify=$(osslsigncode verify -CAfile "$trust" -TSA-CAfile "$trust" -in "$partial" 2>&1) ||
    die "the signed setup does not verify against the trusted roots (give the signer's root with --ca):" \
      "$(grep -iE 'error|fail' <<<"$verify" | head -n 1)"
  if [ ${#timestamp_args[@]} -gt 0 ]; then
    grep -q "Timestamp Server Signature verification: ok" <<<"$verify" ||
      die "the timestamp does not verify against the trusted roots (give the authority's root with --ca)"
  fi
fi
report=$("$check" "$partial" "$inputs/WebView2Loader.dll" "$inputs/Quillmart.exe" 2>&1) ||
  die "the release check failed on the signed setup: $(grep -m1 '^FAIL\|cannot' <<<"$report")"
mv -f "$partial" "$out"

# --- Report ------------------------------------------------------------------------------------------------------
sha() { sha256sum "$1" | cut -d' ' -f1; }
size() { wc -c <"$1" | tr -d ' '; }
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
echo "unsigned sha256 $(sha "$unsigned_exe")"
if [ "$kind" = unsigned ]; then
  echo "signed sha256   - (unsigned)"
else
  echo "signed sha256   $(sha "$out")"
fi
echo "signer          $signer"
if [ "$kind" != unsigned ]; then
  echo "signing time    $(utc "$signing_time")${SOURCE_DATE_EPOCH:+ (SOURCE_DATE_EPOCH)}"
  if [ -n "$timestamp" ]; then
    echo "timestamp       $timestamp"
  elif [ -n "$tsa_cert" ]; then
    echo "timestamp       local authority $tsa_cert"
  else
    echo "timestamp       none"
  fi
fi
echo "release check   $(tail -n 1 <<<"$report")"
echo "output          $out"
echo "time            $elapsed s"

#!/usr/bin/env bash
# Builds a release of Quillmart-Setup.exe: the committed tree's own build recipe run on an unpacked copy of the
# commit in a fixed environment, Authenticode signing (SHA-256) with osslsigncode, an offline verification of the
# signature, the release check on the signed file, a provenance record (<out>.buildinfo) and a report. Every bad
# input ends the run with one line naming the cause and a non-zero exit, and leaves --out and its .buildinfo as they
# were: the results are written beside --out under temporary names and renamed only at the very end. The signing
# secret is read once and reaches osslsigncode (and openssl's key checks) only through a pipe, never the build.
#
#   bash scripts/release.sh [options]        (bash scripts/release.sh --help lists them)
set -euo pipefail
# The secret is taken out of the environment before anything else runs, so no child process ever inherits it. The
# names that hold it here are unset first: one that came exported from the caller would stay exported when set.
unset -v env_pin env_pin_set env_password env_password_set secret
env_pin=${QMT_SIGN_PIN-} env_pin_set=${QMT_SIGN_PIN+1} env_password=${QMT_SIGN_PASSWORD-}
env_password_set=${QMT_SIGN_PASSWORD+1}
unset QMT_SIGN_PIN QMT_SIGN_PASSWORD

script_name=release.sh die_status=1
root=$(cd -- "$(dirname -- "$0")/.." && pwd -P)
. "$root/scripts/release-common.sh"
work_marker=.quillmart-release-work

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
  --password-file FILE   file whose first line is the password or PIN (instead of QMT_SIGN_PASSWORD/QMT_SIGN_PIN)

  The certificate file (--cert, or inside --pkcs12) holds the signer's certificate first, then its
  intermediates; all of them are embedded in the signature.

Signature
  --timestamp URL        RFC 3161 time-stamping authority (without it: no timestamp)
  --ca FILE              root certificate(s) the signature must verify against, besides the system's
  --crl FILE             check revocation against this CRL (PEM or DER; repeatable). Without it revocation is not
                         checked: the signature is verified offline, no CRL or OCSP URL is fetched

Output
  --out FILE             the signed setup (default: build/release/Quillmart-Setup.exe)
  --payload-license NAME=EXPR
                         the licence (an SPDX expression) of payload file NAME in the bill of materials
                         (repeatable; default LicenseRef-Proprietary for Quillmart.exe, NOASSERTION otherwise)
  --work DIR             build folder (default: build/release-work); a new or empty folder, or one this command
                         made before (it holds .quillmart-release-work), which is then emptied
  --setup FILE           sign and check this already built, unsigned setup instead of building one;
                         --payload must name the files it was built from
  --allow-dirty          release although tracked files have uncommitted changes (they are not built: the
                         build is always of the commit; the .buildinfo says so)
  --help                 this text
  --                     ends the options

The build is the commit's own scripts/release-build.sh run on `git archive` of the commit under env -i (fixed PATH,
LC_ALL=C.UTF-8, TZ=UTC, umask 022), so nothing of the caller's environment reaches it. The signing time is
SOURCE_DATE_EPOCH when set (else now). Two runs of the same commit and payload with the same SOURCE_DATE_EPOCH
and toolchain give the same unsigned setup; with an RSA key and no timestamp also the same signed one (ECDSA
signatures and timestamps differ on every run). scripts/verify-release.sh checks a published setup against its
.buildinfo.
EOF
}

option_table=(
  "--help help -" "--demo flag demo" "--unsigned flag unsigned" "--allow-dirty flag allow_dirty"
  "--payload value payload" "--pkcs12 value pkcs12" "--cert value cert" "--key value key"
  "--pkcs11-module value module" "--pkcs11-key value token_key" "--password-file value password_file"
  "--timestamp value timestamp" "--ca value ca" "--crl list crls" "--payload-license list payload_licenses" "--out value out" "--work value work"
  "--setup value setup"
)
payload=$root/payload demo=0 pkcs12="" cert="" key="" module="" token_key="" unsigned=0 password_file=""
timestamp="" ca="" crls=() payload_licenses=() out=$root/build/release/Quillmart-Setup.exe work=$root/build/release-work setup=""
allow_dirty=0

# read_options ARG...: the options, every path made absolute and canonical (a path beginning with "-" is then no
# longer mistaken for an option by any program it is handed to).
read_options() {
  parse_options "$@"
  [ ${#positional[@]} -eq 0 ] || die "unexpected argument ${positional[0]} (see --help)"
  local variable
  for variable in payload pkcs12 cert key module password_file ca setup; do
    [ -z "${!variable}" ] || printf -v "$variable" '%s' "$(canonical "${!variable}")"
  done
  local i
  for i in "${!crls[@]}"; do crls[i]=$(canonical "${crls[i]}"); done
  work=$(canonical "$work")
}

# choose_key: kind is pkcs12, pem, pkcs11 or unsigned; exactly one key must be given.
choose_key() {
  kind=""
  local keys_text="--pkcs12 FILE, --cert FILE --key FILE, --cert FILE --pkcs11-module LIB --pkcs11-key URI, or --unsigned"
  choose() {
    [ -z "$kind" ] || die "give only one key: $keys_text"
    kind=$1
  }
  [ -z "$pkcs12" ] || choose pkcs12
  [ -z "$key" ] || choose pem
  [ -z "$module$token_key" ] || choose pkcs11
  [ "$unsigned" = 0 ] || choose unsigned
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
}

# take_secret: the password or PIN, from --password-file or the environment, kept in this shell only.
take_secret() {
  secret="" have_secret=""
  if [ -n "$password_file" ]; then
    need_file "password file" "$password_file"
    IFS= read -r secret <"$password_file" || [ -n "$secret" ] || die "the password file $password_file is empty"
    have_secret=1
  elif [ "$kind" = pkcs11 ] && [ -n "$env_pin_set" ]; then
    secret=$env_pin have_secret=1
  elif [ "$kind" != pkcs11 ] && [ -n "$env_password_set" ]; then
    secret=$env_password have_secret=1
  fi
  env_pin="" env_password=""
}

# check_paths: nothing the run writes or empties may be an input or hold one, compared as canonical paths.
check_paths() {
  local file
  for file in "$out" "$out.buildinfo" "$out.cdx.json" "$out.notices.txt"; do
    if [ -L "$file" ] || { [ -e "$file" ] && [ ! -f "$file" ]; }; then
      die "--out: $file exists and is not a regular file"
    fi
  done
  local out_dir
  out_dir=$(canonical "$(dirname -- "$out")")
  out=$out_dir/$(basename -- "$out")
  lies_in "$out" "$work" && die "--out $out lies in --work $work, which this command empties"
  lies_in "$root" "$work" && die "--work $work holds the sources; give a folder of its own"
  local input
  for input in "$setup" "$payload" "$pkcs12" "$cert" "$key" "$password_file" "$ca" "$module" \
    ${crls[@]+"${crls[@]}"}; do
    [ -n "$input" ] || continue
    lies_in "$input" "$work" && die "the input $input lies in --work $work, which this command empties"
  done
  for input in "$setup" "$payload/WebView2Loader.dll" "$payload/Quillmart.exe" "$pkcs12" "$cert" "$key" \
    "$password_file" "$ca" "$module" ${crls[@]+"${crls[@]}"}; do
    [ -n "$input" ] || continue
    for file in "$out" "$out.buildinfo" "$out.cdx.json" "$out.notices.txt"; do
      if [ "$(canonical "$input")" = "$file" ] || { [ -e "$file" ] && [ "$file" -ef "$input" ]; }; then
        die "--out $out would overwrite the input $input"
      fi
    done
  done
  mkdir -p -- "$out_dir" 2>/dev/null || die "cannot create the output folder $out_dir"
}

# check_sources: the commit to build, and whether the checkout holds changes that it lacks.
check_sources() {
  commit="" tree_state=""
  [ -z "$setup" ] || return 0
  commit=$(git_or_die "the sources in $root are not a git checkout with a commit" -C "$root" rev-parse --verify HEAD)
  local changes
  changes=$(git_or_die "git cannot read the state of $root" -C "$root" status --porcelain --untracked-files=no)
  tree_state=clean
  if [ -n "$changes" ]; then
    [ "$allow_dirty" = 1 ] ||
      die "the sources in $root have uncommitted changes to tracked files; commit them, or give --allow-dirty"
    tree_state="commit only (--allow-dirty: the checkout's uncommitted changes to tracked files were not built)"
  fi
}

# check_payload: both release files, or neither with --demo.
check_payload() {
  [ -d "$payload" ] || die "payload folder $payload does not exist"
  local present=0 name file
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
}

# with_secret COMMAND...: runs COMMAND with the secret readable on its descriptor 3 (a pipe: it is never written
# to a file). COMMAND names it as /dev/fd/3 (osslsigncode) or fd:3 (openssl).
with_secret() {
  "$@" 3<<<"$secret"
}

# check_key: the signer's certificate (signer_cert), its subject, usage and validity at the signing time, and the
# arguments that make osslsigncode use the key (key_args).
check_key() {
  signer=unsigned key_type="" signer_cert=$private/signer.pem
  local passin=(-passin pass:) errors
  [ -z "$have_secret" ] || passin=(-passin fd:3)
  case $kind in
    unsigned) return 0 ;;
    pkcs12)
      need_file "PKCS#12 file" "$pkcs12"
      if ! errors=$(with_secret openssl pkcs12 -in "$pkcs12" -nokeys -clcerts "${passin[@]}" -out "$signer_cert" 2>&1); then
        if grep -qi "unsupported" <<<"$errors"; then
          with_secret openssl pkcs12 -legacy -in "$pkcs12" -nokeys -clcerts "${passin[@]}" -out "$signer_cert" \
            2>/dev/null || die "cannot read the PKCS#12 file $pkcs12 (legacy encryption)"
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
      with_secret openssl pkey -in "$key" "${passin[@]}" -pubout -out "$private/key.pub" 2>/dev/null ||
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
  signer=$(certificate_subject "$signer_cert")
  openssl x509 -in "$signer_cert" -noout -ext extendedKeyUsage 2>/dev/null | grep -q "Code Signing" ||
    die "the certificate $signer lacks the code-signing usage (extended key usage codeSigning)"
  local not_before not_after
  not_before=$(date -u -d "$(openssl x509 -in "$signer_cert" -noout -startdate | cut -d= -f2)" +%s)
  not_after=$(date -u -d "$(openssl x509 -in "$signer_cert" -noout -enddate | cut -d= -f2)" +%s)
  [ "$signing_time" -le "$not_after" ] ||
    die "the certificate $signer expired on $(utc "$not_after"), before the signing time $(utc "$signing_time")"
  [ "$signing_time" -ge "$not_before" ] ||
    die "the certificate $signer is valid only from $(utc "$not_before"), after the signing time $(utc "$signing_time")"
  key_type=$(openssl x509 -in "$signer_cert" -noout -text | sed -n 's/^ *Public Key Algorithm: //p' | head -n 1)
  case $key_type in rsaEncryption) key_type=RSA ;; id-ecPublicKey) key_type=ECDSA ;; esac
  [ -z "$ca" ] || need_file "root certificate file" "$ca"
  set_trust "$private" "$ca" ${crls[@]+"${crls[@]}"}
}

utc() { date -u -d "@$1" '+%Y-%m-%d %H:%M:%S UTC'; }

# build_setup: the commit, unpacked into --work, built by its own recipe (unsigned_exe); with --setup only the
# release check, built for this machine. inputs is the folder of the payload files the setup embeds.
build_setup() {
  claim_work_folder "$work" "$work_marker" "This folder is the build folder of scripts/release.sh; each run empties it."
  log=$work/build.log
  inputs=$payload
  if [ -n "$setup" ]; then
    { cmake -S "$root/tools/host" -B "$work/release-check" -DCMAKE_BUILD_TYPE=Release &&
      cmake --build "$work/release-check" -j2 --target qmt-payload-check; } >"$log" 2>&1 ||
      die "building the release check failed; its log: $log"
    unsigned_exe=$setup check=$work/release-check/qmt-payload-check
    return 0
  fi
  echo "release.sh: building commit $commit in $work (zopfli; log: $log)" >&2
  unpack_commit "$root" "$commit" "$work/src"
  build_commit "$work/src" "$work/build" "$payload" "$signing_time" "$log" || die "the build failed; its log: $log"
  unsigned_exe=$work/build/src/Quillmart-Setup.exe check=$work/build/tools/host/qmt-payload-check
  [ "$demo" = 0 ] || inputs=$work/build/payload/demo
}

# sign_setup: the signed setup at partial (a copy for --unsigned). A refused PIN is said as such and never retried:
# a hardware token locks itself after a few wrong PINs.
sign_setup() {
  if [ "$kind" = unsigned ]; then
    cp -- "$unsigned_exe" "$partial"
    return 0
  fi
  local secret_args=() timestamp_args=() errors
  [ -z "$have_secret" ] || secret_args=(-readpass /dev/fd/3)
  [ -z "$timestamp" ] || timestamp_args=(-ts "$timestamp")
  if ! errors=$(with_secret osslsigncode sign "${key_args[@]}" ${secret_args[@]+"${secret_args[@]}"} -h sha256 \
      -n "Quillmart Setup" -time "$signing_time" ${timestamp_args[@]+"${timestamp_args[@]}"} \
      -in "$unsigned_exe" -out "$partial" 2>&1); then
    secret=""
    rm -f -- "$partial"
    die "$(sign_failure "$errors")"
  fi
  secret=""
}

# sign_failure ERRORS: one line naming why osslsigncode could not sign.
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

# verify_signature: the signed setup verifies offline against the trusted roots, with the signer's own certificate.
verify_signature() {
  [ "$kind" != unsigned ] || return 0
  verify_offline "$partial" "$(certificate_sha256 "$signer_cert")" ||
    die "the signed setup does not verify against $roots_text: $verify_cause"
  if [ -n "$timestamp" ]; then
    grep -q "Timestamp Server Signature verification: ok\|Timestamp verified using" <<<"$verify_output" ||
      die "the timestamp does not verify against the trusted roots (give the authority's root with --ca)"
  fi
}

# check_streams: the release check reads the payload streams back out of the signed file.
check_streams() {
  report=$("$check" "$partial" "$inputs/WebView2Loader.dll" "$inputs/Quillmart.exe" 2>&1) ||
    die "the release check failed on the signed setup: $(grep -m1 '^FAIL\|cannot' <<<"$report")"
}

# record_release: the .buildinfo, under its temporary name. The key's kind decides whether the signed bytes can be
# reproduced: RSA (PKCS#1 v1.5) signatures are a function of key and digest, ECDSA ones hold a random number.
record_release() {
  reproducible="unsigned bytes reproducible"
  if [ -n "$timestamp" ]; then
    reproducible="signed bytes not reproducible (timestamp); unsigned bytes reproducible"
  elif [ "$key_type" = RSA ]; then
    reproducible="signed bytes reproducible (RSA, with the same SOURCE_DATE_EPOCH)"
  elif [ "$kind" != unsigned ]; then
    reproducible="signed bytes not reproducible ($key_type); unsigned bytes reproducible"
  fi
  write_buildinfo "$partial_info"
}

# write_bill: the bill of materials (CycloneDX) and third-party notices of the signed setup, from the link map of
# its build; a setup built elsewhere (--setup) has no map here, so it gets none.
write_bill() {
  bill=""
  [ -z "$setup" ] || return 0
  local licence licences=()
  for licence in ${payload_licenses[@]+"${payload_licenses[@]}"}; do licences+=(--payload-license "$licence"); done
  SOURCE_DATE_EPOCH=$signing_time python3 "$root/scripts/bill-of-materials.py" write --setup "$partial" \
    --link-map "$work/build/src/Quillmart-Setup.map" --payload-dir "$inputs" ${licences[@]+"${licences[@]}"} \
    --file-name "$(basename -- "$out")" --bom "$partial_bom" --notices "$partial_notices" >"$private/bill.log" 2>&1 ||
    die "the bill of materials cannot be made: $(tail -n 1 "$private/bill.log")"
  bill=1
}

# publish: the results take their names only now, so a failure before leaves the earlier ones untouched. The setup
# is renamed last and every sidecar names the new setup's SHA-256, so a publish cut short leaves new sidecars beside
# the earlier setup, which a check of their hashes shows, never a set that looks whole. A release without a bill
# removes the earlier release's bill and notices: they describe another file.
publish() {
  local file stale=()
  [ -n "$bill" ] || stale=("$out.cdx.json" "$out.notices.txt")
  for file in ${stale[@]+"${stale[@]}"}; do
    [ ! -L "$file" ] || die "--out: $file is a link; it is left as it is and nothing is published"
  done
  for file in ${stale[@]+"${stale[@]}"}; do [ ! -f "$file" ] || rm -f -- "$file"; done
  mv -f -- "$partial_info" "$out.buildinfo"
  if [ -n "$bill" ]; then
    mv -f -- "$partial_bom" "$out.cdx.json"
    mv -f -- "$partial_notices" "$out.notices.txt"
  fi
  mv -f -- "$partial" "$out"
}

report_release() {
  local elapsed streams=0 name stream hash bytes total
  elapsed=$(awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
  echo "=== Quillmart-Setup release"
  if [ "$demo" = 1 ]; then
    echo "payload         DEMO stand-ins ($payload holds no release files), built into $inputs"
  else
    echo "payload         $payload"
  fi
  printf '%-19s %10s %10s %7s  %s\n' file size stream ratio sha256
  for name in WebView2Loader.dll Quillmart.exe; do
    stream=$(awk -v n="$name" '$1 == n && $2 ~ /^[0-9]+$/ { print $2 }' <<<"$report")
    hash=$(awk -v n="$name" '$1 == n && $2 == "sha256" { print $3 }' <<<"$report")
    bytes=$(file_size "$inputs/$name")
    streams=$((streams + stream))
    printf '%-19s %10s %10s %6s%%  %s\n' "$name" "$bytes" "$stream" \
      "$(awk -v s="$stream" -v b="$bytes" 'BEGIN { printf "%.1f", b ? 100 * s / b : 0 }')" "$hash"
  done
  total=$(file_size "$out")
  echo "setup           $total bytes; without its streams $((total - streams)) bytes"
  if [ -n "$commit" ]; then
    echo "source          commit $commit, $tree_state"
  else
    echo "source          built elsewhere (--setup $setup): no commit recorded"
  fi
  echo "unsigned sha256 $(file_sha256 "$unsigned_exe")"
  if [ "$kind" = unsigned ]; then
    echo "signed sha256   - (unsigned)"
  else
    echo "signed sha256   $(file_sha256 "$out")"
  fi
  echo "signer          $signer"
  if [ "$kind" != unsigned ]; then
    echo "signer sha256   $(certificate_sha256 "$signer_cert")"
    echo "signing time    $(utc "$signing_time")${SOURCE_DATE_EPOCH:+ (SOURCE_DATE_EPOCH)}"
    echo "timestamp       ${timestamp:-none}"
    echo "verified        signature, chain and digest against $roots_text, offline"
    echo "revocation      $revocation_text"
  fi
  echo "reproducible    $reproducible"
  echo "release check   $(tail -n 1 <<<"$report")"
  echo "output          $out"
  echo "provenance      $out.buildinfo"
  if [ -n "$bill" ]; then
    echo "bill            $out.cdx.json (CycloneDX 1.6), notices $out.notices.txt"
  else
    echo "bill            none (--setup: no link map of the build here)"
  fi
  echo "time            $elapsed s"
}

# partial_name SUFFIX: the hidden name beside --out under which the result --out SUFFIX is written.
partial_name() { echo "$(dirname -- "$out")/.$(basename -- "$out")$1.partial.$$"; }

main() {
  started=$(date +%s.%N)
  read_options "$@"
  choose_key
  take_secret
  check_paths
  check_sources
  check_payload
  private=$(mktemp -d "${TMPDIR:-/tmp}/qmt-release.XXXXXX")
  partial=$(partial_name "") partial_info=$(partial_name .buildinfo) partial_bom=$(partial_name .cdx.json)
  partial_notices=$(partial_name .notices.txt)
  trap 'rm -rf -- "$private" "$partial" "$partial_info" "$partial_bom" "$partial_notices"' EXIT
  check_key
  build_setup
  sign_setup
  verify_signature
  check_streams
  record_release
  write_bill
  publish
  report_release
}

main "$@"

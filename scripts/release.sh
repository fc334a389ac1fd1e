#!/usr/bin/env bash
# Builds a release of Quillmart-Setup.exe: the payload files' own signatures checked, the committed tree's own build
# recipe run on an unpacked copy of the commit in a fixed environment, Authenticode signing (SHA-256, RSA) with
# osslsigncode, an offline verification of the signature, the release check on the signed file, the signature
# detached (<out>.sig), a provenance record (<out>.buildinfo) and a report. With --adopt it finishes instead a
# release whose unsigned setup (--unsigned) was signed by another tool or service. Every bad
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
  --payload-ca FILE      root certificate(s) each payload file's own signature must chain to (without it: the
                         signature must be present, RSA and match the file's bytes)
  --allow-unsigned-payload
                         release payload files without an intact RSA signature (Smart App Control blocks them
                         when the application starts; the report names them)

Key (exactly one)
  --pkcs12 FILE          PKCS#12 file; its password from QMT_SIGN_PASSWORD or --password-file
  --cert FILE --key FILE certificate and private key as PEM (an encrypted key takes the same password)
  --cert FILE --pkcs11-module LIB --pkcs11-key URI
                         a key that stays in a token or signing service (PKCS#11); its PIN from QMT_SIGN_PIN
  --unsigned             build without a signature
  --password-file FILE   file whose first line is the password or PIN (instead of QMT_SIGN_PASSWORD/QMT_SIGN_PIN)
  --allow-ecdsa          sign with an EC key although Smart App Control and App Control for Business accept
                         only RSA signatures (the setup is blocked where they are on)

  The certificate file (--cert, or inside --pkcs12) holds the signer's certificate first, then its
  intermediates; all of them are embedded in the signature.

Signature
  --timestamp URL        RFC 3161 time-stamping authority (without it: no timestamp)
  --ca FILE              root certificate(s) the signature must verify against, besides the system's
  --crl FILE             check revocation against this CRL (PEM or DER; repeatable). Without it revocation is not
                         checked: the signature is verified offline, no CRL or OCSP URL is fetched

A setup signed elsewhere (signtool, a signing service's client)
  --adopt SIGNED --from UNSIGNED
                         finish the release of UNSIGNED (the setup of an --unsigned release, its .buildinfo
                         beside it) from SIGNED, the same file signed by another tool: SIGNED must be UNSIGNED
                         plus one signature; --out, --ca, --crl and --allow-ecdsa apply

Output
  --out FILE             the signed setup (default: build/release/Quillmart-Setup.exe); its signature is also
                         written detached, as DER PKCS#7, to FILE.sig
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
signatures and timestamps differ on every run); with FILE.sig attached, a rebuild gives the signed setup byte for
byte in every case. scripts/verify-release.sh checks a published setup against its .buildinfo.
EOF
}

option_table=(
  "--help help -" "--demo flag demo" "--unsigned flag unsigned" "--allow-dirty flag allow_dirty"
  "--allow-ecdsa flag allow_ecdsa" "--allow-unsigned-payload flag allow_unsigned_payload"
  "--payload-ca value payload_ca" "--adopt value adopt" "--from value adopt_from"
  "--payload value payload" "--pkcs12 value pkcs12" "--cert value cert" "--key value key"
  "--pkcs11-module value module" "--pkcs11-key value token_key" "--password-file value password_file"
  "--timestamp value timestamp" "--ca value ca" "--crl list crls" "--payload-license list payload_licenses" "--out value out" "--work value work"
  "--setup value setup"
)
payload=$root/payload demo=0 pkcs12="" cert="" key="" module="" token_key="" unsigned=0 password_file=""
timestamp="" ca="" crls=() payload_licenses=() out=$root/build/release/Quillmart-Setup.exe work=$root/build/release-work setup=""
allow_dirty=0 allow_ecdsa=0 allow_unsigned_payload=0 payload_ca="" adopt="" adopt_from=""

# read_options ARG...: the options, every path made absolute and canonical (a path beginning with "-" is then no
# longer mistaken for an option by any program it is handed to).
read_options() {
  parse_options "$@"
  [ ${#positional[@]} -eq 0 ] || die "unexpected argument ${positional[0]} (see --help)"
  local variable
  for variable in payload pkcs12 cert key module password_file ca setup payload_ca adopt adopt_from; do
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
  for file in "$out" "$out.buildinfo" "$out.cdx.json" "$out.notices.txt" "$out.sig"; do
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
  for input in "$setup" "$payload" "$pkcs12" "$cert" "$key" "$password_file" "$ca" "$module" "$payload_ca" \
    ${crls[@]+"${crls[@]}"}; do
    [ -n "$input" ] || continue
    lies_in "$input" "$work" && die "the input $input lies in --work $work, which this command empties"
  done
  for input in "$setup" "$payload/WebView2Loader.dll" "$payload/Quillmart.exe" "$pkcs12" "$cert" "$key" \
    "$password_file" "$ca" "$module" "$payload_ca" "$adopt" "$adopt_from" ${adopt_from:+"$adopt_from.buildinfo"} \
    ${crls[@]+"${crls[@]}"}; do
    [ -n "$input" ] || continue
    for file in "$out" "$out.buildinfo" "$out.cdx.json" "$out.notices.txt" "$out.sig"; do
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
    unsigned) set_trust "$private" "$ca"; return 0 ;;
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
  check_algorithm "$key_type" "the key of $signer"
  [ -z "$ca" ] || need_file "root certificate file" "$ca"
  set_trust "$private" "$ca" ${crls[@]+"${crls[@]}"}
}

utc() { date -u -d "@$1" '+%Y-%m-%d %H:%M:%S UTC'; }

# check_algorithm KEY_TYPE WHAT: Smart App Control and App Control for Business accept only RSA signatures, so a
# setup signed otherwise is blocked on every Windows 11 where they are on; only --allow-ecdsa lets an EC key through.
check_algorithm() {
  case $1 in
    RSA) return 0 ;;
    ECDSA) [ "$allow_ecdsa" = 0 ] || return 0
      die "$2 is ECDSA; Smart App Control and App Control for Business accept only RSA signatures: sign with an RSA key (3072 bits or more), or give --allow-ecdsa" ;;
  esac
  die "$2 is ${1:-of an unknown type}; Smart App Control and App Control for Business accept only RSA signatures: sign with an RSA key (3072 bits or more)"
}

# check_payload_signatures: each release payload file's own signature, checked offline before anything is built.
# Smart App Control judges Quillmart.exe and WebView2Loader.dll on their own signatures when the application
# starts, after the setup has already exited 0, so a file it would block is refused here, by name. Sets
# payload_signatures ("NAME KEY SIGNER" or "NAME none (WHY)", for the record) and blocked (the files let through).
check_payload_signatures() {
  payload_signatures=() blocked=()
  local name problem
  [ -z "$payload_ca" ] || need_file "payload root certificate file" "$payload_ca"
  for name in WebView2Loader.dll Quillmart.exe; do
    if [ "$demo" = 1 ]; then
      payload_signatures+=("$name none (demo stand-in, exempt)")
    elif problem=$(payload_signature_problem "$payload/$name"); then
      payload_signatures+=("$name $problem")
    elif [ "$allow_unsigned_payload" = 1 ]; then
      payload_signatures+=("$name none (--allow-unsigned-payload: $problem)") blocked+=("$name")
    else
      die "payload file $payload/$name: $problem; Smart App Control would block it when Quillmart starts (sign it with an RSA key, or give --allow-unsigned-payload)"
    fi
  done
}

# payload_signature_problem FILE: prints "RSA SIGNER" when FILE carries one intact RSA signature (chaining to
# --payload-ca when given), else prints why not and returns 1. Intact means that the digest the signature holds is
# the file's; the structure is judged by the strict reader first, so osslsigncode only ever sees one signature.
payload_signature_problem() {
  local file=$1 said rc=0 key who folder=$private/payload-signature output current calculated
  said=$(python3 -I "$root/scripts/authenticode.py" inspect "$file" 2>/dev/null) || rc=$?
  case $rc in
    0) ;;
    3) echo "it has no signature"; return 1 ;;
    *) echo "its signature cannot be accepted: ${said#*: }"; return 1 ;;
  esac
  key=${said##*; key } key=${key%%; timestamp*}
  rm -rf -- "$folder" && mkdir -- "$folder"
  signature_leaf "$file" "$folder" || { echo "its signer's certificate cannot be read"; return 1; }
  who=$(certificate_subject "$folder/leaf.pem")
  [ "$key" = RSA ] || { echo "it is signed by $who with a key of type $key, not RSA"; return 1; }
  local args=(-CAfile "${payload_ca:-$trust_file}" -TSA-CAfile "$trust_file")
  ! has_option -ignore-crl || args+=(-ignore-crl)
  output=$(osslsigncode verify "${args[@]}" -in "$file" 2>&1) || rc=$?
  current=$(sed -n 's/^Current message digest *: *\([0-9A-Fa-f]*\).*/\1/p' <<<"$output" | head -n 1)
  calculated=$(sed -n 's/^Calculated message digest *: *\([0-9A-Fa-f]*\).*/\1/p' <<<"$output" | head -n 1)
  if [ -z "$current" ] || [ "$current" != "$calculated" ]; then
    echo "its signature by $who no longer matches its bytes (changed after signing)"
    return 1
  fi
  if [ -n "$payload_ca" ] && [ "$rc" != 0 ]; then
    echo "its signature by $who does not verify against --payload-ca $payload_ca: $(verify_failure "$output")"
    return 1
  fi
  echo "RSA $who"
}

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

# detach_signature: the signature alone, as DER PKCS#7 (<out>.sig): attached to a rebuild of the commit it gives
# the signed setup byte for byte, whatever the key and with a timestamp. The strict reader writes it from the
# table's one signature, so the bytes are the same whichever osslsigncode version signed.
detach_signature() {
  [ "$kind" != unsigned ] || return 0
  local said
  said=$(python3 -I "$root/scripts/authenticode.py" detach "$partial" "$partial_sig" "$private/signature.pem") ||
    die "the signed setup does not hold one acceptable signature: ${said#*: }"
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
  [ -s "$partial_sig" ] || stale+=("$out.sig")
  for file in ${stale[@]+"${stale[@]}"}; do
    [ ! -L "$file" ] || die "--out: $file is a link; it is left as it is and nothing is published"
  done
  for file in ${stale[@]+"${stale[@]}"}; do [ ! -f "$file" ] || rm -f -- "$file"; done
  mv -f -- "$partial_info" "$out.buildinfo"
  [ ! -s "$partial_sig" ] || mv -f -- "$partial_sig" "$out.sig"
  if [ -n "$bill" ]; then
    mv -f -- "$partial_bom" "$out.cdx.json"
    mv -f -- "$partial_notices" "$out.notices.txt"
  fi
  mv -f -- "$partial" "$out"
}

# report_payload_signatures: each payload file's own signer and algorithm, and which file Smart App Control will block.
report_payload_signatures() {
  local line name
  for line in "${payload_signatures[@]}"; do
    name=${line%% *}
    printf 'payload signer  %-19s %s\n' "$name" "${line#* }"
  done
  for name in ${blocked[@]+"${blocked[@]}"}; do
    echo "warning         $name: Smart App Control will block it when Quillmart starts (--allow-unsigned-payload)"
  done
}

report_release() {
  local elapsed streams=0 name stream hash bytes total
  elapsed=$(awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
  echo "=== Quillmart-Setup release"
  if [ "$demo" = 1 ]; then
    echo "payload         DEMO stand-ins ($payload holds no release files), built into $inputs; exempt from the payload signature check"
  else
    echo "payload         $payload"
  fi
  report_payload_signatures
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
    echo "key             $key_type"
    [ "$key_type" != ECDSA ] ||
      echo "warning         ECDSA (--allow-ecdsa): Windows blocks this setup where Smart App Control or App Control for Business is on"
    echo "signing time    $(utc "$signing_time")${SOURCE_DATE_EPOCH:+ (SOURCE_DATE_EPOCH)}"
    echo "timestamp       ${timestamp:-none}"
    echo "verified        signature, chain and digest against $roots_text, offline"
    echo "revocation      $revocation_text"
  fi
  echo "reproducible    $reproducible"
  echo "release check   $(tail -n 1 <<<"$report")"
  echo "output          $out"
  echo "provenance      $out.buildinfo"
  [ "$kind" = unsigned ] || echo "signature       $out.sig (detached, DER PKCS#7, sha256 $(file_sha256 "$out.sig"))"
  if [ -n "$bill" ]; then
    echo "bill            $out.cdx.json (CycloneDX 1.6), notices $out.notices.txt"
  else
    echo "bill            none (--setup: no link map of the build here)"
  fi
  echo "time            $elapsed s"
}

# --- A setup signed elsewhere -----------------------------------------------------------------------------------
# check_adopt_options: --adopt takes --from and the trust options only: the key was the signing tool's, and the
# build and the payload are the --unsigned release's, already recorded.
check_adopt_options() {
  [ -n "$adopt_from" ] || die "--adopt needs --from UNSIGNED, the setup of the --unsigned release it finishes"
  [ -z "$pkcs12$cert$key$module$token_key$password_file$setup$timestamp$payload_ca${payload_licenses[*]+x}" ] &&
    [ "$unsigned$demo$allow_dirty$allow_unsigned_payload" = 0000 ] ||
    die "--adopt takes only --from, --out, --ca, --crl and --allow-ecdsa: the rest was given to the --unsigned release"
  need_file "signed setup" "$adopt"
  need_file "unsigned setup" "$adopt_from"
  need_file "record of the unsigned setup" "$adopt_from.buildinfo"
}

# read_unsigned_release: the record beside UNSIGNED must be an --unsigned release's, made for these very bytes. Both
# setups are copied once, so that the bytes compared are the bytes published.
read_unsigned_release() {
  local fields
  fields=$(python3 -I "$root/scripts/release_record.py" read -- "$adopt_from.buildinfo") ||
    die "$adopt_from.buildinfo: $fields"
  printf '%s\n' "$fields" >"$private/unsigned-fields"
  [ "$(record_value Signed-SHA256)" = "none (unsigned)" ] ||
    die "$adopt_from.buildinfo records a signed setup; --from takes the setup of an --unsigned release"
  cat -- "$adopt_from" >"$private/unsigned.exe" || die "cannot read the unsigned setup $adopt_from"
  cat -- "$adopt" >"$private/signed.exe" || die "cannot read the signed setup $adopt"
  local actual
  actual=$(file_sha256 "$private/unsigned.exe")
  [ "$actual" = "$(record_value Unsigned-SHA256)" ] ||
    die "$adopt_from.buildinfo was made for another setup: it names sha256 $(record_value Unsigned-SHA256), $adopt_from is $actual"
  unsigned_exe=$private/unsigned.exe
}

# record_value NAME: the value of the unsigned release's field NAME (its first line).
record_value() { awk -F'\t' -v key="$1" '$1 == key { print $2; exit }' "$private/unsigned-fields"; }

# check_adopted_signature: SIGNED must be exactly the recorded unsigned setup plus one signature. The strict reader
# accepts one signer with nothing unauthenticated but a timestamp, and detaches it; attached to the unsigned bytes it
# must give SIGNED, or, for a tool that lays the file out its own way, every byte outside the PE checksum, the
# certificate-table entry and the table must be the unsigned setup's.
check_adopted_signature() {
  local said rc=0
  said=$(python3 -I "$root/scripts/authenticode.py" detach "$private/signed.exe" "$partial_sig" \
    "$private/signature.pem") || rc=$?
  case $rc in
    0) ;;
    1) die "$adopt holds more than its one signature: ${said#REFUSED: }" ;;
    3) die "$adopt is not signed" ;;
    *) die "the signature of $adopt cannot be read: ${said#*: }" ;;
  esac
  key_type=${said##*; key } key_type=${key_type%%; timestamp*} stamped=${said##*; timestamp }
  check_algorithm "$key_type" "the signature of $adopt"
  attach_signature "$private/signature.pem" "$private/unsigned.exe" "$private/attached.exe"
  if [ -f "$private/attached.exe" ] && cmp -s "$private/attached.exe" "$private/signed.exe"; then
    layout="the recorded unsigned setup with its signature attached, byte for byte"
    return 0
  fi
  rc=0
  said=$(python3 -I "$root/scripts/authenticode.py" compare "$private/unsigned.exe" "$private/signed.exe") || rc=$?
  [ "$rc" = 0 ] || die "$adopt is not the recorded unsigned setup $adopt_from plus one signature: ${said#*: }"
  layout="the recorded unsigned setup plus one signature laid out by its signing tool (the same outside the checksum, the certificate-table entry and the table)"
}

# check_adopted_signer: the signer's certificate (the leaf the signature names) has the code-signing usage, and the
# signature, its chain and a timestamp verify offline against the system's roots and --ca.
check_adopted_signer() {
  mkdir -- "$private/leaf"
  signature_leaf "$private/signed.exe" "$private/leaf" || die "the signer's certificate in $adopt cannot be read"
  signer_cert=$private/leaf/leaf.pem
  signer=$(certificate_subject "$signer_cert")
  openssl x509 -in "$signer_cert" -noout -ext extendedKeyUsage 2>/dev/null | grep -q "Code Signing" ||
    die "the certificate $signer lacks the code-signing usage (extended key usage codeSigning)"
  verify_offline "$private/signed.exe" "$(certificate_sha256 "$signer_cert")" ||
    die "$adopt does not verify against $roots_text: $verify_cause"
}

# record_adopted: the unsigned release's record with the signer's fields; everything else (commit, toolchain, payload
# and its signatures) is what the --unsigned release recorded for these bytes.
record_adopted() {
  local name value fields=() packages=$private/packages errors stamp=none
  [ "$stamped" != yes ] || stamp="in the signature (signed elsewhere)"
  : >"$packages"
  while IFS=$'\t' read -r name value; do
    case $name in
      Installed-Build-Depends)
        [ -s "$packages" ] || fields+=(--packages-from "$packages")
        printf '%s\n' "$value" >>"$packages" ;;
      Signed-SHA256) fields+=(--field "Signed-SHA256=$(file_sha256 "$private/signed.exe")" --field "Signer=$signer"
        --field "Signer-Certificate-SHA256=$(certificate_sha256 "$signer_cert")" --field "Signature-Key=$key_type"
        --field "Signature-SHA256=$(file_sha256 "$partial_sig")"
        --field "Signed=elsewhere (taken back with release.sh --adopt)") ;;
      Signer | Signer-Certificate-SHA256 | Signature-Key | Signature-SHA256 | Signed) ;;
      Timestamp-Authority) fields+=(--field "Timestamp-Authority=$stamp") ;;
      Reproducible) fields+=(--field "Reproducible=signed elsewhere; unsigned bytes reproducible") ;;
      *) fields+=(--field "$name=$value") ;;
    esac
  done <"$private/unsigned-fields"
  errors=$(python3 -I "$root/scripts/release_record.py" write "${fields[@]}" -- "$partial_info") || die "$errors"
}

# adopt_bill: the unsigned release's bill and notices, carried over to the signed bytes (only the setup's own
# hashes change); a release without them gets none.
adopt_bill() {
  bill=""
  [ -f "$adopt_from.cdx.json" ] && [ -f "$adopt_from.notices.txt" ] || return 0
  python3 -I "$root/scripts/bill-of-materials.py" rebind --setup "$private/signed.exe" --from "$private/unsigned.exe" \
    --bom "$adopt_from.cdx.json" --notices "$adopt_from.notices.txt" --file-name "$(basename -- "$out")" \
    --out-bom "$partial_bom" --out-notices "$partial_notices" >"$private/bill.log" 2>&1 ||
    die "the bill of materials of $adopt_from cannot be carried over: $(tail -n 1 "$private/bill.log")"
  bill=1
}

report_adopted() {
  local name line elapsed
  elapsed=$(awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
  payload_signatures=() blocked=()
  while IFS=$'\t' read -r name line; do
    [ "$name" = Payload-Signature ] || continue
    payload_signatures+=("$line")
    [[ $line != *" none (--allow-unsigned-payload"* ]] || blocked+=("${line%% *}")
  done <"$private/unsigned-fields"
  echo "=== Quillmart-Setup release, signed elsewhere"
  echo "from            $adopt_from, record $adopt_from.buildinfo"
  if [ -n "$(record_value Source-Commit)" ]; then
    echo "source          commit $(record_value Source-Commit), $(record_value Source-Tree)"
  else
    echo "source          built elsewhere (--setup): no commit recorded"
  fi
  [ ${#payload_signatures[@]} = 0 ] || report_payload_signatures
  echo "unsigned sha256 $(file_sha256 "$private/unsigned.exe")"
  echo "signed          $adopt: $layout"
  echo "signed sha256   $(file_sha256 "$out")"
  echo "signer          $signer"
  echo "signer sha256   $(certificate_sha256 "$signer_cert")"
  echo "key             $key_type"
  [ "$key_type" != ECDSA ] ||
    echo "warning         ECDSA (--allow-ecdsa): Windows blocks this setup where Smart App Control or App Control for Business is on"
  echo "timestamp       $stamped"
  echo "verified        signature, chain and digest against $roots_text, offline"
  echo "revocation      $revocation_text"
  echo "reproducible    signed elsewhere; unsigned bytes reproducible; with $out.sig attached a rebuild gives the signed bytes"
  echo "output          $out"
  echo "provenance      $out.buildinfo"
  echo "signature       $out.sig (detached, DER PKCS#7, sha256 $(file_sha256 "$out.sig"))"
  if [ -n "$bill" ]; then
    echo "bill            $out.cdx.json (CycloneDX 1.6), notices $out.notices.txt"
  else
    echo "bill            none ($adopt_from has none beside it)"
  fi
  echo "time            $elapsed s"
}

# adopt_release: the finished release of a setup that another tool or service signed.
adopt_release() {
  check_adopt_options
  check_paths
  make_private
  set_trust "$private" "$ca" ${crls[@]+"${crls[@]}"}
  read_unsigned_release
  check_adopted_signature
  check_adopted_signer
  record_adopted
  adopt_bill
  cp -- "$private/signed.exe" "$partial"
  publish
  report_adopted
}

# make_private: the private folder and the temporary names of the results beside --out, all removed on exit.
make_private() {
  private=$(mktemp -d "${TMPDIR:-/tmp}/qmt-release.XXXXXX")
  partial=$(partial_name "") partial_info=$(partial_name .buildinfo) partial_bom=$(partial_name .cdx.json)
  partial_notices=$(partial_name .notices.txt) partial_sig=$(partial_name .sig)
  trap 'rm -rf -- "$private" "$partial" "$partial_info" "$partial_bom" "$partial_notices" "$partial_sig"' EXIT
}

# partial_name SUFFIX: the hidden name beside --out under which the result --out SUFFIX is written.
partial_name() { echo "$(dirname -- "$out")/.$(basename -- "$out")$1.partial.$$"; }

main() {
  started=$(date +%s.%N)
  read_options "$@"
  if [ -n "$adopt" ]; then
    adopt_release
    return 0
  fi
  [ -z "$adopt_from" ] || die "--from goes with --adopt SIGNED"
  choose_key
  take_secret
  check_paths
  check_sources
  check_payload
  make_private
  check_key
  check_payload_signatures
  build_setup
  sign_setup
  verify_signature
  detach_signature
  check_streams
  record_release
  write_bill
  publish
  report_release
}

main "$@"

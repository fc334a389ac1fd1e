#!/bin/bash
# Signing through scripts/release.sh, on an already built setup (--setup):
#   release-signing.sh SOURCE_DIR SETUP_EXE PAYLOAD_DIR SCRATCH_DIR
# With a throwaway three-level CA whose CRL and AIA URLs lead nowhere: a chain given as a PEM bundle or inside a
# PKCS#12 file (modern and legacy), an EC key, a key in a software PKCS#11 token, a timestamp from an RFC 3161
# authority on the loopback address and CRLs the user has; each output verifies offline against the root alone and
# the .buildinfo records what was made. Every bad input ends with one line naming the cause and a non-zero exit, and
# leaves the setup and .buildinfo already at --out as they were.
set -u
source_dir=$1 setup=$2 payload=$3 scratch=$4
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$scratch"
keys=$scratch/keys
. "$here/keys.sh"
. "$here/sources.sh"
. "$here/../harness/checks.sh"
copy_sources "$source_dir" "$scratch/src"
src=$scratch/src
now=$(date +%s)
export SOURCE_DATE_EPOCH=$now no_proxy=127.0.0.1 NO_PROXY=127.0.0.1
# The test's own check of each output: offline as well (osslsigncode 2.9 would fetch the CRLs otherwise).
offline=()
osslsigncode --help 2>&1 | grep -qw -- -ignore-crl && offline=(-ignore-crl)

perl "$here/tsa-server.pl" "$keys/tsa.cnf" "$scratch/tsa.port" 2>"$scratch/tsa.log" &
tsa_pid=$!
trap 'kill "$tsa_pid" 2>/dev/null' EXIT
for _ in $(seq 100); do [ -s "$scratch/tsa.port" ] && break; sleep 0.1; done
tsa=http://127.0.0.1:$(cat "$scratch/tsa.port")/

# has_option gives one answer however often it is asked under pipefail, as release.sh runs it: a usage text piped
# into a grep that stops at its first match ends osslsigncode with SIGPIPE now and then. A thousand calls (and an
# option osslsigncode lacks), at low priority in the background while the releases run.
(renice -n 10 -p "$BASHPID" >/dev/null
  set -o pipefail
  script_name=test die_status=1
  . "$src/scripts/release-common.sh"
  for _ in $(seq 1000); do if has_option -CAfile; then echo yes; else echo no; fi; done
  if has_option -no-such-option; then echo "-no-such-option found"; fi) >"$scratch/has-option.txt" 2>&1 &
# shellcheck disable=SC2031 # $! is the background probe's process, set here, not in it
probe_pid=$!

# A spy on PATH: each program that release.sh starts by name records its arguments and environment, then runs.
spy=$scratch/spy
mkdir -p "$spy"
for tool in git cmake openssl python3 osslsigncode; do
  # shellcheck disable=SC2016 # the wrapper expands $0 and $@
  printf '#!/bin/bash\n{ printf "%%s\\n" "== $0" "$@"; env; } >>%q\nexec %q "$@"\n' "$spy/calls" \
    "$(command -v "$tool")" >"$spy/$tool"
  chmod +x "$spy/$tool"
done

# A software token, the key imported into it.
module=$(ls /usr/lib/*/softhsm/libsofthsm2.so 2>/dev/null | head -n 1)
mkdir -p "$scratch/token"
printf 'directories.tokendir = %s\nobjectstore.backend = file\n' "$scratch/token" >"$scratch/softhsm2.conf"
export SOFTHSM2_CONF=$scratch/softhsm2.conf
softhsm2-util --init-token --free --label qmt-test --so-pin 9999 --pin 4321 >/dev/null &&
  softhsm2-util --import "$keys/signer.key" --token qmt-test --label signer --id 01 --pin 4321 >/dev/null ||
  fail "cannot prepare the software token"
printf '4321\n' >"$scratch/pin"
token="--cert $keys/chain.pem --pkcs11-module $module"
token_key="pkcs11:token=qmt-test;object=signer;type=private"
pem="--cert $keys/chain.pem --key $keys/signer.key"

# Runs that must succeed, the spy on PATH: each output verifies against the root alone (so the intermediate is
# embedded) with a SHA-256 digest, the report and the .buildinfo give its SHA-256, and the bill and notices of an
# earlier release (they describe another file; a --setup release has none) are gone from beside it. work-sibling:
# a folder whose name merely begins like --work's does not lie in it.
# name | environment | arguments (split at blanks) | a line the report must hold
mkdir -p "$scratch/rel-files"
cp "$payload/WebView2Loader.dll" "$payload/Quillmart.exe" "$scratch/rel-files/"
while IFS='|' read -r name environment arguments expected; do
  exe=$scratch/$name.exe
  echo "an earlier release" | tee "$exe.cdx.json" >"$exe.notices.txt"
  # shellcheck disable=SC2086
  PATH=$spy:$PATH env $environment bash "$src/scripts/release.sh" --setup "$setup" --payload "$payload" \
    --allow-unsigned-payload --ca "$keys/root.pem" --work "$scratch/work" --out "$exe" $arguments \
    >"$scratch/$name.txt" 2>&1 ||
    { fail "$name: $(tail -n 1 "$scratch/$name.txt")"; continue; }
  [ ! -e "$exe.cdx.json" ] && [ ! -e "$exe.notices.txt" ] ||
    fail "$name: an earlier release's bill or notices lie beside the new setup"
  osslsigncode verify "${offline[@]}" -CAfile "$keys/root.pem" -TSA-CAfile "$keys/root.pem" -in "$exe" \
    >"$scratch/$name.verify" 2>&1 || fail "$name: the output does not verify: $(grep -m1 -i error "$scratch/$name.verify")"
  grep -q "Message digest algorithm *: SHA256" "$scratch/$name.verify" || fail "$name: the digest is not SHA-256"
  grep -q "^signed sha256   $(sha256sum "$exe" | cut -d' ' -f1)$" "$scratch/$name.txt" ||
    fail "$name: the report does not give the output's SHA-256"
  grep -qx "Signed-SHA256: $(sha256sum "$exe" | cut -d' ' -f1)" "$exe.buildinfo" ||
    fail "$name: the .buildinfo does not give the output's SHA-256"
  grep -qxF -- "$expected" "$scratch/$name.txt" || fail "$name: the report lacks '$expected'"
  # The detached signature attached to the unsigned setup gives the published file, whatever the key and with a
  # timestamp (as PEM: osslsigncode 2.5 reads no other form).
  { echo "-----BEGIN PKCS7-----"; base64 -w 64 "$exe.sig"; echo "-----END PKCS7-----"; } >"$scratch/$name.sig.pem"
  osslsigncode attach-signature -sigin "$scratch/$name.sig.pem" -CAfile "$keys/root.pem" -in "$setup" \
    -out "$scratch/$name.attached" >/dev/null 2>&1
  cmp -s "$scratch/$name.attached" "$exe" || fail "$name: $exe.sig attached to the unsigned setup is not the release"
  grep -qx "Signature-SHA256: $(sha256sum "$exe.sig" | cut -d' ' -f1)" "$exe.buildinfo" ||
    fail "$name: the .buildinfo does not give the .sig's SHA-256"
  echo "ok:   $name"
done <<EOF_SIGNED
pkcs12|QMT_SIGN_PASSWORD=$password secret=decoy env_password=decoy|--pkcs12 $keys/signer.p12|warning         Quillmart.exe: Smart App Control will block it when Quillmart starts (--allow-unsigned-payload)
pkcs12-blanks||--pkcs12 $keys/signer-blank.p12 --password-file $keys/blank-password|reproducible    signed bytes reproducible (RSA, with the same SOURCE_DATE_EPOCH)
legacy||--pkcs12 $keys/signer-legacy.p12 --password-file $keys/password|signer          CN=signer,O=Farrowind
timestamped||$pem --timestamp $tsa|timestamp       $tsa
ec||--cert $keys/ec-chain.pem --key $keys/ec.key --allow-ecdsa|reproducible    signed bytes not reproducible (ECDSA); unsigned bytes reproducible
ec-again||--cert $keys/ec-chain.pem --key $keys/ec.key --allow-ecdsa|warning         ECDSA (--allow-ecdsa): Windows blocks this setup where Smart App Control or App Control for Business is on
crl||$pem --crl $keys/int.crl --crl $keys/root.crl|revocation      checked against $keys/int.crl $keys/root.crl
token||$token --pkcs11-key $token_key --password-file $scratch/pin|signer          CN=signer,O=Farrowind
no-system-roots|QMT_SYSTEM_ROOTS=$scratch/none|$pem|verified        signature, chain and digest against no system roots ($scratch/none is missing: install ca-certificates) + $keys/root.pem, offline
work-sibling||$pem --work $scratch/rel --payload $scratch/rel-files|payload         $scratch/rel-files
EOF_SIGNED

# No child got the password, in its environment or on its command line (the spy saw each program of a --setup run).
for tool in cmake openssl osslsigncode; do
  grep -qx "== $spy/$tool" "$spy/calls" || fail "the spy did not see $tool run"
done
! grep -qF -e "$password" -e "$blank_password" "$spy/calls" ||
  fail "a child of the release got the password (its call is in $spy/calls)"
cmp -s "$scratch/pkcs12.exe" "$scratch/pkcs12-blanks.exe" || fail "two RSA runs with the same SOURCE_DATE_EPOCH differ"
grep -q "Timestamp Server Signature verification: ok" "$scratch/timestamped.verify" ||
  fail "timestamped: the timestamp does not verify"
! cmp -s "$scratch/ec.exe" "$scratch/ec-again.exe" || fail "two ECDSA signatures are the same: not randomised?"
for name in ec ec-again; do
  osslsigncode remove-signature -in "$scratch/$name.exe" -out "$scratch/$name.unsigned" >/dev/null 2>&1
  cmp -s "$scratch/$name.unsigned" "$setup" || fail "$name: without its signature it is not the unsigned setup"
done
# The provenance record of a setup built elsewhere: what this machine knows, never a commit or its packages.
sha() { sha256sum "$1" | cut -d' ' -f1; }
while read -r line; do
  grep -qxF -- "$line" "$scratch/timestamped.exe.buildinfo" || fail "the .buildinfo lacks '$line'"
done <<EOF_INFO
Format: 2
Build: given with --setup: built elsewhere; this record holds only what the signing machine knows
Signing-Time: $now
Payload-File: WebView2Loader.dll $(wc -c <"$payload/WebView2Loader.dll") $(sha "$payload/WebView2Loader.dll")
Payload-File: Quillmart.exe $(wc -c <"$payload/Quillmart.exe") $(sha "$payload/Quillmart.exe")
Unsigned-SHA256: $(sha "$setup")
Signer: CN=signer,O=Farrowind
Signer-Certificate-SHA256: $(openssl x509 -in "$keys/signer.pem" -noout -fingerprint -sha256 | sed 's/.*=//; s/://g' | tr 'A-F' 'a-f')
Signature-Key: RSA
Signed: by the release command
Payload-Signature: WebView2Loader.dll none (--allow-unsigned-payload: it has no signature)
Timestamp-Authority: $tsa
EOF_INFO
! grep -qE "^(Source-Commit|Source-Tree|Debian-Release|Installed-Build-Depends):" "$scratch/timestamped.exe.buildinfo" ||
  fail "the .buildinfo of a setup built elsewhere records this checkout or this machine's packages"

mkdir -p "$scratch/dll-only" "$scratch/exe-folder/Quillmart.exe" "$scratch/empty" "$scratch/bad"
cp "$payload/WebView2Loader.dll" "$scratch/dll-only/"
cp "$payload/WebView2Loader.dll" "$scratch/exe-folder/"
later=$((now + 3 * 86400)) past=$((now - 15 * 86400))
out=$scratch/bad/Quillmart-Setup.exe
# refused EXPECTED ENVIRONMENT ARGUMENTS...: a run that must fail with one line holding EXPECTED, leaving the
# setup, .buildinfo, bill and notices of an earlier run at --out untouched and nothing else beside them.
refused() {
  local expected=$1 environment=$2 file; shift 2
  cp "$setup" "$out"
  for file in "$out.buildinfo" "$out.cdx.json" "$out.notices.txt"; do echo "an earlier release" >"$file"; done
  # shellcheck disable=SC2086
  env $environment bash "$src/scripts/release.sh" --setup "$setup" --payload "$payload" --allow-unsigned-payload \
    --ca "$keys/root.pem" --work "$scratch/work" --out "$out" "$@" >"$scratch/bad.txt" 2>&1
  local rc=$?
  [ "$rc" -ne 0 ] || fail "exit status 0 for: $expected"
  [ "$(wc -l <"$scratch/bad.txt")" -eq 1 ] || fail "not one line for: $expected: $(cat "$scratch/bad.txt")"
  grep -qF -- "$expected" "$scratch/bad.txt" || fail "expected '$expected', got: $(cat "$scratch/bad.txt")"
  cmp -s "$setup" "$out" && [ "$(cat "$out.buildinfo" "$out.cdx.json" "$out.notices.txt")" = \
    "$(printf 'an earlier release\n%.0s' 1 2 3)" ] || fail "the earlier release at --out was changed for: $expected"
  [ "$(ls -A "$scratch/bad" | wc -l)" -eq 4 ] || fail "files left beside --out for: $expected: $(ls -A "$scratch/bad")"
  echo "ok:   refused ($rc): $(cat "$scratch/bad.txt")"
}
# expected text | environment | arguments (split at blanks; no path here holds one)
while IFS='|' read -r expected environment arguments; do
  # shellcheck disable=SC2086
  refused "$expected" "$environment" $arguments
done <<EOF_REFUSED
--out $out would overwrite the input $out||$pem --setup $out
--out $out would overwrite the input $out||--cert $keys/chain.pem --key $out
has expired since the signing; the signature has no timestamp, which would have kept it valid|SOURCE_DATE_EPOCH=$past|--cert $keys/old-chain.pem --key $keys/old.key
private key $keys/missing.key does not exist||--cert $keys/signer.pem --key $keys/missing.key
cannot read the private key $keys/signer.csr||--cert $keys/signer.pem --key $keys/signer.csr
does not belong to the certificate||--cert $keys/chain.pem --key $keys/plain.key
wrong password for the PKCS#12 file|QMT_SIGN_PASSWORD=wrong|--pkcs12 $keys/signer.p12
lacks the code-signing usage||--cert $keys/plain.pem --key $keys/plain.key
the key of CN=ec,O=Farrowind is ECDSA; Smart App Control and App Control for Business accept only RSA signatures: sign with an RSA key (3072 bits or more), or give --allow-ecdsa||--cert $keys/ec-chain.pem --key $keys/ec.key
expired on|SOURCE_DATE_EPOCH=$later|--cert $keys/short.pem --key $keys/short.key
is valid only from|SOURCE_DATE_EPOCH=$now|--cert $keys/future.pem --key $keys/future.key
unexpected argument --unsigned||$pem -- --unsigned
payload file $scratch/dll-only/Quillmart.exe is missing||$pem --payload $scratch/dll-only
payload file $scratch/exe-folder/Quillmart.exe is a folder||$pem --payload $scratch/exe-folder
the demo stand-ins are refused without --demo||$pem --payload $scratch/empty
no key||
give only one key||$pem --unsigned
the signature's chain does not lead to a trusted root||--cert $keys/signer.pem --key $keys/signer.key
a certificate of the signature's chain is revoked by a CRL given with --crl||$pem --crl $keys/revoked.crl --crl $keys/root.crl
the --crl files hold no CRL for a certificate of the signature's chain||$pem --crl $keys/root.crl
the time-stamping authority http://127.0.0.1:9/ failed||$pem --timestamp http://127.0.0.1:9/
the token refused the PIN (QMT_SIGN_PIN or --password-file); tried once, not retried|QMT_SIGN_PIN=0000|$token --pkcs11-key $token_key
the token holds no private key matching pkcs11:token=qmt-test;object=other;type=private|QMT_SIGN_PIN=4321|$token --pkcs11-key pkcs11:token=qmt-test;object=other;type=private
no token matches pkcs11:token=other;object=signer;type=private|QMT_SIGN_PIN=4321|$token --pkcs11-key pkcs11:token=other;object=signer;type=private
the PKCS#11 module $keys/root.pem cannot be loaded|QMT_SIGN_PIN=4321|--cert $keys/chain.pem --pkcs11-module $keys/root.pem --pkcs11-key $token_key
OpenSSL's PKCS#11 engine cannot be loaded|QMT_SIGN_PIN=4321 OPENSSL_ENGINES=$scratch/empty|$token --pkcs11-key $token_key
the time-stamping authority http://127.0.0.1:9/ failed|QMT_SIGN_PIN=4321|$token --pkcs11-key $token_key --timestamp http://127.0.0.1:9/
EOF_REFUSED

# The payload files' own signatures, checked before anything is built: each row's payload folder holds the stand-ins
# signed (or not) as named; a refusal names the file. The accepted row passes that check and then stops at the
# release check, as the setup given embeds the unsigned stand-ins.
# name | expected text | arguments (split at blanks)
for kind in rsa tampered ec; do
  mkdir -p "$scratch/payload-$kind"
  for name in WebView2Loader.dll Quillmart.exe; do
    if [ "$kind" = ec ]; then signing=(-certs "$keys/ec-chain.pem" -key "$keys/ec.key"); else
      signing=(-certs "$keys/chain.pem" -key "$keys/signer.key"); fi
    osslsigncode sign "${signing[@]}" -h sha256 -in "$payload/$name" -out "$scratch/payload-$kind/$name" >/dev/null ||
      fail "cannot sign the payload file $name"
  done
done
printf '\x01' | dd of="$scratch/payload-tampered/Quillmart.exe" bs=1 seek=1100 conv=notrunc 2>/dev/null
while IFS='|' read -r name expected arguments; do
  # shellcheck disable=SC2086
  bash "$src/scripts/release.sh" --setup "$setup" --ca "$keys/root.pem" --work "$scratch/work" \
    --out "$scratch/bad/Quillmart-Setup.exe" $pem $arguments >"$scratch/payload.txt" 2>&1 && fail "$name: not refused"
  [ "$(wc -l <"$scratch/payload.txt")" -eq 1 ] && grep -qF -- "$expected" "$scratch/payload.txt" ||
    fail "$name: expected '$expected', got: $(cat "$scratch/payload.txt")"
  echo "ok:   payload $name: $(cat "$scratch/payload.txt")"
done <<EOF_PAYLOAD
unsigned|payload file $payload/WebView2Loader.dll: it has no signature; Smart App Control would block it|--payload $payload
changed after signing|payload file $scratch/payload-tampered/Quillmart.exe: its signature by CN=signer,O=Farrowind no longer matches its bytes|--payload $scratch/payload-tampered
EC|payload file $scratch/payload-ec/WebView2Loader.dll: it is signed by CN=ec,O=Farrowind with a key of type ECDSA, not RSA|--payload $scratch/payload-ec
another root|does not verify against --payload-ca $keys/plain.pem|--payload $scratch/payload-rsa --payload-ca $keys/plain.pem
accepted|the release check failed on the signed setup|--payload $scratch/payload-rsa --payload-ca $keys/root.pem
EOF_PAYLOAD

# A setup signed elsewhere, taken back: the --unsigned release's setup signed by osslsigncode in a folder of its own
# (standing in for a signing service), with a timestamp; then adopted. The finished release verifies, its .sig and
# record name the signature; a file that is not that setup plus one plain RSA signature is refused, by name.
adopted=$scratch/adopted service=$scratch/service
mkdir -p "$adopted" "$service"
bash "$src/scripts/release.sh" --setup "$setup" --payload "$payload" --allow-unsigned-payload --unsigned \
  --work "$scratch/work" --out "$adopted/unsigned.exe" >"$scratch/unsigned.txt" 2>&1 ||
  fail "the --unsigned release failed: $(tail -n 1 "$scratch/unsigned.txt")"
cp "$adopted/unsigned.exe" "$service/in.exe"
(cd "$service" && osslsigncode sign -certs "$keys/chain.pem" -key "$keys/signer.key" -h sha256 -ts "$tsa" \
  -in in.exe -out signed.exe >/dev/null && osslsigncode sign -certs "$keys/ec-chain.pem" -key "$keys/ec.key" \
  -h sha256 -in in.exe -out ec.exe >/dev/null && osslsigncode sign -certs "$keys/ec-chain.pem" -key "$keys/ec.key" \
  -h sha256 -nest -in signed.exe -out nested.exe >/dev/null && osslsigncode add -addUnauthenticatedBlob \
  -in signed.exe -out blob.exe >/dev/null && osslsigncode sign -certs "$keys/chain.pem" -key "$keys/signer.key" \
  -h sha256 -in "$payload/Quillmart.exe" -out other.exe >/dev/null && cp signed.exe changed.exe &&
  printf '\x01' | dd of=changed.exe bs=1 seek=1000 conv=notrunc 2>/dev/null) ||
  fail "the stand-in signing service failed"
bash "$src/scripts/release.sh" --adopt "$service/signed.exe" --from "$adopted/unsigned.exe" --ca "$keys/root.pem" \
  --out "$adopted/Quillmart-Setup.exe" >"$scratch/adopt.txt" 2>&1 || fail "adopt: $(tail -n 1 "$scratch/adopt.txt")"
cmp -s "$service/signed.exe" "$adopted/Quillmart-Setup.exe" || fail "adopt: the release is not the signed file"
osslsigncode extract-signature -in "$service/signed.exe" -out "$scratch/service.der" >/dev/null 2>&1
grep -qx "Signed: elsewhere (taken back with release.sh --adopt)" "$adopted/Quillmart-Setup.exe.buildinfo" &&
  grep -qx "Timestamp-Authority: in the signature (signed elsewhere)" "$adopted/Quillmart-Setup.exe.buildinfo" &&
  grep -qx "Signature-SHA256: $(sha "$adopted/Quillmart-Setup.exe.sig")" "$adopted/Quillmart-Setup.exe.buildinfo" &&
  grep -qx "Unsigned-SHA256: $(sha "$setup")" "$adopted/Quillmart-Setup.exe.buildinfo" ||
  fail "adopt: the record does not name the adopted signature: $(cat "$adopted/Quillmart-Setup.exe.buildinfo")"
grep -qx "signed          $service/signed.exe: the recorded unsigned setup with its signature attached, byte for byte" \
  "$scratch/adopt.txt" || fail "adopt: the report does not say how the file was compared: $(cat "$scratch/adopt.txt")"
echo "ok:   adopt: $(grep '^signed ' "$scratch/adopt.txt")"
# name | expected text | the signed file
while IFS='|' read -r name expected file; do
  bash "$src/scripts/release.sh" --adopt "$service/$file" --from "$adopted/unsigned.exe" --ca "$keys/root.pem" \
    --out "$adopted/Quillmart-Setup.exe" >"$scratch/adopt-bad.txt" 2>&1 && fail "adopt $name: not refused"
  [ "$(wc -l <"$scratch/adopt-bad.txt")" -eq 1 ] && grep -qF -- "$expected" "$scratch/adopt-bad.txt" ||
    fail "adopt $name: expected '$expected', got: $(cat "$scratch/adopt-bad.txt")"
  cmp -s "$service/signed.exe" "$adopted/Quillmart-Setup.exe" || fail "adopt $name: the earlier release was changed"
  echo "ok:   adopt refused, $name: $(cat "$scratch/adopt-bad.txt")"
done <<EOF_ADOPT
one changed byte|$service/changed.exe is not the recorded unsigned setup $adopted/unsigned.exe plus one signature: the byte at offset 1000 differs|changed.exe
an unauthenticated blob|$service/blob.exe holds more than its one signature: an unauthenticated attribute|blob.exe
a nested signature|$service/nested.exe holds more than its one signature: a further, nested signature by CN=ec|nested.exe
another unsigned build|$service/other.exe is not the recorded unsigned setup $adopted/unsigned.exe plus one signature|other.exe
an EC signature|the signature of $service/ec.exe is ECDSA; Smart App Control and App Control for Business accept only RSA|ec.exe
unsigned|$adopted/unsigned.exe is not signed|../adopted/unsigned.exe
EOF_ADOPT

# Nothing of the user's is emptied or overwritten: each row is refused with one line and its file survives.
# name | expected text | arguments (split at blanks) | the file that must stay as it was
mkdir -p "$scratch/work/payload" "$scratch/userwork/notes" "$scratch/outdir" "$scratch/real" "$scratch/linked"
ln -sfn "$scratch/work" "$scratch/worklink"
cp "$payload/WebView2Loader.dll" "$payload/Quillmart.exe" "$scratch/work/payload/"
echo "an earlier release" >"$scratch/work/Quillmart-Setup.exe"
echo "notes" >"$scratch/userwork/notes/a.txt"
echo "report" >"$scratch/userwork/report.odt"
echo "the link's target" >"$scratch/real/target.exe"
echo "kept" >"$scratch/outdir/keep.txt"
ln -sfn "$scratch/real/target.exe" "$scratch/outlink.exe"
ln -sfn "$scratch/real/target.exe" "$scratch/linked/Quillmart-Setup.exe.cdx.json"
while IFS='|' read -r name expected arguments survivor; do
  before=$(sha256sum "$survivor")
  # shellcheck disable=SC2086
  bash "$src/scripts/release.sh" --setup "$setup" --payload "$payload" --allow-unsigned-payload --ca "$keys/root.pem" \
    --work "$scratch/work" --out "$scratch/bad/Quillmart-Setup.exe" $pem $arguments >"$scratch/safe.txt" 2>&1 && fail "$name: not refused"
  [ "$(wc -l <"$scratch/safe.txt")" -eq 1 ] && grep -qF -- "$expected" "$scratch/safe.txt" ||
    fail "$name: expected '$expected', got: $(cat "$scratch/safe.txt")"
  [ "$(sha256sum "$survivor")" = "$before" ] || fail "$name: $survivor was changed"
  echo "ok:   $name: $(cat "$scratch/safe.txt")"
done <<EOF_SAFE
out through a link into --work|lies in --work $scratch/work|--out $scratch/worklink/Quillmart-Setup.exe|$scratch/work/Quillmart-Setup.exe
payload inside --work|the input $scratch/work/payload lies in --work|--payload $scratch/work/payload|$scratch/work/payload/Quillmart.exe
a folder of the user's as --work|holds files that this tool did not make|--work $scratch/userwork|$scratch/userwork/notes/a.txt
a folder of the user's as --work|holds files that this tool did not make|--work $scratch/userwork|$scratch/userwork/report.odt
--out a folder|exists and is not a regular file|--out $scratch/outdir|$scratch/outdir/keep.txt
--out a link|$scratch/outlink.exe exists and is not a regular file|--out $scratch/outlink.exe|$scratch/real/target.exe
--out's bill a link|$scratch/linked/Quillmart-Setup.exe.cdx.json exists and is not a regular file|--out $scratch/linked/Quillmart-Setup.exe|$scratch/real/target.exe
EOF_SAFE

# Option values that begin with "-" (and hold a blank), relative ones too, are paths, not options.
mkdir -p "$scratch/-dash dir"
cp "$keys/root.pem" "$scratch/-dash dir/-my root.pem"
(cd "$scratch/-dash dir" && bash "$src/scripts/release.sh" --setup "$setup" --payload "$payload" \
  --allow-unsigned-payload --ca "-my root.pem" \
  --work "-w" --out "-signed.exe" $pem >"$scratch/dash.txt" 2>&1) || fail "paths beginning with -: $(tail -n 1 "$scratch/dash.txt")"
[ -f "$scratch/-dash dir/-signed.exe" ] && [ -f "$scratch/-dash dir/-w/.quillmart-release-work" ] ||
  fail "paths beginning with -: no output or no work folder -w"
# The answers of the has_option probe started above.
wait "$probe_pid"
[ "$(grep -cx yes "$scratch/has-option.txt")" = 1000 ] && [ "$(wc -l <"$scratch/has-option.txt")" = 1000 ] ||
  fail "has_option does not answer the same 1000 times: $(sort "$scratch/has-option.txt" | uniq -c | tr -s '\n ' ' ')"

# The commit is what gets built: a checkout with uncommitted changes to a tracked file is refused (release-run.sh
# releases one with --allow-dirty), and a git failure is told in git's own words. Both refusals come before
# anything is built.
echo "a change" >>"$src/README.md"
bash "$src/scripts/release.sh" --demo --payload "$scratch/empty" --work "$scratch/work" --out "$out" $pem \
  >"$scratch/dirty.txt" 2>&1 && fail "a dirty tree was not refused"
grep -q "have uncommitted changes to tracked files" "$scratch/dirty.txt" || fail "dirty tree: $(cat "$scratch/dirty.txt")"
git -C "$src" checkout -q README.md
cp "$src/.git/index" "$scratch/index"
echo "garbage" >"$src/.git/index"
bash "$src/scripts/release.sh" --demo --payload "$scratch/empty" --work "$scratch/work" --out "$out" $pem \
  >"$scratch/git.txt" 2>&1 && fail "a failing git status was taken for a clean tree"
grep -q "^release.sh: git cannot read the state of $src: .*index" "$scratch/git.txt" ||
  fail "git's own reason is not passed on: $(cat "$scratch/git.txt")"
cp "$scratch/index" "$src/.git/index"

finish "release signing: all cases passed"

#!/bin/sh
# Signing through scripts/release.sh, on an already built setup (--setup):
#   release-signing.sh SOURCE_DIR SETUP_EXE PAYLOAD_DIR SCRATCH_DIR
# With throwaway keys: two runs with the same SOURCE_DATE_EPOCH give the same bytes and verify against the test CA
# with a SHA-256 digest; a PEM key with a (local, offline) timestamp and a key in a software PKCS#11 token verify;
# every bad input ends with one line naming the cause, a non-zero exit and no file at --out.
set -u
source_dir=$1 setup=$2 payload=$3 scratch=$4
rm -rf "$scratch"
keys=$scratch/keys
. "$(dirname "$0")/keys.sh"
. "$(dirname "$0")/../harness/checks.sh"
now=$(date +%s)
export SOURCE_DATE_EPOCH=$now
release() {
  bash "$source_dir/scripts/release.sh" --setup "$setup" --payload "$payload" --ca "$keys/ca.pem" \
    --work "$scratch/work" "$@"
}
# signed NAME ARGS...: a run that must succeed; its report is $scratch/NAME.txt, its output $scratch/NAME.exe.
signed() {
  name=$1; shift
  release --out "$scratch/$name.exe" "$@" >"$scratch/$name.txt" 2>&1 ||
    { fail "$name: $(tail -n 1 "$scratch/$name.txt")"; return 1; }
  osslsigncode verify -CAfile "$keys/ca.pem" -TSA-CAfile "$keys/ca.pem" -in "$scratch/$name.exe" \
    >"$scratch/$name.verify" 2>&1 ||
    fail "$name: the output does not verify"
  grep -q "Message digest algorithm *: SHA256" "$scratch/$name.verify" || fail "$name: the digest is not SHA-256"
  grep -q "signed sha256   $(sha256sum "$scratch/$name.exe" | cut -d' ' -f1)" "$scratch/$name.txt" ||
    fail "$name: the report does not give the output's SHA-256"
  echo "ok:   $name"
}

QMT_SIGN_PASSWORD=$password signed pkcs12 --pkcs12 "$keys/signer.p12"
signed pkcs12-again --pkcs12 "$keys/signer.p12" --password-file "$keys/password"
cmp -s "$scratch/pkcs12.exe" "$scratch/pkcs12-again.exe" || fail "two runs with the same SOURCE_DATE_EPOCH differ"
grep -q "unsigned sha256 $(sha256sum "$setup" | cut -d' ' -f1)" "$scratch/pkcs12.txt" ||
  fail "the report does not give the unsigned setup's SHA-256"
grep -q "signer          CN=signer,O=Farrowind" "$scratch/pkcs12.txt" || fail "the report does not name the signer"

signed timestamped --cert "$keys/signer.pem" --key "$keys/signer.key" \
  --tsa-cert "$keys/tsa.pem" --tsa-key "$keys/tsa.key" &&
  { grep -q "Timestamp Server Signature verification: ok" "$scratch/timestamped.verify" ||
    fail "timestamped: the timestamp does not verify"; }

# A software token, the key imported into it; the PIN comes from the environment.
module=$(ls /usr/lib/*/softhsm/libsofthsm2.so 2>/dev/null | head -n 1)
mkdir -p "$scratch/token"
printf 'directories.tokendir = %s\nobjectstore.backend = file\n' "$scratch/token" >"$scratch/softhsm2.conf"
export SOFTHSM2_CONF=$scratch/softhsm2.conf
softhsm2-util --init-token --free --label qmt-test --so-pin 9999 --pin 4321 >/dev/null &&
  softhsm2-util --import "$keys/signer.key" --token qmt-test --label signer --id 01 --pin 4321 >/dev/null ||
  fail "cannot prepare the software token"
token_key="pkcs11:token=qmt-test;object=signer;type=private"
QMT_SIGN_PIN=4321 signed token --cert "$keys/signer.pem" --pkcs11-module "$module" --pkcs11-key "$token_key"

mkdir -p "$scratch/dll-only" "$scratch/exe-folder/Quillmart.exe" "$scratch/empty" "$scratch/bad"
cp "$payload/WebView2Loader.dll" "$scratch/dll-only/"
cp "$payload/WebView2Loader.dll" "$scratch/exe-folder/"
later=$((now + 3 * 86400))
pem="--cert $keys/signer.pem --key $keys/signer.key"
# expected text | environment | arguments (split at blanks; no path here holds one)
while IFS='|' read -r expected environment arguments; do
  out=$scratch/bad/Quillmart-Setup.exe
  # shellcheck disable=SC2086
  env $environment bash "$source_dir/scripts/release.sh" --setup "$setup" --payload "$payload" \
    --ca "$keys/ca.pem" --work "$scratch/work" --out "$out" $arguments >"$scratch/bad.txt" 2>&1
  rc=$?
  [ "$rc" -ne 0 ] || fail "exit status 0 for: $expected"
  [ "$(wc -l <"$scratch/bad.txt")" -eq 1 ] || fail "not one line for: $expected: $(cat "$scratch/bad.txt")"
  grep -qF -- "$expected" "$scratch/bad.txt" || fail "expected '$expected', got: $(cat "$scratch/bad.txt")"
  [ -z "$(ls -A "$scratch/bad")" ] || fail "a file was left at --out for: $expected"
  echo "ok:   refused ($rc): $(cat "$scratch/bad.txt")"
done <<EOF
private key $keys/missing.key does not exist||--cert $keys/signer.pem --key $keys/missing.key
cannot read the private key $keys/signer.csr||--cert $keys/signer.pem --key $keys/signer.csr
does not belong to the certificate||--cert $keys/signer.pem --key $keys/plain.key
wrong password for the PKCS#12 file|QMT_SIGN_PASSWORD=wrong|--pkcs12 $keys/signer.p12
lacks the code-signing usage||--cert $keys/plain.pem --key $keys/plain.key
expired on|SOURCE_DATE_EPOCH=$later|--cert $keys/short.pem --key $keys/short.key
payload file $scratch/dll-only/Quillmart.exe is missing||$pem --payload $scratch/dll-only
payload file $scratch/exe-folder/Quillmart.exe is a folder||$pem --payload $scratch/exe-folder
the demo stand-ins are refused without --demo||$pem --payload $scratch/empty
no key||
give only one key||$pem --unsigned
wrong PIN (QMT_SIGN_PIN) or no such key|QMT_SIGN_PIN=0000|--cert $keys/signer.pem --pkcs11-module $module --pkcs11-key $token_key
EOF

finish "release signing: all cases passed"

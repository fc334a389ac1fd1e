#!/bin/bash
# The whole release command on the demo payload, and the check of its result by scripts/verify-release.sh:
#   release-run.sh SOURCE_DIR BOXCTL_EXE SCRATCH_DIR
# (QMT_WINE_STATE: the running Wine prefix.) A release of a copy of the tree's commit (its working tree made dirty
# on purpose), signed through a PKCS#12 password with the chain of a throwaway three-level CA, must keep the password
# and the caller's compiler flags from the build, verify offline, pass the release check, report what it made and
# record it in its .buildinfo; the signed setup must still install and start the application under Wine.
# verify-release.sh then gives each of its three verdicts on it and on altered copies (one rebuild, reused).
set -u
source_dir=$1 boxctl=$2 scratch=$3
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$scratch"
keys=$scratch/keys
. "$here/keys.sh"
. "$here/sources.sh"
. "$here/../harness/checks.sh"
winpath() { printf 'Z:%s' "${1//\//\\}"; }
sha() { sha256sum "$1" | cut -d' ' -f1; }
offline=()
osslsigncode --help 2>&1 | grep -qw -- -ignore-crl && offline=(-ignore-crl)
copy_sources "$source_dir" "$scratch/src"
src=$scratch/src

# The tested commit's build recipe, wrapped by a spy that records the environment the build gets and every file
# it can read where the release writes (its TMPDIR, the work folder, files of this user's made in /dev/shm since
# the run began) that holds the signing password; the spy's own files, the password's among them, lie elsewhere.
# Wrappers early on the caller's PATH record the arguments and environment of every git, cmake, openssl, python3
# and osslsigncode that the release starts. Then the tree is made dirty: a tracked file and an untracked header
# that would each break the build, so the run proves that only the commit is built.
spy=$scratch/spy
mkdir -p "$spy/bin" "$scratch/tmp"
# A password of this run only, so that no file of the tree can hold it by chance.
secret=spy-$(od -An -tx8 -N8 /dev/urandom | tr -d ' \n')
printf '%s\n' "$secret" >"$spy/secret"
SPY_SECRET=$secret openssl pkcs12 -export -in "$keys/signer.pem" -inkey "$keys/signer.key" -certfile "$keys/int.pem" \
  -out "$spy/signer.p12" -passout env:SPY_SECRET || fail "cannot make the PKCS#12 file"
mv "$src/scripts/release-build.sh" "$src/scripts/release-build-real.sh"
cat >"$src/scripts/release-build.sh" <<EOF_SPY
#!/bin/bash
env >"$spy/build-env"
{ grep -rlF -f "$spy/secret" -- "$scratch/tmp" "$scratch/work"
  find /dev/shm -xdev -type f -user "\$(id -u)" -newer "$spy/started" -exec grep -lF -f "$spy/secret" -- {} +
} >"$spy/secret-files" 2>/dev/null
exec bash "\$(dirname "\$0")/release-build-real.sh" "\$@"
EOF_SPY
for tool in git cmake openssl python3 osslsigncode; do
  # shellcheck disable=SC2016 # the wrapper expands $0 and $@
  printf '#!/bin/bash\n{ printf "%%s\\n" "== $0" "$@"; env; } >>%q\nexec %q "$@"\n' "$spy/calls" \
    "$(command -v "$tool")" >"$spy/bin/$tool"
  chmod +x "$spy/bin/$tool"
done
git -C "$src" add -A && git -C "$src" -c user.name=test -c user.email=test@example.invalid commit -qm spy
commit=$(git -C "$src" rev-parse HEAD)
echo '#error the live tree was built' >>"$src/src/setup/run_setup.cpp"
echo '#error an untracked file was built' >"$src/src/zlib.h"

mkdir -p "$scratch/empty"
out=$scratch/out/Quillmart-Setup.exe
touch "$spy/started"
# The command as the README gives it: no SOURCE_DATE_EPOCH, so the signing time is now.
(unset SOURCE_DATE_EPOCH
  PATH="$spy/bin:$PATH" TMPDIR=$scratch/tmp QMT_SIGN_PASSWORD=$secret CXXFLAGS=-march=haswell \
    bash "$src/scripts/release.sh" --demo --payload "$scratch/empty" --allow-dirty --pkcs12 "$spy/signer.p12" \
    --ca "$keys/root.pem" --work "$scratch/work" --out "$out") >"$scratch/report.txt" 2>&1 ||
  { cat "$scratch/report.txt"; echo "FAIL: the release run failed"; exit 1; }
cat "$scratch/report.txt" "$out.buildinfo"
grep -q "^signing time    [0-9: -]* UTC$" "$scratch/report.txt" || fail "the signing time is not now"
[ -s "$spy/build-env" ] || fail "the commit's own build recipe did not run"
! grep -qF -f "$spy/secret" "$spy/build-env" || fail "the build's environment holds the signing password"
[ ! -s "$spy/secret-files" ] || fail "the build can read the password in: $(cat "$spy/secret-files")"
! grep -q '^CXXFLAGS=' "$spy/build-env" || fail "the caller's CXXFLAGS reached the build"
# release.sh runs no cmake of its own in a full release: a call on the caller's PATH would be the build's.
! grep -qx "== $spy/bin/cmake" "$spy/calls" || fail "the build ran a cmake from the caller's PATH"
for tool in git openssl python3 osslsigncode; do
  grep -qx "== $spy/bin/$tool" "$spy/calls" || fail "the spy did not see $tool run"
done
! grep -qF -f "$spy/secret" "$spy/calls" ||
  fail "a child of the release got the password (its call is in $spy/calls)"
demo=$scratch/work/build/payload/demo
grep -q "^payload         DEMO stand-ins" "$scratch/report.txt" || fail "the report does not say DEMO"
for name in WebView2Loader.dll Quillmart.exe; do
  grep -Eq "^$name +$(wc -c <"$demo/$name") +[0-9]+ +[0-9.]+%  $(sha "$demo/$name")$" "$scratch/report.txt" ||
    fail "the report's line for $name is wrong"
  grep -qx "Payload-File: $name $(wc -c <"$demo/$name") $(sha "$demo/$name")" "$out.buildinfo" ||
    fail "the .buildinfo's line for $name is wrong"
done
signer_sha=$(openssl x509 -in "$keys/signer.pem" -outform DER | sha256sum | cut -d' ' -f1)
grep -q "^signed sha256   $(sha "$out")$" "$scratch/report.txt" || fail "wrong signed SHA-256"
grep -q "^signer sha256   $signer_sha$" "$scratch/report.txt" || fail "the report lacks the signer's SHA-256"
grep -q "^release check   payload intact$" "$scratch/report.txt" || fail "the report lacks the release check"
for line in "Format: 2" "Source-Commit: $commit" "Build-Architecture: $(dpkg --print-architecture)" \
  "Source-Tree: commit only (--allow-dirty: the checkout's uncommitted changes to tracked files were not built)" \
  "Payload: demo stand-ins" "Unsigned-SHA256: $(sha "$scratch/work/build/src/Quillmart-Setup.exe")" \
  "Signed-SHA256: $(sha "$out")" "Signer-Certificate-SHA256: $signer_sha" \
  " libz-mingw-w64-dev (= $(dpkg-query -W -f '${Version}' libz-mingw-w64-dev)),"; do
  grep -qxF -- "$line" "$out.buildinfo" || fail "the .buildinfo lacks '$line'"
done
osslsigncode verify "${offline[@]}" -CAfile "$keys/root.pem" -in "$out" >/dev/null 2>&1 || fail "the output does not verify"
# The bill of materials and notices beside it: valid CycloneDX 1.6, naming the signed setup by its hash.
python3 "$here/cyclonedx/validate.py" "$out.cdx.json" >/dev/null || fail "the release's bill does not pass the schema"
grep -q "\"$(sha "$out")\"" "$out.cdx.json" || fail "the bill does not hold the signed setup's SHA-256"
[ -s "$out.notices.txt" ] || fail "the release wrote no notices"
grep -qxF "bill            $out.cdx.json (CycloneDX 1.6), notices $out.notices.txt" "$scratch/report.txt" ||
  fail "the report does not name the bill"

# Installed and started under Wine like a download: the signature must not have moved or hidden the streams.
target=$scratch/LocalAppData/Programs/Quillmart
mkdir -p "$scratch/LocalAppData"
"$source_dir/tests/harness/wine-run" "$QMT_WINE_STATE" "$boxctl" run \
  --set "LOCALAPPDATA=$(winpath "$scratch/LocalAppData")" --unset QMT_DATA \
  --set "QMT_DEMO_REPORT=$(winpath "$scratch/app-report.txt")" --timeout 60000 -- "$(winpath "$out")" signed \
  >"$scratch/runner.txt" 2>&1
tr -d '\r' <"$scratch/runner.txt" | grep -qx "exit 0" ||
  fail "the signed setup did not exit with 0: $(cat "$scratch/runner.txt")"
for name in WebView2Loader.dll Quillmart.exe; do
  cmp -s "$demo/$name" "$target/$name" || fail "$name was not installed byte for byte"
done
for _ in $(seq 100); do [ -s "$scratch/app-report.txt" ] && break; sleep 0.1; done
[ -s "$scratch/app-report.txt" ] || fail "the installed application did not start"

# A third party's check, one rebuild used again by every row. One byte of the code changed; the signature removed
# and the record edited to match; the setup re-signed with another key of the same CA; another payload; a record
# of a commit this clone lacks; osslsigncode missing; a --work folder of the user's; an input inside --work.
cp "$out" "$scratch/changed.exe"
byte=$(od -An -tu1 -j 2000 -N 1 "$out" | tr -d ' ')
printf "\\$(printf '%03o' $(((byte + 1) % 256)))" | dd of="$scratch/changed.exe" bs=1 seek=2000 conv=notrunc 2>/dev/null
osslsigncode remove-signature -in "$out" -out "$scratch/stripped.exe" >/dev/null 2>&1 &&
  osslsigncode sign -certs "$keys/ec-chain.pem" -key "$keys/ec.key" -h sha256 -in "$scratch/stripped.exe" \
    -out "$scratch/resigned.exe" >/dev/null 2>&1 || fail "cannot re-sign the setup"
ec_sha=$(openssl x509 -in "$keys/ec.pem" -outform DER | sha256sum | cut -d' ' -f1)
ec_subject=$(openssl x509 -in "$keys/ec.pem" -noout -subject -nameopt RFC2253 | sed 's/^subject=//')
sed -e 's/^Signed-SHA256: .*/Signed-SHA256: none (unsigned)/' -e 's/^Signer: .*/Signer: none/' \
  -e 's/^Signer-Certificate-SHA256: .*/Signer-Certificate-SHA256: none/' -e '/^Signature-Key:/d' -e '/^Signature-SHA256:/d' -e '/^Signed:/d' \
  "$out.buildinfo" >"$scratch/unsigned.buildinfo"
sed "s/^Source-Commit: .*/Source-Commit: $(printf '%040d' 7)/" "$out.buildinfo" >"$scratch/unknown.buildinfo"
mkdir -p "$scratch/other" "$scratch/no-ossl" "$scratch/mine/notes"
cp "$demo/WebView2Loader.dll" "$demo/Quillmart.exe" "$scratch/other/"
printf 'x' >>"$scratch/other/Quillmart.exe"
for tool in /usr/bin/*; do [ "${tool##*/}" = osslsigncode ] || ln -s "$tool" "$scratch/no-ossl/"; done
/usr/bin/python3 -c "import json, sys; b = json.load(open(sys.argv[1]))
[c.update(version='0.0-other') for c in b['components'] if c['name'] == 'libz.a']
json.dump(b, open(sys.argv[2], 'w'))" "$out.cdx.json" "$scratch/other.cdx.json"
components=$(/usr/bin/python3 -c "import json, sys; print(len(json.load(open(sys.argv[1]))['components']))" "$out.cdx.json")
echo 'a stamp of my own' >"$scratch/mine/stamp"
echo 'keep me' >"$scratch/mine/notes/report.odt"
info=$out.buildinfo pin="--signer-sha256 $signer_sha" ok="verify-release: OK: the vendor's release: the same bytes as commit $commit"
no="verify-release: NOT THE VENDOR'S RELEASE:" cannot="verify-release: COULD NOT CHECK:"
# setup | record | PATH | options | exit status | a part of the verdict
while IFS='|' read -r setup record path options status expected; do
  read -ra extra <<<"$options"
  PATH=$path bash "$src/scripts/verify-release.sh" --ca "$keys/root.pem" --work "$scratch/verify" "${extra[@]}" \
    -- "$setup" "$record" >"$scratch/verdict.txt" 2>>"$scratch/verify.log"
  rc=$?
  [ "$rc" = "$status" ] || fail "exit status $rc instead of $status for: $expected ($(cat "$scratch/verdict.txt"))"
  [ "$(wc -l <"$scratch/verdict.txt")" = 1 ] || fail "not one verdict line for: $expected"
  grep -qF -- "$expected" "$scratch/verdict.txt" ||
    fail "expected '$expected', got: $(cat "$scratch/verdict.txt")"
  echo "ok:   $(cat "$scratch/verdict.txt")"
done <<EOF_VERIFY
$out|$info|$PATH|$pin|0|$ok (signature removed; rebuilt on this system, in $scratch/verify); signed by CN=signer,O=Farrowind (certificate SHA-256 $signer_sha)
$out|$info|$PATH|$pin|0|, pinned with --signer-sha256; chain verified offline
$out|$info|$PATH|$pin|0|; signed bytes rebuilt: the published file is the rebuild plus its own signature (the published $(basename "$out").sig), attached byte for byte
$out|$info|$PATH||0|the signer the .buildinfo names, not pinned
$out|$info|$PATH|$pin|0|; bill of materials $out.cdx.json: $components components with the same names, versions and hashes; the setup's hashes are those of $(basename "$out")
$out|$info|$PATH|$pin --bom $scratch/other.cdx.json|1|$no the bill of materials $scratch/other.cdx.json is not the rebuild's: libz.a has version 0.0-other in the published bill
$scratch/changed.exe|$info|$PATH|$pin|1|$no $scratch/changed.exe without its signature differs from commit $commit's rebuild at offset 2000 (0x7d0), in section .text; the rebuild is the recorded unsigned setup, so the file was changed after the release; the signature by
$out|$info|$PATH|$pin --payload $scratch/other|1|$no payload file Quillmart.exe in $scratch/other is not the recorded one
$scratch/stripped.exe|$scratch/unsigned.buildinfo|$PATH||1|$no $scratch/stripped.exe has no signature
$scratch/stripped.exe|$scratch/unsigned.buildinfo|$PATH|--allow-unsigned|1|$no $scratch/stripped.exe has no signature (its bytes compared because of --allow-unsigned); the same bytes as commit $commit
$scratch/resigned.exe|$info|$PATH||1|$no signed by $ec_subject (certificate SHA-256 $ec_sha), not by the expected signer (certificate SHA-256 $signer_sha)
$scratch/resigned.exe|$info|$PATH|$pin --allow-other-signer|1|(its bytes compared because of --allow-other-signer); the same bytes as commit $commit
$out|$info|$scratch/no-ossl|$pin|2|$cannot osslsigncode is missing
$out|$scratch/unknown.buildinfo|$PATH|$pin|2|$cannot commit $(printf '%040d' 7) is not in the repository at $src
$out|$info|$PATH|$pin --fresh --mirror http://127.0.0.1:9/ --work $scratch/verify-mirror|2|$cannot the --mirror http://127.0.0.1:9/ has no suite of
$out|$info|$PATH|$pin --work $scratch/mine|2|$cannot the work folder $scratch/mine holds files that this tool did not make
$out|$info|$PATH|$pin --payload $scratch/verify/src|2|$cannot the input $scratch/verify/src lies in --work $scratch/verify
EOF_VERIFY

# Hostile downloads: each row a file an attacker may have made, checked against the same rebuild. Nothing outside
# --work may change: a canary tree is hashed before and after, and the canary path is what an injected command
# would create. A record line or value breaking its grammar is refused before anything runs.
hostile=$scratch/hostile canary=$scratch/canary
mkdir -p "$hostile" "$canary/tree" "$scratch/open-work"
echo 'keep' >"$canary/tree/file"
chmod 777 "$scratch/open-work"
canary_hash() { find "$canary/tree" -type f -exec sha256sum {} + | sort | sha256sum; }
before=$(canary_hash)
inject="touch $canary/pwned"
sed "s|^Source-Date-Epoch: .*|&; $inject|" "$info" >"$hostile/epoch.buildinfo"
sed "s|^Installed-Build-Depends:\$|&\n -p$canary/tree/file (= 1),|" "$info" >"$hostile/option.buildinfo"
sed "s|^Signer: .*|Signer: $(printf '\r\033[2K')verify-release: OK: the vendor's release|" "$info" >"$hostile/paint.buildinfo"
sed "s|^Signed-SHA256: .*|Signed-SHA256: $(printf '%064d' 1)|" "$info" >"$hostile/other-setup.buildinfo"
ec_record=$hostile/ec.buildinfo
sed -e "s|^Signed-SHA256: .*|Signed-SHA256: $(sha "$scratch/resigned.exe")|" \
  -e "s|^Signer-Certificate-SHA256: .*|Signer-Certificate-SHA256: $ec_sha|" "$info" >"$ec_record"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$hostile/self.key" -out "$hostile/self.pem" -days 30 \
  -subj "/CN=Self Made" -addext extendedKeyUsage=codeSigning 2>/dev/null
osslsigncode sign -nest -certs "$hostile/self.pem" -key "$hostile/self.key" -h sha256 -in "$out" \
  -out "$hostile/nested.exe" >/dev/null 2>&1 || fail "cannot add a nested signature"
osslsigncode add -addUnauthenticatedBlob -in "$out" -out "$hostile/blob.exe" >/dev/null 2>&1 ||
  fail "cannot add an unauthenticated blob"
# The certificate table and its entry grown by 16 zero bytes, the data directory and WIN_CERTIFICATE lengths with it.
/usr/bin/python3 - "$out" "$hostile/grown.exe" <<'EOF_GROW'
import struct, sys
data = bytearray(open(sys.argv[1], 'rb').read())
pe = struct.unpack_from('<I', data, 0x3c)[0]
entry = pe + 24 + 112 + 4 * 8
offset, size = struct.unpack_from('<II', data, entry)
struct.pack_into('<II', data, entry, offset, size + 16)
length = struct.unpack_from('<I', data, offset)[0]
struct.pack_into('<I', data, offset, length + 16)
open(sys.argv[2], 'wb').write(bytes(data) + bytes(16))
EOF_GROW
/usr/bin/python3 - "$out" "$hostile/grown.exe" "$out.cdx.json" "$hostile/grown.cdx.json" <<'EOF_BILL'
import hashlib, json, sys
old, new = (hashlib.sha256(open(p, 'rb').read()).hexdigest() for p in sys.argv[1:3])
text = open(sys.argv[3]).read().replace(old, new)
old512, new512 = (hashlib.sha512(open(p, 'rb').read()).hexdigest() for p in sys.argv[1:3])
open(sys.argv[4], 'w').write(text.replace(old512, new512))
EOF_BILL
/usr/bin/python3 - "$out.cdx.json" "$hostile" <<'EOF_BILLS'
import json, sys
bill = json.load(open(sys.argv[1]))
evil = dict(next(c for c in bill['components'] if c['name'] == 'libgcc.a'), version='0.0-evil')
evil.pop('bom-ref', None)
json.dump(dict(bill, components=[evil] + bill['components']), open(sys.argv[2] + '/twice.cdx.json', 'w'))
first = bill['components'][0]
wrong = [dict(first['hashes'][0], content='0' * len(first['hashes'][0]['content']))] + first['hashes']
json.dump(dict(bill, components=[dict(first, hashes=wrong)] + bill['components'][1:]),
          open(sys.argv[2] + '/hash-twice.cdx.json', 'w'))
json.dump(dict(bill, components=['libz.a'] + bill['components']), open(sys.argv[2] + '/string.cdx.json', 'w'))
open(sys.argv[2] + '/deep.cdx.json', 'w').write('[' * 100000 + ']' * 100000)
EOF_BILLS
# The setup as published, beside it a .sig that is another signature (the re-signed file's).
mkdir -p "$hostile/sig"
cp "$out" "$hostile/sig/Quillmart-Setup.exe"
/usr/bin/python3 "$src/scripts/authenticode.py" detach "$scratch/resigned.exe" "$hostile/sig/Quillmart-Setup.exe.sig" \
  "$hostile/sig/other.pem" >/dev/null || fail "cannot detach the re-signed file's signature"
painted=$hostile/$(printf 'x\r\033[1Averify-release: OK: the vendor.exe')
cp "$scratch/changed.exe" "$painted"
cp "$keys/root.pem" "$scratch/verify/root.pem"
old_sha=$(openssl x509 -in "$keys/old.pem" -outform DER | sha256sum | cut -d' ' -f1)
osslsigncode sign -certs "$keys/old-chain.pem" -key "$keys/old.key" -h sha256 -time "$(date -d '-15 days' +%s)" \
  -in "$scratch/stripped.exe" -out "$hostile/expired.exe" >/dev/null 2>&1 || fail "cannot sign with the old key"
sed -e "s|^Signed-SHA256: .*|Signed-SHA256: $(sha "$hostile/expired.exe")|" \
  -e "s|^Signer-Certificate-SHA256: .*|Signer-Certificate-SHA256: $old_sha|" "$info" >"$hostile/expired.buildinfo"
# setup | record | options | exit status | a part of the verdict ("flock" holds --work locked meanwhile)
while IFS='|' read -r setup record options status expected; do
  read -ra extra <<<"$options"
  locked=()
  [ "${extra[0]:-}" != flock ] || { locked=(flock "$scratch/verify"); extra=("${extra[@]:1}"); }
  ${locked[@]+"${locked[@]}"} bash "$src/scripts/verify-release.sh" --ca "$keys/root.pem" --work "$scratch/verify" \
    "${extra[@]}" -- "$setup" "$record" >"$scratch/verdict.txt" 2>>"$scratch/verify.log"
  rc=$?
  [ "$rc" = "$status" ] || fail "exit status $rc instead of $status for: $expected ($(cat -v "$scratch/verdict.txt"))"
  [ "$(wc -l <"$scratch/verdict.txt")" = 1 ] || fail "not one verdict line for: $expected"
  ! grep -q "$(printf '[\r\033]')" "$scratch/verdict.txt" || fail "a control character reached the terminal: $expected"
  grep -qF -- "$expected" "$scratch/verdict.txt" || fail "expected '$expected', got: $(cat -v "$scratch/verdict.txt")"
  [ ! -e "$canary/pwned" ] || fail "an injected command ran for: $expected"
  [ "$(canary_hash)" = "$before" ] || fail "a file outside --work changed for: $expected"
  echo "ok:   $(cat "$scratch/verdict.txt")"
done <<EOF_HOSTILE
$out|$hostile/epoch.buildinfo|$pin --fresh|2|$cannot $hostile/epoch.buildinfo: the record is malformed: line
$out|$hostile/epoch.buildinfo|$pin --fresh|2|, Source-Date-Epoch:
$out|$hostile/option.buildinfo|$pin --fresh|2|, Installed-Build-Depends:
$out|$hostile/paint.buildinfo|$pin|2|, Signer
$painted|$info|$pin|1|$no $hostile/x\x0d\x1b[1Averify-release: OK: the vendor.exe without its signature differs
$hostile/nested.exe|$info|$pin|1|$no $hostile/nested.exe holds more than the signature by CN=signer,O=Farrowind
$hostile/nested.exe|$info|$pin|1|Self Made
$hostile/blob.exe|$info|$pin|1|$no $hostile/blob.exe holds more than the signature by
$hostile/sig/Quillmart-Setup.exe|$info|$pin|1|$no $hostile/sig/Quillmart-Setup.exe.sig is not the signature that $hostile/sig/Quillmart-Setup.exe carries
$hostile/grown.exe|$info|$pin --bom $hostile/grown.cdx.json|1|$no $hostile/grown.exe
$out|$info|$pin --bom $hostile/twice.cdx.json|1|$no the bill of materials $hostile/twice.cdx.json is not the rebuild's: the component libgcc.a is listed twice
$out|$info|$pin --bom $hostile/hash-twice.cdx.json|1|$no the bill of materials $hostile/hash-twice.cdx.json is not the rebuild's
$out|$info|$pin --bom $hostile/string.cdx.json|2|the bill is malformed
$out|$info|$pin --bom $hostile/deep.cdx.json|2|the bill is malformed
$out|$hostile/other-setup.buildinfo|$pin|2|$cannot $hostile/other-setup.buildinfo was made for another setup
$scratch/resigned.exe|$ec_record|$pin|1|$no signed by $ec_subject (certificate SHA-256 $ec_sha), not by the expected signer
$out|$info|$pin --crl $keys/root.crl --crl $keys/revoked.crl|1|revoked by a CRL given with --crl; the same bytes
$out|$info|$pin --work $scratch/open-work|2|$cannot the work folder $scratch/open-work can be written by others
$out|$info|$pin --ca $scratch/verify/root.pem|2|$cannot the input $scratch/verify/root.pem lies in --work
$hostile/expired.exe|$hostile/expired.buildinfo|--signer-sha256 $old_sha|1|has expired since the signing; the signature has no timestamp, which would have kept it valid; the same bytes
$out|$info|flock $pin|2|$cannot another check is using the work folder $scratch/verify
EOF_HOSTILE
[ -f "$scratch/verify/root.pem" ] || fail "an input inside --work was deleted"
# Without --ca the test CA is no trusted root: never the vendor's.
bash "$src/scripts/verify-release.sh" --work "$scratch/verify" --signer-sha256 "$signer_sha" -- "$out" "$info" >"$scratch/verdict.txt" 2>&1
rc=$?
[ "$rc" = 2 ] && grep -qF "chain does not lead to a trusted root" "$scratch/verdict.txt" ||
  fail "a signature without a trusted root gave $rc: $(cat "$scratch/verdict.txt")"
# A kept rebuild is used again only for the same inputs: the key changes with every one of them.
key_of() {
  (
    . "$src/scripts/verify-release.sh"
    private=$scratch/key-private payload=$scratch/key-payload commit=$(printf '%040d' 1) place="on this system"
    recorded_epoch=1 mirrors=() demo_payload=0
    mkdir -p "$private" "$payload"
    printf 'gcc 1\n' >"$private/recorded-packages"
    printf 'dll' >"$payload/WebView2Loader.dll"
    printf 'exe' >"$payload/Quillmart.exe"
    eval "$1"
    rebuild_key
  )
}
base_key=$(key_of :)
[ "$base_key" = "$(key_of :)" ] || fail "the rebuild key is not stable"
for change in 'commit=$(printf "%040d" 2)' 'printf x >>"$payload/Quillmart.exe"' 'recorded_epoch=2' \
  'place="in a fresh Debian 12 system"' 'printf "gcc 2\n" >"$private/recorded-packages"' 'mirrors=(http://m)' \
  'demo_payload=1' 'root=$scratch/key-root; mkdir -p $root/scripts; cp "$src"/scripts/*.sh "$src"/scripts/*.py $root/scripts/; echo >>$root/scripts/fresh-system.sh'; do
  [ "$(key_of "$change")" != "$base_key" ] || fail "a kept rebuild would be used again after: $change"
done
[ "$(grep -c "rebuilding commit" "$scratch/verify.log")" = 1 ] || fail "verify-release.sh did not rebuild exactly once"
[ "$(cat "$scratch/mine/stamp" "$scratch/mine/notes/report.odt")" = "$(printf 'a stamp of my own\nkeep me')" ] ||
  fail "verify-release.sh changed a --work folder of the user's"

finish "release run: all checks passed"

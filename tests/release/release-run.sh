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
  -e 's/^Signer-Certificate-SHA256: .*/Signer-Certificate-SHA256: none/' "$out.buildinfo" >"$scratch/unsigned.buildinfo"
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
[ "$(grep -c "rebuilding commit" "$scratch/verify.log")" = 1 ] || fail "verify-release.sh did not rebuild exactly once"
[ "$(cat "$scratch/mine/stamp" "$scratch/mine/notes/report.odt")" = "$(printf 'a stamp of my own\nkeep me')" ] ||
  fail "verify-release.sh changed a --work folder of the user's"

finish "release run: all checks passed"

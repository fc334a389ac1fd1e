#!/bin/bash
# The whole release command on the demo payload, and the check of its result by scripts/verify-release.sh:
#   release-run.sh SOURCE_DIR BOXCTL_EXE SCRATCH_DIR
# (QMT_WINE_STATE: the running Wine prefix.) A fresh zopfli build of a clean copy of the tree, signed with the
# chain of a throwaway three-level CA, must verify offline, pass the release check, report what it made and record
# it in its .buildinfo; the signed setup must still install and start the application under Wine.
# verify-release.sh (one rebuild, reused) accepts it and a re-signed copy, and names the cause for a copy with one
# changed byte and for another payload.
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
commit=$(git -C "$src" rev-parse HEAD)

mkdir -p "$scratch/empty"
out=$scratch/out/Quillmart-Setup.exe
SOURCE_DATE_EPOCH=$(date +%s) bash "$src/scripts/release.sh" --demo --payload "$scratch/empty" \
  --cert "$keys/chain.pem" --key "$keys/signer.key" --ca "$keys/root.pem" --work "$scratch/work" --out "$out" \
  >"$scratch/report.txt" 2>&1 || { cat "$scratch/report.txt"; echo "FAIL: the release run failed"; exit 1; }
cat "$scratch/report.txt" "$out.buildinfo"
demo=$scratch/work/payload/demo
grep -q "^payload         DEMO stand-ins" "$scratch/report.txt" || fail "the report does not say DEMO"
for name in WebView2Loader.dll Quillmart.exe; do
  grep -Eq "^$name +$(wc -c <"$demo/$name") +[0-9]+ +[0-9.]+%  $(sha "$demo/$name")$" "$scratch/report.txt" ||
    fail "the report's line for $name is wrong"
  grep -qx "Payload-File: $name $(wc -c <"$demo/$name") $(sha "$demo/$name")" "$out.buildinfo" ||
    fail "the .buildinfo's line for $name is wrong"
done
grep -q "^signed sha256   $(sha "$out")$" "$scratch/report.txt" || fail "wrong signed SHA-256"
grep -q "^release check   payload intact$" "$scratch/report.txt" || fail "the report lacks the release check"
for line in "Source-Commit: $commit" "Source-Tree: clean" "Build: scripts/release.sh (Release, zopfli)" \
  "Payload: demo stand-ins" "Unsigned-SHA256: $(sha "$scratch/work/src/Quillmart-Setup.exe")" \
  "Signed-SHA256: $(sha "$out")"; do
  grep -qxF "$line" "$out.buildinfo" || fail "the .buildinfo lacks '$line'"
done
osslsigncode verify "${offline[@]}" -CAfile "$keys/root.pem" -in "$out" >/dev/null 2>&1 || fail "the output does not verify"

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

# A third party's check. One byte of the code changed; the signature replaced by another key of the CA; the
# payload files given not the released ones.
cp "$out" "$scratch/changed.exe"
byte=$(od -An -tu1 -j 2000 -N 1 "$out" | tr -d ' ')
printf "\\$(printf '%03o' $(((byte + 1) % 256)))" | dd of="$scratch/changed.exe" bs=1 seek=2000 conv=notrunc 2>/dev/null
osslsigncode remove-signature -in "$out" -out "$scratch/stripped.exe" >/dev/null 2>&1 &&
  osslsigncode sign -certs "$keys/ec-chain.pem" -key "$keys/ec.key" -h sha256 -in "$scratch/stripped.exe" \
    -out "$scratch/resigned.exe" >/dev/null 2>&1 || fail "cannot re-sign the setup"
mkdir -p "$scratch/other"
cp "$demo/WebView2Loader.dll" "$demo/Quillmart.exe" "$scratch/other/"
printf 'x' >>"$scratch/other/Quillmart.exe"
# setup | payload folder | exit status | a part of the verdict
while IFS='|' read -r setup payload status expected; do
  bash "$src/scripts/verify-release.sh" "$setup" "$out.buildinfo" --payload "$payload" --ca "$keys/root.pem" \
    --work "$scratch/verify" >"$scratch/verdict.txt" 2>>"$scratch/verify.log"
  rc=$?
  [ "$rc" = "$status" ] || fail "exit status $rc instead of $status for: $expected"
  [ "$(wc -l <"$scratch/verdict.txt")" = 1 ] || fail "not one verdict line for: $expected"
  grep -qF -- "$expected" "$scratch/verdict.txt" ||
    fail "expected '$expected', got: $(cat "$scratch/verdict.txt")"
  echo "ok:   $(cat "$scratch/verdict.txt")"
done <<EOF_VERIFY
$out|$scratch/empty|0|verify-release: OK: the same bytes as commit $commit (signature removed); signature verified offline against
$scratch/resigned.exe|$scratch/empty|0|revocation not checked (offline); signed otherwise than recorded (re-signed)
$scratch/changed.exe|$scratch/empty|1|verify-release: DIFFERENT: $scratch/changed.exe without its signature differs from commit $commit's rebuild at offset 2000 (0x7d0), in section .text; the rebuild is the recorded unsigned setup, so the file was changed after the release; the signature does not verify: the file's digest does not match its signature: it was changed after signing
$out|$scratch/other|1|verify-release: DIFFERENT: payload file Quillmart.exe in $scratch/other is not the recorded one
EOF_VERIFY
[ "$(grep -c "rebuilding commit" "$scratch/verify.log")" = 1 ] || fail "verify-release.sh did not rebuild exactly once"

finish "release run: all checks passed"

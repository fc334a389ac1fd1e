#!/bin/bash
# scripts/bill-of-materials.py on the built setup and its link map, and on a small program linked twice:
#   bill-of-materials.sh SOURCE_DIR SETUP_EXE PAYLOAD_DIR C_COMPILER RESOURCE_OBJECT SCRATCH_DIR
# The bill must pass the CycloneDX 1.6 schema (tests/release/cyclonedx), list exactly the Debian archives the map
# shows members of, carry the payload files' SHA-512 and the licences given for them, and be the same bytes on a
# second run; a program linked once more with an extra archive that contributes a member has a bill with exactly
# that component more. compare accepts equal bills and names a changed version or hash.
set -euo pipefail
source_dir=$1 setup=$2 payload=$3 cc=$4 resource=$5 scratch=$6
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=SCRIPTDIR/../harness/checks.sh
. "$here/../harness/checks.sh"
rm -rf "$scratch"
mkdir -p "$scratch"
tool=$source_dir/scripts/bill-of-materials.py
validate=$here/cyclonedx/validate.py
export SOURCE_DATE_EPOCH=1796824784

# bill NAME EXE MAP [--payload-license ...]: writes $scratch/NAME.cdx.json and .notices.txt.
bill() {
  local name=$1 exe=$2 map=$3
  shift 3
  /usr/bin/python3 "$tool" write --setup "$exe" --link-map "$map" --payload-dir "$payload" "$@" \
    --bom "$scratch/$name.cdx.json" --notices "$scratch/$name.notices.txt"
}
# component BILL NAME PYTHON: what the Python expression yields for the component NAME (- for the setup) as c;
# sha512(c) is its SHA-512.
component() {
  /usr/bin/python3 -c "import json, sys
b = json.load(open(sys.argv[1]))
c = b['metadata']['component'] if sys.argv[2] == '-' else [c for c in b['components'] if c['name'] == sys.argv[2]][0]
sha512 = lambda c: [h['content'] for h in c['hashes'] if h['alg'] == 'SHA-512'][0]
print($3)" "$1" "$2"
}
# The bill's libraries as "file-name debian-package", sorted.
bill_libraries() {
  /usr/bin/python3 -c "import json, sys
for c in sorted(json.load(open(sys.argv[1]))['components'], key=lambda c: c['name']):
    if c['type'] == 'library' and 'purl' in c:
        print(c['name'], c['purl'].split('/')[2].split('@')[0])" "$1"
}
# The same, read from the map without the tool: every archive of its first section that a Debian package holds.
map_libraries() {
  local map=$1 archive package
  awk '/^Archive member included to satisfy reference/ { f = 1; next }
       f && /^[^ \t]/ { if ($0 !~ /\(/) exit; sub(/\(.*/, ""); print }' "$map" | sort -u |
    while read -r archive; do
      case $archive in /*) ;; *) archive=$(dirname "$map")/$archive ;; esac
      package=$(dpkg -S "$(realpath "$archive")" 2>/dev/null | cut -d: -f1) || continue
      echo "$(basename "$archive") $package"
    done | sort
}

map=${setup%.exe}.map
bill setup "$setup" "$map" --payload-license WebView2Loader.dll=LicenseRef-Test-Vendor
bill again "$setup" "$map" --payload-license WebView2Loader.dll=LicenseRef-Test-Vendor
cat "$scratch/setup.cdx.json"

# The format's own schema.
/usr/bin/python3 "$validate" "$scratch/setup.cdx.json" || fail "the bill does not pass the CycloneDX 1.6 schema"
# The libraries are those of the map.
libraries=$(map_libraries "$map")
[ -n "$libraries" ] || fail "the map names no archive of a Debian package"
listed=$(bill_libraries "$scratch/setup.cdx.json")
[ "$listed" = "$libraries" ] || fail "the bill's libraries are not the map's: ${listed//$'\n'/, } instead of ${libraries//$'\n'/, }"
sha() { sha512sum "$1" | cut -d' ' -f1; }
# Each library has its package's installed version, the setup is named by its own version resource, the setup
# and the payload files have their SHA-512.
# component | Python expression | expected value
while IFS='|' read -r name expression expected; do
  [ "$(component "$scratch/setup.cdx.json" "$name" "$expression")" = "$expected" ] ||
    fail "$name: $expression is not $expected"
done <<EOF
$(while read -r name package; do echo "$name|c['version']|$(dpkg-query -W -f='${Version}' "$package")"; done <<<"$libraries")
-|c['name'] + ' ' + c['version']|Quillmart-Setup 1.0.0
-|sha512(c)|$(sha "$setup")
WebView2Loader.dll|sha512(c)|$(sha "$payload/WebView2Loader.dll")
Quillmart.exe|sha512(c)|$(sha "$payload/Quillmart.exe")
EOF
# Reproducible: a second run gives the same bytes.
cmp -s "$scratch/setup.cdx.json" "$scratch/again.cdx.json" || fail "two runs give different bills"
cmp -s "$scratch/setup.notices.txt" "$scratch/again.notices.txt" || fail "two runs give different notices"
# The notices: every linked package has its section, with the copyright line of its general stanza when its
# copyright file is machine-readable, or is named as not asking for one, which a licence that asks binaries to
# reproduce its notice must not be.
while read -r name package; do
  copyright=/usr/share/doc/$package/copyright
  if grep -q "^$package .*: .*$name" "$scratch/setup.notices.txt"; then
    line=$(awk '/^Files: \*$/ { f = 1 } f && /^Copyright:/ { print; exit }' "$copyright")
    [ -z "$line" ] || grep -qxF "$line" "$scratch/setup.notices.txt" || fail "the notices lack $package's '$line'"
  elif grep -q "binary form must reproduce" "$copyright"; then
    fail "the notices have no section for $name, whose licence asks binaries to reproduce its notice"
  else
    grep -q "^Licences that do not ask for their notice in a binary: .*$name (" "$scratch/setup.notices.txt" ||
      fail "the notices say nothing about $name"
  fi
done <<<"$libraries"

# Licences of the payload: given, or the defaults.
# --payload-license | WebView2Loader.dll | Quillmart.exe
while IFS='|' read -r given dll exe; do
  bill licence "$setup" "$map" ${given:+--payload-license "$given"}
  for name in WebView2Loader.dll Quillmart.exe; do
    got=$(component "$scratch/licence.cdx.json" "$name" "c['licenses'][0]['expression']")
    want=$dll
    [ "$name" = WebView2Loader.dll ] || want=$exe
    [ "$got" = "$want" ] || fail "$name's licence after --payload-license '$given' is $got, not $want"
  done
done <<'EOF'
|NOASSERTION|LicenseRef-Proprietary
WebView2Loader.dll=LicenseRef-Test-Vendor|LicenseRef-Test-Vendor|LicenseRef-Proprietary
Quillmart.exe=MIT OR Apache-2.0|NOASSERTION|MIT OR Apache-2.0
EOF

# A planted link: a small program with the setup's version resource, linked once as it is and once with zlib's
# archive pulled in by an undefined reference. The second bill has exactly one component more: that archive.
printf 'int main(void) { return 0; }\n' >"$scratch/program.c"
"$cc" -static -O2 "$scratch/program.c" "$resource" -o "$scratch/plain.exe" -Wl,-Map="$scratch/plain.map"
"$cc" -static -O2 "$scratch/program.c" "$resource" -o "$scratch/planted.exe" -Wl,-Map="$scratch/planted.map" \
  -Wl,--undefined=zlibVersion -lz
grep -q '^[^ ]*libz\.a(' "$scratch/planted.map" || fail "the planted link took nothing from libz.a"
bill plain "$scratch/plain.exe" "$scratch/plain.map"
bill planted "$scratch/planted.exe" "$scratch/planted.map"
added=$(comm -13 <(bill_libraries "$scratch/plain.cdx.json") <(bill_libraries "$scratch/planted.cdx.json"))
removed=$(comm -23 <(bill_libraries "$scratch/plain.cdx.json") <(bill_libraries "$scratch/planted.cdx.json"))
planted=$(comm -13 <(map_libraries "$scratch/plain.map") <(map_libraries "$scratch/planted.map"))
if ! { [ "$added" = "$planted" ] && [ "${added%% *}" = libz.a ] && [ -z "$removed" ]; }; then
  fail "the planted link's bill differs by '$added' (added) and '$removed' (removed) instead of libz.a alone"
fi
/usr/bin/python3 "$validate" "$scratch/planted.cdx.json" >/dev/null || fail "the planted bill does not pass the schema"

# compare: the same bills, a re-signed setup, a changed version or hash, something that is no bill.
edit() {
  /usr/bin/python3 -c "import json, sys; b = json.load(open(sys.argv[1])); $2
json.dump(b, open(sys.argv[2], 'w'))" "$scratch/setup.cdx.json" "$scratch/$1"
}
edit resigned.json "b['metadata']['component']['hashes'][0]['content'] = '0' * 128"
edit version.json "[c.update(version='9.9') for c in b['components'] if c['name'] == 'libz.a']"
edit hash.json "[h.update(content='0' * len(h['content'])) for c in b['components'] if c['name'] == 'Quillmart.exe' for h in c['hashes']]"
# The schema check itself rejects a bill with a licence id that is not SPDX's (a reference to the SPDX schema).
edit invalid.json "b['components'][0]['licenses'] = [{'license': {'id': 'Not-An-SPDX-Id'}}]"
! /usr/bin/python3 "$validate" "$scratch/invalid.json" >/dev/null || fail "the schema check accepts an unknown licence id"
components=$(($(echo "$libraries" | wc -l) + 2))
# options | rebuilt bill | exit status | a part of the verdict
while IFS='|' read -r options rebuilt status expected; do
  rc=0
  read -ra extra <<<"$options"
  /usr/bin/python3 "$tool" compare ${extra[@]+"${extra[@]}"} "$scratch/setup.cdx.json" "$rebuilt" \
    >"$scratch/verdict.txt" 2>&1 || rc=$?
  if ! { [ "$rc" = "$status" ] && [ "$(wc -l <"$scratch/verdict.txt")" = 1 ] &&
    grep -qF "$expected" "$scratch/verdict.txt"; }; then
    fail "compare with $rebuilt: exit $rc, '$(cat "$scratch/verdict.txt")' instead of $status, '$expected'"
  fi
done <<EOF
|$scratch/again.cdx.json|0|SAME: $components components with the same names, versions and hashes; the setup's hashes are the same too
|$scratch/resigned.json|0|SAME: $components components with the same names, versions and hashes; the setup's own hashes differ
--setup $setup|$scratch/resigned.json|0|SAME: $components components with the same names, versions and hashes; the setup's hashes are those of $(basename "$setup")
--setup $map|$scratch/again.cdx.json|2|the bill was made for another setup: it names sha256 $(sha256sum "$setup" | cut -d' ' -f1), the setup's is $(sha256sum "$map" | cut -d' ' -f1)
|$scratch/version.json|1|DIFFERENT: libz.a has version
|$scratch/hash.json|1|DIFFERENT: Quillmart.exe's SHA-512 is
|$scratch/planted.cdx.json|1|DIFFERENT:
|$scratch/setup.notices.txt|2|the bill is malformed: $scratch/setup.notices.txt: not JSON
|$scratch/missing.json|2|cannot read $scratch/missing.json
EOF
rc=0
/usr/bin/python3 "$tool" compare "$scratch/plain.cdx.json" "$scratch/planted.cdx.json" >"$scratch/verdict.txt" || rc=$?
if ! { [ "$rc" = 1 ] && grep -q "DIFFERENT: component libz.a is only in the rebuild's bill" "$scratch/verdict.txt"; }; then
  fail "compare does not name the planted library: $(cat "$scratch/verdict.txt")"
fi

# Refusals: one line naming the cause, nothing written.
# environment | argument | a part of the message
while IFS='|' read -r environment argument expected; do
  rc=0
  rm -f "$scratch/refused.cdx.json"
  # shellcheck disable=SC2086 # an empty field is no word, "-u NAME" two
  env $environment /usr/bin/python3 "$tool" write --setup "$setup" --link-map "$map" --payload-dir "$payload" \
    $argument --bom "$scratch/refused.cdx.json" --notices "$scratch/refused.txt" 2>"$scratch/refusal.txt" || rc=$?
  if ! { [ "$rc" = 1 ] && [ "$(wc -l <"$scratch/refusal.txt")" = 1 ] && grep -qF "$expected" "$scratch/refusal.txt" &&
    [ ! -e "$scratch/refused.cdx.json" ]; }; then
    fail "write with '$environment $argument': exit $rc, '$(cat "$scratch/refusal.txt")'"
  fi
done <<EOF
-u SOURCE_DATE_EPOCH||SOURCE_DATE_EPOCH is not set
SOURCE_DATE_EPOCH=yesterday||SOURCE_DATE_EPOCH is not a number
|--payload-license=Other.dll=MIT|NAME one of WebView2Loader.dll, Quillmart.exe
|--link-map=$scratch/setup.notices.txt|is not a GNU ld map
EOF
finish "bill of materials: validated, the map's $(echo "$libraries" | wc -l) libraries, reproducible, planted link found"

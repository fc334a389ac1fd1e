#!/bin/sh
# Checks the shape of the built setup executable:  check-exe.sh EXE SOURCE_DIR BUILD_DIR
#
# PE32+ for x86-64, GUI subsystem, exactly the imports of setup-imports.txt (from KERNEL32, ntdll and the system C
# runtime; user32 is loaded at run time, only when a message box is shown), its size without the payload streams
# (<BUILD_DIR>/payload/streams.tsv) under the ceiling, stripped (no .debug sections, no symbols), link time stamp 0,
# no manifest among the resources, its read-only data at a page boundary of the file, and neither the source nor
# the build folder's path inside.
set -u
exe=$1 source_dir=$2 build_dir=$3
imports_list=$(dirname "$0")/setup-imports.txt
# The setup without its streams: 76,680 bytes from MinGW g++ 12 (Debian 12), 76,760 from g++ 14 (Debian 13). A
# library that comes along unnoticed (the C++ exception runtime, a thread library, stdio) adds several KiB.
size_ceiling=78848 # 77 KiB
objdump=x86_64-w64-mingw32-objdump
. "$(dirname "$0")/../harness/checks.sh"
pass() { echo "ok:   $*"; }

[ -f "$exe" ] || { echo "FAIL: $exe does not exist"; exit 1; }
headers=$("$objdump" -p "$exe") || { echo "FAIL: objdump cannot read $exe"; exit 1; }

echo "$headers" | grep -q "file format pei-x86-64" && pass "x86-64 image" || fail "not a pei-x86-64 image"
echo "$headers" | grep -Eq "^Magic[[:space:]]+020b" && pass "PE32+ optional header" || fail "optional header is not PE32+"
echo "$headers" | grep -Eq "^Subsystem[[:space:]]+00000002" && pass "GUI subsystem" || fail "subsystem is not 2 (GUI)"

# Imported functions, including delay-loaded ones, as "dll function" with the DLL's name in lower case: objdump
# prints each DLL's name, then one line per function ending in its name (binutils 2.40: address, hint, name; 2.44:
# address, ordinal, hint, name), then an empty line.
imported=$(echo "$headers" | tr -d '\r' | awk '
  /^\tDLL Name:/ { dll = tolower($3); next }
  /^$/ { dll = "" }
  dll != "" && /^\t[0-9a-f]+[ \t]/ { print dll, $NF }' | sort -u)
expected=$(awk '!/^#/ && NF == 2 { print tolower($1), $2 }' "$imports_list" | sort -u)
[ -n "$expected" ] || fail "$imports_list lists no import"
if [ -z "$imported" ]; then
  fail "no imported function found (objdump output not understood)"
else
  # Lines only in the executable's list are extra, lines only in the expected one are missing.
  extra=$(printf '%s\n%s\n%s\n' "$expected" "$expected" "$imported" | sort | uniq -u)
  missing=$(printf '%s\n%s\n%s\n' "$imported" "$imported" "$expected" | sort | uniq -u)
  while read -r dll function; do
    [ -z "$dll" ] || fail "imports $function from $dll, which setup-imports.txt does not list"
  done <<EOF
$extra
EOF
  while read -r dll function; do
    [ -z "$dll" ] || fail "does not import $function from $dll, which setup-imports.txt lists"
  done <<EOF
$missing
EOF
  [ -n "$extra$missing" ] || pass "imports exactly the $(echo "$imported" | wc -l) functions of setup-imports.txt"
fi

# The size without the payload streams: the file's size less each stream's compressed size.
tsv=$build_dir/payload/streams.tsv
if [ -f "$tsv" ]; then
  streams=$(awk -F '\t' '$2 ~ /^[0-9]+$/ { s += $2 } END { print s + 0 }' "$tsv")
  own=$(($(wc -c <"$exe") - streams))
  if [ "$own" -le "$size_ceiling" ]; then
    pass "$own bytes without its streams (ceiling $size_ceiling)"
  else
    fail "$own bytes without its streams, more than the ceiling of $size_ceiling"
  fi
else
  fail "$tsv does not exist, so the size without the streams is unknown"
fi

sections=$("$objdump" -h "$exe")
# The read-only data (the payload streams) starts at a page boundary of the file, so Wine maps it from the file
# instead of reading it into memory at the start (cmake/page-aligned-rdata.ld).
rdata_offset=$(echo "$sections" | awk '$2 == ".rdata" { print $6 }')
if [ -n "$rdata_offset" ] && [ $((0x$rdata_offset % 4096)) = 0 ]; then
  pass ".rdata starts at a page boundary of the file"
else
  fail ".rdata starts at file offset 0x$rdata_offset, not at a page boundary"
fi
if echo "$sections" | grep -q '\.debug'; then fail "has .debug sections"; else pass "no .debug sections"; fi
if "$objdump" -t "$exe" 2>/dev/null | grep -q '^\['; then fail "has a symbol table"; else pass "no symbols"; fi

# The COFF header's TimeDateStamp: 4 bytes, 8 bytes after the "PE\0\0" signature whose offset is at 0x3C.
pe_offset=$(od -An -tu4 -j60 -N4 "$exe" | tr -d ' ')
stamp=$(od -An -tu4 -j$((pe_offset + 8)) -N4 "$exe" | tr -d ' ')
[ "$stamp" = 0 ] && pass "link time stamp 0" || fail "link time stamp is $stamp"
if echo "$headers" | grep -Eq "Time: [0-9a-f]*[1-9a-f]"; then fail "a resource directory has a time stamp"; fi

# Resource types are the entries of the top level of the resource directory; 0x18 (24) is RT_MANIFEST.
types=$(echo "$headers" | sed -n '/Resource Directory section/,$p' | sed -n 's/^[0-9a-f]*   Entry: ID: 0x\([0-9a-f]*\),.*/\1/p')
[ -n "$types" ] || fail "no resources found"
for t in $types; do
  [ "$((0x$t))" = 24 ] && fail "has a manifest resource"
done
if grep -aq "urn:schemas-microsoft-com:asm" "$exe"; then fail "holds manifest text"; else pass "no manifest"; fi

for dir in "$source_dir" "$build_dir"; do
  if grep -aqF "$dir" "$exe"; then fail "holds the path $dir"; else pass "does not hold $dir"; fi
done

[ "$failures" = 0 ] || { echo "$failures check(s) failed for $exe"; exit 1; }
echo "all checks passed for $exe"

#!/bin/bash
# The release command under Debian's variation tester: release-reprotest.sh SOURCE_DIR SCRATCH_DIR
# reprotest builds a demo release of a copy of the tree twice, the second time with another build path, time
# zone, locale, umask, user and group (nobody:nogroup), home folder, number of CPUs, environment (the caller's
# CXXFLAGS=-march=haswell and CFLAGS among it) and executable path, and compares what the two wrote: the setup
# and its .buildinfo must be the same byte for byte. The clock and file ordering are left alone (they need
# faketime and a FUSE file system, which the release build does not read anyway: SOURCE_DATE_EPOCH is given).
set -u
source_dir=$1 scratch=$2
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$scratch"
. "$here/sources.sh"
. "$here/../harness/checks.sh"
copy_sources "$source_dir" "$scratch/src"
mkdir -p "$scratch/src/empty"
command -v reprotest >/dev/null || { echo "FAIL: reprotest is missing (scripts/install-deps.sh installs it)"; exit 1; }

# reprotest calls "sudo -h localhost", which sudo 1.9.13 and newer refuse; a shim before it on PATH drops "-h".
mkdir -p "$scratch/bin"
# shellcheck disable=SC2016 # the shim expands its own arguments
printf '#!/bin/sh\n[ "$1" = -h ] && [ "$2" = localhost ] && shift 2\nexec /usr/bin/sudo "$@"\n' >"$scratch/bin/sudo"
chmod +x "$scratch/bin/sudo"
export PATH="$scratch/bin:$PATH"

variations=-all,+build_path,+timezone,+locales,+umask,+home,+num_cpus,+exec_path,+environment
variations+=,+user_group,user_group.available+=nobody:nogroup
variations+=,environment.variables+=CXXFLAGS=-march=haswell,environment.variables+=CFLAGS=-O0
build='SOURCE_DATE_EPOCH=1700000000 bash scripts/release.sh --demo --unsigned --payload empty --work work --out out/Quillmart-Setup.exe'
(cd "$scratch/src" && reprotest --variations="$variations" --store-dir "$scratch/artifacts" \
  "$build" 'out/Quillmart-Setup.exe*' -- null) >"$scratch/reprotest.log" 2>&1
status=$?
tail -n 20 "$scratch/reprotest.log"
[ "$status" = 0 ] || fail "reprotest found a difference or could not build (status $status); its log: $scratch/reprotest.log"
grep -q "^Reproduction successful" "$scratch/reprotest.log" || fail "reprotest did not report a successful reproduction"
finish "reprotest: the release is the same under every variation"

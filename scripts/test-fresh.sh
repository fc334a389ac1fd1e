#!/usr/bin/env bash
# Proves the README's two commands where our users run them, and that a release can be checked from the other
# supported release: for each Debian release asked for, makes a fresh minimal system (scripts/fresh-system.sh: its
# own mount and PID namespaces, nothing of the host's mounted into it), puts a clean clone of the current commit in
# it, and runs `bash scripts/build.sh` and `bash scripts/test.sh` there exactly as written: as root in Debian 12,
# as an ordinary user with sudo in Debian 13. With both releases it then makes a signed release in each system and
# verifies each from the other one (rebuilt in a fresh system of the release it was made on), and runs the
# toolchain rows of the verification (tests/release/fresh-rebuild.sh). It prints one table: the Debian, Wine, MinGW
# g++ and osslsigncode versions, both commands' exit status and time, the test summary and the SHA-256 of the demo
# setup. Everything it made is removed at the end, also after a failure or Ctrl-C; the logs are kept in a folder
# of root's. Exits non-zero when anything failed. Needs root and the Debian archive.
#
#   bash scripts/test-fresh.sh [--] [12|13|all]      (default: all)
#
# QMT_FRESH_CACHE  folder of the cached stock base systems, remade after a week (default /var/cache/quillmart-fresh);
#                  it must be a folder of root's that no one else can write
# QMT_FRESH_LOGS   folder for the logs, the same rules (default: a new folder /var/tmp/quillmart-fresh-logs.XXXXXX)
# QMT_FRESH_MIRROR the Debian archive to bootstrap from (default: Debian's own, with its updates and security)
set -euo pipefail
script_name=test-fresh die_status=1
repo=$(cd -- "$(dirname -- "$0")/.." && pwd -P)
. "$repo/scripts/release-common.sh"
. "$repo/scripts/fresh-system.sh"

usage() { sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; }
option_table=("--help help -")
cache=${QMT_FRESH_CACHE:-/var/cache/quillmart-fresh}
mirror=${QMT_FRESH_MIRROR:-}
# The README promises both: run as root, or as a user with sudo. This release's system runs them as "builder".
sudo_release=13

read_arguments() {
  parse_options "$@"
  [ ${#positional[@]} -le 1 ] || die "usage: bash scripts/test-fresh.sh [12|13|all]"
  case ${positional[0]:-all} in
    12) versions=(12) ;;
    13) versions=(13) ;;
    all) versions=(12 13) ;;
    *) die "usage: bash scripts/test-fresh.sh [12|13|all]" ;;
  esac
}

preflight() {
  [ "$(id -u)" -eq 0 ] || die "must run as root: it bootstraps systems and mounts /proc and /dev inside them"
  command -v git >/dev/null || die "git is missing"
  command -v unshare >/dev/null || die "unshare is missing (util-linux)"
  commit=$(git_or_die "$repo is not a git checkout with a commit" -C "$repo" rev-parse HEAD)
  if ! command -v mmdebstrap >/dev/null; then
    command -v apt-get >/dev/null || die "mmdebstrap is missing and this is no Debian system to install it on"
    echo "test-fresh: installing mmdebstrap"
    { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends mmdebstrap; } \
      >/dev/null || die "could not install mmdebstrap (apt-get install mmdebstrap)"
  fi
  if [ -n "${QMT_FRESH_LOGS:-}" ]; then
    logs=$(canonical "$QMT_FRESH_LOGS")
    fresh_root_folder "$logs" "log folder"
  else
    logs=$(mktemp -d /var/tmp/quillmart-fresh-logs.XXXXXX)
  fi
  fresh_root_folder "$cache" "cache folder"
  work=$(mktemp -d /var/tmp/quillmart-fresh.XXXXXX)
  trap cleanup EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  # Refuse at once, rather than after minutes, when the packages cannot be had.
  local archive=${mirror:-http://deb.debian.org/debian} v url
  for v in "${versions[@]}"; do
    url=$archive/dists/$(fresh_codename "$v")/InRelease
    timeout 60 /usr/lib/apt/apt-helper download-file "$url" "$work/InRelease" >/dev/null 2>&1 ||
      die "the Debian archive cannot be reached ($url): the fresh systems need its packages"
  done
  [ -z "$(git -C "$repo" status --porcelain --untracked-files=no)" ] ||
    echo "test-fresh: note: uncommitted changes are not tested; the fresh systems get commit $commit"
  git -C "$repo" bundle create -q "$work/quillmart.bundle" HEAD 2>/dev/null ||
    git_or_die "cannot bundle commit $commit" -C "$repo" bundle create "$work/quillmart.bundle" HEAD >/dev/null
}

# shellcheck disable=SC2317 # run by the EXIT trap
cleanup() {
  local v
  for v in ${versions[@]+"${versions[@]}"}; do fresh_remove "$work/debian-$v" || return 0; done
  rm -rf --one-file-system -- "$work"
}

# user_of VERSION / checkout_of VERSION: who runs the README's commands in that system, and where its clone is.
user_of() { if [ "$1" = "$sudo_release" ]; then echo builder; else echo root; fi; }
checkout_of() { if [ "$1" = "$sudo_release" ]; then echo /home/builder/quillmart; else echo /root/quillmart; fi; }

# as_user VERSION COMMAND...: COMMAND (a program and its arguments) in that system's checkout, as its user.
as_user() {
  local root=$work/debian-$1 user checkout
  user=$(user_of "$1") checkout=$(checkout_of "$1")
  shift
  # shellcheck disable=SC2016 # the system's shell expands it
  fresh_run "$root" runuser -u "$user" -- /usr/bin/env HOME="$(dirname "$checkout")" USER="$user" LOGNAME="$user" \
    /bin/sh -c 'cd "$1" && shift && exec "$@"' as-user "$checkout" "$@"
}

# prepare_system VERSION: the stock base, the user (for the sudo release) and a clone of the commit, all made
# from inside the system; the commit comes in as a git bundle through a pipe.
prepare_system() {
  local v=$1 root=$work/debian-$1 tar user
  tar=$(fresh_base "$v" "$cache" "$logs/debian-$v-bootstrap.log" "$mirror")
  fresh_unpack "$tar" "$root"
  user=$(user_of "$v")
  fresh_run "$root" /bin/sh -c 'cat >/tmp/quillmart.bundle && chmod 644 /tmp/quillmart.bundle' \
    <"$work/quillmart.bundle"
  if [ "$user" != root ]; then
    # shellcheck disable=SC2016 # the system's shell expands it
    fresh_run "$root" /bin/sh -c 'useradd -m -s /bin/bash "$1" &&
      echo "$1 ALL=(ALL:ALL) NOPASSWD: ALL" >"/etc/sudoers.d/$1" && chmod 440 "/etc/sudoers.d/$1"' add-user "$user" \
      </dev/null
  fi
  fresh_run "$root" runuser -u "$user" -- git clone -q /tmp/quillmart.bundle "$(checkout_of "$v")" </dev/null
}

# timed VERSION LOG COMMAND...: runs a README command in the system's checkout as its user; prints "status seconds".
timed() {
  local v=$1 log=$2 start rc=0
  shift 2
  start=$(date +%s)
  as_user "$v" "$@" >"$log" 2>&1 </dev/null || rc=$?
  echo "$rc $(($(date +%s) - start))"
}

declare -A row
total_passed=0 total_failed=0 failed=0
run_readme() {
  local v=$1 root=$work/debian-$1 build_rc build_s test_rc test_s sha tests
  echo "test-fresh: Debian $v: bash scripts/build.sh as $(user_of "$v") (log $logs/debian-$v-build.log)"
  read -r build_rc build_s < <(timed "$v" "$logs/debian-$v-build.log" bash scripts/build.sh)
  sha=$(as_user "$v" sha256sum build/windows/src/Quillmart-Setup.exe </dev/null 2>/dev/null | cut -c1-64)
  echo "test-fresh: Debian $v: bash scripts/test.sh as $(user_of "$v") (log $logs/debian-$v-test.log)"
  read -r test_rc test_s < <(timed "$v" "$logs/debian-$v-test.log" bash scripts/test.sh)
  local debian wine gxx osc
  debian=$(fresh_run "$root" cat /etc/debian_version </dev/null)
  wine=$(fresh_run "$root" sh -c 'wine --version || wine64 --version' </dev/null 2>/dev/null | head -n 1 | awk '{print $1}')
  # shellcheck disable=SC2016 # dpkg-query's own format
  gxx=$(fresh_run "$root" dpkg-query -W -f='${Version}' g++-mingw-w64-x86-64-posix </dev/null 2>/dev/null || echo "?")
  osc=$(fresh_run "$root" osslsigncode --version </dev/null 2>/dev/null | head -n 1 | awk '{print $2}' | tr -d ,)
  tests=$(grep -E '^Total: [0-9]+ passed, [0-9]+ failed' "$logs/debian-$v-test.log" | tail -n 1 | sed 's/^Total: //' || true)
  [ -n "$tests" ] || tests="no summary"
  # A run fails on its summary too, not only on the commands' status: a test.sh whose log has no summary, or counts
  # failed tests, proved nothing even when it exited 0.
  if [[ $tests =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed ]]; then
    total_passed=$((total_passed + BASH_REMATCH[1])) total_failed=$((total_failed + BASH_REMATCH[2]))
    [ "${BASH_REMATCH[2]}" = 0 ] || failed=1
  else
    total_failed=$((total_failed + 1)) failed=1
  fi
  [ "$build_rc" = 0 ] && [ "$test_rc" = 0 ] || failed=1
  row[$v]=$(printf '%-9s %-8s %-7s %-10s %-26s %-12s %-11s %-11s %-21s %s' "Debian $v" "$(user_of "$v")" "$debian" \
    "${wine:-?}" "$gxx" "${osc:-?}" "$build_rc (${build_s}s)" "$test_rc (${test_s}s)" "$tests" "${sha:-(not built)}")
  grep -E '^(native|windows|fuzz) +(passed|tests failed|configure failed|build failed)' "$logs/debian-$v-test.log" |
    sed "s/^/Debian $v: /" >"$work/summary-$v" || true
  if [ "$build_rc" != 0 ]; then echo "--- Debian $v: end of build.sh's log"; tail -n 40 "$logs/debian-$v-build.log"; fi
  if [ "$test_rc" != 0 ]; then
    echo "--- Debian $v: what failed in test.sh"
    grep -E -A 30 'The following tests FAILED|configure failed|build failed|Error [0-9]' "$logs/debian-$v-test.log" |
      tail -n 60 || true
  fi
}

# as_verifier VERSION COMMAND...: COMMAND (a program and its arguments) as that system's user verifier, an
# ordinary user without sudo, in its clone.
as_verifier() {
  local root=$work/debian-$1
  shift
  # shellcheck disable=SC2016 # the system's shell expands it
  fresh_run "$root" runuser -u verifier -- /usr/bin/env HOME=/home/verifier USER=verifier LOGNAME=verifier \
    /bin/sh -c 'cd /home/verifier/quillmart && exec "$@"' as-verifier "$@"
}

# prepare_verifier VERSION: the user verifier in that system, with subordinate ids for the fresh systems it makes
# (useradd gives them when the system has /etc/subuid; otherwise they are added), a clone of its own, both releases
# and both cached base systems in its own cache, so that it bootstraps nothing.
prepare_verifier() {
  local v=$1 other
  # shellcheck disable=SC2016 # the system's shell expands it
  fresh_run "$work/debian-$v" /bin/sh -c 'useradd -m -s /bin/bash verifier &&
    { grep -q "^verifier:" /etc/subuid && grep -q "^verifier:" /etc/subgid ||
      usermod --add-subuids 100000-165535 --add-subgids 100000-165535 verifier; }' </dev/null || return 1
  fresh_run "$work/debian-$v" runuser -u verifier -- git clone -q /tmp/quillmart.bundle /home/verifier/quillmart \
    </dev/null || return 1
  # shellcheck disable=SC2016 # the system's shell expands it
  as_verifier "$v" /bin/sh -c 'mkdir -p -m 700 "$HOME/.cache/quillmart-fresh" && tar -C "$HOME/.cache/quillmart-fresh" -xf -' \
    < <(tar -C "$cache" -cf - debian-12.tar debian-13.tar) || return 1
  for other in 12 13; do
    [ -s "$work/cross-$other.tar" ] || continue
    # shellcheck disable=SC2016 # the system's shell expands it
    as_verifier "$v" /bin/sh -c 'mkdir -p "$1" && tar -C "$1" -xf -' copy-in "/home/verifier/cross-$other" \
      <"$work/cross-$other.tar" || return 1
  done
}

# cross_pass KEY TEXT / cross_fail KEY TEXT: the cross-release row KEY, counted in the total; a failed one also
# fails the run. Each row has a key of its own, so that no later row hides a failure.
cross_pass() { cross[$1]=$2 total_passed=$((total_passed + 1)); }
cross_fail() { cross[$1]="FAILED: $2" total_failed=$((total_failed + 1)) failed=1; }

# attestation_rows: each system's verifier attested the other release after its check; both envelopes and both
# public keys go to each system, where a threshold check over them passes for each setup (and cosign, Debian's
# package, installed in the Debian 13 system, reads that system's own envelope).
attestation_rows() {
  local v other
  mkdir -p "$work/attestations"
  : >"$work/attest-keys.pem"
  for v in 12 13; do
    as_verifier "$v" cat /home/verifier/attestation.json </dev/null >"$work/attestations/debian-$v.json" 2>/dev/null &&
      as_verifier "$v" cat /home/verifier/attest.pub </dev/null >>"$work/attest-keys.pem" 2>/dev/null ||
      { cross_fail "attest-$v" "Debian $v's verifier wrote no attestation"; return; }
  done
  fresh_run "$work/debian-13" /bin/sh -c 'apt-get install -y -q --no-install-recommends cosign' </dev/null \
    >"$logs/debian-13-cosign.log" 2>&1 ||
    cross_fail cosign-install "cosign could not be installed (log $logs/debian-13-cosign.log)"
  for v in 12 13; do
    other=$((25 - v))
    # shellcheck disable=SC2016 # the system's shell expands it
    as_verifier "$v" /bin/sh -c 'mkdir -p "$HOME/attestations" && tar -C "$HOME" -xf -' copy-in \
      < <(tar -C "$work" -cf - attestations attest-keys.pem) ||
      { cross_fail "threshold-$v" "the attestations could not be copied into Debian $v's system"; continue; }
    echo "test-fresh: Debian $v: the threshold check over both attestations (log $logs/debian-$v-threshold.log)"
    if as_verifier "$v" bash tests/release/fresh-rebuild.sh threshold "/home/verifier/cross-$v" \
        /home/verifier/attestations /home/verifier/attest-keys.pem "/home/verifier/cross-$other/Quillmart-Setup.exe" \
        </dev/null >"$logs/debian-$v-threshold.log" 2>&1; then
      cross_pass "threshold-$v" "Debian $v's release attested by the other system's rebuilder"
    else
      cross_fail "threshold-$v" "the threshold check (log $logs/debian-$v-threshold.log)"
    fi
    grep -E '^(ok|FAIL)' "$logs/debian-$v-threshold.log" || true
  done
  if grep -q "^ok:   cosign" "$logs/debian-13-threshold.log" 2>/dev/null; then
    cross_pass cosign "cosign read the Debian 13 system's own attestation"
  else
    cross_fail cosign "cosign did not read the attestation (log $logs/debian-13-threshold.log)"
  fi
}

# cross_check: a signed release made in each system, checked from the other one by its user verifier (no root, no
# sudo), where it is rebuilt in a user-namespace fresh system of the release it was made on; then the rows that need
# a fresh rebuild (tests/release/fresh-rebuild.sh), and in each system the escape row as root and as verifier.
cross_check() {
  local v other who
  # Debian 12's release is signed outside the release command and taken back (--adopt); Debian 13's is signed by it.
  local -A signing=([12]=adopt [13]=sign)
  for v in 12 13; do
    echo "test-fresh: Debian $v: a signed release of the signed demo payload, ${signing[$v]} (log $logs/debian-$v-release.log)"
    # A release that cannot be copied out is no release: the rows that need it are skipped, this one counts.
    as_user "$v" bash tests/release/fresh-rebuild.sh release "/tmp/cross-$v" "${signing[$v]}" \
      >"$logs/debian-$v-release.log" 2>&1 \
      </dev/null && as_user "$v" tar -C "/tmp/cross-$v" -cf - . </dev/null >"$work/cross-$v.tar" ||
      { rm -f "$work/cross-$v.tar"; cross_fail "release-$v" "Debian $v's release (log $logs/debian-$v-release.log)"; }
  done
  for v in 12 13; do
    prepare_verifier "$v" >"$logs/debian-$v-verifier.log" 2>&1 ||
      cross_fail "verifier-$v" "the user verifier could not be prepared (log $logs/debian-$v-verifier.log)"
  done
  for v in 12 13; do
    other=$((25 - v))
    [ -s "$work/cross-$other.tar" ] || continue
    echo "test-fresh: Debian $v: checking Debian $other's release as verifier (log $logs/debian-$v-verifies-$other.log)"
    if as_verifier "$v" bash tests/release/fresh-rebuild.sh verify "/home/verifier/cross-$other" \
        </dev/null >"$logs/debian-$v-verifies-$other.log" 2>&1; then
      cross_pass "verify-$v" "Debian $v verified Debian $other's release"
    else
      cross_fail "verify-$v" "Debian $v checking Debian $other's release (log $logs/debian-$v-verifies-$other.log)"
    fi
    grep -E '^(ok|FAIL)' "$logs/debian-$v-verifies-$other.log" || true
  done
  attestation_rows
  echo "test-fresh: Debian 12: the toolchain rows as verifier (log $logs/debian-12-toolchain.log)"
  if as_verifier 12 bash tests/release/fresh-rebuild.sh toolchain /home/verifier/cross-12 \
      </dev/null >"$logs/debian-12-toolchain.log" 2>&1; then
    cross_pass toolchain "a version not to be had named; the same through a local mirror verified"
  else
    cross_fail toolchain "the toolchain rows (log $logs/debian-12-toolchain.log)"
  fi
  grep -E '^(ok|FAIL)' "$logs/debian-12-toolchain.log" || true
  for v in 12 13; do
    for who in root verifier; do
      echo "test-fresh: Debian $v: the escape row as $who (log $logs/debian-$v-escape-$who.log)"
      if escape_as "$v" "$who" >"$logs/debian-$v-escape-$who.log" 2>&1 </dev/null; then
        cross_pass "escape-$v-$who" "the system's root stayed inside"
      else
        cross_fail "escape-$v-$who" "the escape row (log $logs/debian-$v-escape-$who.log)"
      fi
      grep -E '^(ok|FAIL)' "$logs/debian-$v-escape-$who.log" || true
    done
  done
}

# escape_as VERSION WHO: the escape row in that system as its root (from the verifier's clone, with the base system
# in root's cache) or as verifier, each in a folder of its own.
escape_as() {
  if [ "$2" = root ]; then
    # shellcheck disable=SC2016 # the system's shell expands it
    fresh_run "$work/debian-$1" /bin/sh -c 'mkdir -p -m 755 /var/cache/quillmart-fresh &&
      cp -p "/home/verifier/.cache/quillmart-fresh/debian-$1.tar" /var/cache/quillmart-fresh/ && rm -rf /root/escape &&
      mkdir /root/escape && cd /home/verifier/quillmart && exec bash tests/release/fresh-rebuild.sh escape /root/escape' \
      escape "$1"
  else
    # shellcheck disable=SC2016 # the system's shell expands it
    as_verifier "$1" /bin/sh -c 'rm -rf "$HOME/escape" && mkdir "$HOME/escape" &&
      exec bash tests/release/fresh-rebuild.sh escape "$HOME/escape"'
  fi
}

main() {
  read_arguments "$@"
  preflight
  local v key
  for v in "${versions[@]}"; do prepare_system "$v"; done
  for v in "${versions[@]}"; do run_readme "$v"; done
  declare -gA cross=()
  [ ${#versions[@]} -lt 2 ] || cross_check
  echo
  echo "=== Fresh systems (logs in $logs)"
  printf '%-9s %-8s %-8s %-10s %-26s %-12s %-11s %-11s %-21s %s\n' release user debian wine "mingw g++" \
    osslsigncode "build.sh" "test.sh" "tests" "demo setup SHA-256"
  for v in "${versions[@]}"; do echo "${row[$v]}"; done
  echo
  cat "$work"/summary-* 2>/dev/null || true
  # The rows in the order of their keys, the same in every run.
  while read -r key; do
    [ -z "$key" ] || echo "cross-release $key: ${cross[$key]}"
  done < <(printf '%s\n' "${!cross[@]}" | LC_ALL=C sort)
  echo "Total: $total_passed passed, $total_failed failed"
  exit "$failed"
}

# Sourced (by its tests, with stand-ins for the systems), it only defines its functions.
[ "${BASH_SOURCE[0]}" != "$0" ] || main "$@"

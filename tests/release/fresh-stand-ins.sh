#!/usr/bin/env bash
# The promises of the fresh systems and of the CI run, held in seconds with stand-ins instead of Debian systems:
#   - a command running in a fresh system (scripts/fresh-system.sh: fresh_run, fresh_remove) has /proc, /sys, /dev,
#     /dev/pts and /dev/shm mounted where only it sees them: none shows on the host while it runs, nothing is left
#     mounted when it ends, and the system can be removed;
#   - a system whose /etc/resolv.conf is a link out of it (absolute, or climbing with ..) gets the host's name
#     servers written inside it, and the file the link names on the host stays as it was;
#   - scripts/test-fresh.sh, sourced with stand-ins for the pieces that need a real system, exits non-zero when
#     build.sh or test.sh fails, when test.sh's log has no summary or counts failures, or when the cross-release
#     check fails, and zero when all pass; it prints its summary in every case, its total counting the
#     cross-release rows too, and each failed row there (none hidden by a later row of the same system).
# The stand-in system is a folder with bash, sh, env, cat, rm, sleep, mkdir and umount (the system detaches the
# old root with its own, after pivot_root) and their libraries. The first two
# need root (namespaces, mounts): as another user they run through `sudo -n`, and without either the test fails.
#
#   bash tests/release/fresh-stand-ins.sh REPO
#
# QMT_FRESH_SYSTEM_SH  the fresh-system.sh under test (default REPO/scripts/fresh-system.sh), e.g. a scratch copy
# (The test starts its root part itself, as `fresh-stand-ins.sh --as-root FRESH_SH`.)
set -euo pipefail
here=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd -P)
script_name=fresh-stand-ins die_status=1
. "$here/../harness/checks.sh"
. "$here/../../scripts/release-common.sh"

# mounts_under FOLDER: the mount points at or below FOLDER in this shell's mount namespace.
mounts_under() {
  awk -v root="$1" '$5 == root || index($5, root "/") == 1 { print $5 }' /proc/self/mountinfo
}

# stand_in_system ROOT: a new system in ROOT with only what a command in it needs (a merged /usr, as in Debian),
# the programs and their libraries copied from the host, and the empty folders the system's mounts go on.
stand_in_system() {
  local root=$1 program programs=() libraries=() link
  mkdir -p -- "$root/usr/bin" "$root/usr/sbin" "$root/usr/lib" "$root/usr/lib64" "$root/proc" "$root/sys" \
    "$root/dev" "$root/etc" "$root/tmp" "$root/root"
  for link in bin sbin lib lib64; do ln -s -- "usr/$link" "$root/$link"; done
  for program in bash sh env cat rm sleep mkdir umount; do
    programs+=("$(command -v -- "$program")") || die "$program is missing on this system"
  done
  # Each program under its own name (sh is often a link to another shell); the libraries where the programs look
  # for them, through the system's links into /usr.
  cp -L -- "${programs[@]}" "$root/usr/bin/"
  mapfile -t libraries < <(ldd "${programs[@]}" | awk '$2 == "=>" && $3 ~ /^\// { print $3 }
    $1 ~ /^\// && $2 ~ /^\(/ { print $1 }' | sort -u)
  cp -L --parents -- "${libraries[@]}" "$root/"
  chmod 1777 -- "$root/tmp"
}

# check_mounts_stay_inside SCRATCH: a command sleeping in a system sees its mounts; the host sees none of them,
# neither while it runs nor after it ended; then the system is removed.
check_mounts_stay_inside() {
  local root=$1/mounts inside seen host missing="" target pid rc=0 before=$failures
  stand_in_system "$root"
  # The command says what it sees, then sleeps until the host has looked (at most 30 s).
  # shellcheck disable=SC2016 # expanded by the system's sh
  inside='cat /proc/self/mountinfo >/tmp/mounts && : >/tmp/ready && i=0 &&
    while [ ! -e /tmp/done ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i + 1)); done'
  fresh_run "$root" /bin/sh -c "$inside" </dev/null >"$1/mounts.log" 2>&1 &
  pid=$!
  for _ in $(seq 100); do [ ! -e "$root/tmp/ready" ] && kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  [ -e "$root/tmp/ready" ] || { wait "$pid" || true; fail "mounts: the command never ran: $(cat -- "$1/mounts.log")"
    return; }
  host=$(mounts_under "$root" | tr '\n' ' ')
  seen=$(awk -- '{ print $5 }' "$root/tmp/mounts")
  : >"$root/tmp/done"
  wait "$pid" || rc=$?
  for target in /proc /sys /dev /dev/pts /dev/shm; do grep -qxF -- "$target" <<<"$seen" || missing+=" $target"; done
  [ -z "$missing" ] || fail "mounts: the command did not see its own$missing mounted"
  [ -z "$host" ] || fail "mounts: the host saw the system's mounts while its command ran: $host"
  [ "$rc" = 0 ] || fail "mounts: fresh_run exited $rc: $(cat -- "$1/mounts.log")"
  host=$(mounts_under "$root" | tr '\n' ' ')
  [ -z "$host" ] || fail "mounts: left mounted on the host after the command ended: $host"
  fresh_remove "$root" 2>"$1/remove.log" || fail "mounts: fresh_remove refused: $(cat -- "$1/remove.log")"
  [ ! -e "$root" ] || fail "mounts: the system is still there after fresh_remove"
  [ "$failures" != "$before" ] || echo "ok:   mounts: /proc /sys /dev /dev/pts /dev/shm inside only, none left, removed"
}

# check_resolv_conf SCRATCH: for each way a system's /etc/resolv.conf can lead out of it, the host's name servers
# end up in a file of the system and the host's file that the link names is untouched.
check_resolv_conf() {
  local root=$1/resolv canary=$1/canary up="" part parts row name target inside rc
  stand_in_system "$root"
  IFS=/ read -ra parts <<<"${root#/}/etc"
  for part in "${parts[@]}"; do up+=../; done
  for row in "absolute $canary" "relative $up${canary#/}"; do
    read -r name target <<<"$row"
    echo "the host's own file" >"$canary"
    rm -f -- "$root/etc/resolv.conf"
    ln -s -- "$target" "$root/etc/resolv.conf"
    rc=0
    inside=$(fresh_run "$root" cat /etc/resolv.conf </dev/null 2>"$1/resolv.log") || rc=$?
    if [ "$(cat -- "$canary")" != "the host's own file" ]; then
      fail "resolv.conf ($name link): the host's $canary was written through the system's link"
    elif [ "$rc" != 0 ]; then
      fail "resolv.conf ($name link): fresh_run exited $rc: $(cat -- "$1/resolv.log")"
    elif [ -L "$root/etc/resolv.conf" ] || ! cmp -s -- /etc/resolv.conf "$root/etc/resolv.conf" ||
      [ "$inside" != "$(cat /etc/resolv.conf)" ]; then
      fail "resolv.conf ($name link): the system's /etc/resolv.conf is not a file with the host's name servers"
    else
      echo "ok:   resolv.conf ($name link to $target): written inside, the host's file untouched"
    fi
  done
}

# readme_stand_ins SCENARIO FOLDER: replaces the pieces of test-fresh.sh that need a real system (preflight, the
# systems, commands run in them) with ones acting out SCENARIO, working in FOLDER. Run after sourcing test-fresh.sh,
# so that they win; test-fresh.sh's own run_readme, cross_check and main then run on them.
# shellcheck disable=SC2317 # the stand-ins are called by test-fresh.sh
readme_stand_ins() {
  # shellcheck disable=SC2034 # test-fresh.sh's variables
  scenario=$1 work=$2/work logs=$2/logs cache=$2/cache commit=0000000000000000000000000000000000000000
  mkdir -p -- "$work" "$logs" "$cache"
  : >"$cache/debian-12.tar"
  : >"$cache/debian-13.tar"
  preflight() { :; }
  prepare_system() { :; }
  fresh_base() { echo "$cache/debian-$1.tar"; }
  fresh_unpack() { mkdir -p -- "$2"; }
  fresh_remove() { rm -rf -- "$1"; }
  fresh_run() { shift; stand_in_command "$*"; }
  as_user() { shift; stand_in_command "$*"; }
  # stand_in_command LINE: what the command LINE prints and its status in this scenario.
  stand_in_command() {
    case $scenario:$1 in
      build-fails:*scripts/build.sh*) echo "build failed"; return 1 ;;
      test-fails:*scripts/test.sh*) echo "native     tests failed"; echo "Total: 9 passed, 1 failed"; return 1 ;;
      no-summary:*scripts/test.sh*) echo "native     passed" ;;
      counts-failures:*scripts/test.sh*) echo "native     passed"; echo "Total: 9 passed, 1 failed" ;;
      *:*scripts/test.sh*) echo "native     passed"; echo "Total: 10 passed, 0 failed" ;;
      cross-fails:*fresh-rebuild.sh\ verify*) echo "FAIL: cross: not the vendor's"; return 1 ;;
      release-fails:*fresh-rebuild.sh\ release\ /tmp/cross-12*) echo "FAIL: release: stand-in"; return 1 ;;
      *:*fresh-rebuild.sh\ threshold*) echo "ok:   threshold: stand-in"; echo "ok:   cosign: stand-in" ;;
      *:*sha256sum*) printf '%064d  build/windows/src/Quillmart-Setup.exe\n' 0 ;;
      *) echo "stand-in output" ;;
    esac
  }
}

# check_readme_runs SCRATCH: test-fresh.sh's exit status, the keys of the cross-release rows it prints as failed
# (comma-separated, - for none) and its total for each scenario (in a bash of its own, as
# main exits). Its $0 is a name in scripts/, as test-fresh.sh finds the checkout from it, and differs from the
# sourced path, so that sourcing it does not run main; were main run anyway, the unknown option it is sourced with
# would make it refuse at once instead of making real systems.
check_readme_runs() {
  local row scenario versions status failed_rows total out rc printed
  for row in "passes 12 0 - 10 passed, 0 failed" "build-fails 12 1 - 10 passed, 0 failed" \
    "test-fails 12 1 - 9 passed, 1 failed" "no-summary 12 1 - 0 passed, 1 failed" \
    "counts-failures 12 1 - 9 passed, 1 failed" "passes all 0 - 30 passed, 0 failed" \
    "cross-fails all 1 verify-12,verify-13 28 passed, 2 failed" "release-fails all 1 release-12 29 passed, 1 failed"; do
    read -r scenario versions status failed_rows total <<<"$row"
    out=$1/readme-$scenario-$versions
    mkdir -p -- "$out"
    rc=0
    bash -c "$(declare -f readme_stand_ins)"'
      . "$1" --sourced-by-a-test; readme_stand_ins "$2" "$3"; main "$4"' "$repo/scripts/test-fresh.sh (sourced)" \
      "$repo/scripts/test-fresh.sh" "$scenario" "$out" "$versions" </dev/null >"$out/output" 2>&1 || rc=$?
    printed=$(sed -n 's/^cross-release \([^:]*\): FAILED: .*/\1/p' -- "$out/output" | paste -sd , -)
    if [ "$((rc != 0))" != "$status" ]; then
      fail "test-fresh.sh $versions, $scenario: exit status $rc: $(tail -n 5 -- "$out/output" | tr '\n' ' ')"
    elif [ "${printed:--}" != "$failed_rows" ]; then
      fail "test-fresh.sh $versions, $scenario: failed cross-release rows '${printed:--}', not '$failed_rows'"
    elif ! grep -qxF -- "Total: $total" "$out/output"; then
      fail "test-fresh.sh $versions, $scenario: no summary 'Total: $total': $(tail -n 5 -- "$out/output" | tr '\n' ' ')"
    else
      echo "ok:   test-fresh.sh $versions, $scenario: exit status $rc, failed rows $failed_rows, Total: $total"
    fi
  done
}

# remove_scratch: the scratch folder removed, after unmounting whatever a slip left mounted in it: the first mount
# listed is the lowest, and detaching it detaches all above it; mounts can be stacked, hence the rounds.
remove_scratch() {
  local target rounds=0
  while target=$(mounts_under "$scratch" | head -n 1) && [ -n "$target" ] && [ $((rounds += 1)) -le 50 ]; do
    umount -l -- "$target" || break
  done
  rm -rf --one-file-system -- "$scratch"
}

# as_root FRESH_SH: the rows that need root, in a scratch folder of their own.
as_root() {
  # shellcheck source=../../scripts/fresh-system.sh
  . "$1"
  scratch=$(mktemp -d)
  scratch=$(cd -- "$scratch" && pwd -P)
  trap remove_scratch EXIT
  check_resolv_conf "$scratch"
  check_mounts_stay_inside "$scratch"
  finish "the stand-in systems kept their mounts and their resolv.conf to themselves"
}

if [ "${1:-}" = --as-root ]; then
  as_root "$2"
  exit
fi
[ $# = 1 ] || die "usage: bash tests/release/fresh-stand-ins.sh REPO"
repo=$(cd -- "$1" && pwd -P)
fresh_sh=$(canonical "${QMT_FRESH_SYSTEM_SH:-$repo/scripts/fresh-system.sh}")
need_file "the fresh-system script" "$fresh_sh"
if [ "$(id -u)" = 0 ]; then
  as_root=()
elif sudo -n -- true 2>/dev/null; then
  as_root=(sudo -n --)
else
  die "the stand-in systems need root (namespaces, mounts): run as root or as a user with passwordless sudo"
fi
scratch=$(mktemp -d)
trap 'rm -rf -- "$scratch"' EXIT
check_readme_runs "$scratch"
"${as_root[@]}" bash -- "$here/fresh-stand-ins.sh" --as-root "$fresh_sh" || failures=$((failures + 1))
finish "fresh systems and test-fresh.sh: every promise held"

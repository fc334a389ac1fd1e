#!/usr/bin/env bash
# Proves the README's two commands where our users run them: for each Debian release asked for, makes a fresh
# minimal system (mmdebstrap, variant minbase, nothing added but git), puts a clean clone of the current commit in
# it, runs `bash scripts/build.sh` and `bash scripts/test.sh` there exactly as written, and prints one table: the
# Debian, Wine, MinGW g++ and osslsigncode versions, both commands' exit status and time, the test summary and the
# SHA-256 of the demo setup. Everything it made is unmounted and removed at the end, also after a failure or
# Ctrl-C; the logs are kept. Exits non-zero when anything failed. Needs root and the Debian archive.
#
#   bash scripts/test-fresh.sh [12|13|all]      (default: all)
#
# QMT_FRESH_CACHE  folder of the cached stock base systems, remade after a week (default /var/cache/quillmart-fresh)
# QMT_FRESH_LOGS   folder for the logs (default /var/tmp/quillmart-fresh-logs/<date and time>)
# QMT_FRESH_MIRROR the Debian archive to bootstrap from (default: Debian's own, with its updates and security)
set -euo pipefail

die() { echo "test-fresh: $*" >&2; exit 1; }

repo=$(cd "$(dirname "$0")/.." && pwd)
cache=${QMT_FRESH_CACHE:-/var/cache/quillmart-fresh}
logs=${QMT_FRESH_LOGS:-/var/tmp/quillmart-fresh-logs/$(date +%Y%m%d-%H%M%S)}
mirror=${QMT_FRESH_MIRROR:-}

case "${1:-all}" in
  12) versions=(12) ;;
  13) versions=(13) ;;
  all) versions=(12 13) ;;
  *) die "usage: bash scripts/test-fresh.sh [12|13|all]" ;;
esac
[ $# -le 1 ] || die "usage: bash scripts/test-fresh.sh [12|13|all]"
codename() { case $1 in 12) echo bookworm ;; 13) echo trixie ;; esac; }

[ "$(id -u)" -eq 0 ] || die "must run as root: it bootstraps systems and mounts /proc and /dev inside them"
command -v git >/dev/null || die "git is missing"
commit=$(git -C "$repo" rev-parse HEAD 2>/dev/null) || die "$repo is not a git checkout with a commit"
if ! command -v mmdebstrap >/dev/null; then
  command -v apt-get >/dev/null || die "mmdebstrap is missing and this is no Debian system to install it on"
  echo "test-fresh: installing mmdebstrap"
  { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends mmdebstrap; } >/dev/null \
    || die "could not install mmdebstrap (apt-get install mmdebstrap)"
fi

work=$(mktemp -d /var/tmp/quillmart-fresh.XXXXXX)
roots=()

# Ends every process whose root is inside the system (the wineserver and Xvfb outlive the tests), then unmounts.
teardown() {
  local root=$1 sig p
  for sig in TERM KILL; do
    for p in /proc/[0-9]*; do
      if [ "$(readlink "$p/root" 2>/dev/null)" = "$root" ]; then kill -s "$sig" "${p#/proc/}" 2>/dev/null || true; fi
    done
    sleep 1
  done
  { findmnt -rn -o TARGET | grep -F "$root/" || true; } | sort -r | while read -r m; do
    umount "$m" 2>/dev/null || umount -l "$m"
  done
}
cleanup() {
  local root
  for root in "${roots[@]}"; do teardown "$root"; done
  # --one-file-system: whatever could not be unmounted is left alone, never deleted through the mount.
  if findmnt -rn -o TARGET | grep -qF "$work/"; then
    echo "test-fresh: mounts under $work remain; left it in place" >&2
  else
    rm -rf --one-file-system "$work"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Refuse at once, rather than after minutes, when the packages cannot be had.
archive=${mirror:-http://deb.debian.org/debian}
for v in "${versions[@]}"; do
  url=$archive/dists/$(codename "$v")/InRelease
  timeout 60 /usr/lib/apt/apt-helper download-file "$url" "$work/InRelease" >/dev/null 2>&1 \
    || die "the Debian archive cannot be reached ($url): the fresh systems need its packages"
done
[ -z "$(git -C "$repo" status --porcelain --untracked-files=no)" ] \
  || echo "test-fresh: note: uncommitted changes are not tested; the fresh systems get commit $commit"
mkdir -p "$cache" "$logs"

# A stock base system: minbase and git, cached as a tarball so that a rerun starts in seconds. (mmdebstrap tells
# a tarball from a folder by the name's ending, hence .part.tar while it is written.)
baseSystem() {
  local v=$1 tar=$cache/debian-$1.tar part=$cache/debian-$1.part.tar
  if [ ! -s "$tar" ] || [ -n "$(find "$tar" -mtime +6)" ]; then
    echo "test-fresh: bootstrapping Debian $v ($(codename "$v"))" >&2
    mmdebstrap --quiet --variant=minbase --include=git "$(codename "$v")" "$part" ${mirror:+"$mirror"} \
      >"$logs/debian-$v-bootstrap.log" 2>&1 || die "mmdebstrap failed for Debian $v (see $logs/debian-$v-bootstrap.log)"
    mv "$part" "$tar"
  fi
  echo "$tar"
}

# /dev is a tmpfs of its own with the usual nodes: a bind of the host's /dev could be deleted through.
mountSystem() {
  local root=$1 node
  mount -t proc proc "$root/proc"
  mount -t sysfs -o ro sysfs "$root/sys"
  mount -t tmpfs -o mode=755,size=16m tmpfs "$root/dev"
  for node in null:3 zero:5 full:7 random:8 urandom:9; do
    mknod -m 666 "$root/dev/${node%%:*}" c 1 "${node#*:}"
  done
  mknod -m 666 "$root/dev/tty" c 5 0
  mkdir "$root/dev/pts" "$root/dev/shm"
  mount -t devpts -o newinstance,ptmxmode=0666,mode=620 devpts "$root/dev/pts"
  ln -s pts/ptmx "$root/dev/ptmx"
  mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
  ln -s /proc/self/fd "$root/dev/fd"
  ln -s /proc/self/fd/0 "$root/dev/stdin"; ln -s /proc/self/fd/1 "$root/dev/stdout"; ln -s /proc/self/fd/2 "$root/dev/stderr"
  cp -L --remove-destination /etc/resolv.conf "$root/etc/resolv.conf"
}

# A command inside the system with a clean environment, as a root login there would have it.
inside() {
  chroot "$1" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb ${CI:+CI=$CI} \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "${@:2}"
}

# Runs one README command in the checkout inside; prints "status seconds".
timed() {
  local root=$1 log=$2 start rc=0
  start=$(date +%s)
  inside "$root" bash -c "cd /root/quillmart && $3" >"$log" 2>&1 </dev/null || rc=$?
  echo "$rc $(($(date +%s) - start))"
}

declare -A row
total_passed=0; total_failed=0; failed=0
for v in "${versions[@]}"; do
  tar=$(baseSystem "$v")
  root=$work/debian-$v
  mkdir "$root"; roots+=("$root")
  tar -C "$root" -xf "$tar"
  mountSystem "$root"
  git init -q "$root/root/quillmart"
  git -C "$root/root/quillmart" fetch -q "$repo" HEAD
  git -C "$root/root/quillmart" checkout -q --detach FETCH_HEAD

  echo "test-fresh: Debian $v: bash scripts/build.sh (log $logs/debian-$v-build.log)"
  read -r build_rc build_s < <(timed "$root" "$logs/debian-$v-build.log" "bash scripts/build.sh")
  setup=$root/root/quillmart/build/windows/src/Quillmart-Setup.exe
  sha=$( [ -f "$setup" ] && sha256sum "$setup" | cut -c1-64 || echo "(not built)")
  echo "test-fresh: Debian $v: bash scripts/test.sh (log $logs/debian-$v-test.log)"
  read -r test_rc test_s < <(timed "$root" "$logs/debian-$v-test.log" "bash scripts/test.sh")

  debian=$(cat "$root/etc/debian_version")
  wine=$(inside "$root" sh -c 'wine --version || wine64 --version' 2>/dev/null | head -n 1 | awk '{print $1}')
  gxx=$(inside "$root" dpkg-query -W -f='${Version}' g++-mingw-w64-x86-64-posix 2>/dev/null || echo "?")
  osc=$(inside "$root" osslsigncode --version 2>/dev/null | head -n 1 | awk '{print $2}' | tr -d ,)
  tests=$(grep -E '^Total: [0-9]+ passed, [0-9]+ failed' "$logs/debian-$v-test.log" | tail -n 1 | sed 's/^Total: //' || true)
  [ -n "$tests" ] || tests="no summary"
  if [[ $tests =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed ]]; then
    total_passed=$((total_passed + BASH_REMATCH[1])); total_failed=$((total_failed + BASH_REMATCH[2]))
  else
    total_failed=$((total_failed + 1))
  fi
  [ "$build_rc" = 0 ] && [ "$test_rc" = 0 ] || failed=1
  row[$v]=$(printf '%-9s %-7s %-10s %-26s %-12s %-11s %-11s %-21s %s' "Debian $v" "$debian" "${wine:-?}" "$gxx" \
    "${osc:-?}" "$build_rc (${build_s}s)" "$test_rc (${test_s}s)" "$tests" "$sha")
  grep -E '^(native|windows|fuzz) +(passed|tests failed|configure failed|build failed)' "$logs/debian-$v-test.log" | sed "s/^/Debian $v: /" >"$work/summary-$v" || true
  if [ "$build_rc" != 0 ]; then echo "--- Debian $v: end of build.sh's log"; tail -n 40 "$logs/debian-$v-build.log"; fi
  if [ "$test_rc" != 0 ]; then
    echo "--- Debian $v: what failed in test.sh"
    grep -E -A 30 'The following tests FAILED|configure failed|build failed|Error [0-9]' "$logs/debian-$v-test.log" | tail -n 60 || true
  fi
  teardown "$root"
  rm -rf --one-file-system "$root"
done

echo
echo "=== Fresh systems (logs in $logs)"
printf '%-9s %-7s %-10s %-26s %-12s %-11s %-11s %-21s %s\n' release debian wine "mingw g++" osslsigncode \
  "build.sh" "test.sh" "tests" "demo setup SHA-256"
for v in "${versions[@]}"; do echo "${row[$v]}"; done
echo
cat "$work"/summary-* 2>/dev/null || true
echo "Total: $total_passed passed, $total_failed failed"
exit $failed

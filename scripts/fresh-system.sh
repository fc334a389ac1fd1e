# shellcheck shell=bash
# Sourced by test-fresh.sh and verify-release.sh: fresh minimal Debian systems in which a command runs without
# reaching the host's processes, mounts or files. Needs die (release-common.sh).
#
# A system is a stock base (mmdebstrap, variant minbase, plus git and sudo) unpacked into a folder. Each command
# runs in new mount, PID, IPC and UTS namespaces: /proc, a read-only /sys, a /dev of its own and /dev/shm are
# mounted there and nowhere else, so they vanish with the command, and every process it leaves behind (a
# wineserver, an Xvfb) is killed when it ends. The system is entered with pivot_root and the host's tree is then
# detached: there is no outer root left to climb back to, and programs inside may make user namespaces of their
# own (the kernel refuses that to a process whose root is a chroot). The network is the host's: the systems
# install their packages from the Debian archive. Nothing on the host follows a link inside a system: files go in
# and out through a pipe to a program running inside, mount targets must be real folders of the system, and a
# system is removed only after checking that nothing is mounted in it.
#
# Two kinds of system:
#   fresh_unpack / fresh_run            (root only) the system's root is the host's root; for trusted commands
#                                       (the test systems of test-fresh.sh)
#   fresh_user_unpack / fresh_user_run  (anyone) the system lives in a user namespace whose ids 0-65535 are a
#                                       range of unprivileged host ids: the user's first range of at least 65536
#                                       in /etc/subuid and /etc/subgid, for root without one 100000000-100065535.
#                                       The system's root owns nothing on the host; for recorded build recipes.

fresh_packages=git,sudo
fresh_id_count=65536
# The range root's user-namespace systems use when /etc/subuid has none for root: no user or group has these ids.
fresh_root_id_base=100000000

# fresh_codename VERSION: bookworm for 12, trixie for 13.
fresh_codename() {
  case $1 in 12) echo bookworm ;; 13) echo trixie ;; *) return 1 ;; esac
}

# fresh_root_folder FOLDER WHAT: FOLDER, made if missing, must be a real folder that only its owner, the user
# running this (root for root), can write: the logs and caches go there, and a folder that someone else prepared
# (with links in it) would let them choose what is overwritten or which base system is unpacked.
fresh_root_folder() {
  local folder=$1 what=$2
  [ -e "$folder" ] || [ -L "$folder" ] || (umask 022 && mkdir -p -- "$folder") || die "cannot create the $what $folder"
  if [ -L "$folder" ] || [ ! -d "$folder" ]; then die "the $what $folder is not a folder (or is a link)"; fi
  [ "$(stat -c %u -- "$folder")" = "$(id -u)" ] || die "the $what $folder is not owned by $(id -un)"
  (($((8#$(stat -c %a -- "$folder"))) & 8#022)) && die "the $what $folder can be written by others than $(id -un)"
  return 0
}

# fresh_cache: the folder of the cached base systems: root's /var/cache/quillmart-fresh, a user's own cache folder.
fresh_cache() {
  if [ "$(id -u)" = 0 ]; then echo /var/cache/quillmart-fresh; else echo "${XDG_CACHE_HOME:-$HOME/.cache}/quillmart-fresh"; fi
}

# fresh_base VERSION CACHE LOG [MIRROR]: the path of the stock base system's tarball for Debian VERSION, made with
# mmdebstrap (its output in LOG) when CACHE has none or one older than a week; a user who is not root makes it in
# a user namespace (--mode=unshare). (mmdebstrap tells a tarball from a folder by the name's ending, hence
# .part.tar while it is written.)
fresh_base() {
  local version=$1 cache=$2 log=$3 mirror=${4:-} mode=root
  local tar=$cache/debian-$version.tar part=$cache/debian-$version.part.tar
  [ "$(id -u)" = 0 ] || mode=unshare
  fresh_root_folder "$cache" "cache folder"
  if [ ! -s "$tar" ] || [ -n "$(find "$tar" -mtime +6)" ]; then
    command -v mmdebstrap >/dev/null || die "mmdebstrap is missing (Debian package mmdebstrap)"
    echo "fresh-system: bootstrapping Debian $version ($(fresh_codename "$version"))" >&2
    mmdebstrap --quiet --mode="$mode" --variant=minbase --include="$fresh_packages" -- "$(fresh_codename "$version")" \
      "$part" ${mirror:+"$mirror"} >"$log" 2>&1 || die "mmdebstrap failed for Debian $version (see $log)"
    mv -f -- "$part" "$tar"
  fi
  echo "$tar"
}

# fresh_unpack TAR ROOT: a new system in the new folder ROOT, owned by root (fresh_run).
fresh_unpack() {
  mkdir -- "$2" || die "cannot create $2"
  tar -C "$2" -xf "$1" || die "cannot unpack $1 into $2"
}

# fresh_enter ROOT COMMAND...: runs in the new namespaces (as their first process for fresh_run, under the holder
# for fresh_user_run): mounts the system's own /proc, /sys (the host's, read-only: sysfs itself cannot be mounted
# from a user namespace without a network namespace of its own), /dev and /dev/shm, makes ROOT the root with
# pivot_root, detaches the host's tree, and runs COMMAND in a clean environment as a child (the shell reaps what is
# orphaned); returns its status. Device nodes cannot be made in a user namespace, so the host's harmless ones are
# bind-mounted onto files.
fresh_enter() {
  set -euo pipefail
  local root=$1 target node
  shift
  for target in proc sys dev etc; do
    # A link or a folder reached through one would put the mount elsewhere: only the system's real folders.
    if [ -L "$root/$target" ] || [ ! -d "$root/$target" ] ||
      [ "$(realpath -e -- "$root/$target")" != "$root/$target" ]; then
      echo "fresh-system: $root/$target is not a folder of the system (a link?); not mounted" >&2
      return 1
    fi
  done
  # pivot_root needs the new root to be a mount point of its own.
  mount --bind -- "$root" "$root"
  mount -t proc -o nosuid,nodev,noexec proc "$root/proc"
  mount --rbind -- /sys "$root/sys"
  findmnt -rn -o TARGET -R -- "$root/sys" | while read -r target; do
    mount -o remount,bind,ro,nosuid,nodev,noexec -- "$target" 2>/dev/null || mount -o remount,bind,ro -- "$target"
  done
  mount -t tmpfs -o mode=755,size=16m,nosuid -- tmpfs "$root/dev"
  for node in null zero full random urandom tty; do
    : >"$root/dev/$node"
    mount --bind -- "/dev/$node" "$root/dev/$node"
  done
  mkdir -- "$root/dev/pts" "$root/dev/shm"
  mount -t devpts -o newinstance,ptmxmode=0666,mode=620 -- devpts "$root/dev/pts"
  ln -s pts/ptmx "$root/dev/ptmx"
  mount -t tmpfs -o mode=1777,nosuid,nodev -- tmpfs "$root/dev/shm"
  ln -s /proc/self/fd "$root/dev/fd"
  ln -s /proc/self/fd/0 "$root/dev/stdin"
  ln -s /proc/self/fd/1 "$root/dev/stdout"
  ln -s /proc/self/fd/2 "$root/dev/stderr"
  # The host's name servers are read before the host's tree goes and written from inside, where a link can only
  # lead to another file of the system.
  exec 3</etc/resolv.conf
  cd -- "$root"
  # The old root ends up stacked on the new one; detaching it leaves nothing of the host's tree behind.
  pivot_root . .
  umount -l .
  cd /
  rm -f /etc/resolv.conf && cat <&3 >/etc/resolv.conf
  exec 3<&-
  /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb ${CI:+CI=$CI} \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
}

# fresh_run ROOT COMMAND...: COMMAND as root inside the system ROOT (see fresh_enter), with this shell's standard
# input, output and error. When it ends, every process it started is ended and its mounts are gone. Root only.
fresh_run() {
  unshare --mount --pid --ipc --uts --fork --kill-child --propagation private -- \
    /bin/bash -c "$(declare -f fresh_enter); fresh_enter \"\$@\"" fresh-system "$@"
}

# fresh_subordinate FILE USER UID: the start of USER's first range of at least fresh_id_count ids in FILE
# (/etc/subuid or /etc/subgid, "name-or-uid:start:count" lines).
fresh_subordinate() {
  awk -F: -v name="$2" -v uid="$3" -v count="$fresh_id_count" \
    '($1 == name || $1 == uid) && $2 ~ /^[0-9]+$/ && $3 ~ /^[0-9]+$/ && $3 + 0 >= count { print $2; exit }' \
    "$1" 2>/dev/null | grep .
}

# fresh_ids: sets fresh_uid_base and fresh_gid_base, the host ids that a user-namespace system's ids 0-65535 are.
# Root takes its own subordinate ranges, or else fresh_root_id_base, which must be no user's or group's.
fresh_ids() {
  local user uid
  user=$(id -un) uid=$(id -u)
  if fresh_uid_base=$(fresh_subordinate /etc/subuid "$user" "$uid") &&
    fresh_gid_base=$(fresh_subordinate /etc/subgid "$user" "$uid"); then
    return 0
  fi
  if [ "$uid" != 0 ]; then
    die "$user has no range of $fresh_id_count subordinate ids in /etc/subuid and /etc/subgid, which the fresh system's users are (root can add one: usermod --add-subuids FIRST-LAST --add-subgids FIRST-LAST $user)"
  fi
  fresh_uid_base=$fresh_root_id_base fresh_gid_base=$fresh_root_id_base
  local taken
  taken=$({ getent passwd; getent group; } | awk -F: -v low="$fresh_root_id_base" -v high=$((fresh_root_id_base + fresh_id_count)) \
    '$3 >= low && $3 < high { print $1; exit }')
  [ -z "$taken" ] || die "the ids $fresh_root_id_base-$((fresh_root_id_base + fresh_id_count - 1)) for the fresh system are taken ($taken has one): give root a range in /etc/subuid and /etc/subgid"
}

# fresh_map PID SELF: writes the id maps of the user namespace of process PID: ids 0-65535 are the subordinate
# range; with SELF (an ordinary user only) id 65536 is the user, so that a folder of theirs can be given to the
# system's root. Root writes the maps itself; a user needs newuidmap and newgidmap, which check /etc/subuid.
fresh_map() {
  local pid=$1 self=$2
  if [ "$(id -u)" = 0 ]; then
    echo "0 $fresh_gid_base $fresh_id_count" >"/proc/$pid/gid_map" &&
      echo "0 $fresh_uid_base $fresh_id_count" >"/proc/$pid/uid_map"
  elif [ -n "$self" ]; then
    newgidmap "$pid" 0 "$fresh_gid_base" "$fresh_id_count" "$fresh_id_count" "$(id -g)" 1 &&
      newuidmap "$pid" 0 "$fresh_uid_base" "$fresh_id_count" "$fresh_id_count" "$(id -u)" 1
  else
    newgidmap "$pid" 0 "$fresh_gid_base" "$fresh_id_count" && newuidmap "$pid" 0 "$fresh_uid_base" "$fresh_id_count"
  fi
}

# fresh_namespace FOLDER SELF COMMAND...: COMMAND as the root of a new user namespace (see fresh_map) with its own
# mount, PID, IPC and UTS namespaces, in FOLDER, which is also bind-mounted on /mnt there (the system's root may not
# be allowed through the user's folders on the way there). A holding process makes the namespaces and goes to
# FOLDER with the caller's rights; once the maps are written, COMMAND joins it as the namespace's root (joining
# gives the capabilities there that a process without a mapped id loses when it starts a program). When COMMAND
# ends the holder is killed, and with it every process left in the namespace.
fresh_namespace() {
  local folder=$1 self=$2 holder child="" tries rc=0
  shift 2
  unshare --user --mount --pid --ipc --uts --fork --kill-child --propagation private --wd="$folder" -- \
    sleep infinity </dev/null &
  holder=$!
  for tries in $(seq 500); do
    child=$(cat "/proc/$holder/task/$holder/children" 2>/dev/null) || true
    child=${child%% *}
    [ -z "$child" ] || [ "$(cat "/proc/$child/comm" 2>/dev/null)" != sleep ] || break
    kill -0 "$holder" 2>/dev/null || break
    sleep 0.01
  done
  if [ "$(cat "/proc/$child/comm" 2>/dev/null)" != sleep ] || ! fresh_map "$child" "$self"; then
    kill -KILL "$holder" 2>/dev/null || true
    wait "$holder" 2>/dev/null || true
    echo "fresh-system: cannot make the user namespace or map its ids (after $tries tries)" >&2
    return 125
  fi
  # shellcheck disable=SC2016 # the namespace's shell expands them
  nsenter --target "$child" --user --mount --pid --ipc --uts --wd --setuid 0 --setgid 0 -- \
    /bin/bash -c 'mount --no-canonicalize --bind /proc/self/cwd /mnt && cd /mnt && exec "$@"' fresh-system "$@" || rc=$?
  kill -KILL "$holder" 2>/dev/null || true
  wait "$holder" 2>/dev/null || true
  return "$rc"
}

# fresh_user_ready: whether user-namespace systems can be made here; sets their ids, or dies with one line naming
# what is missing: util-linux's tools, uidmap's (for a user), a subordinate range, or a kernel that refuses user
# namespaces to this user.
fresh_user_ready() {
  local tool probe said
  for tool in unshare nsenter setpriv; do command -v "$tool" >/dev/null || die "$tool is missing (util-linux)"; done
  if [ "$(id -u)" != 0 ]; then
    for tool in newuidmap newgidmap; do
      command -v "$tool" >/dev/null || die "$tool is missing (Debian package uidmap), which a fresh system needs for a user who is not root"
    done
  fi
  fresh_ids
  said=$(unshare --user -- true 2>&1) || die "this kernel refuses user namespaces to $(id -un), which the fresh system needs: $said"
  probe=$(mktemp -d "${TMPDIR:-/tmp}/qmt-fresh-probe.XXXXXX") && chmod 755 -- "$probe"
  said=$(fresh_namespace "$probe" "" /bin/true 2>&1) ||
    { rmdir -- "$probe"; die "cannot enter a user namespace whose ids are $fresh_uid_base-$((fresh_uid_base + fresh_id_count - 1)): $(tail -n 3 <<<"$said" | paste -sd' ')"; }
  rmdir -- "$probe"
}

# fresh_user_unpack TAR ROOT: a new user-namespace system in the new folder ROOT: the folder is given to the
# system's root, and TAR is unpacked inside the namespace (the base's device nodes are left out: fresh_enter mounts
# a /dev). Needs fresh_user_ready.
fresh_user_unpack() {
  local tar=$1 root=$2
  if [ "$(id -u)" = 0 ]; then
    mkdir -m 755 -- "$root" && chown -- "$fresh_uid_base:$fresh_gid_base" "$root" || die "cannot create $root"
  else
    fresh_namespace "$(dirname -- "$root")" self mkdir -m 755 -- "/mnt/$(basename -- "$root")" </dev/null ||
      die "cannot create $root"
  fi
  fresh_namespace "$root" "" tar -C /mnt --exclude=./dev/* -xf - <"$tar" || die "cannot unpack $tar into $root"
}

# fresh_user_run ROOT COMMAND...: COMMAND as the root of the user-namespace system ROOT (see fresh_enter), with
# this shell's standard input, output and error; as fresh_run, nothing it starts outlives it.
fresh_user_run() {
  local root=$1
  shift
  fresh_namespace "$root" "" /bin/bash -c "$(declare -f fresh_enter); fresh_enter \"\$@\"" fresh-system /mnt "$@"
}

# fresh_remove ROOT: removes the system after checking that nothing is mounted in it and that no process runs in
# it; when something is, it is left in place with one line saying so (never deleted through a mount). The files of
# a user-namespace system belong to its subordinate ids: they are removed from inside its namespace.
fresh_remove() {
  local root=$1 process
  [ -d "$root" ] || return 0
  for process in /proc/[0-9]*; do
    if case $(readlink "$process/root" 2>/dev/null) in "$root" | "$root"/*) true ;; *) false ;; esac ||
      [ "$(stat -L -c %d:%i -- "$process/root" 2>/dev/null)" = "$(stat -c %d:%i -- "$root")" ]; then
      echo "fresh-system: process ${process#/proc/} still runs in $root; left it in place" >&2
      return 1
    fi
  done
  if findmnt -rn -o TARGET | grep -qF -- "$root/"; then
    echo "fresh-system: something is mounted in $root; left it in place" >&2
    return 1
  fi
  if [ "$(stat -c %u -- "$root")" = 0 ]; then
    rm -rf --one-file-system -- "$root"
  else
    fresh_namespace "$root" "" find /mnt -mindepth 1 -maxdepth 1 -exec rm -rf --one-file-system -- {} + </dev/null &&
      rmdir -- "$root"
  fi
}

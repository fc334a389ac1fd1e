# shellcheck shell=bash
# Sourced by test-fresh.sh and verify-release.sh: fresh minimal Debian systems in which a command runs as root
# without reaching the host's processes or mounts. Needs die (release-common.sh) and root.
#
# A system is a stock base (mmdebstrap, variant minbase, plus git and sudo) unpacked into a folder. Each command
# runs in new mount, PID, IPC and UTS namespaces: /proc, /sys (read-only), a /dev of its own and /dev/shm are
# mounted there and nowhere else, so they vanish with the command, and every process it leaves behind (a
# wineserver, an Xvfb) is killed when it ends. The network is the host's: the systems install their packages from
# the Debian archive. Nothing on the host follows a link inside a system: files go in and out through a pipe to a
# program running inside, mount targets must be real folders of the system, and a system is removed only after
# checking that nothing is mounted in it and no process runs in it.

fresh_packages=git,sudo

# fresh_codename VERSION: bookworm for 12, trixie for 13.
fresh_codename() {
  case $1 in 12) echo bookworm ;; 13) echo trixie ;; *) return 1 ;; esac
}

# fresh_root_folder FOLDER WHAT: FOLDER, made if missing, must be a real folder that only root can write: root
# writes its logs and caches there, and a folder that someone else prepared (with links in it) would let them
# choose what root overwrites.
fresh_root_folder() {
  local folder=$1 what=$2
  [ -e "$folder" ] || [ -L "$folder" ] || (umask 022 && mkdir -p -- "$folder") || die "cannot create the $what $folder"
  if [ -L "$folder" ] || [ ! -d "$folder" ]; then die "the $what $folder is not a folder (or is a link)"; fi
  [ "$(stat -c %u -- "$folder")" = 0 ] || die "the $what $folder is not owned by root"
  (($((8#$(stat -c %a -- "$folder"))) & 8#022)) && die "the $what $folder can be written by others than root"
  return 0
}

# fresh_base VERSION CACHE LOG [MIRROR]: the path of the stock base system's tarball for Debian VERSION, made with
# mmdebstrap (its output in LOG) when CACHE has none or one older than a week. (mmdebstrap tells a tarball from a
# folder by the name's ending, hence .part.tar while it is written.)
fresh_base() {
  local version=$1 cache=$2 log=$3 mirror=${4:-}
  local tar=$cache/debian-$version.tar part=$cache/debian-$version.part.tar
  fresh_root_folder "$cache" "cache folder"
  if [ ! -s "$tar" ] || [ -n "$(find "$tar" -mtime +6)" ]; then
    command -v mmdebstrap >/dev/null || die "mmdebstrap is missing (Debian package mmdebstrap)"
    echo "fresh-system: bootstrapping Debian $version ($(fresh_codename "$version"))" >&2
    mmdebstrap --quiet --variant=minbase --include="$fresh_packages" "$(fresh_codename "$version")" "$part" \
      ${mirror:+"$mirror"} >"$log" 2>&1 || die "mmdebstrap failed for Debian $version (see $log)"
    mv -f -- "$part" "$tar"
  fi
  echo "$tar"
}

# fresh_unpack TAR ROOT: a new system in the new folder ROOT.
fresh_unpack() {
  mkdir -- "$2" || die "cannot create $2"
  tar -C "$2" -xf "$1" || die "cannot unpack $1 into $2"
}

# fresh_enter ROOT COMMAND...: runs as the first process of the new namespaces (fresh_run): mounts the system's
# own /proc, /sys, /dev and /dev/shm, then runs COMMAND chrooted in a clean environment and returns its status.
fresh_enter() {
  set -euo pipefail
  local root=$1 target node
  shift
  for target in proc sys dev; do
    # A link or a folder reached through one would put the mount elsewhere: only the system's real folders.
    if [ -L "$root/$target" ] || [ ! -d "$root/$target" ] ||
      [ "$(realpath -e -- "$root/$target")" != "$root/$target" ]; then
      echo "fresh-system: $root/$target is not a folder of the system (a link?); not mounted" >&2
      return 1
    fi
  done
  # The system's root becomes a mount point of its own, as / is: a program inside that makes namespaces of its own
  # (a nested fresh system) can then change the propagation of its /.
  mount --bind "$root" "$root"
  mount -t proc -o nosuid,nodev,noexec proc "$root/proc"
  mount -t sysfs -o ro,nosuid,nodev,noexec sysfs "$root/sys"
  mount -t tmpfs -o mode=755,size=16m,nosuid tmpfs "$root/dev"
  for node in null:3 zero:5 full:7 random:8 urandom:9; do
    mknod -m 666 "$root/dev/${node%%:*}" c 1 "${node#*:}"
  done
  mknod -m 666 "$root/dev/tty" c 5 0
  mkdir "$root/dev/pts" "$root/dev/shm"
  mount -t devpts -o newinstance,ptmxmode=0666,mode=620 devpts "$root/dev/pts"
  ln -s pts/ptmx "$root/dev/ptmx"
  mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$root/dev/shm"
  ln -s /proc/self/fd "$root/dev/fd"
  ln -s /proc/self/fd/0 "$root/dev/stdin"
  ln -s /proc/self/fd/1 "$root/dev/stdout"
  ln -s /proc/self/fd/2 "$root/dev/stderr"
  # The host's name servers, written from inside, where a link can only lead to another file of the system.
  chroot "$root" /bin/sh -c 'rm -f /etc/resolv.conf && cat >/etc/resolv.conf' </etc/resolv.conf
  chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb ${CI:+CI=$CI} \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
}

# fresh_run ROOT COMMAND...: COMMAND as root inside the system ROOT (see fresh_enter), with this shell's standard
# input, output and error. When it ends, every process it started is ended and its mounts are gone.
fresh_run() {
  unshare --mount --pid --ipc --uts --fork --kill-child --propagation private -- \
    /bin/bash -c "$(declare -f fresh_enter); fresh_enter \"\$@\"" fresh-system "$@"
}

# fresh_remove ROOT: removes the system after checking that no process runs in it and nothing is mounted in it;
# when something is, it is left in place with one line saying so (never deleted through a mount).
fresh_remove() {
  local root=$1 process
  [ -d "$root" ] || return 0
  for process in /proc/[0-9]*; do
    case $(readlink "$process/root" 2>/dev/null) in
      "$root" | "$root"/*) echo "fresh-system: process ${process#/proc/} still runs in $root; left it in place" >&2
        return 1 ;;
    esac
  done
  if findmnt -rn -o TARGET | grep -qF -- "$root/"; then
    echo "fresh-system: something is mounted in $root; left it in place" >&2
    return 1
  fi
  rm -rf --one-file-system -- "$root"
}

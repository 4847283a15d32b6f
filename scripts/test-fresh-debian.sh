#!/usr/bin/env bash
# The README's two commands as a new user meets them: on a minimal Debian 12
# root (debootstrap --variant=minbase, from the Debian mirror this machine's apt
# sources name), as root, from a clean clone of HEAD, with what a booted
# machine has mounted (proc, sys with this machine's cgroups, dev, /dev/shm,
# /run). Times each command and the MB it adds to the root. Not part of the
# test command: the second command builds Qt for Windows cold.
#   bash scripts/test-fresh-debian.sh [--first-only]
# The base root is kept in $PS_FRESH_DEBIAN_CACHE (default
# /var/cache/dirurarovavu/fresh-debian) and rebuilt when missing; each run
# works on a copy of it, removed at the end (PS_FRESH_DEBIAN_KEEP=1 keeps it).
set -eEuo pipefail
trap 'echo "test-fresh-debian.sh: \"$BASH_COMMAND\" failed (line $LINENO, status $?)" >&2' ERR
repo=$(cd "$(dirname "$0")/.." && pwd)
cache=${PS_FRESH_DEBIAN_CACHE:-/var/cache/dirurarovavu/fresh-debian}
suite=bookworm
first_only=0
case "${1:-}" in
  "") ;;
  --first-only) first_only=1 ;;
  *) echo "usage: $0 [--first-only]" >&2; exit 2 ;;
esac
if [ "$(id -u)" -ne 0 ]; then
  echo "test-fresh-debian.sh: needs root (debootstrap, mounts, chroot)" >&2
  exit 1
fi
missing=()
for program in debootstrap git chroot mount umount findmnt du unshare flock; do
  command -v "$program" >/dev/null || missing+=("$program")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "test-fresh-debian.sh: missing ${missing[*]} (apt-get install debootstrap git)" >&2
  exit 1
fi

# The first URI this machine's apt sources give for a suite, one-line or deb822.
mirror_of() {  # suite
  local file
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$file" ] || continue
    awk -v suite="$1" '$1 == "deb" { i = 2; if ($2 ~ /^\[/) while ($i !~ /\]$/) i++; if ($2 ~ /^\[/) i++;
                                     if ($(i + 1) == suite) { print $i; exit } }' "$file"
  done
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    awk -v suite="$1" 'function flush() { if (deb && has && uri != "") { print uri; found = 1 } deb = has = 0; uri = "" }
      /^[ \t]*$/ { flush(); if (found) exit; next }
      /^Types:/ { for (i = 2; i <= NF; i++) if ($i == "deb") deb = 1 }
      /^URIs:/ { uri = $2 }
      /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == suite) has = 1 }
      END { if (!found) flush() }' "$file"
  done
}
# A mount namespace of its own: nothing mounted here reaches this machine's mounts, and all of it
# goes with the last process in the namespace, whatever way the test ends.
[ -n "${PS_FRESH_DEBIAN_NAMESPACE:-}" ] ||
  PS_FRESH_DEBIAN_NAMESPACE=1 exec unshare --mount --propagation private -- bash "$0" "$@"
mkdir -p "$cache"
exec 9>"$cache/lock"
flock -n 9 || { echo "test-fresh-debian.sh: another run holds $cache/lock" >&2; exit 1; }

mirror=$(mirror_of $suite | head -n 1)
security=$(mirror_of $suite-security | head -n 1)
if [ -z "$mirror" ]; then
  echo "test-fresh-debian.sh: no 'deb ... $suite' entry in this machine's apt sources to take the mirror from" >&2
  exit 1
fi

# Mounts left under a folder (debootstrap's /proc when it fails), deepest first.
unmount_under() {  # folder
  local target
  findmnt -rn -o TARGET | { grep -E "^$1(/|$)" || true; } | sort -r | while IFS= read -r target; do
    umount -l "$target" || echo "test-fresh-debian.sh: cannot unmount $target" >&2
  done
}
remove_root() {  # folder; never into a file system mounted below it
  unmount_under "$1"
  rm -rf --one-file-system "$1"
}

base=$cache/base
if [ ! -f "$base/.complete" ]; then
  echo "== Building the base root in $base from $mirror"
  remove_root "$base"
  remove_root "$base.part"
  started=$SECONDS
  debootstrap --variant=minbase $suite "$base.part" "$mirror" >"$cache/debootstrap.log" 2>&1 ||
    { unmount_under "$base.part"; tail -n 30 "$cache/debootstrap.log" >&2
      echo "debootstrap failed; its log: $cache/debootstrap.log" >&2; exit 1; }
  # The one-line sources.list Debian's installer writes, with this machine's mirrors.
  {
    echo "deb $mirror $suite main"
    [ -z "$security" ] || echo "deb $security $suite-security main"
    echo "deb $mirror $suite-updates main"
  } >"$base.part/etc/apt/sources.list"
  apt-get -o DPkg::Lock::Timeout=900 -qq -o RootDir="$base.part" clean >/dev/null 2>&1 || true
  touch "$base.part/.complete"
  mv "$base.part" "$base"
  echo "base root: $((SECONDS - started)) s, $(du -smx "$base" | cut -f1) MB"
fi

root=$cache/root
mounted=()
cleanup() {
  local status=$? pid tries killed i
  # Whatever still runs inside the root was started by this test: its daemons, Wine's server.
  for tries in 1 2 3; do
    killed=0
    for pid in /proc/[0-9]*; do
      [ "$pid/root" -ef "$root" ] || continue
      kill -9 "${pid#/proc/}" 2>/dev/null && killed=1
    done
    [ $killed -eq 1 ] || break
    sleep 0.5
  done
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount -R "${mounted[$i]}" 2>/dev/null || umount -R -l "${mounted[$i]}" || status=1
  done
  if findmnt -rn -o TARGET | grep -q "^$root/"; then
    echo "test-fresh-debian.sh: mounts left under $root:" >&2
    findmnt -rn -o TARGET | grep "^$root/" >&2
    exit 1
  fi
  [ -n "${PS_FRESH_DEBIAN_KEEP:-}" ] || rm -rf --one-file-system "$root"
  exit $status
}
trap cleanup EXIT
trap 'exit 1' INT TERM

remove_root "$root"
cp -a "$base" "$root"
rm -f "$root/.complete"
# No service manager runs in the root: package scripts must not start daemons inside it.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"
cp /etc/resolv.conf "$root/etc/resolv.conf"
mount_in() {  # target under the root, mount arguments...
  local target=$root$1
  shift
  mkdir -p "$target"
  mount "$@" "$target"
  mounted+=("$target")
}
mount_in /proc -t proc proc
mount_in /sys --rbind /sys  # with this machine's cgroup mounts, as it booted
mount_in /dev --rbind /dev
mount_in /dev/shm -t tmpfs -o nosuid,nodev shm
mount_in /run -t tmpfs -o nosuid,nodev,mode=755 run
mkdir -p "$root/run/lock"

checkout=$root/root/DirUrarovavu
head=$(git -C "$repo" rev-parse HEAD)
git clone -q --no-hardlinks "$repo" "$checkout"
git -C "$checkout" checkout -q --detach "$head"
echo "clean clone of $(git -C "$repo" log -1 --format='%h %s' HEAD)"
mb() { du -smx "$root${1:-}" 2>/dev/null | cut -f1; }

in_root() {  # command line, as root logs in: a plain environment, the clone as working folder
  chroot "$root" /usr/bin/env -i HOME=/root TERM=dumb LANG=C.UTF-8 \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    /bin/bash -c "cd /root/DirUrarovavu && $1" </dev/null 9>&-
}
run_command() {  # README command
  local before after started status=0 apt_before apt_after
  before=$(mb)
  apt_before=$(($(mb /var/cache/apt) + $(mb /var/lib/apt/lists)))
  started=$SECONDS
  echo "== # $1"
  in_root "$1" || status=$?
  after=$(mb)
  apt_after=$(($(mb /var/cache/apt) + $(mb /var/lib/apt/lists)))
  echo "== $1: exit $status, $((SECONDS - started)) s, the root grew by $((after - before)) MB ($before MB before;" \
       "apt's package lists and downloaded packages $((apt_after - apt_before)) MB of it)"
  return $status
}
commands=$(sed -n '/^```sh$/,/^```$/p' "$repo/README.md" | grep -E '^bash scripts/(run|test)\.sh' |
           sed 's/ *#.*//' | head -n 2)
[ "$(wc -l <<<"$commands")" -eq 2 ] || { echo "test-fresh-debian.sh: the README's two commands not found" >&2; exit 1; }
while IFS= read -r command; do
  run_command "$command" || { echo "test-fresh-debian.sh: '$command' failed in the fresh root" >&2; exit 1; }
  if [ $first_only -eq 1 ]; then
    echo "== (--first-only) the second command's installs only"
    run_command "bash scripts/install-deps.sh test" ||
      { echo "test-fresh-debian.sh: the test installs failed" >&2; exit 1; }
    echo "The first README command and the second's installs passed on a minimal Debian 12 root"
    exit 0
  fi
done <<<"$commands"
echo "Both README commands passed on a minimal Debian 12 root"

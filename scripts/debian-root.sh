#!/usr/bin/env bash
# A Debian root for tests that need another release than the machine's: built with mmdebstrap from Debian's
# archive, cached outside the clone, unpacked afresh for each run and gone after it.
#
#   scripts/debian-root.sh build SUITE LIST
#       builds the root unless it is cached; prints the cached tarball's path
#   scripts/debian-root.sh run SUITE LIST [--bind DIR]... [--env NAME=VALUE]... [--cwd DIR] [--network] -- COMMAND...
#       runs COMMAND as root in a fresh copy of the root (built first unless cached)
#
# LIST is a file naming the root's packages, one a line (# starts a comment). Packages named after a line
# `[download]` are not installed but kept ready for apt-get inside: downloaded with their dependencies into apt's
# cache, with apt's package lists (a test that installs into a clean root, and needs no network for it). The cache
# is keyed on the suite, the packages and the recipe below:
# ${HALVIC_ROOT_CACHE:-/var/cache/halvic/roots}/<suite>-<hash>.tar.zst; the four most recently used stay.
#
# A run enters namespaces of its own. Its mount namespace holds the copy (unpacked into a tmpfs) and the copy's
# mounts: proc, sysfs, a /dev with a new devpts instance and a tmpfs /dev/shm, and each DIR bound at the same path
# inside. Its network namespace (loopback only) keeps X11's abstract sockets apart from the machine's (--network
# keeps the machine's network instead, with its /etc/resolv.conf, for apt-get in the root), and its PID
# namespace ends every process started inside when COMMAND ends: the kernel then undoes the mounts and frees the
# copy. COMMAND starts in CWD (default /) with a clean environment: PATH, HOME=/root, LANG=C.UTF-8, TERM and the
# --env values. The run's exit status is COMMAND's. On any end, a failure or a signal, the script kills what is
# left of the run, checks that no process of it runs and nothing is mounted under its folder
# (${HALVIC_ROOT_WORK:-/var/tmp}/halvic-root-<suite>.*), and removes the folder. A build is made the same way in a
# tmpfs of its own, and only a finished tarball enters the cache.
#
# Needs root (the test command runs as root; elsewhere it goes through sudo). Never touches the machine's own
# package sources: mmdebstrap takes Debian's default archive for SUITE, with its updates and security archives.
set -euo pipefail
self=$(readlink -f "$0")
cache=${HALVIC_ROOT_CACHE:-/var/cache/halvic/roots}
work=${HALVIC_ROOT_WORK:-/var/tmp}
keep=4

die() { echo "debian-root.sh: $*" >&2; exit 2; }
say() { echo "debian-root.sh: $*" >&2; }
now() { echo "${EPOCHREALTIME/./}"; }  # microseconds
since() { local us=$(($(now) - $1)); printf '%d.%d' $((us / 1000000)) $((us % 1000000 / 100000)); }

# What makes the root besides its packages; part of the cache key. No documentation, manual pages or translations.
recipe=(--variant=minbase --mode=root
  --aptopt='APT::Install-Recommends "false"'
  --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-include=/usr/share/doc/*/copyright'
  --dpkgopt='path-exclude=/usr/share/man/*' --dpkgopt='path-exclude=/usr/share/info/*'
  --dpkgopt='path-exclude=/usr/share/locale/*' --dpkgopt='path-include=/usr/share/locale/locale.alias'
  --dpkgopt='path-exclude=/usr/share/help/*' --dpkgopt='path-exclude=/usr/share/gnome/help/*')

names_in() { sed 's/#.*//; s/\s//g' | awk NF | sort -u; }
packages_of() { sed '/^\s*\[download\]/,$d' "$1" | names_in; }
downloads_of() { sed -n '/^\s*\[download\]/,$p' "$1" | tail -n +2 | names_in; }

tarball_of() {  # suite list
  local key
  key=$( {
    echo "$1"; printf '%s\n' "${recipe[@]}"; packages_of "$2"
    [ -z "$(downloads_of "$2")" ] || { echo '[download]'; downloads_of "$2"; }
  } | sha256sum | cut -c1-16)
  echo "$cache/$1-$key.tar.zst"
}

# Runs this script's inner part (`bash self __NAME ARGS...`) in new mount and PID namespaces (and more, per the
# options), killed with everything inside when this process ends it or dies. In the background, so that a signal
# reaches the caller's trap at once instead of after the command; as a job of its own (set -m), so that it does
# not start with SIGINT ignored, as a plain background command would.
inner_pid=
in_namespaces() {  # unshare options... -- __NAME args...
  local options=()
  while [ "$1" != -- ]; do options+=("$1"); shift; done
  shift
  set -m
  unshare --mount --propagation private --pid --fork --kill-child "${options[@]}" -- bash "$self" "$@" &
  inner_pid=$!
  set +m
  local status=0
  wait "$inner_pid" || status=$?
  inner_pid=
  return "$status"
}

end_inner() {  # kills the namespaces' first process, which takes every process inside with it (--kill-child)
  if [ -n "$inner_pid" ]; then
    kill -KILL "$inner_pid" 2>/dev/null || true
    wait "$inner_pid" 2>/dev/null || true
    inner_pid=
  fi
}

on_end() {  # function: runs it on any exit, and exits on the usual signals
  trap "$1" EXIT
  trap 'exit 129' HUP
  trap 'exit 130' INT
  trap 'exit 143' TERM
}

staging=
build() {  # suite list; sets tarball
  local suite=$1 list=$2
  tarball=$(tarball_of "$suite" "$list")
  mkdir -p "$cache"
  # One builder at a time: another checkout's test command may want the same root.
  exec 9>"$cache/.lock"
  flock 9
  if [ -f "$tarball" ]; then
    say "cached: $tarball"
  else
    staging=$(mktemp -d "$cache/.build.XXXXXX")
    on_end end_build
    mkdir "$staging/tree"
    in_namespaces --mount-proc -- __stage "$suite" "$list" "$staging"
    mv "$staging/root.tar.zst" "$tarball"
    say "cached as $tarball"
    rm -rf --one-file-system "$staging"
    staging=
  fi
  # The most recently used roots stay; older ones (of package lists since changed) go.
  touch "$tarball"
  ls -t "$cache"/*.tar.zst | tail -n +$((keep + 1)) | xargs -r rm -f
  exec 9>&-
}

end_build() {
  local status=$?
  trap - EXIT HUP INT TERM
  end_inner
  [ -z "$staging" ] || rm -rf --one-file-system "$staging"
  exit "$status"
}

# Inside: the root is made in a tmpfs, which goes with the namespace, mmdebstrap's mounts included; only the
# tarball is written to disk.
stage() {  # suite list staging
  local suite=$1 list=$2 tree=$3/tree start
  mount -t tmpfs -o mode=755 staging "$tree"
  start=$(now)
  local options=() downloads
  [ -z "$(packages_of "$list")" ] || options+=(--include="$(packages_of "$list" | paste -sd,)")
  downloads=$(downloads_of "$list" | paste -sd ' ')
  if [ -n "$downloads" ]; then
    # Only these in the cache: not the packages the root is made of.
    options+=(--skip=cleanup/apt/lists --skip=cleanup/apt/cache
      --customize-hook='rm -f "$1"/var/cache/apt/archives/*.deb'
      --customize-hook="chroot \"\$1\" apt-get install --download-only --yes -qq $downloads")
  fi
  TMPDIR=$tree mmdebstrap --quiet "${recipe[@]}" "${options[@]}" "$suite" "$tree/root"
  say "built the $suite root of $(packages_of "$list" | wc -l) listed packages" \
    "($(downloads_of "$list" | wc -l) more downloaded) in $(since "$start") s," \
    "$(df -m --output=used "$tree" | tail -n 1 | tr -d ' ') MB"
  start=$(now)
  tar --xattrs --xattrs-include='*' --numeric-owner -C "$tree/root" -cf - . | zstd -q -T0 -o "$3/root.tar.zst"
  say "packed in $(since "$start") s, $(($(stat -c %s "$3/root.tar.zst") >> 20)) MB"
}

run() {  # suite list options... -- command...
  local suite=$1 list=$2 cwd=/ binds=() envs=() namespaces=(--net) start
  shift 2
  while [ $# -gt 0 ] && [ "$1" != -- ]; do
    case "$1" in
      --bind) binds+=("$(readlink -f "$2")"); shift 2 ;;
      --env) envs+=("$2"); shift 2 ;;
      --cwd) cwd=$2; shift 2 ;;
      --network) namespaces=(); binds+=(/etc/resolv.conf); shift ;;
      *) die "unknown option $1" ;;
    esac
  done
  [ "${1:-}" = -- ] && shift
  [ $# -gt 0 ] || die "run needs a command after --"
  build "$suite" "$list"
  mkdir -p "$work"
  rundir=$(mktemp -d "$work/halvic-root-$suite.XXXXXX")
  mkdir "$rundir/root"
  on_end end_run
  start=$(now)
  local status=0
  in_namespaces "${namespaces[@]}" --uts --ipc -- __enter "$rundir" "$tarball" "$cwd" \
    "${#binds[@]}" "${binds[@]}" "${#envs[@]}" "${envs[@]}" -- "$@" || status=$?
  say "ran in $(since "$start") s with status $status: $*"
  return "$status"
}

# The processes of the run's PID namespace.
processes_of_run() {
  local pid ns
  [ -s "$rundir/pidns" ] || return 0
  ns=$(cat "$rundir/pidns")
  for pid in /proc/[0-9]*; do
    [ "$(readlink "$pid/ns/pid" 2>/dev/null)" = "$ns" ] && echo "${pid#/proc/}"
  done
  return 0
}

mounts_under() { awk -v d="$1" '$2 == d || index($2, d "/") == 1 { print $2 }' /proc/self/mounts | sort -r; }

end_run() {
  local status=$? pids mounts
  trap - EXIT HUP INT TERM
  end_inner
  for _ in $(seq 100); do
    pids=$(processes_of_run)
    [ -z "$pids" ] && break
    kill -KILL $pids 2>/dev/null || true
    sleep 0.1
  done
  if [ -n "$pids" ]; then
    say "still running after 10 s: $pids"
    status=2
  fi
  for mount in $(mounts_under "$rundir"); do umount -l "$mount" || true; done
  mounts=$(mounts_under "$rundir")
  if [ -n "$mounts" ]; then
    say "not removing $rundir, still mounted: $mounts"
    exit 2
  fi
  # --one-file-system: never into a mounted folder, should one have appeared meanwhile.
  rm -rf --one-file-system "$rundir"
  exit "$status"
}

# Inside, as PID 1 of the new PID namespace: unpack, mount, enter, run, and reap until COMMAND ends.
enter() {  # rundir tarball cwd count binds... count envs... -- command...
  local rundir=$1 tarball=$2 cwd=$3 dir=$1/root n path start node name major minor status=0
  shift 3
  local binds=() envs=()
  n=$1; shift; binds=("${@:1:n}"); shift "$n"
  n=$1; shift; envs=("${@:1:n}"); shift "$n"
  [ "$1" = -- ] && shift
  readlink /proc/self/ns/pid >"$rundir/pidns"
  start=$(now)
  mount -t tmpfs -o mode=755 root "$dir"
  zstd -q -d -T0 -c "$tarball" | tar --xattrs --xattrs-include='*' --numeric-owner -xpf - -C "$dir"
  say "unpacked in $(since "$start") s"
  mount -t proc -o nosuid,nodev,noexec proc "$dir/proc"
  mount -t sysfs -o nosuid,nodev,noexec,ro sysfs "$dir/sys"
  mount -t tmpfs -o nosuid,mode=755 dev "$dir/dev"
  for node in null:1:3 zero:1:5 full:1:7 random:1:8 urandom:1:9 tty:5:0; do
    IFS=: read -r name major minor <<<"$node"
    mknod -m 666 "$dir/dev/$name" c "$major" "$minor"
  done
  mkdir -m 755 "$dir/dev/pts"
  mkdir -m 1777 "$dir/dev/shm"
  mount -t devpts -o newinstance,ptmxmode=0666,mode=0620,gid=5 devpts "$dir/dev/pts"
  ln -s pts/ptmx "$dir/dev/ptmx"
  ln -s /proc/self/fd "$dir/dev/fd"
  # sway as an ordinary user allocates its buffers there.
  mount -t tmpfs -o nosuid,nodev,mode=1777 shm "$dir/dev/shm"
  for path in "${binds[@]}"; do
    if [ -d "$path" ]; then mkdir -p "$dir$path"; else mkdir -p "$(dirname "$dir$path")" && rm -f "$dir$path" && touch "$dir$path"; fi
    mount --bind "$path" "$dir$path"
  done
  # What a booting system would make: a machine id for D-Bus, the X servers' socket folder.
  tr -d - </proc/sys/kernel/random/uuid >"$dir/etc/machine-id"
  install -d -m 1777 "$dir/tmp/.X11-unix"
  ip link set lo up 2>/dev/null || true
  # Not exec: this shell stays PID 1 and reaps the orphans (Xwayland and the like) until COMMAND ends.
  chroot "$dir" /usr/bin/env -i -C "$cwd" PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" "${envs[@]}" "$@" || status=$?
  exit "$status"
}

usage="usage: $0 build SUITE LIST | run SUITE LIST [--bind DIR]... [--env NAME=VALUE]... [--cwd DIR] [--network] -- COMMAND..."
case "${1:-}" in
  __enter) shift; enter "$@" ;;
  __stage) shift; stage "$@" ;;
  build | run)
    [ $# -ge 3 ] || die "$usage"
    [ -f "$3" ] || die "no package list $3"
    if [ "$(id -u)" -ne 0 ]; then exec sudo --preserve-env=HALVIC_ROOT_CACHE,HALVIC_ROOT_WORK,TERM "$self" "$@"; fi
    if [ "$1" = build ]; then
      build "$2" "$3"
      echo "$tarball"
    else
      shift
      run "$@"
    fi ;;
  *) die "$usage" ;;
esac

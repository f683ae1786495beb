#!/usr/bin/env bash
# A private Evolution Data Server: its own D-Bus session bus, HOME and XDG
# directories under one root, so tests and benchmarks never touch the user's.
#
#   eds_session.sh start ROOT   start bus, source registry and calendar factory;
#                               ROOT/home is the (pre-seeded) HOME; prints the
#                               environment to use, also kept in ROOT/env
#   eds_session.sh stop ROOT    end every process that start began
#
# Everything runs in one new process group whose id is kept in ROOT/pgid.
set -euo pipefail

libexec=/usr/libexec
command=${1:?start or stop}
root=$(realpath -m "${2:?root directory}")

write_env() {
  cat >"$root/env" <<ENV
HOME=$root/home
XDG_CONFIG_HOME=$root/home/.config
XDG_DATA_HOME=$root/home/.local/share
XDG_CACHE_HOME=$root/home/.cache
XDG_RUNTIME_DIR=$root/run
DBUS_SESSION_BUS_ADDRESS=unix:path=$root/run/bus
GSETTINGS_BACKEND=memory
ENV
}

name_owned() {
  env -i PATH="$PATH" $(cat "$root/env") gdbus call --session --timeout 2 \
    --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
    --method org.freedesktop.DBus.NameHasOwner "$1" 2>/dev/null | grep -q true
}

wait_for() {  # wait_for DESCRIPTION COMMAND...: up to 10 s
  local what=$1; shift
  for _ in $(seq 100); do "$@" && return 0; sleep 0.1; done
  echo "eds_session: $what did not come up" >&2
  return 1
}

case $command in
start)
  mkdir -p "$root/home/.config/evolution/sources" "$root/home/.local/share" "$root/home/.cache" "$root/services"
  mkdir -p -m 700 "$root/run"
  write_env
  cat >"$root/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$root/run/bus</listen>
  <auth>EXTERNAL</auth>
  <servicedir>$root/services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
  rm -f "$root/pgid" "$root/registry.pid" "$root/factory.pid"
  # The leader records its id (= the group's), starts the daemons and stays.
  setsid -f env -i PATH="$PATH" $(cat "$root/env") bash -c '
    root=$1 libexec=$2
    echo $$ >"$root/pgid"
    exec </dev/null >"$root/daemons.log" 2>&1
    dbus-daemon --nofork --config-file="$root/bus.conf" &
    for _ in $(seq 100); do [ -S "$root/run/bus" ] && break; sleep 0.05; done
    "$libexec/evolution-source-registry" &
    echo $! >"$root/registry.pid"
    "$libexec/evolution-calendar-factory" --keep-running &
    echo $! >"$root/factory.pid"
    wait' _ "$root" "$libexec"
  wait_for "process group" test -s "$root/pgid"
  wait_for "bus" test -S "$root/run/bus"
  wait_for "source registry" name_owned org.gnome.evolution.dataserver.Sources5
  wait_for "calendar factory" name_owned org.gnome.evolution.dataserver.Calendar8
  cat "$root/env"
  ;;
stop)
  [ -s "$root/pgid" ] || exit 0
  pgid=$(cat "$root/pgid")
  kill -CONT -- "-$pgid" 2>/dev/null || true
  kill -TERM -- "-$pgid" 2>/dev/null || true
  for _ in $(seq 50); do kill -0 -- "-$pgid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL -- "-$pgid" 2>/dev/null || true
  rm -f "$root/pgid"
  ;;
*)
  echo "usage: $0 start|stop ROOT" >&2
  exit 2
  ;;
esac

#!/usr/bin/env bash
# A private Evolution Data Server: its own D-Bus session bus, HOME and XDG directories under ROOT, so tests and
# benchmarks never touch the user's.
#   eds_session.sh start ROOT [KIND]   starts bus, source registry and calendar factory in one new process group
#                                      (ROOT/home is the pre-seeded HOME) and prints the environment to use;
#                                      KIND "bare": the bus alone, as where EDS never started;
#                                      "refusing": bus and registry, the bus's policy turning away every
#                                      call to the registry
#   eds_session.sh stop ROOT           ends every process that start began
set -euo pipefail
[[ ${1:-} =~ ^(start|stop)$ && -n ${2:-} && ${3:-} =~ ^(|bare|refusing)$ ]] ||
  { echo "usage: eds_session.sh start|stop ROOT [bare|refusing]" >&2; exit 2; }
root=$(realpath -m "$2")
case ${3:-} in
'') services=(Sources5 Calendar8) deny='' ;;
bare) services=() deny='' ;;
refusing) services=(Sources5) deny='<deny send_destination="org.gnome.evolution.dataserver.Sources5"/>' ;;
esac

case $1 in
start)
  mkdir -p "$root/home/.config/evolution/sources" "$root/home/.local/share" "$root/home/.cache" "$root/services"
  mkdir -p -m 700 "$root/run"
  printf '%s\n' "HOME=$root/home" "XDG_CONFIG_HOME=$root/home/.config" "XDG_DATA_HOME=$root/home/.local/share" \
    "XDG_CACHE_HOME=$root/home/.cache" "XDG_RUNTIME_DIR=$root/run" "DBUS_SESSION_BUS_ADDRESS=unix:path=$root/run/bus" \
    GSETTINGS_BACKEND=memory >"$root/env"
  # No service files: nothing is started on demand in place of a daemon that a test stopped or killed.
  cat >"$root/bus.conf" <<CONF
<busconfig>
  <listen>unix:path=$root/run/bus</listen>
  <servicedir>$root/services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
    $deny
  </policy>
</busconfig>
CONF
  rm -f "$root/pgid" "$root/registry.pid" "$root/factory.pid" "$root/bus.address"
  # The leader records its id (the group's), starts the daemons and stays.
  setsid -f env -i PATH="$PATH" $(cat "$root/env") bash -c '
    echo $$ >"$1/pgid"
    exec </dev/null >"$1/daemons.log" 2>&1
    # The socket file appears at bind(), before the daemon listens; its address is printed once it does.
    dbus-daemon --nofork --config-file="$1/bus.conf" --print-address=3 3>"$1/bus.address" &
    for _ in $(seq 200); do [ -s "$1/bus.address" ] && break; sleep 0.05; done
    if [ "$2" -gt 0 ]; then
      /usr/libexec/evolution-source-registry &
      echo $! >"$1/registry.pid"
    fi
    if [ "$2" -gt 1 ]; then
      /usr/libexec/evolution-calendar-factory --keep-running &
      echo $! >"$1/factory.pid"
    fi
    wait' _ "$root" "${#services[@]}"
  for _ in $(seq 100); do [ -s "$root/bus.address" ] && break; sleep 0.1; done
  [ -s "$root/bus.address" ] || { echo "eds_session: the bus did not come up" >&2; exit 1; }
  for name in "${services[@]}"; do
    env -i PATH="$PATH" $(cat "$root/env") gdbus wait --session --timeout 10 "org.gnome.evolution.dataserver.$name" ||
      { echo "eds_session: $name did not come up; the daemons said:" >&2; tail -n 20 "$root/daemons.log" >&2; exit 1; }
  done
  cat "$root/env"
  ;;
stop)
  [ -s "$root/pgid" ] || exit 0
  pgid=$(cat "$root/pgid")
  # Whether a process of the group has yet to end; one that has ended may wait a while (over a second on some
  # machines) for whoever reaps orphans, and holds nothing meanwhile.
  running() {
    local stat line
    for stat in /proc/[0-9]*/stat; do
      { read -r line <"$stat"; } 2>/dev/null || continue  # it may end meanwhile
      read -r state _ group _ <<<"${line##*) }"
      [[ $group == "$pgid" && $state != Z ]] && return 0
    done
    return 1
  }
  kill -CONT -- "-$pgid" 2>/dev/null || true  # a daemon that a test stopped must run to end
  kill -TERM -- "-$pgid" 2>/dev/null || true
  for _ in $(seq 50); do running || break; sleep 0.1; done
  kill -KILL -- "-$pgid" 2>/dev/null || true
  rm -f "$root/pgid"
  ;;
esac

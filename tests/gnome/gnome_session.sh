#!/usr/bin/env bash
# A private headless GNOME Shell on Wayland (with Xwayland) for tests and benchmarks, run as root: its own session
# bus with no activatable services (no EDS, calendar server, notifications or a11y start), a second bus standing in
# for the system bus (the Shell aborts without one), keyfile settings and XDG directories under ROOT. The same for
# GNOME 43 and 48.
#   gnome_session.sh start ROOT [DATA_DIR] [WxH]   starts bus, stand-in and Shell in one new process group, with
#                       DATA_DIR/gnome-shell/extensions searched for extensions and both uuids of ours enabled (the
#                       Shell loads the one whose metadata names its version), in a session mode without the
#                       overview, where new windows would get no focus; prints the environment to use
#   gnome_session.sh stop ROOT   ends every process that start began
set -euo pipefail
[[ ${1:-} =~ ^(start|stop)$ && -n ${2:-} ]] || { echo "usage: gnome_session.sh start ROOT [DATA_DIR] [WxH] | stop ROOT" >&2; exit 2; }
root=$(realpath -m "$2")
uuids="'desktop-helpers@halvic', 'desktop-helpers-45@halvic'"
mode=halvic-test

case $1 in
start)
  data=${3:-}
  rm -rf "$root/run" "$root/home" "$root/modes"
  mkdir -p "$root/home/.config/glib-2.0/settings" "$root/home/.local/share" "$root/home/.cache"
  mkdir -p -m 700 "$root/run"
  # The user's session without the overview: the Shell would start in it, where new windows get no focus.
  mkdir -p "$root/modes/gnome-shell/modes"
  echo '{"parentMode": "user", "hasOverview": false}' >"$root/modes/gnome-shell/modes/$mode.json"
  printf '%s\n' "HOME=$root/home" "XDG_CONFIG_HOME=$root/home/.config" "XDG_DATA_HOME=$root/home/.local/share" \
    "XDG_CACHE_HOME=$root/home/.cache" "XDG_RUNTIME_DIR=$root/run" "DBUS_SESSION_BUS_ADDRESS=unix:path=$root/run/bus" \
    "XDG_DATA_DIRS=${data:+$data:}$root/modes:/usr/local/share:/usr/share" GSETTINGS_BACKEND=keyfile \
    XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=GNOME >"$root/env"
  # Our extension enabled before the Shell starts; no welcome tour; logical coordinates whatever a monitor's scale.
  cat >"$root/home/.config/glib-2.0/settings/keyfile" <<KEYS
[org/gnome/shell]
enabled-extensions=[$uuids]
welcome-dialog-last-shown-version='999'

[org/gnome/mutter]
experimental-features=['scale-monitor-framebuffer']
KEYS
  for bus in bus system; do
    cat >"$root/$bus.conf" <<CONF
<busconfig>
  <listen>unix:path=$root/run/$bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
  done
  rm -f "$root/pgid" "$root/shell.pid" "$root"/*.address "$root/shell.log"
  setsid -f env -i PATH="$PATH" $(cat "$root/env") bash -c '
    echo $$ >"$1/pgid"
    exec </dev/null >"$1/daemons.log" 2>&1
    for bus in bus system; do
      dbus-daemon --nofork --config-file="$1/$bus.conf" --print-address=3 3>"$1/$bus.address" &
    done
    for _ in $(seq 200); do [ -s "$1/bus.address" ] && [ -s "$1/system.address" ] && break; sleep 0.02; done
    DBUS_SYSTEM_BUS_ADDRESS=unix:path=$1/run/system LIBGL_ALWAYS_SOFTWARE=1 NO_AT_BRIDGE=1 \
      gnome-shell --headless --wayland --mode="$3" --virtual-monitor "$2" >"$1/shell.log" 2>&1 &
    echo $! >"$1/shell.pid"
    wait' _ "$root" "${4:-1280x800}" "$mode"
  for _ in $(seq 100); do [ -s "$root/bus.address" ] && break; sleep 0.05; done
  run() { env -i PATH="$PATH" $(cat "$root/env") "$@"; }
  ready=
  for _ in $(seq 300); do
    if grep -q 'GNOME Shell started' "$root/shell.log" 2>/dev/null &&
       run gdbus introspect --session --dest org.gnome.Shell.Screenshot --object-path /org/gnome/Shell/Screenshot >/dev/null 2>&1; then
      ready=1; break
    fi
    sleep 0.05
  done
  [ -n "$ready" ] || { echo "gnome_session: the Shell did not come up; it said:" >&2; tail -n 30 "$root/shell.log" >&2; exit 1; }
  display=$(sed -n 's/.*Using public X11 display \(:[0-9]*\).*/\1/p' "$root/shell.log" | head -n 1)
  wayland=$(cd "$root/run" && ls wayland-[0-9] 2>/dev/null | head -n 1)
  xauthority=$(ls "$root"/run/.mutter-Xwaylandauth.* 2>/dev/null | head -n 1)
  printf '%s\n' "WAYLAND_DISPLAY=$wayland" "DISPLAY=$display" "XAUTHORITY=$xauthority" >>"$root/env"
  cat "$root/env"
  ;;
stop)
  [ -s "$root/pgid" ] || exit 0
  pgid=$(cat "$root/pgid")
  kill -CONT -- "-$pgid" 2>/dev/null || true  # a Shell that a test stopped must run to end
  kill -TERM -- "-$pgid" 2>/dev/null || true
  for _ in $(seq 50); do kill -0 -- "-$pgid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL -- "-$pgid" 2>/dev/null || true
  rm -f "$root/pgid"
  # Xwayland killed leaves its display's lock and socket: removed once no live process holds them.
  display=$(sed -n 's/^DISPLAY=:\([0-9]*\)$/\1/p' "$root/env" 2>/dev/null)
  if [ -n "$display" ] && [ -f "/tmp/.X$display-lock" ]; then
    holder=$(tr -d ' ' <"/tmp/.X$display-lock")
    state=$(awk '{print $3}' "/proc/$holder/stat" 2>/dev/null || true)
    if [ -z "$state" ] || [ "$state" = Z ]; then rm -f "/tmp/.X$display-lock" "/tmp/.X11-unix/X$display"; fi
  fi
  ;;
esac

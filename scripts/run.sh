#!/usr/bin/env bash
# The main job: builds both helpers and runs each once, printing their JSON
# lines. Where the machine has no X display, the screen helper runs on a
# throwaway Xvfb desktop with a window manager and one window; where it has no
# session bus, the calendar helper runs against a throwaway Evolution Data
# Server holding a calendar with a few events of today.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/bootstrap.sh"
"$root/scripts/build.sh" "$root/build" >/dev/null
bin=$root/build
work=$(mktemp -d /tmp/halvic-run-XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  [ -e "$work/eds" ] && "$root/tests/e2e_calendar/eds_session.sh" stop "$work/eds" || true
  rm -rf "$work"
}
trap cleanup EXIT

# --- the screen helper ------------------------------------------------------
if [ -z "${DISPLAY:-}" ]; then
  exec 3>"$work/displayfd"
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset >/dev/null 2>&1 &
  pids+=($!)
  exec 3>&-
  for _ in $(seq 100); do [ -s "$work/displayfd" ] && break; sleep 0.05; done
  export DISPLAY=":$(head -n1 "$work/displayfd")"
  openbox >/dev/null 2>&1 &
  pids+=($!)
  sleep 0.5
  xterm -T "Çalışma notları" -geometry 100x30 -e sh -c 'echo "a throwaway desktop for halvic_screen_helper"; sleep 60' >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do xdotool search --name "notları" >/dev/null 2>&1 && break; sleep 0.05; done
  sleep 0.3
  echo "screen helper (throwaway desktop $DISPLAY):"
else
  echo "screen helper ($DISPLAY):"
fi
"$bin/screen_helper/halvic_screen_helper" capture_active_window "$work/out/screen.json"

# --- the calendar helper ----------------------------------------------------
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
  home=$work/eds/home
  src=$home/.config/evolution/sources
  data=$home/.local/share/evolution/calendar/halvic-demo
  mkdir -p "$src" "$data"
  printf '[Data Source]\nDisplayName=Demo\nEnabled=true\nParent=local-stub\n\n[Calendar]\nBackendName=local\n' \
    >"$src/halvic-demo.source"
  day=$(date +%Y%m%d)
  {
    printf 'BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//halvic//demo//EN\r\n'
    printf 'BEGIN:VEVENT\r\nUID:demo-1\r\nDTSTAMP:%sT000000Z\r\nDTSTART:%sT090000\r\nDTEND:%sT093000\r\nSUMMARY:Günlük toplantı\r\nLOCATION:Oda 3\r\nEND:VEVENT\r\n' "$day" "$day" "$day"
    printf 'BEGIN:VEVENT\r\nUID:demo-2\r\nDTSTAMP:%sT000000Z\r\nDTSTART;VALUE=DATE:%s\r\nDTEND;VALUE=DATE:%s\r\nSUMMARY:Tatil\r\nEND:VEVENT\r\n' "$day" "$day" "$(date -d tomorrow +%Y%m%d)"
    printf 'END:VCALENDAR\r\n'
  } >"$data/calendar.ics"
  env_lines=$("$root/tests/e2e_calendar/eds_session.sh" start "$work/eds")
  echo "calendar helper today (throwaway calendar):"
  env -i PATH="$PATH" $env_lines "$bin/calendar_helper/halvic_calendar_helper" today
else
  echo "calendar helper today:"
  "$bin/calendar_helper/halvic_calendar_helper" today
fi

#!/usr/bin/env bash
# Runs as root inside a fresh Debian 12 root that has nothing but Debian's minimal base installed
# (scripts/package-check.sh runs it twice, each time in a fresh copy) and records in OUT what happened, which
# check_package.py judges:
#   in_root.sh run DEB OUT     apt-get install ./DEB into the clean root; both helpers from their installed paths,
#                              with nothing but the package and its dependencies, then an X11 capture on Xvfb and
#                              the calendar on a private Evolution Data Server, installed after the package
#   in_root.sh purge DEB OUT   the package's dependencies first; then the root's files and packages before
#                              apt-get install ./DEB and after apt-get purge
# Every apt-get takes its packages from the root's cache: the root has no network.
set -euo pipefail
mode=$1 deb=$2 out=$3
here=$(dirname "$(readlink -f "$0")")
libexec=/usr/libexec/halvic
export DEBIAN_FRONTEND=noninteractive
apt_get() { apt-get -o DPkg::Lock::Timeout=600 --yes --quiet "$@"; }

# The root's paths, but for apt's package lists and cache, the logs and what the test's own sessions write (/tmp,
# their HOME under it) or the running system keeps (/run).
files() {
  find / -xdev \( -path /tmp -o -path /run -o -path /var/log -o -path /var/cache/apt -o -path /var/lib/apt/lists \) \
    -prune -o -print | sort
}
packages() { dpkg-query -W -f='${Package} ${Status}\n' | sort; }

# One run of a program: its standard output, standard error and exit status in OUT/NAME.*
run() {  # name command...
  local name=$1 status=0
  shift
  "$@" >"$out/$name.out" 2>"$out/$name.err" || status=$?
  echo "$status" >"$out/$name.status"
}

install_package() {  # log
  echo "== apt-get install ./$(basename "$deb")"
  # From a folder that apt's unprivileged download user can read.
  mkdir -p /tmp/package && cp "$deb" /tmp/package/
  (cd /tmp/package && apt_get install "./$(basename "$deb")") >"$out/$1" 2>&1 || { cat "$out/$1"; exit 1; }
}

if [ "$mode" = purge ]; then
  echo "== the package's dependencies alone: $(dpkg-deb --field "$deb" Depends)"
  apt_get satisfy "$(dpkg-deb --field "$deb" Depends)" >"$out/dependencies.log" 2>&1 ||
    { cat "$out/dependencies.log"; exit 1; }
  files >"$out/files-before.txt"
  packages >"$out/packages-before.txt"
  install_package install.log
  dpkg -L halvic-desktop-helpers >"$out/dpkg-L.txt"
  echo "== apt-get purge halvic-desktop-helpers"
  apt_get purge halvic-desktop-helpers >"$out/purge.log" 2>&1 || { cat "$out/purge.log"; exit 1; }
  files >"$out/files-after.txt"
  packages >"$out/packages-after.txt"
  exit 0
fi

packages >"$out/packages-before.txt"
install_package install.log
packages >"$out/packages-installed.txt"

echo "== the helpers with nothing but the package and its dependencies"
for program in "$libexec"/*; do
  echo "== $program"
  ldd "$program"
done >"$out/ldd.txt" 2>&1
# No display and no session bus: each answers with its line all the same.
run bare-screen env -i "$libexec/halvic_screen_helper"
run bare-calendar env -i "$libexec/halvic_calendar_helper"

echo "== the test's desktop and calendar store, installed after the package"
apt_get install xvfb openbox xterm dbus-daemon libglib2.0-bin evolution-data-server >"$out/test-packages.log" 2>&1 ||
  { cat "$out/test-packages.log"; exit 1; }

echo "== an X11 capture on Xvfb with openbox"
mkdir -p /tmp/x11-home "$out/capture"
session_env=(HOME=/tmp/x11-home PATH=/usr/bin:/bin)
env -i "${session_env[@]}" Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>/tmp/x11-display \
  >"$out/xvfb.log" 2>&1 &
session=($!)
for _ in $(seq 100); do [ -s /tmp/x11-display ] && break; sleep 0.1; done
session_env+=(DISPLAY=":$(cat /tmp/x11-display)")
# One colour throughout: the text (none) and the cursor are drawn in the background's colour.
colour='#2a6fb0' title='paket denetimi'
printf '%s\n' "$colour" "$title" >"$out/screen-window.txt"
# openbox starts the client once it manages the screen, so that the new window takes the focus.
env -i "${session_env[@]}" openbox \
  --startup "xterm -T '$title' -bg '$colour' -fg '$colour' -geometry 50x12+130+90 -e sleep 600" \
  >"$out/openbox.log" 2>&1 &
session+=($!)
# The PNG goes to TMPDIR, here a folder that the check reads; the line also goes to an output file.
for _ in $(seq 40); do
  run screen env -i "${session_env[@]}" TMPDIR="$out/capture" "$libexec/halvic_screen_helper" \
    capture_active_window "$out/screen-file.json"
  grep -q '"ok":true' "$out/screen.out" && break
  sleep 0.25
done
# The client ends with the X server.
kill "${session[@]}"
wait "${session[@]}" || true

echo "== the calendar on a private Evolution Data Server"
eds=/tmp/eds
# One event tomorrow in a local calendar of the user's, as EDS keeps it, in the zone of the run (UTC).
start=$(TZ=UTC date -d 'tomorrow 10:00' +%s)
end=$((start + 5400))
uid=paket-takvim
mkdir -p "$eds/home/.config/evolution/sources" "$eds/home/.local/share/evolution/calendar/$uid"
printf '[Data Source]\nDisplayName=Paket\nEnabled=true\nParent=local-stub\n\n[Calendar]\nBackendName=local\n' \
  >"$eds/home/.config/evolution/sources/$uid.source"
ics_time() { TZ=UTC date -d "@$1" +%Y%m%dT%H%M%SZ; }
printf '%s\r\n' BEGIN:VCALENDAR VERSION:2.0 'PRODID:-//halvic//package//EN' BEGIN:VEVENT "UID:$uid-1" \
  DTSTAMP:20260101T000000Z "DTSTART:$(ics_time "$start")" "DTEND:$(ics_time "$end")" 'SUMMARY:Paket denetimi' \
  'LOCATION:Oda 5/B' END:VEVENT END:VCALENDAR >"$eds/home/.local/share/evolution/calendar/$uid/calendar.ics"
printf '%s\n' "$start" "$end" Paket 'Paket denetimi' 'Oda 5/B' >"$out/calendar-event.txt"
mapfile -t eds_env < <("$here/../e2e_calendar/eds_session.sh" start "$eds")
run calendar env -i "${eds_env[@]}" TZ=UTC "$libexec/halvic_calendar_helper" tomorrow
"$here/../e2e_calendar/eds_session.sh" stop "$eds"

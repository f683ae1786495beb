#!/usr/bin/env bash
# The whole screen helper run in a headless KWin 5.27 (KDE Plasma's Wayland
# compositor) against what a Plasma user would run instead, `spectacle -b -n
# -a -o` (background mode, no notification, the active window, to a file),
# both capturing the same active 1200x750 window of photo-like content (an
# Xwayland window, the benchmark pattern of the other screen benchmarks) on a
# 1920x1080 output, in one hyperfine run; then the PNG sizes.
#
#   bench/screen_bench_kwin.sh       (builds Release into build-bench-screen)
#
# KWin runs on a private session bus with its own HOME and XDG_RUNTIME_DIR,
# from a plain copy of its binary (the packaged one carries a file capability
# a container may not grant). The programs are installed into the work folder
# (`cmake --install`), whose .desktop file authorises the screenshot program,
# as spectacle's own authorises spectacle. Results go to
# bench/results/screen-kwin.md. Every process it starts is stopped before it ends.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=${BUILD_DIR:-$root/build-bench-screen}
results=$here/results
runs=${RUNS:-30}
mkdir -p "$results"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" -j2 halvic_screen_helper halvic_screencapture halvic_calendar_helper test_window >/dev/null

work=$(mktemp -d /tmp/halvic-kwin-bench-XXXXXX)
mkdir -p "$work/home" "$work/run" "$work/out"
chmod 700 "$work/run"
cmake --install "$build" --prefix "$work/installed" >/dev/null
bin=$work/installed/libexec/halvic
cp "$(command -v kwin_wayland)" "$work/kwin_wayland"

pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  # Xwayland and the window are KWin's children; they go with the session's folder.
  for p in $(grep -l "XDG_RUNTIME_DIR=$work/run" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3); do
    kill -9 "$p" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

session=(HOME="$work/home" XDG_RUNTIME_DIR="$work/run" PATH=/usr/bin:/bin
         DBUS_SESSION_BUS_ADDRESS="unix:path=$work/run/bus" WAYLAND_DISPLAY=bench-kwin
         XDG_DATA_DIRS="$work/installed/share:/usr/local/share:/usr/share")
run() { env -i "${session[@]}" "$@"; }

run dbus-daemon --session --nofork --nopidfile --address="unix:path=$work/run/bus" --print-address=1 \
  >"$work/bus.log" 2>&1 &
pids+=($!)
for _ in $(seq 250); do [ -s "$work/bus.log" ] && break; sleep 0.02; done
printf '#!/bin/sh\necho "$DISPLAY" > %s/display\n' "$work" >"$work/session.sh"
chmod 755 "$work/session.sh"
run XDG_SESSION_TYPE=wayland "$work/kwin_wayland" --virtual --xwayland --no-lockscreen --no-global-shortcuts \
  --no-kactivities --socket bench-kwin --width 1920 --height 1080 "$work/session.sh" >"$work/kwin.log" 2>&1 &
pids+=($!)
for _ in $(seq 1500); do [ -s "$work/display" ] && break; sleep 0.02; done
[ -s "$work/display" ] || { echo "KWin did not start" >&2; tail -5 "$work/kwin.log" >&2; exit 1; }
session+=(DISPLAY="$(cat "$work/display")")

# The window; its stdin is a FIFO it holds open itself, so it stays until the end.
mkfifo "$work/run/hold"
run "$build/tests/e2e_screen/test_window" --photo --size=1200x750 --title='Photo 2026' --class=Viewer \
  0<>"$work/run/hold" >"$work/window.log" 2>&1 &
pids+=($!)
# Placed and activated by a KWin script that unloads itself once it has run.
cat >"$work/place.js" <<'JS'
var l = workspace.clientList();
for (var i = 0; i < l.length; ++i) {
  if (l[i].caption === "Photo 2026") {
    l[i].frameGeometry = {x: 100, y: 100, width: 1200, height: 750};
    workspace.activeClient = l[i];
  }
}
callDBus("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", "unloadScript", "halvic-bench-place");
JS
scripting() { run gdbus call --session --dest org.kde.KWin --object-path /Scripting --method "org.kde.kwin.Scripting.$@"; }
for _ in $(seq 250); do
  [ -s "$work/window.log" ] || { sleep 0.02; continue; }
  scripting loadScript "$work/place.js" halvic-bench-place >/dev/null
  scripting start >/dev/null
  sleep 0.2
  result=$(run "$bin/halvic_screen_helper")
  case $result in *'"window_title":"Photo 2026","bounds":{"x":100,"y":100,"width":1200,"height":750}'*) break ;; esac
done
case $result in *'"ok":true'*'"width":1200'*) ;; *) echo "the window is not ready: $result" >&2; exit 1 ;; esac

out=$results/screen-kwin.md
{
  echo "## Capturing the active 1200x750 photo-like window in a headless KWin 5.27 (runs: $runs)"
  echo
} >"$out"
run TMPDIR="$work/out" QT_QPA_PLATFORM=wayland hyperfine -N --warmup 3 --runs "$runs" --style none \
  --export-markdown "$work/out/capture.md" \
  -n "halvic_screen_helper (whole run)" "$bin/halvic_screen_helper" \
  -n "spectacle -b -n -a -o" --prepare "rm -f $work/out/spectacle.png" \
  "spectacle -b -n -a -o $work/out/spectacle.png" >/dev/null
helper_png=$(ls -t "$work"/out/halvic-screen-*.png | head -1)
{
  cat "$work/out/capture.md"
  echo
  echo "| program | PNG size | PNG bytes |"
  echo "|---|---|---:|"
  echo "| halvic_screen_helper | $(file -b "$helper_png" | cut -d, -f2 | tr -d ' ') | $(stat -c %s "$helper_png") |"
  echo "| spectacle | $(file -b "$work/out/spectacle.png" | cut -d, -f2 | tr -d ' ') | $(stat -c %s "$work/out/spectacle.png") |"
  echo
  echo "Versions: kwin-wayland $(dpkg-query -W -f '${Version}' kwin-wayland), kde-spectacle $(dpkg-query -W -f '${Version}' kde-spectacle), $(hyperfine --version)."
} >>"$out"
cat "$out"

#!/usr/bin/env bash
# The whole screen helper run in a headless GNOME Shell 43 on Wayland against what a user would run instead,
# `gnome-screenshot -w -f` (the focused window through the Shell's own screenshot interface), both capturing the same
# focused 1200x750 Wayland window of photo-like content (the pixels of the X11 and sway benchmarks) on a 1920x1080
# monitor, in one hyperfine run; then the PNG sizes.
#
#   bench/screen_bench_gnome.sh      (builds Release into build-bench-screen and installs it with our extension)
#
# Run as root, as the GNOME end-to-end tests are (tests/gnome/gnome_session.sh). Results go to
# bench/results/screen-gnome.md. Every process it starts is stopped before it ends.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=${BUILD_DIR:-$root/build-bench-screen}
results=$here/results
runs=${RUNS:-20}
mkdir -p "$results"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" -j2 halvic_screen_helper halvic_screencapture halvic_calendar_helper colour_window >/dev/null

work=$(mktemp -d /tmp/halvic-gnome-bench-XXXXXX)
session=$root/tests/gnome/gnome_session.sh
cleanup() {
  "$session" stop "$work/session" || true
  rm -rf "$work"
}
trap cleanup EXIT
# The extension serves the helpers where they are installed.
cmake --install "$build" --prefix "$work/prefix" >/dev/null
mkdir -p "$work/out"
"$session" start "$work/session" "$work/prefix/share" 1920x1080 >/dev/null
run() { env -i PATH=/usr/bin:/bin $(cat "$work/session/env") TMPDIR="$work/out" "$@"; }

# The window, held by a client that runs until the session ends; focused as the newest window.
run setsid -f "$build/tests/wayland/colour_window" photo 1 1200x750 "Photo 2026" photo >/dev/null 2>&1
for _ in $(seq 250); do [ -e "$work/session/run/colour-window-photo" ] && break; sleep 0.02; done
[ -e "$work/session/run/colour-window-photo" ] || { echo "the window did not come up" >&2; exit 1; }
sleep 0.5
bin=$work/prefix/libexec/halvic
first=$(run "$bin/halvic_screen_helper")
case $first in *'"owner_name":"photo"'*'"width":1200,"height":750'*) ;; *) echo "not the window: $first" >&2; exit 1 ;; esac

out=$results/screen-gnome.md
{
  echo "## Capturing one focused 1200x750 photo-like Wayland window in a headless GNOME Shell (runs: $runs)"
  echo
} >"$out"
run hyperfine -N --warmup 2 --runs "$runs" --style none --export-markdown "$work/capture.md" \
  -n "halvic_screen_helper (whole run)" "$bin/halvic_screen_helper" \
  -n "gnome-screenshot -w -f" --prepare "rm -f $work/out/gnome-screenshot.png" \
  "gnome-screenshot -w -f $work/out/gnome-screenshot.png" >/dev/null 2>&1
helper_png=$(ls -t "$work"/out/halvic-screen-*.png | head -1)
{
  cat "$work/capture.md"
  echo
  echo "| program | PNG | bytes |"
  echo "|---|---|---:|"
  echo "| halvic_screen_helper | $(file -b "$helper_png" | cut -d, -f2-3) | $(stat -c %s "$helper_png") |"
  echo "| gnome-screenshot -w -f | $(file -b "$work/out/gnome-screenshot.png" | cut -d, -f2-3) | $(stat -c %s "$work/out/gnome-screenshot.png") |"
  echo
  echo "Versions: $(gnome-shell --version), gnome-screenshot $(dpkg-query -W -f '${Version}' gnome-screenshot), $(hyperfine --version)."
} >>"$out"
cat "$out"

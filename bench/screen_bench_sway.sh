#!/usr/bin/env bash
# The whole screen helper run on a headless sway against the pipeline a user
# would write instead, `swaymsg -t get_tree` + `jq` + `grim -g`, all capturing
# the same 1200x750 floating window of photo-like content (an Xwayland window,
# the benchmark pattern of the X11 benchmark) on a 1920x1080 output, in one
# hyperfine run; then the PNG sizes.
#
#   bench/screen_bench_sway.sh       (builds Release into build-bench-screen)
#
# sway refuses to run as root: when run as root, the compositor, the window
# and every measured command run as `nobody`. Results go to
# bench/results/screen-sway.md. Every process it starts is stopped before it ends.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=${BUILD_DIR:-$root/build-bench-screen}
results=$here/results
runs=${RUNS:-30}
mkdir -p "$results"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" -j2 halvic_screen_helper halvic_screencapture test_window >/dev/null

work=$(mktemp -d /tmp/halvic-sway-bench-XXXXXX)
chmod 755 "$work"
as_user=()
if [ "$(id -u)" = 0 ]; then
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  chown 65534:65534 "$work"
fi
run_as() { "${as_user[@]}" env -i PATH=/usr/bin:/bin HOME="$work" XDG_RUNTIME_DIR="$work/run" "$@"; }

# The helper finds its screenshot program beside itself.
mkdir -p "$work/bin" "$work/run" "$work/out"
cp "$build/screen_helper/halvic_screen_helper" "$build/screen_helper/halvic_screencapture" \
  "$build/tests/e2e_screen/test_window" "$work/bin/"
chmod 700 "$work/run"
[ ${#as_user[@]} -eq 0 ] || chown -R 65534:65534 "$work/bin" "$work/run" "$work/out"

cat >"$work/config" <<CONFIG
output HEADLESS-1 resolution 1920x1080 position 0 0 scale 1
xwayland force
default_floating_border none
for_window [class="Viewer"] floating enable, move absolute position 100 100
CONFIG

sway_pid=
cleanup() {
  if [ -n "$sway_pid" ]; then kill "$sway_pid" 2>/dev/null || true; wait "$sway_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# Not through run_as: $! must be sway itself (setpriv and env exec it), not a
# subshell whose end would leave sway running.
"${as_user[@]}" env -i PATH=/usr/bin:/bin HOME="$work" XDG_RUNTIME_DIR="$work/run" \
  WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
  sway --config "$work/config" >"$work/sway.log" 2>&1 &
sway_pid=$!
sock=
for _ in $(seq 500); do
  sock=$(ls "$work"/run/sway-ipc.*.sock 2>/dev/null | head -1 || true)
  [ -n "$sock" ] && [ -S "$work/run/wayland-1" ] && break
  sleep 0.02
done
[ -n "$sock" ] || { echo "sway did not start" >&2; cat "$work/sway.log" >&2; exit 1; }
session=(SWAYSOCK="$sock" WAYLAND_DISPLAY=wayland-1)

# The window, through sway so that it gets Xwayland's DISPLAY; its stdin is a
# FIFO it holds open itself, so it stays until the compositor goes.
run_as mkfifo "$work/run/hold"
run_as "${session[@]}" swaymsg "exec $work/bin/test_window --photo --size=1200x750 --title='Photo 2026' \
  --class=Viewer 0<>$work/run/hold" >/dev/null
geometry_of_focused='.. | select(.focused? == true) |
  "\(.rect.x + .window_rect.x),\(.rect.y + .window_rect.y) \(.window_rect.width)x\(.window_rect.height)"'
for _ in $(seq 500); do
  shown=$(run_as "${session[@]}" swaymsg -t get_tree | jq -r "$geometry_of_focused")
  [ "${shown#* }" = 1200x750 ] && break
  sleep 0.02
done
[ "${shown#* }" = 1200x750 ] || {
  echo "no 1200x750 window: $shown" >&2
  run_as "${session[@]}" swaymsg -t get_tree | jq -c ".. | objects | select(.pid?) | {name, rect, window_rect}" >&2
  tail -5 "$work/sway.log" >&2
  exit 1
}
sleep 0.5  # the first frames
id=$(run_as "${session[@]}" swaymsg -t get_tree | jq -r '.. | select(.focused? == true) | .id')

# What a user would write: the focused window's content area, then grim.
cat >"$work/bin/pipeline.sh" <<PIPELINE
swaymsg -t get_tree | jq -r '$geometry_of_focused' | grim -g - $work/out/grim.png
PIPELINE
chmod 755 "$work/bin/pipeline.sh"
out=$results/screen-sway.md
{
  echo "## Capturing one 1200x750 photo-like window on a headless sway (runs: $runs)"
  echo
} >"$out"
run_as "${session[@]}" TMPDIR="$work/out" hyperfine -N --warmup 3 --runs "$runs" --style none \
  --export-markdown "$work/out/capture.md" \
  -n "halvic_screen_helper (whole run)" "$work/bin/halvic_screen_helper" \
  -n "halvic_screencapture alone" --prepare "rm -f $work/out/capture.png" \
  "$work/bin/halvic_screencapture -x -o -l $id $work/out/capture.png" \
  -n "swaymsg get_tree + jq + grim -g" "sh $work/bin/pipeline.sh" \
  -n "grim -g alone" "grim -g \"$shown\" $work/out/grim-alone.png" >/dev/null
helper_png=$(ls -t "$work"/out/halvic-screen-*.png | head -1)
{
  cat "$work/out/capture.md"
  echo
  echo "| program | PNG bytes |"
  echo "|---|---:|"
  echo "| halvic_screen_helper | $(stat -c %s "$helper_png") |"
  echo "| swaymsg + jq + grim -g | $(stat -c %s "$work/out/grim.png") |"
  echo
  echo "Versions: $(sway --version), $(jq --version), grim $(dpkg-query -W -f '${Version}' grim), $(hyperfine --version)."
} >>"$out"
cat "$out"

#!/usr/bin/env bash
# The whole screen helper run against `maim -u -i <id>` and `import -window
# <id>`, all capturing the same 1200x750 window of photo-like content
# (gradients with noise) under Xvfb and openbox, in one hyperfine run; then the
# PNG sizes, the helper with 100 windows open, and the PNG encoder table.
#
#   bench/screen_bench.sh            (builds Release into build-bench-screen)
#
# Results go to bench/results/screen.md. Every process it starts is stopped
# before it ends.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=${BUILD_DIR:-$root/build-bench-screen}
results=$here/results
runs=${RUNS:-30}
mkdir -p "$results"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" -j2 halvic_screen_helper halvic_screencapture test_window >/dev/null
helper=$build/screen_helper/halvic_screen_helper
capture=$build/screen_helper/halvic_screencapture
test_window=$build/tests/e2e_screen/test_window

work=$(mktemp -d /tmp/halvic-screen-bench-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# A display number nobody holds.
display=
for n in $(seq 300 400); do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=$n; break; fi
done
Xvfb ":$display" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 500); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.01; done
export DISPLAY=:$display
openbox --sm-disable --config-file "$root/tests/e2e_screen/openbox-rc.xml" >/dev/null 2>&1 &
pids+=($!)

# Opens test windows (extra flags as given) and waits until they show; their
# stdin is a FIFO they hold open themselves, so they stay until killed. The
# window ids go to the file named first.
mkfifo "$work/hold"
open_windows() {
  local ids=$1
  shift
  "$test_window" "$@" 0<>"$work/hold" >"$ids" &
  pids+=($!)
  for _ in $(seq 1000); do
    [ -s "$ids" ] && break
    # Openbox can stall in its start until an event reaches it.
    xprop -root -f _HALVIC_POKE 32c -set _HALVIC_POKE 1 2>/dev/null || true
    sleep 0.01
  done
}
clients() { xprop -root _NET_CLIENT_LIST_STACKING | tr ',' '\n' | grep -c 0x || true; }

open_windows "$work/photo.id" --photo --size=1200x750 --pos=100,100 --title="Photo 2026" --class=Viewer
photo=$(head -1 "$work/photo.id")
xdotool windowactivate --sync "$photo" 2>/dev/null || true

export TMPDIR=$work/helper-out
mkdir -p "$TMPDIR"
out=$results/screen.md
{
  echo "## Capturing one 1200x750 photo-like window (runs: $runs)"
  echo
} >"$out"
hyperfine -N --warmup 3 --runs "$runs" --style none --export-markdown "$work/capture.md" \
  -n "halvic_screen_helper (whole run)" --prepare "true" "$helper" \
  -n "halvic_screencapture alone" --prepare "rm -f $work/capture.png" "$capture -x -o -l $photo $work/capture.png" \
  -n "maim -u -i" --prepare "true" "maim -u -i $photo $work/maim.png" \
  -n "import -window" --prepare "true" "import -window $photo $work/import.png" >/dev/null
{
  cat "$work/capture.md"
  echo
  echo "| program | PNG bytes |"
  echo "|---|---:|"
  echo "| halvic_screen_helper | $(stat -c %s "$(ls -t "$TMPDIR"/halvic-screen-*.png | head -1)") |"
  echo "| maim -u -i | $(stat -c %s "$work/maim.png") |"
  echo "| import -window | $(stat -c %s "$work/import.png") |"
  echo
} >>"$out"

open_windows "$work/filler.ids" --count=99 --size=300x200 --pos=0,0 --title="Filler" --class=Filler
xdotool windowactivate --sync "$photo" 2>/dev/null || true
count=$(clients)
{
  echo "## The helper with $count windows open (runs: $runs)"
  echo
} >>"$out"
hyperfine -N --warmup 3 --runs "$runs" --style none --export-markdown "$work/many.md" \
  -n "halvic_screen_helper, $count windows" "$helper" \
  -n "halvic_screen_helper unsupported_mode (process start only)" "$helper unsupported_mode" >/dev/null
{
  cat "$work/many.md"
  echo
  echo "## PNG encoders on the same kind of content"
  echo
} >>"$out"

g++ -O2 -DNDEBUG -std=c++20 -I"$root/screencapture" -I"$root/tests/e2e_screen" \
  "$here/png_encoders.cpp" "$root/screencapture/png_encoder.cpp" -o "$work/png_encoders" \
  $(pkg-config --cflags --libs libpng spng libdeflate zlib)
"$work/png_encoders" >>"$out"
cat "$out"

#!/usr/bin/env bash
# The calendar helper's "week" and "next" runs against a warm Evolution Data
# Server, side by side with `khal list` over the same events.
#
#   bench/calendar_bench.sh HELPER [COUNT...]     (default counts: 1000 10000)
#
# For each count: seeds a private EDS (tests/e2e_calendar/eds_session.sh) and
# a khal vdir with the same events (calendar_seed.py), warms both, then
#   1. hyperfine: helper week/next and khal list today 7d / now 30d, in one run;
#   2. the same helper runs while another client holds the calendars open, as
#      a desktop's calendar server does (calendar_keeper.cpp);
#   3. peak memory of each command (/usr/bin/time -v, the largest of 5 runs);
#   4. the helper's phases (calendar_phases.cpp), 5 runs.
# Results go to bench/results/calendar-COUNT.{md,json,txt}. Every process it
# starts is stopped before it ends.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
helper=$(realpath "${1:?path to halvic_calendar_helper}")
shift
if [ $# -gt 0 ]; then counts=("$@"); else counts=(1000 10000); fi
session=$here/../tests/e2e_calendar/eds_session.sh
results=$here/results
mkdir -p "$results"
zone=Asia/Tokyo
runs=${RUNS:-30}

work=$(mktemp -d /tmp/halvic-bench-XXXXXX)
keeper_pid=
roots=()
cleanup() {
  [ -z "$keeper_pid" ] || kill "$keeper_pid" 2>/dev/null || true
  for r in "${roots[@]}"; do "$session" stop "$r" || true; done
  rm -rf "$work"
}
trap cleanup EXIT

flags=$(pkg-config --cflags --libs libecal-2.0 libedataserver-1.2)
# shellcheck disable=SC2086
g++ -std=c++20 -O2 -w "$here/calendar_phases.cpp" -o "$work/calendar_phases" $flags
# shellcheck disable=SC2086
g++ -std=c++20 -O2 -w "$here/calendar_keeper.cpp" -o "$work/calendar_keeper" $flags

for count in "${counts[@]}"; do
  root=$work/$count
  mkdir -p "$root"
  python3 "$here/calendar_seed.py" "$root" "$count" "$zone"
  roots+=("$root")
  "$session" start "$root" >/dev/null
  env_prefix="env -i PATH=$PATH LANG=C.UTF-8 TZ=$zone $(tr '\n' ' ' <"$root/env")"
  khal="$env_prefix khal -c $root/khal.conf"
  week="$env_prefix $helper week"
  next="$env_prefix $helper next"
  khal_week="$khal list today 7d"
  khal_next="$khal list now 30d"
  out=$results/calendar-$count

  # Warm: EDS loads each calendar once, khal builds its cache.
  $week >/dev/null; $next >/dev/null; $khal_week >/dev/null; $khal_next >/dev/null

  {
    echo "# $count events ($(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg))"
    echo "events reported: week $($week | grep -o start_ts | wc -l), next $($next | grep -o start_ts | wc -l)"
  } >"$out.txt"

  hyperfine -N --warmup 3 --runs "$runs" --export-markdown "$out.md" --export-json "$out.json" \
    -n "helper week" "$week" -n "helper next" "$next" \
    -n "khal list today 7d" "$khal_week" -n "khal list now 30d" "$khal_next" >>"$out.txt"

  # shellcheck disable=SC2086
  $env_prefix "$work/calendar_keeper" &
  keeper_pid=$!
  sleep 1
  hyperfine -N --warmup 3 --runs "$runs" --export-markdown "$out-held.md" \
    -n "helper week (calendars held open)" "$week" -n "helper next (calendars held open)" "$next" >>"$out.txt"
  {
    echo "## phases, calendars held open (week window)"
    now=$(date +%s)
    for _ in 1 2 3 4 5; do $env_prefix "$work/calendar_phases" "$now" $((now + 7 * 86400)); done
  } >>"$out.txt"
  kill "$keeper_pid"
  wait "$keeper_pid" 2>/dev/null || true
  keeper_pid=

  {
    echo "## phases, backends closed between runs (week window)"
    now=$(date +%s)
    for _ in 1 2 3 4 5; do $env_prefix "$work/calendar_phases" "$now" $((now + 7 * 86400)); done
    echo "## peak resident memory, KB (largest of 5 runs)"
    for name in week next khal_week khal_next; do
      peak=0
      for _ in 1 2 3 4 5; do
        kb=$(/usr/bin/time -v ${!name} 2>&1 >/dev/null | awk '/Maximum resident/ {print $6}')
        [ "$kb" -gt "$peak" ] && peak=$kb
      done
      echo "$name $peak"
    done
  } >>"$out.txt"

  "$session" stop "$root"
done

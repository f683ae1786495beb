#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each one
# for a short while over its committed seed corpus.
#   scripts/fuzz.sh [seconds-per-target]      (default 20)
# The committed corpus is only read: new inputs go to a temporary directory.
# An input that fails is kept in build-fuzz/fuzz-artifacts/ and is replayed
# with: build-fuzz/fuzz/<target> <file>
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}
build=$root/build-fuzz
targets=(fuzz_json_writer fuzz_sway_tree)

if ! command -v clang++ >/dev/null; then
  echo "fuzz.sh: clang++ is needed (scripts/bootstrap.sh installs it)" >&2
  exit 1
fi

log=$(mktemp)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch" "$log"' EXIT

if ! { cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
         -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DHALVIC_FUZZ=ON -DBUILD_TESTING=OFF &&
       ninja -C "$build" -j2 "${targets[@]}"; } >"$log" 2>&1; then
  cat "$log"
  echo "fuzz.sh: the build failed" >&2
  exit 1
fi

artifacts=$build/fuzz-artifacts
mkdir -p "$artifacts"
failed=0
for target in "${targets[@]}"; do
  mkdir "$scratch/$target"
  # -timeout: one input taking this long counts as a hang.
  if "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$artifacts/$target-" "$scratch/$target" "$root/fuzz/corpus/$target" >"$log" 2>&1; then
    runs=$(awk '/^stat::number_of_executed_units:/ {print $2}' "$log")
    coverage=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -n 1)
    echo "$target: passed, $runs inputs in $seconds s ($coverage)"
  else
    failed=1
    echo "$target: FAILED"
    grep -vE '^#[0-9]+|^[[:space:]]+NEW_FUNC' "$log" | tail -n 60
  fi
done
exit "$failed"

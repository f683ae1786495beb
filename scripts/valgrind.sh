#!/usr/bin/env bash
# Runs the screen helper under valgrind's memcheck through a few of its
# end-to-end tests, on a throwaway X server: the tests start the
# helper behind the words of HALVIC_E2E_HELPER_WRAPPER. A memory error or a
# definite leak makes valgrind end the helper with status 1, which the tests
# report as a failed run; valgrind's own report is printed here.
#   scripts/valgrind.sh [screen_e2e_tests binary] [gtest filter]
# Without a binary it builds build/ (scripts/build.sh) and uses that one.
# The tests where the X server dies are left out: a display Xlib was opening
# or closing when the server vanished is abandoned on purpose, which memcheck
# counts as a leak.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
binary=${1:-}
filter=${2:-'HelperRun.*:HelperStandardOutput.*:HelperOutputPath.*'}

if ! command -v valgrind >/dev/null; then
  echo "valgrind.sh: valgrind is needed (scripts/bootstrap.sh installs it)" >&2
  exit 1
fi
if [ -z "$binary" ]; then
  "$root/scripts/build.sh" "$root/build" >/dev/null
  binary=$root/build/tests/e2e_screen/screen_e2e_tests
fi

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
chmod 1777 "$logs"  # some runs are made as an unprivileged user
# Its log goes to files: a helper started with stderr closed would otherwise
# leave valgrind nowhere to write. No vgdb: its shared-memory file is written
# against the file size limit some tests impose on the helper.
export HALVIC_E2E_HELPER_WRAPPER="$(command -v valgrind) -q --vgdb=no --error-exitcode=1 \
  --leak-check=full --show-leak-kinds=definite --errors-for-leak-kinds=definite \
  --log-file=$logs/helper-%p.log"

start=$(date +%s)
status=0
"$binary" --gtest_filter="$filter" --gtest_brief=1 || status=$?
# Only valgrind's own lines count: a helper started with stdout closed can
# find its result line in the log, which took descriptor 1.
for log in "$logs"/*.log; do
  grep -q '^==[0-9]*==' "$log" || continue
  echo "== valgrind: $(basename "$log")"
  grep '^==[0-9]*==' "$log"
  status=1
done
echo "valgrind.sh: $(ls "$logs" | wc -l) processes under valgrind in $(($(date +%s) - start)) s"
exit "$status"

#!/usr/bin/env bash
# Runs the calendar helper under valgrind's memcheck through its end-to-end
# tests, each against a private Evolution Data Server: the tests start the
# helper behind the words of HALVIC_E2E_HELPER_WRAPPER. A memory error or a
# definite leak makes valgrind end the helper with status 1, which the tests
# report as a failed run; valgrind's own report is printed here.
#   scripts/valgrind-calendar.sh [build directory]
# Without one it builds build/ (scripts/build.sh) and uses that. The build must
# not be a sanitizer build: valgrind cannot run what the sanitizers instrumented.
# Every mode, both ways of having no session bus, the time-outs (which end the
# process while the access or the query thread is still inside EDS), the
# factory killed mid-query and the hostile data.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-}

if ! command -v valgrind >/dev/null; then
  echo "valgrind-calendar.sh: valgrind is needed (scripts/bootstrap.sh installs it)" >&2
  exit 1
fi
if [ -z "$build" ]; then
  "$root/scripts/build.sh" "$root/build" >/dev/null
  build=$root/build
fi

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
# The log goes to files: the tests require an empty stderr from the helper.
export HALVIC_E2E_HELPER_WRAPPER="$(command -v valgrind) -q --vgdb=no --error-exitcode=1 \
  --leak-check=full --show-leak-kinds=definite --errors-for-leak-kinds=definite \
  --log-file=$logs/helper-%p.log"

start=$(date +%s)
status=0
# Each test starts its own session, so two run at once.
ctest --test-dir "$build" -R '^(calendar_e2e_tests|Cases/(HostileCalendarData|StoreFault)\.)' -j2 --output-on-failure \
  --timeout 300 || status=$?
for log in "$logs"/*.log; do
  [ -s "$log" ] || continue
  echo "== valgrind: $(basename "$log")"
  cat "$log"
  status=1
done
echo "valgrind-calendar.sh: $(ls "$logs" | wc -l) helper runs under valgrind in $(($(date +%s) - start)) s"
exit "$status"

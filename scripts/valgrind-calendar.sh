#!/usr/bin/env bash
# Runs the calendar helper under valgrind's memcheck through every run of its end-to-end tests (the modes, the
# hostile data, a store that is not there, the time-outs that end it while a thread is still inside EDS, a factory
# killed mid-query), which start it behind the words of HALVIC_E2E_HELPER_WRAPPER: a memory error or a definite leak
# ends it with status 1 and valgrind's report on stderr, each of which fails the test that ran it.
#   scripts/valgrind-calendar.sh [build directory]
# Without one it builds build/ (scripts/build.sh); not a sanitizer build, which valgrind cannot run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if ! command -v valgrind >/dev/null; then
  echo "valgrind-calendar.sh: valgrind is needed (scripts/bootstrap.sh installs it)" >&2
  exit 1
fi
[ -n "${1:-}" ] || "$root/scripts/build.sh" "$root/build" >/dev/null
export HALVIC_E2E_HELPER_WRAPPER="$(command -v valgrind) -q --vgdb=no --error-exitcode=1 \
  --leak-check=full --show-leak-kinds=definite --errors-for-leak-kinds=definite"
# Each suite has a session of its own, so both run at once.
ctest --test-dir "${1:-$root/build}" -R '^calendar_e2e_' -j2 --output-on-failure --timeout 300

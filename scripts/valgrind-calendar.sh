#!/usr/bin/env bash
# Runs the calendar helper under valgrind's memcheck through its end-to-end tests, which start it behind the
# words of HALVIC_E2E_HELPER_WRAPPER: a memory error or a definite leak ends it with status 1 and valgrind's
# report on stderr, each of which fails the test that ran it and shows in its output.
#   scripts/valgrind-calendar.sh [build directory]
# Without one it builds build/ (scripts/build.sh) and uses that; not a sanitizer build, which valgrind cannot run.
# Covered: every mode, both ways of having no session bus, the time-outs (which end the process while the access
# or the query thread is still inside EDS), a factory killed mid-query and the hostile data.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
if ! command -v valgrind >/dev/null; then
  echo "valgrind-calendar.sh: valgrind is needed (scripts/bootstrap.sh installs it)" >&2
  exit 1
fi
[ -n "${1:-}" ] || "$root/scripts/build.sh" "$build" >/dev/null
export HALVIC_E2E_HELPER_WRAPPER="$(command -v valgrind) -q --vgdb=no --error-exitcode=1 \
  --leak-check=full --show-leak-kinds=definite --errors-for-leak-kinds=definite"
# Each suite has a session of its own, so both run at once.
ctest --test-dir "$build" -R '^calendar_e2e_' -j2 --output-on-failure --timeout 300

#!/usr/bin/env bash
# The whole test suite on a fresh Debian machine: installs what it needs,
# builds, and runs every test. End-to-end tests start their own Xvfb, window
# manager, D-Bus session and Evolution Data Server.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/bootstrap.sh"
"$root/scripts/build.sh" "$root/build"
ctest --test-dir "$root/build" --output-on-failure -j2 --timeout 300

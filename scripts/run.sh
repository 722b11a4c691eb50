#!/usr/bin/env bash
# Sets up, builds and starts Veld. Without a display it says so and shows how
# to search the demo card with the command line instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build"
exec "$root/build/veld" "$@"

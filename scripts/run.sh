#!/usr/bin/env bash
# Sets up, builds the game and its sample data archive, and runs it in a window.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" normal
cd "$root/build"
exec ./zelv "$@"

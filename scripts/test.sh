#!/usr/bin/env bash
# Sets up, builds and runs every test: the normal build, then ASan + UBSan (with the fuzz
# targets over their seed corpora), then ThreadSanitizer for the threaded code.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
jobs=${ZELV_JOBS:-$(nproc)}
status=0
run_ctest() {
  local dir=$1; shift
  (cd "$dir" && ctest --output-on-failure -j "$jobs" "$@") || status=1
}
echo "== normal build"
"$root/scripts/build.sh" normal
run_ctest "$root/build"
echo "== ASan + UBSan build"
"$root/scripts/build.sh" asan
run_ctest "$root/build-asan"
echo "== ThreadSanitizer build"
"$root/scripts/build.sh" tsan tsan_tests
run_ctest "$root/build-tsan" --no-tests=ignore
exit $status

#!/usr/bin/env bash
# Sets up, builds and runs every test: the normal build, then ASan + UBSan (with the fuzz
# targets over their seed corpora), then ThreadSanitizer for the threaded code.
# The sanitizer builds compile at the lowest priority while the tests before them run: the tests
# keep the processors they use, and the compiler takes what they leave idle.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
jobs=${ZELV_JOBS:-$(nproc)}
status=0
run_ctest() {
  local dir=$1; shift
  (cd "$dir" && ctest --output-on-failure -j "$jobs" "$@") || status=1
}
logs=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$logs"' EXIT
# Waits for a background build's status file, prints its log and fails the command if it failed.
finish_build() {
  local flavour=$1
  while [ ! -f "$logs/$flavour.rc" ]; do sleep 2; done
  cat "$logs/$flavour.log"
  [ "$(cat "$logs/$flavour.rc")" = 0 ] || { echo "the $flavour build failed" >&2; exit 1; }
}
echo "== normal build"
"$root/scripts/build.sh" normal
(
  for flavour in asan tsan; do
    rc=0
    nice -n 19 "$root/scripts/build.sh" "$flavour" > "$logs/$flavour.log" 2>&1 || rc=$?
    echo "$rc" > "$logs/$flavour.rc"
  done
) &
run_ctest "$root/build"
echo "== ASan + UBSan build"
finish_build asan
run_ctest "$root/build-asan"
echo "== ThreadSanitizer build"
finish_build tsan
run_ctest "$root/build-tsan" --no-tests=ignore
exit $status

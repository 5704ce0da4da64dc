#!/usr/bin/env bash
# Configures and builds one flavour: normal (gcc), asan (clang: ASan + UBSan + fuzzers) or tsan (clang).
# Usage: scripts/build.sh [normal|asan|tsan] [ninja targets...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
flavour=${1:-normal}
shift || true
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1 CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-5G}
# A miss reads the compiler's own dependency file instead of running the preprocessor first: on
# an empty cache (a fresh machine) that run cost an eighth of every compile.
export CCACHE_DEPEND=${CCACHE_DEPEND:-1}
jobs=${ZELV_JOBS:-$(nproc)}
case "$flavour" in
  normal) dir="$root/build${ZELV_BUILD_SUFFIX:-}"; args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  asan)   dir="$root/build${ZELV_BUILD_SUFFIX:-}-asan"; args=(-DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
                                        -DZELV_SANITIZE=ON -DZELV_FUZZ=ON -DCMAKE_CXX_FLAGS=-O1 -DCMAKE_C_FLAGS=-O1) ;;
  tsan)   dir="$root/build${ZELV_BUILD_SUFFIX:-}-tsan"; args=(-DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
                                        -DZELV_TSAN=ON -DCMAKE_CXX_FLAGS=-O1 -DCMAKE_C_FLAGS=-O1) ;;
  *) echo "unknown flavour $flavour" >&2; exit 2 ;;
esac
if [ "$flavour" != normal ]; then
  # The sanitizer builds copy the normal build's data archives rather than make their own.
  bash "$root/scripts/build.sh" normal pak
  args+=(-DZELV_DATA_FROM="$root/build${ZELV_BUILD_SUFFIX:-}")
fi
mkdir -p "$dir"
# One build at a time in a folder: two ninjas there would write the same files.
exec 9>"$dir/.build-lock"
flock 9
cmake -S "$root" -B "$dir" -G Ninja "${args[@]}" >/dev/null
ninja -C "$dir" -j "$jobs" "$@"

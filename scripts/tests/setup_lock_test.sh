#!/usr/bin/env bash
# The set-up waits for a package manager that holds apt's locks, says what it waits for, and ends
# with a line naming the holder when the lock outlasts its bound. Real apt-get, real locks.
set -uo pipefail
[ "$(id -u)" -eq 0 ] || { echo "skipped: apt-get needs root"; exit 77; }
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
holder=""
cleanup() { [ -z "$holder" ] || kill "$holder" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
# libc-dev is missing by name (a virtual package) and met by libc6-dev, which the build has: apt
# runs both of its steps and installs nothing.
cp "$root/scripts/setup.sh" "$work/"
echo libc-dev >"$work/deps.txt"

# Without the package registry there is nothing here to wait for. The set-up itself is the probe:
# another install holding apt's locks (a second run of these tests, a new machine's upgrades) is
# waited for, not taken for a missing registry.
ZELV_APT_LOCK_WAIT=300 bash "$work/setup.sh" >"$work/out" 2>&1 ||
  { cat "$work/out"; echo "skipped: the set-up cannot run apt-get here"; exit 77; }

# Takes the locks apt-get and dpkg take, as they take them, until let_go.
hold() {
  rm -f "$work/held" "$work/release"
  python3 - "$work/held" "$work/release" <<'PY' &
import fcntl, os, sys, time
files = []
for path in ("/var/lib/apt/lists/lock", "/var/lib/dpkg/lock-frontend", "/var/lib/dpkg/lock",
             "/var/cache/apt/archives/lock"):
    f = open(path, "a")
    fcntl.lockf(f, fcntl.LOCK_EX)
    files.append(f)
open(sys.argv[1], "w").close()
while not os.path.exists(sys.argv[2]):
    time.sleep(0.05)
PY
  holder=$!
  until [ -e "$work/held" ]; do sleep 0.1; done
}
let_go() {
  touch "$work/release"
  wait "$holder"
  holder=""
}
# Returns once the set-up (pid $1) says it waits for the lock; fails if it ends first.
says_it_waits() {
  until grep -q "waiting for it" "$work/out"; do
    kill -0 "$1" 2>/dev/null || return 1
    sleep 0.1
  done
}

failed=0
fail() { echo "FAIL: $*"; failed=1; }

# The wait knows the lock whatever language the machine speaks (apt ships German messages). The
# lock is let go only once the set-up says it waits, so it cannot get past it by being slow.
for language in "" de; do
  hold
  : >"$work/out"
  LANGUAGE=$language bash "$work/setup.sh" >"$work/out" 2>&1 &
  setup=$!
  if says_it_waits "$setup"; then
    grep -q "held by process $holder (python3); waiting for it" "$work/out" ||
      fail "LANGUAGE=$language: the line did not name what the set-up waited for"
    kill -0 "$setup" 2>/dev/null || fail "LANGUAGE=$language: the set-up ended while the lock was still held"
  else
    fail "LANGUAGE=$language: the set-up ended without waiting for the held lock"
  fi
  let_go
  wait "$setup"
  rc=$?
  cat "$work/out"
  [ "$rc" -eq 0 ] || fail "LANGUAGE=$language: the set-up did not go on once the lock was let go (exit $rc)"
done

# Held past the bound: the set-up stops and names the holder. One that kept waiting would wait its
# default 900 s; two minutes tell that from a bound of 3 s kept on a loaded machine.
hold
start=$SECONDS
ZELV_APT_LOCK_WAIT=3 bash "$work/setup.sh" >"$work/out" 2>&1
rc=$?
took=$((SECONDS - start))
cat "$work/out"
[ "$rc" -ne 0 ] || fail "the set-up succeeded with the lock held past its bound"
grep -q "still held by process $holder (python3) after 3 s" "$work/out" || fail "no line named what held the lock"
((took < 120)) || fail "the set-up waited ${took} s past a bound of 3 s"
let_go

exit $failed

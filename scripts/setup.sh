#!/usr/bin/env bash
# Installs the Debian 12 packages listed in scripts/deps.txt that are missing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
mapfile -t pkgs < <(grep -v '^\s*#' "$here/deps.txt" | sed '/^\s*$/d')
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
((${#missing[@]})) || exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
# Another install may hold apt's locks: a second set-up, or a new machine's automatic upgrades in
# its first minutes. apt-get gives up at once on a held lock, so wait for it, up to a bound. The
# lock is known by apt's message, so apt speaks one language here whatever the machine's is.
lock_wait=${ZELV_APT_LOCK_WAIT:-900}
apt_get() {
  local deadline=$((SECONDS + lock_wait)) log holder told=""
  log=$(mktemp)
  while :; do
    if $sudo env -u LANGUAGE LC_ALL=C.UTF-8 DEBIAN_FRONTEND=noninteractive apt-get "$@" 2>"$log"; then
      cat "$log" >&2
      rm -f "$log"
      return 0
    fi
    if ! grep -q 'Could not get lock\|Unable to lock\|Unable to acquire the dpkg frontend lock' "$log"; then
      cat "$log" >&2
      rm -f "$log"
      return 100
    fi
    holder=$(grep -o 'held by process [0-9]* ([^)]*)' "$log" | head -n 1 || true)
    holder=${holder:-held by another package manager}
    if ((SECONDS >= deadline)); then
      rm -f "$log"
      echo "setup: the package manager's lock is still $holder after ${lock_wait} s; run this again once it is done" >&2
      return 100
    fi
    [ -n "$told" ] || echo "setup: apt's lock is $holder; waiting for it (up to ${lock_wait} s)" >&2
    told=1
    sleep 2
  done
}
apt_get update -qq
apt_get install -y -qq --no-install-recommends "${missing[@]}"

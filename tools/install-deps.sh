#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when one is missing.
set -euo pipefail
need=(cmake g++ make pkg-config libgtest-dev libgmock-dev libdvbpsi-dev libfuse3-dev fuse3)
[ "$#" -gt 0 ] && need+=("$@")
missing=()
for p in "${need[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ "${#missing[@]}" -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

# Another install on the machine (an unattended upgrade, a second make) holds the package
# manager's lock for a while: wait for it, up to 30 minutes, instead of failing at once.
# apt itself waits for dpkg's lock with DPkg::Lock::Timeout; the lists' lock of
# `apt-get update` is waited for by trying again.
LOCK_WAIT=1800
apt_waiting() {
  local deadline=$((SECONDS + LOCK_WAIT)) log status
  log=$(mktemp)
  while :; do
    status=0
    $SUDO apt-get -o DPkg::Lock::Timeout=$LOCK_WAIT "$@" 2>&1 | tee "$log" || status=$?
    [ "$status" -eq 0 ] && { rm -f "$log"; return 0; }
    if grep -q -E 'Could not get lock|Unable to lock|is another process using it' "$log" &&
      [ "$SECONDS" -lt "$deadline" ]; then
      echo "Waiting for another package manager run to finish..."
      sleep 5
      continue
    fi
    rm -f "$log"
    return 1
  done
}
apt_waiting update -qq
apt_waiting install -y -qq --no-install-recommends "${missing[@]}"

#!/usr/bin/env bash
# Runs a command in a private network namespace that holds only loopback, so nothing it does
# (GigE Vision discovery broadcasts included) can leave this machine.
set -euo pipefail
if [ "$(id -u)" -eq 0 ]; then
  exec unshare --net -- bash -c 'ip link set lo up && exec "$@"' isolated "$@"
else
  exec unshare -rn -- bash -c 'ip link set lo up && exec "$@"' isolated "$@"
fi

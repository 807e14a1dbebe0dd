#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Starts or stops the pseudo-terminal bridge of the Windows tests (a CTest
# fixture: the tests that need a far end require it).
#   pty_bridge.sh start BRIDGE WINEPREFIX DIR
#   pty_bridge.sh stop DIR
set -euo pipefail
case $1 in
  start)
    bridge=$2 prefix=$3 dir=$4
    mkdir -p "$dir" "$prefix/dosdevices"
    "$0" stop "$dir"
    rm -f "$dir/port"
    setsid "$bridge" "$prefix" "$dir/port" "$dir/pid" >"$dir/log" 2>&1 </dev/null &
    for _ in $(seq 100); do
      [ -s "$dir/port" ] && exit 0
      sleep 0.1
    done
    echo "the bridge did not start: $(cat "$dir/log")" >&2
    exit 1
    ;;
  stop)
    dir=$2
    if [ -s "$dir/pid" ]; then
      pid=$(cat "$dir/pid")
      # Only our own bridge, not a process that took its number since.
      if [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = pty-bridge ]; then kill "$pid"; fi
      rm -f "$dir/pid" "$dir/port"
    fi
    ;;
esac

# SPDX-License-Identifier: MIT
# Shell functions shared by scripts/run and scripts/screenshot: a simulated
# generator on a pseudo-terminal, and a private settings folder whose stored
# port is that generator.  Source it; it runs nothing by itself.

# vx_start_simulator VXGEN_SIM LINK OUT [vxgen-sim options...]
# Starts the simulator with its terminal linked at LINK, its output in OUT,
# and waits until it has printed its terminal.  Sets VX_SIM_PID.
vx_start_simulator() {
  local program=$1 link=$2 out=$3
  shift 3
  "$program" --link "$link" "$@" >"$out" &
  VX_SIM_PID=$!
  for _ in $(seq 100); do
    [ -s "$out" ] && return 0
    kill -0 "$VX_SIM_PID" 2>/dev/null || break
    sleep 0.05
  done
  echo "vxgen-sim did not start" >&2
  return 1
}

# vx_store_port CONFIG_HOME LINK
# Stores LINK at 9600 8N1 without flow control as the panel's port, in
# CONFIG_HOME (the panel's XDG_CONFIG_HOME).
vx_store_port() {
  mkdir -p "$1/Morvaleq"
  cat >"$1/Morvaleq/KV.conf" <<CONF
[ComPort]
Port=$2
DataBits=3
Parity=0
FlowControl=2
BaudRate=7
CONF
}

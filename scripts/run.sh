#!/usr/bin/env bash
# Installs what is missing, builds the three executables, shows the command-line tools at work
# against the virtual printer, then opens the window connected to a virtual printer listening on
# 127.0.0.1:9100. Without a display the window runs on a virtual X display (Xvfb) for
# PC_HEADLESS_SECONDS (15) seconds, so its console lines and the printer's show the connection.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh run
ctl=build/tools/printerctl/printerctl
sim=build/tools/printer-sim/printer-sim
app=build/app/printer-config

echo "== printerctl --dry-run: the bytes, and the same bytes decoded"
set -x
"$ctl" --dry-run basic --baud 9600 --cutter off --codepage "CP437 [US, European Standard]"
"$ctl" --dry-run mqtt topics --qos 2 | "$ctl" decode
set +x

echo "== a virtual printer on a serial line, and printerctl --serial talking to it"
log=$(mktemp)
"$sim" --pty > "$log" &
pty_sim=$!
trap 'kill $pty_sim 2>/dev/null || true; rm -f "$log"' EXIT
until [ -s "$log" ]; do sleep 0.05; done
tty=$(sed -n 's/^printer-sim serial line //p' "$log")
set -x
"$ctl" --serial "$tty" test
"$ctl" --serial "$tty" wifi home secret
"$ctl" list usb || true
set +x
sleep 0.2
cat "$log"
kill $pty_sim

echo "== the window, connected to a virtual printer on 127.0.0.1"
# On 9100 as the window's field suggests; on a free port when another program has 9100.
tcp_log=$(mktemp)
start_tcp_sim() {
  "$sim" --listen "127.0.0.1:$1" > "$tcp_log" &
  tcp_sim=$!
  until [ -s "$tcp_log" ] || ! kill -0 $tcp_sim 2>/dev/null; do sleep 0.05; done
  head -n 1 "$tcp_log" | grep -q '^printer-sim listening on '
}
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -f "$log" "$tcp_log"' EXIT
if ! start_tcp_sim 9100; then
  echo "(127.0.0.1:9100 is taken, so the virtual printer listens on a free port)"
  start_tcp_sim 0
fi
pids+=($tcp_sim)
endpoint=$(sed -n '1s/^printer-sim listening on //p' "$tcp_log")
# The printer's decoded commands, as they arrive.
tail -n +1 -f "$tcp_log" &
pids+=($!)
connect=(--connect "tcp:$endpoint")

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "The window opens connected to $endpoint; what you send appears below. Close it to end."
  set -x
  "$app" "${connect[@]}"
  exit
fi

seconds=${PC_HEADLESS_SECONDS:-15}
echo "No display here (neither DISPLAY nor WAYLAND_DISPLAY is set): the window runs on a virtual"
echo "X display (Xvfb) for $seconds s, connected to $endpoint. In a desktop session it opens on"
echo "the screen and stays until closed."
display_fd=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3> "$display_fd" 2>/dev/null &
pids+=($!)
until [ -s "$display_fd" ] || ! kill -0 "${pids[-1]}" 2>/dev/null; do sleep 0.05; done
display=:$(head -n 1 "$display_fd")
rm -f "$display_fd"
set -x
DISPLAY=$display timeout "$seconds" "$app" "${connect[@]}" || [ $? -eq 124 ]
{ set +x; } 2>/dev/null

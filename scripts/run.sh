#!/usr/bin/env bash
# Installs what is missing, builds, shows the command-line tools at work against the virtual
# printer, then opens the window with the virtual printer listening on 127.0.0.1:9100.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --release
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

echo "== the window, with the virtual printer on 127.0.0.1:9100"
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "No display here (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window cannot open."
  echo "Run this in a desktop session, or under Xvfb: xvfb-run -a bash scripts/run.sh"
  exit 0
fi
"$sim" --listen 127.0.0.1:9100 &
tcp_sim=$!
trap 'kill $tcp_sim 2>/dev/null || true; rm -f "$log"' EXIT
echo "In the window choose Network, enter 127.0.0.1 (port 9100) and press Connect Network."
echo "The printer's decoded commands appear below as you send them."
"$app"

#!/usr/bin/env bash
# Installs what is missing, builds, and shows the tools at work: the commands a few settings
# become, those bytes read back, and the same settings sent over TCP and over a serial line to
# the virtual printer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --release
ctl=build/tools/printerctl/printerctl
sim=build/tools/printer-sim/printer-sim

echo "== printerctl --dry-run: the bytes, and the same bytes decoded"
set -x
"$ctl" --dry-run basic --baud 9600 --cutter off --codepage "CP437 [US, European Standard]"
"$ctl" --dry-run mqtt topics --qos 2 | "$ctl" decode
"$ctl" --dry-run ip ethernet static 192.168.1.100 255.255.255.0 192.168.1.1 | "$ctl" decode --json
set +x

echo "== the virtual printer, and printerctl --tcp and --serial talking to it"
log=$(mktemp)
"$sim" --listen 127.0.0.1:0 --pty --dump-state > "$log" &
sim_pid=$!
trap 'kill $sim_pid 2>/dev/null || true; rm -f "$log"' EXIT
until [ "$(wc -l < "$log")" -ge 2 ]; do sleep 0.05; done
port=$(head -n 1 "$log" | sed 's/.*://')
tty=$(sed -n 's/^printer-sim serial line //p' "$log")
set -x
"$ctl" --tcp "127.0.0.1:$port" test
"$ctl" --tcp "127.0.0.1:$port" wifi home secret
"$ctl" --tcp "127.0.0.1:$port" mqtt broker --server 192.168.1.87 --username test --password pass
"$ctl" --serial "$tty" test
"$ctl" --serial "$tty" name "Front counter"
"$ctl" list usb || true
set +x
kill -TERM $sim_pid
wait $sim_pid || true
echo "-- what the virtual printer printed:"
cat "$log"

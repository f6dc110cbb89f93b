#!/usr/bin/env bash
# Whole-process timing: connect to a loopback peer and deliver (a) one command and (b) a 64 KiB
# payload, with printerctl --tcp and with socat sending the same bytes. Prints the mean time of
# each and the ratio printerctl / socat. Loopback only.
#   bench/tcp_delivery.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-40}
ctl="$build/tools/printerctl/printerctl"
work=$(mktemp -d)
trap 'kill $receiver 2>/dev/null || true; rm -rf "$work"' EXIT
source bench/delivery_common.sh

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
socat -u TCP-LISTEN:"$port",bind=127.0.0.1,reuseaddr,fork OPEN:/dev/null &
receiver=$!
until grep -q "0100007F:$(printf %04X "$port") 00000000:0000 0A" /proc/net/tcp; do :; done
write_large_pem

peer="socat -u OPEN:\"\$1\" TCP:127.0.0.1:$port"
echo "mean of $runs runs each, loopback, $(nproc) cores"
report "one command (test)" socat "$peer" --tcp "127.0.0.1:$port" -- test
report "64 KiB payload" socat "$peer" --tcp "127.0.0.1:$port" -- mqtt tls one-way "$work/large.pem"

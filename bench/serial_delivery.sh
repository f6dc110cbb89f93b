#!/usr/bin/env bash
# Whole-process timing over a serial line: deliver (a) one command and (b) a 64 KiB payload to a
# pseudo-terminal with printerctl --serial, and the same bytes with cat. A socat process holds
# the other side of the terminal and drains it. Prints the mean time of each and the ratio
# printerctl / cat.
#   bench/serial_delivery.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-40}
ctl="$build/tools/printerctl/printerctl"
work=$(mktemp -d)
trap 'kill $receiver 2>/dev/null || true; rm -rf "$work"' EXIT
source bench/delivery_common.sh

socat -u PTY,raw,echo=0,link="$work/tty" OPEN:/dev/null &
receiver=$!
until [ -e "$work/tty" ]; do :; done
write_large_pem

peer="cat \"\$1\" > $work/tty"
echo "mean of $runs runs each, pseudo-terminal, $(nproc) cores"
report "one command (test)" cat "$peer" --serial "$work/tty" -- test
report "64 KiB payload" cat "$peer" --serial "$work/tty" -- mqtt tls one-way "$work/large.pem"

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

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
socat -u TCP-LISTEN:"$port",bind=127.0.0.1,reuseaddr,fork OPEN:/dev/null &
receiver=$!
until grep -q "0100007F:$(printf %04X "$port") 00000000:0000 0A" /proc/net/tcp; do :; done

# A PEM file whose one-way TLS command is 64 KiB on the wire.
{ echo "-----BEGIN CERTIFICATE-----"; head -c 65400 /dev/zero | tr '\0' 'A'; echo; echo "-----END CERTIFICATE-----"; } > "$work/large.pem"

# mean_ms COMMAND...: runs it $runs times, prints the mean wall time in milliseconds.
mean_ms() {
  local start end
  start=$(date +%s%N)
  for ((i = 0; i < runs; i++)); do "$@" >/dev/null 2>&1; done
  end=$(date +%s%N)
  echo $(( (end - start) / runs / 1000 ))
}

report() { # label, printerctl arguments
  local label=$1; shift
  "$ctl" --dry-run "$@" | tr -d ' \n' | xxd -r -p > "$work/bytes.bin"
  local size; size=$(stat -c %s "$work/bytes.bin")
  local ours theirs
  ours=$(mean_ms "$ctl" --tcp "127.0.0.1:$port" "$@")
  theirs=$(mean_ms socat -u OPEN:"$work/bytes.bin" TCP:127.0.0.1:"$port")
  printf '%-22s %7d bytes  printerctl %6.2f ms  socat %6.2f ms  ratio %.2f\n' "$label" "$size" \
    "$(echo "$ours / 1000" | bc -l)" "$(echo "$theirs / 1000" | bc -l)" "$(echo "$ours / $theirs" | bc -l)"
}

echo "mean of $runs runs each, loopback, $(nproc) cores"
report "one command (test)" test
report "64 KiB payload" mqtt tls one-way "$work/large.pem"

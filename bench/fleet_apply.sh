#!/usr/bin/env bash
# A full profile (every section, mutual TLS with about 8 KB of PEM) applied with printerctl apply
# to one virtual printer, and to 100 virtual printers at once (default --jobs), on loopback. The
# floor is the profile's own spacing (about 4.2 s), the same for one printer or a hundred; the
# goal is 100 printers within 1.15x of one. The baseline is the shell loop a user would
# otherwise write: one printerctl call per section, printer after printer (timed over
# BASELINE_PRINTERS printers and scaled to 100).
#   bench/fleet_apply.sh [BUILD_DIR] [RUNS] [BASELINE_PRINTERS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-5}
baseline_printers=${3:-10}
ctl="$build/tools/printerctl/printerctl"
sim="$build/tools/printer-sim/printer-sim"
work=$(mktemp -d)
trap 'kill $sim_pid 2>/dev/null || true; rm -rf "$work"' EXIT

# Three PEM blocks of about 2.7 KB each (their contents do not matter to the printer).
pem() {
  echo "-----BEGIN $1-----"
  head -c 2000 /dev/urandom | base64 -w 64
  echo "-----END $1-----"
}
pem CERTIFICATE > "$work/ca.pem"
pem CERTIFICATE > "$work/client.pem"
pem "PRIVATE KEY" > "$work/client.key"
python3 - "$work" <<'PY'
import json, sys
work = sys.argv[1]
read = lambda name: open(f"{work}/{name}").read()
profile = {
    "format": "printer-config profile", "version": 1,
    "basic": {"baud": 115200, "cutter": True, "beeper": True, "density": "medium",
              "font": "12x24", "codepage": 255},
    "name": "Front desk",
    "ethernet": {"dhcp": True},
    "wifiAddress": {"address": "192.168.1.100", "mask": "255.255.255.0", "gateway": "192.168.1.1"},
    "wifi": {"ssid": "shop", "password": "secret"},
    "mqtt": {
        "broker": {"server": "broker.example", "port": "8883", "username": "test",
                   "password": "pass", "clientId": None},
        "topics": {"subscribeSource": "cpu-uuid", "publishReceipts": False, "qos": 1,
                   "heartbeatTopic": "HearBeat", "replyTopic": "PrintSuccess"},
        "timing": {"heartbeat": "30", "keepalive": "60", "ntpServer": "pool.ntp.org",
                   "timezone": "8", "testUrl": "www.example.com"},
        "tls": {"mode": "mutual", "ca": read("ca.pem"), "clientCertificate": read("client.pem"),
                "clientKey": read("client.key"), "password": ""},
    },
}
with open(f"{work}/profile.json", "w") as out:
    json.dump(profile, out, indent=2)
PY
chmod 600 "$work/profile.json"

"$sim" --listen 127.0.0.1:0 --printers 100 > "$work/sim.log" &
sim_pid=$!
until [ -s "$work/sim.log" ]; do sleep 0.02; done
first=$(sed -n 's/^printer-sim listening on 127\.0\.0\.1:\([0-9]*\)-.*/\1/p' "$work/sim.log")
targets=()
for ((i = 0; i < 100; i++)); do targets+=("tcp:127.0.0.1:$((first + i))"); done

# mean_ms COMMAND...: the mean wall time of $runs runs, in milliseconds; a failed run stops here.
mean_ms() {
  local start end
  start=$(date +%s%N)
  for ((i = 0; i < runs; i++)); do "$@" >/dev/null; done
  end=$(date +%s%N)
  echo $(( (end - start) / runs / 1000000 ))
}

baseline() {
  local n=$1 port
  for ((p = 0; p < n; p++)); do
    port="127.0.0.1:$((first + p))"
    "$ctl" --tcp "$port" basic
    "$ctl" --tcp "$port" name "Front desk"
    "$ctl" --tcp "$port" ip ethernet dhcp
    "$ctl" --tcp "$port" ip wifi static 192.168.1.100 255.255.255.0 192.168.1.1
    "$ctl" --tcp "$port" wifi shop secret
    "$ctl" --tcp "$port" mqtt broker --server broker.example --port 8883
    "$ctl" --tcp "$port" mqtt topics
    "$ctl" --tcp "$port" mqtt timing --keepalive 60
    "$ctl" --tcp "$port" mqtt tls mutual "$work/ca.pem" "$work/client.pem" "$work/client.key"
  done
}

bytes=$("$ctl" apply "$work/profile.json" --dry-run | tr -d ' \n' | wc -c)
commands=$("$ctl" apply "$work/profile.json" --dry-run | wc -l)
echo "profile: $commands commands, $((bytes / 2)) bytes; mean of $runs runs, loopback, $(nproc) cores"
one=$(mean_ms "$ctl" apply "$work/profile.json" "${targets[0]}")
hundred=$(mean_ms "$ctl" apply "$work/profile.json" "${targets[@]}")
printf '1 printer              %6d ms\n' "$one"
printf '100 printers, default --jobs %d ms   ratio to 1 printer %.3f (goal <= 1.15)\n' "$hundred" \
  "$(echo "$hundred / $one" | bc -l)"
start=$(date +%s%N)
baseline "$baseline_printers" >/dev/null
end=$(date +%s%N)
loop=$(( (end - start) / 1000000 ))
printf 'shell loop of single calls: %d ms for %d printers, %d ms for 100 (scaled)\n' "$loop" \
  "$baseline_printers" "$(( loop * 100 / baseline_printers ))"
# Every printer has every command of every run. A delivered command is one the printer's host
# acknowledged; the virtual printer may still be decoding its last ones.
expected=$(( (runs * 101 + baseline_printers) * commands ))
decoded() {
  grep -c -v -e ' · connected$' -e ' · disconnected$' -e '^printer-sim listening' "$work/sim.log" || true
}
for ((wait = 0; wait < 300 && $(decoded) < expected; wait++)); do sleep 0.1; done
got=$(decoded)
echo "commands decoded by the virtual printers: $got of $expected"
[ "$got" -eq "$expected" ]

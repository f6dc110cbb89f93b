#!/usr/bin/env bash
# Finding printers on a /24: `printerctl list tcp --no-mdns` (the directly connected network of
# the lab's host namespace, 10.77.0.0/24) against `nmap -sT -p 9100 --open` on the same subnet.
# The network is tests/discovery/lab.sh's, without Avahi: 3 printer-sim instances, one closed
# port, one address whose packets are dropped, and the rest silent (nobody answers ARP). Nothing
# leaves the namespaces. Prints each tool's mean wall time and whether both found the same set.
#   bench/discovery.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
runs=${2:-5}

if [[ ${LAB_SUBNET-} == "" ]]; then
  command -v nmap >/dev/null || { echo "discovery.sh: nmap is missing (Debian: nmap)" >&2; exit 1; }
  exec bash tests/discovery/lab.sh --no-avahi "$build/tools/printer-sim/printer-sim" \
    bash "$0" "$build" "$runs"
fi
[[ -z ${LAB_UNAVAILABLE-} ]] || { echo "discovery.sh: $LAB_UNAVAILABLE" >&2; exit 1; }

ctl="$build/tools/printerctl/printerctl"
now() { echo "${EPOCHREALTIME/./}"; } # microseconds

run_printerctl() { "$ctl" list tcp --no-mdns | cut -f1 | cut -d: -f1 | sort; }
# The lab's slow printer (it accepts after about 3 s) is beyond the probe's time-out by design.
run_nmap() {
  nmap -n -sT -p 9100 --open -oG - "$LAB_SUBNET" | awk '/9100\/open/ {print $2}' |
    grep -vxF "${LAB_SLOW:-none}" | sort
}

expected=$(for p in $LAB_PRINTERS; do echo "${p%:*}"; done | sort)
echo "$LAB_SUBNET in network namespaces: printers at $(echo $expected), $runs runs each, $(nproc) cores"
for tool in printerctl nmap; do
  total=0 same=yes
  for ((i = 0; i < runs; i++)); do
    start=$(now)
    found=$(run_$tool)
    total=$((total + $(now) - start))
    [[ $found == "$expected" ]] || { same=no; echo "  $tool found: $(echo $found)"; }
  done
  printf '%-11s mean %6d ms   found the 3 printers and nothing else: %s\n' "$tool" \
    $((total / runs / 1000)) "$same"
done

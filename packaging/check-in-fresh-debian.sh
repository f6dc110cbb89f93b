#!/usr/bin/env bash
# On demand, not in CI: the two packages on a machine that has never seen this project. Bootstraps
# a minimal Debian 12 root (debootstrap, from the Debian mirror), installs the packages there with
# apt-get as a technician would, and as a normal user shows printerctl --dry-run, printer-sim
# answering on loopback, printerctl --tcp to it, and printer-config drawing its first frame on the
# offscreen platform, connected to that printer-sim. Runs as root (debootstrap and chroot need it).
#   packaging/check-in-fresh-debian.sh [BUILD_DIR]     the .deb files from scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
[ "$(id -u)" -eq 0 ] || { echo "check-in-fresh-debian.sh: run it as root (debootstrap, chroot)" >&2; exit 1; }
debs=("$build_dir"/printer-config_*.deb "$build_dir"/printer-config-cli_*.deb)
for deb in "${debs[@]}"; do
  [ -f "$deb" ] || { echo "check-in-fresh-debian.sh: $deb is missing; run scripts/package.sh" >&2; exit 1; }
done
bash scripts/setup.sh fresh-check

root=$(mktemp -d /var/tmp/printer-config-fresh.XXXXXX)
chmod 755 "$root" # the normal user inside must reach its own root
mounted=()
cleanup() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount "${mounted[i]}" || true; done
  rm -rf --one-file-system "$root"
}
trap cleanup EXIT

echo "== debootstrap: a minimal Debian 12 in $root"
start=$SECONDS
debootstrap --variant=minbase bookworm "$root" "$mirror" > "$root.log" 2>&1 || {
  tail -20 "$root.log"; exit 1; }
rm -f "$root.log"
echo "(bootstrapped in $((SECONDS - start)) s)"
for m in proc dev dev/pts; do
  mount --bind "/$m" "$root/$m"
  mounted+=("$root/$m")
done
cp /etc/resolv.conf "$root/etc/resolv.conf"
# Services the packages bring (cups, bluez) are not started inside the bootstrapped root.
printf '#!/bin/sh\nexit 101\n' > "$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"
mkdir -p "$root/tmp/debs"
cp "${debs[@]}" "$root/tmp/debs/"
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }

echo "== apt-get install ./printer-config_*.deb ./printer-config-cli_*.deb"
start=$SECONDS
in_root apt-get update -q
names=()
for deb in "${debs[@]}"; do names+=("/tmp/debs/${deb##*/}"); done
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${names[@]}" |
  grep -E '^(Setting up printer-config|The following NEW|Need to get|After this)' || true
echo "(installed in $((SECONDS - start)) s)"
in_root dpkg-query -W -f='${Package} ${Version} ${Status}\n' printer-config printer-config-cli
in_root useradd --create-home --shell /bin/bash technician

# Everything below runs as the normal user "technician".
as_user() {
  chroot --userspec=technician:technician "$root" env -i PATH=/usr/bin:/bin HOME=/home/technician \
    LANG=C.UTF-8 XDG_RUNTIME_DIR=/tmp/technician-runtime "$@"
}
as_user mkdir -m 700 -p /tmp/technician-runtime
as_user id

echo "== printerctl --dry-run test"
as_user printerctl --dry-run test

echo "== printer-sim on 127.0.0.1, printerctl --tcp to it"
as_user printer-sim --listen 127.0.0.1:0 > "$root/tmp/sim.log" &
sim=$!
trap 'kill $sim 2>/dev/null || true; cleanup' EXIT
until [ -s "$root/tmp/sim.log" ]; do sleep 0.05; done
endpoint=$(sed -n '1s/^printer-sim listening on //p' "$root/tmp/sim.log")
head -n 1 "$root/tmp/sim.log"
as_user printerctl --tcp "$endpoint" test
as_user printerctl --tcp "$endpoint" basic --baud 9600 --cutter off

echo "== printer-config --connect tcp:$endpoint, offscreen, 15 s"
status=0
as_user env QT_QPA_PLATFORM=offscreen \
  QT_LOGGING_RULES="qt.scenegraph.time.renderloop.debug=true;printer-config.startup.debug=true" \
  timeout 15 printer-config --connect "tcp:$endpoint" > "$root/tmp/app.log" 2>&1 || status=$?
first_frame=$(grep -m1 'Frame rendered' "$root/tmp/app.log" || true)
grep -v 'Frame rendered' "$root/tmp/app.log" || true
echo "first frame: ${first_frame:-none}"
sleep 0.2
echo "== what printer-sim received"
tail -n +2 "$root/tmp/sim.log"
[ "$status" -eq 124 ] || { echo "printer-config ended early with status $status" >&2; exit 1; }
[ -n "$first_frame" ] || { echo "printer-config drew no frame" >&2; exit 1; }
grep -q 'connected successfully' "$root/tmp/app.log" || {
  echo "printer-config did not connect" >&2; exit 1; }
echo "check-in-fresh-debian.sh: both packages work on a fresh Debian 12"

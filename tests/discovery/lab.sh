#!/usr/bin/env bash
# A small shop network of our own, for the discovery tests and the benchmark. Nothing here
# reaches a real network: everything lives in network namespaces created for the run (user
# namespaces, so a normal user can do it too).
#
#   lab.sh [--no-avahi] PRINTER_SIM COMMAND [ARG...]
#
# "host" (where COMMAND runs)  veth-host 10.77.0.1/24
#      |
# "shop"                       veth-shop 10.77.0.2/24 and
#     10.77.0.10-12  printer-sim on port 9100 each
#     10.77.0.20     the address answers, port 9100 is closed (refused at once)
#     10.77.0.30     the address answers ARP, but nftables drops every packet to it
#     every other address of the /24: nobody answers ARP
# With Avahi (the default): a daemon in each namespace, each on a private D-Bus system bus;
# the shop's announces "Front Counter" (_pdl-datastream._tcp, 10.77.0.10:9100) and "Back Office"
# (_printer._tcp, 10.77.0.11:515) through avahi-publish; COMMAND gets the host's bus as
# DBUS_SYSTEM_BUS_ADDRESS.
#
# COMMAND sees LAB_SUBNET, LAB_PRINTERS (ADDRESS:PORT ...), LAB_CLOSED, LAB_DROPPED and, with
# Avahi, LAB_MDNS ("ADDRESS:PORT<TAB>NAME" lines). When the namespaces cannot be made, COMMAND
# still runs, with LAB_UNAVAILABLE saying why (tests skip with that reason).
set -uo pipefail

readonly START_SECONDS=30

if [[ ${1-} != --inside ]]; then
  avahi=1
  if [[ ${1-} == --no-avahi ]]; then avahi=0; shift; fi
  [[ $# -ge 2 ]] || { echo "usage: $0 [--no-avahi] PRINTER_SIM COMMAND [ARG...]" >&2; exit 2; }
  if ! problem=$(unshare --user --map-root-user --net --mount true 2>&1); then
    echo "lab.sh: no network namespaces here: $problem" >&2
    LAB_UNAVAILABLE="cannot create network namespaces (unshare --user --net: $problem)" \
      exec "${@:2}"
  fi
  exec unshare --user --map-root-user --net --mount bash "$0" --inside "$avahi" "$@"
fi
avahi=$2
sim=$3
shift 3

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

poll() { # DESCRIPTION COMMAND...: until COMMAND succeeds, at most START_SECONDS
  local description=$1 deadline=$((SECONDS + START_SECONDS))
  shift
  until "$@" >/dev/null 2>&1; do
    ((SECONDS < deadline)) || { echo "lab.sh: timed out waiting for $description" >&2; return 1; }
    sleep 0.05
  done
}

fail() {
  echo "lab.sh: $1" >&2
  for f in "$work"/*.log; do [[ -s $f ]] && { echo "--- $f"; cat "$f"; } >&2; done
  exit 1
}

ip link set lo up || fail "no loopback"
unshare --net sleep infinity &
shop_pid=$!
pids+=("$shop_pid")
poll "the shop namespace" bash -c "! [[ \$(readlink /proc/$shop_pid/ns/net) == \$(readlink /proc/\$\$/ns/net) ]]" ||
  fail "the shop namespace did not appear"
in_shop() { nsenter --net=/proc/$shop_pid/ns/net -- "$@"; }

ip link add veth-host type veth peer name veth-shop || fail "cannot create a veth pair"
ip link set veth-shop netns "$shop_pid"
ip addr add 10.77.0.1/24 dev veth-host
ip link set veth-host up
in_shop ip link set lo up
for host in 2 10 11 12 20 30; do
  in_shop ip addr add 10.77.0.$host/24 dev veth-shop
done
in_shop ip link set veth-shop up

dropped=10.77.0.30
if ! in_shop nft -f - 2>"$work/nft.log" <<'NFT'; then
table inet lab {
  chain input {
    type filter hook input priority 0; policy accept;
    ip daddr 10.77.0.30 drop
  }
}
NFT
  echo "lab.sh: nftables unavailable, 10.77.0.30 is not dropped: $(cat "$work/nft.log")" >&2
  dropped=
fi

printers=()
for host in 10 11 12; do
  in_shop "$sim" --listen 10.77.0.$host:9100 >"$work/sim-$host.log" 2>&1 &
  pids+=($!)
  printers+=("10.77.0.$host:9100")
done
for host in 10 11 12; do
  poll "printer-sim on 10.77.0.$host" in_shop bash -c "exec 3<>/dev/tcp/10.77.0.$host/9100" ||
    fail "printer-sim did not start on 10.77.0.$host"
done

# One Avahi daemon with its own system bus, in the namespace of `netns` (a pid).
#   start_avahi NAME NETNS_PID INTERFACE
start_avahi() {
  local name=$1 netns=$2 interface=$3 dir=$work/$1
  mkdir -p "$dir/services"
  cat >"$dir/avahi-daemon.conf" <<CONF
[server]
host-name=lab-$name
domain-name=local
use-ipv4=yes
use-ipv6=no
allow-interfaces=$interface
enable-dbus=yes
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
[reflector]
[rlimits]
CONF
  nsenter --net=/proc/$netns/ns/net -- dbus-daemon --nofork --nopidfile \
    --config-file="$(dirname "$0")/system_bus.conf" --address="unix:path=$dir/bus" \
    >"$work/$name-dbus.log" 2>&1 &
  pids+=($!)
  poll "the $name bus" test -S "$dir/bus" || return 1
  # Its pid file and socket go to a /run of its own; the services folder is empty. The daemon
  # insists that its runtime folder belong to its user and group, and only our own ids exist in
  # this user namespace: in the daemon's own view of /etc/passwd and /etc/group they are root.
  sed 's/^avahi:[^:]*:[0-9]*:[0-9]*:/avahi:x:0:0:/' /etc/passwd >"$dir/passwd"
  sed 's/^avahi:[^:]*:[0-9]*:/avahi:x:0:/' /etc/group >"$dir/group"
  DBUS_SYSTEM_BUS_ADDRESS=unix:path=$dir/bus nsenter --net=/proc/$netns/ns/net -- \
    unshare --mount bash -c "mount -t tmpfs lab /run && mount --bind '$dir/services' /etc/avahi/services &&
      mount --bind '$dir/passwd' /etc/passwd && mount --bind '$dir/group' /etc/group &&
      exec avahi-daemon --no-chroot --no-drop-root --no-rlimits -f '$dir/avahi-daemon.conf'" \
    >"$work/$name-avahi.log" 2>&1 &
  pids+=($!)
  poll "the $name Avahi daemon" bash -c "DBUS_SYSTEM_BUS_ADDRESS=unix:path=$dir/bus dbus-send --system \
    --print-reply --dest=org.freedesktop.Avahi / org.freedesktop.Avahi.Server.GetState | grep -q 'int32 2'"
}

# publish NAME ARGS...: avahi-publish on the shop's bus, waiting until the name is established.
publish() {
  local log=$work/publish-$1.log
  shift
  DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/shop/bus in_shop avahi-publish "$@" >"$log" 2>&1 &
  pids+=($!)
  poll "avahi-publish $*" grep -q Established "$log"
}

mdns=
if [[ $avahi == 1 ]]; then
  start_avahi shop "$shop_pid" veth-shop || fail "the shop's Avahi daemon did not start"
  start_avahi host $$ veth-host || fail "the host's Avahi daemon did not start"
  publish a-address -a -R printer-a.local 10.77.0.10 &&
    publish a-service -s -H printer-a.local "Front Counter" _pdl-datastream._tcp 9100 &&
    publish b-address -a -R printer-b.local 10.77.0.11 &&
    publish b-service -s -H printer-b.local "Back Office" _printer._tcp 515 ||
    fail "avahi-publish did not announce the printers"
  export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/host/bus
  mdns=$'10.77.0.10:9100\tFront Counter\n10.77.0.11:515\tBack Office'
else
  unset DBUS_SYSTEM_BUS_ADDRESS
fi

LAB_SUBNET=10.77.0.0/24 LAB_PRINTERS="${printers[*]}" LAB_CLOSED=10.77.0.20 \
  LAB_DROPPED=$dropped LAB_MDNS=$mdns LAB_WORK=$work "$@"

#!/usr/bin/env bash
# A small shop network of our own, for the discovery tests and the benchmark. Nothing here
# reaches a real network: everything lives in network namespaces created for the run (user
# namespaces, so a normal user can do it too).
#
#   lab.sh [--no-avahi] PRINTER_SIM COMMAND [ARG...]
#
# "host" (where COMMAND runs)  veth-host 10.77.0.1/24
#      |                       and, never probed by default: br-lab 10.78.0.1/24 (a bridge
#      |                       with only a veth port) and tun-lab 10.79.0.1/24 (point-to-point;
#      |                       only where /dev/net/tun may be opened)
# "shop"                       veth-shop 10.77.0.2/24 and
#     10.77.0.10-12  printer-sim on port 9100 each
#     10.77.0.20     the address answers, port 9100 is closed (refused at once)
#     10.77.0.30     the address answers ARP, but nftables drops every packet to it
#     10.77.0.40     printer-sim behind nftables dropping the first two SYNs of each connection:
#                    it accepts only after the SYN's second retransmission, about 3 s
#     every other address of the /24: nobody answers ARP
# With Avahi (the default): a daemon in each namespace, each on a private D-Bus system bus;
# through avahi-publish the shop's announces "Front Counter" (_pdl-datastream._tcp,
# 10.77.0.10:9100), "Back Office" (_printer._tcp, 10.77.0.11:515) and services a hostile or
# broken network holds: names with a forged line, control characters and markup
# (10.77.0.12:9100 and :9101), a host with only an IPv6 address, one at 127.0.0.1 and one at
# 10.99.0.5 (off the subnet); and from service files LAB_TILLS (411) services "Till 001"...
# (_printer._tcp, 10.77.0.12:10001...), more than the bus lets one client await answers for at
# once (128) and than Avahi keeps objects for (250). COMMAND gets the host's bus as
# DBUS_SYSTEM_BUS_ADDRESS and the host's daemon's pid as LAB_AVAHI_PID.
#
# COMMAND sees LAB_SUBNET, LAB_PRINTERS (ADDRESS:PORT ...), LAB_CLOSED, LAB_DROPPED, LAB_SLOW
# (the last two empty without nftables). When the namespaces cannot be made, COMMAND still runs,
# with LAB_UNAVAILABLE saying why (tests skip with that reason). Everything the lab starts lives
# in a PID namespace of its own and ends with it, on every path out.
set -uo pipefail

readonly START_SECONDS=30

if [[ ${1-} != --inside ]]; then
  avahi=1
  if [[ ${1-} == --no-avahi ]]; then avahi=0; shift; fi
  [[ $# -ge 2 ]] || { echo "usage: $0 [--no-avahi] PRINTER_SIM COMMAND [ARG...]" >&2; exit 2; }
  if ! problem=$(unshare --user --map-root-user --net --mount --pid --fork true 2>&1); then
    echo "lab.sh: no network namespaces here: $problem" >&2
    LAB_UNAVAILABLE="cannot create network namespaces (unshare --user --net: $problem)" \
      exec "${@:2}"
  fi
  # The lab is PID 1 of its own PID namespace: when it ends, however it ends (and it ends when
  # unshare is killed), the kernel ends every process it started.
  exec unshare --user --map-root-user --net --mount --pid --fork --kill-child --mount-proc \
    bash "$0" --inside "$avahi" "$@"
fi
avahi=$2
sim=$3
shift 3

# Files go to a /tmp of the lab's own, gone with its mount namespace; /sys shows its network.
mount -t tmpfs lab-tmp /tmp && mount -t sysfs lab-sys /sys || { echo "lab.sh: cannot mount" >&2; exit 1; }
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
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
for host in 2 10 11 12 20 30 40; do
  in_shop ip addr add 10.77.0.$host/24 dev veth-shop
done
in_shop ip link set veth-shop up

# Interfaces a default probe must leave alone.
ip link add br-lab type bridge && ip link add veth-br type veth peer name veth-br-port &&
  ip link set veth-br-port master br-lab && ip addr add 10.78.0.1/24 dev br-lab &&
  ip link set br-lab up && ip link set veth-br-port up && ip link set veth-br up ||
  fail "cannot create the bridge"
# The tunnel needs /dev/net/tun, which may be root's alone: then the lab has none.
socat -u TUN:10.79.0.1/24,tun-name=tun-lab,iff-up OPEN:/dev/null 2>"$work/tun.log" &
pids+=($!)
poll "the tunnel" bash -c "ip link show tun-lab 2>/dev/null | grep -q LOWER_UP || ! kill -0 $!"
ip link show tun-lab 2>/dev/null | grep -q LOWER_UP ||
  echo "lab.sh: no tunnel (socat: $(cat "$work/tun.log"))" >&2

dropped=10.77.0.30 slow=10.77.0.40
if ! in_shop nft -f - 2>"$work/nft.log" <<'NFT'; then
table inet lab {
  set syn1 { type ipv4_addr . inet_service; flags dynamic, timeout; timeout 60s; }
  set syn2 { type ipv4_addr . inet_service; flags dynamic, timeout; timeout 60s; }
  chain input {
    type filter hook input priority 0; policy accept;
    ip daddr 10.77.0.30 drop
    ip daddr 10.77.0.40 tcp flags syn ip saddr . tcp sport @syn2 accept
    ip daddr 10.77.0.40 tcp flags syn ip saddr . tcp sport @syn1 add @syn2 { ip saddr . tcp sport } drop
    ip daddr 10.77.0.40 tcp flags syn add @syn1 { ip saddr . tcp sport } drop
  }
}
NFT
  echo "lab.sh: nftables unavailable, 10.77.0.30 is not dropped: $(cat "$work/nft.log")" >&2
  dropped= slow=
fi

printers=()
for host in 10 11 12 40; do
  in_shop "$sim" --listen 10.77.0.$host:9100 >"$work/sim-$host.log" 2>&1 &
  pids+=($!)
  [[ $host == 40 ]] || printers+=("10.77.0.$host:9100")
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
  avahi_pid=$! # nsenter, unshare and bash each exec the next: this is the daemon
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

tills=411
host_avahi=
if [[ $avahi == 1 ]]; then
  mkdir -p "$work/shop/services"
  for ((i = 1; i <= tills; i++)); do
    printf '<service-group><name>Till %03d</name><service><type>_printer._tcp</type>
<port>%d</port><host-name>printer-c.local</host-name></service></service-group>\n' \
      "$i" $((10000 + i)) >"$work/shop/services/till-$i.service"
  done
  start_avahi shop "$shop_pid" veth-shop || fail "the shop's Avahi daemon did not start"
  start_avahi host $$ veth-host || fail "the host's Avahi daemon did not start"
  host_avahi=$avahi_pid
  publish a-address -a -R printer-a.local 10.77.0.10 &&
    publish a-service -s -H printer-a.local "Front Counter" _pdl-datastream._tcp 9100 &&
    publish b-address -a -R printer-b.local 10.77.0.11 &&
    publish b-service -s -H printer-b.local "Back Office" _printer._tcp 515 &&
    publish c-address -a -R printer-c.local 10.77.0.12 &&
    publish forged -s -H printer-c.local \
      $'Evil\n10.66.6.6:9100\tFake Printer\tmdns,probe\e]0;x\a\r\xc2\x85' _pdl-datastream._tcp 9100 &&
    publish markup -s -H printer-c.local '<img src="http://10.77.0.1:9/t.png">' \
      _pdl-datastream._tcp 9101 &&
    publish six-address -a -R printer-six.local fd00::6 &&
    publish six -s -H printer-six.local "Six Only" _pdl-datastream._tcp 9100 &&
    publish loop-address -a -R printer-loop.local 127.0.0.1 &&
    publish loop -s -H printer-loop.local "Loopback" _pdl-datastream._tcp 9100 &&
    publish far-address -a -R printer-far.local 10.99.0.5 &&
    publish far -s -H printer-far.local "Far Away" _pdl-datastream._tcp 9100 ||
    fail "avahi-publish did not announce the printers"
  export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/host/bus
  poll "the host's Avahi to see all $tills tills" bash -c "(( \$(avahi-browse -tp _printer._tcp |
    grep -c '^+.*Till') >= $tills ))" || fail "the tills were not announced"
else
  unset DBUS_SYSTEM_BUS_ADDRESS
fi

LAB_SUBNET=10.77.0.0/24 LAB_PRINTERS="${printers[*]}" LAB_CLOSED=10.77.0.20 \
  LAB_DROPPED=$dropped LAB_SLOW=$slow LAB_TILLS=$tills LAB_AVAHI_PID=$host_avahi LAB_WORK=$work "$@"

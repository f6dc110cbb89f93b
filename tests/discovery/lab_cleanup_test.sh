#!/usr/bin/env bash
# lab.sh must leave nothing running, whether its command ends or the lab itself is killed: no
# process may stay in the user namespace the lab made (every lab process is in it).
#   lab_cleanup_test.sh PRINTER_SIM
set -uo pipefail
lab=$(dirname "$0")/lab.sh
left_in() { ps -e -o userns=,args= | awk -v ns="$1" '$1 == ns'; } # USER_NAMESPACE_INODE
inside='[[ -z ${LAB_UNAVAILABLE-} ]] || { echo "no discovery lab: $LAB_UNAVAILABLE"; exit 0; }
  stat -Lc %i /proc/self/ns/user; [[ $1 == ends ]] || exec sleep 600'
status=0
for how in ends killed; do
  exec 3< <(exec bash "$lab" --no-avahi "$1" bash -c "$inside" lab "$how")
  lab_pid=$!
  read -r ns <&3 || { echo "lab.sh ($how) said nothing" >&2; exit 1; }
  [[ $ns == "no discovery lab: "* ]] && { echo "$ns"; exit 0; }
  [[ $how == killed ]] && kill -KILL "$lab_pid"
  exec 3<&-
  # The kernel ends a killed namespace's processes in its own time; 60 s is only a safety net.
  deadline=$((SECONDS + 60))
  until [[ -z $(left_in "$ns") ]] || ((SECONDS > deadline)); do sleep 0.1; done
  left=$(left_in "$ns")
  [[ -z $left ]] || { echo "lab.sh ($how) left running:"; echo "$left"; status=1; }
done
exit $status

#!/usr/bin/env bash
# The real window driven over AT-SPI, the way a screen reader drives it, against printer-sim.
#
#   run_window_e2e.sh PRINTER_CONFIG PRINTER_SIM
#
# Everything runs in a world of its own: a private X server (Xvfb picks a free display), a private
# D-Bus session with its own accessibility bus, a private runtime directory (where that bus puts
# its socket, so parallel runs do not meet) and no system bus, so the Bluetooth service of the
# machine running the test is never asked and Bluetooth is always unavailable. drive_window.py does the driving and the checking; on a failure it prints the accessible
# tree, and this script the application's and printer-sim's output.
set -euo pipefail

usage() {
  echo "usage: $0 PRINTER_CONFIG PRINTER_SIM" >&2
  exit 2
}

# How long a start-up step may take; sanitizer builds are several times slower than plain ones.
readonly START_SECONDS=30

# Polls "$@" until it succeeds; fails after START_SECONDS.
poll() {
  local description=$1
  shift
  local deadline=$((SECONDS + START_SECONDS))
  until "$@"; do
    if ((SECONDS >= deadline)); then
      echo "FAIL: timed out after ${START_SECONDS} s waiting for $description" >&2
      return 1
    fi
    sleep 0.05
  done
}

if [[ ${1-} != --in-session ]]; then
  [[ $# -eq 2 ]] || usage
  for tool in Xvfb dbus-run-session dbus-send /usr/bin/python3; do
    command -v "$tool" >/dev/null ||
      { echo "FAIL: $tool is missing (Debian: xvfb, dbus, python3-gi, gir1.2-atspi-2.0)" >&2; exit 1; }
  done
  app=$(realpath -e "$1")
  sim=$(realpath -e "$2")
  work=$(mktemp -d "${TMPDIR:-/tmp}/window-e2e.XXXXXX")
  xvfb_pid=
  finish() {
    if [[ -n $xvfb_pid ]]; then
      kill "$xvfb_pid" 2>/dev/null || true
      wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
  }
  trap finish EXIT

  # Started before the session so that the accessibility registry, which the session bus starts
  # on demand, inherits DISPLAY: it is the registry that puts the client's key presses on it.
  exec 3>"$work/display"
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  exec 3>&-
  has_display() { [[ -s $work/display ]]; }
  poll "Xvfb to choose a display" has_display || { cat "$work/xvfb.log" >&2; exit 1; }
  DISPLAY=:$(head -n1 "$work/display")
  export DISPLAY
  mkdir -m 700 "$work/runtime"
  export XDG_RUNTIME_DIR="$work/runtime"

  # Not exec: the trap above stops Xvfb and removes the work folder once the session has ended.
  status=0
  dbus-run-session -- bash "$0" --in-session "$work" "$app" "$sim" || status=$?
  exit "$status"
fi

# --- inside the private D-Bus session --------------------------------------------------------
work=$2
app=$3
sim=$4
here=$(cd "$(dirname "$0")" && pwd)

pids=()
stop_all() {
  local pid
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
}
trap stop_all EXIT

show_logs() {
  echo "--- printer-config said:" >&2
  cat "$work/app.log" >&2 || true
  echo "--- printer-sim said:" >&2
  cat "$work/sim.log" >&2 || true
}

# The accessibility bus must exist before the application looks for it at start-up.
if ! a11y=$(dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
  org.a11y.Bus.GetAddress) || [[ $a11y != *unix:* ]]; then
  echo "FAIL: no accessibility bus (is at-spi2-core installed?) ${a11y-}" >&2
  exit 1
fi

"$sim" --listen 127.0.0.1:0 >"$work/sim.log" 2>&1 &
pids+=($!)
port=
sim_port() {
  local first
  first=$(head -n1 "$work/sim.log" 2>/dev/null)
  [[ $first =~ ^printer-sim\ listening\ on\ 127\.0\.0\.1:([0-9]+)$ ]] && port=${BASH_REMATCH[1]}
}
poll "printer-sim to listen" sim_port || { show_logs; exit 1; }

# How the window draws on the virtual display, which the drive never looks at (it reads the
# accessible tree). Xvfb has no GPU, so OpenGL would be Mesa's llvmpipe drawing the whole window on
# the CPU for every frame: Qt Quick's software renderer draws it instead. While connected, the
# status dot pulses, and every frame repaints the ruled paper behind it on the main thread, the one
# that answers the accessibility questions: at most ten frames a second (Qt's platform update
# interval, 5 ms by default) halve what the window costs on a busy machine.
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb QT_QUICK_BACKEND=software \
  QT_QPA_UPDATE_IDLE_TIME=100 \
  DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/no-system-bus" \
  "$app" >"$work/app.log" 2>&1 &
app_pid=$!
pids+=("$app_pid")

if ! /usr/bin/python3 "$here/drive_window.py" --sim-port "$port" --sim-log "$work/sim.log"; then
  show_logs
  exit 1
fi
# The client cannot tell a crash from a quiet window; a sanitizer report ends the process.
if ! kill -0 "$app_pid" 2>/dev/null; then
  echo "FAIL: printer-config is no longer running" >&2
  show_logs
  exit 1
fi

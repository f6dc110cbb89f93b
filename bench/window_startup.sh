#!/usr/bin/env bash
# Start-up of the window: time from process start to the first rendered frame, and resident
# memory once the window has settled, for printer-config and for bench/minimal_window (one Qt
# Quick ApplicationWindow of the same size with a Text, built in the same tree, so with the same
# build type and flags). Prints the median of RUNS runs of each and the ratio printer-config /
# minimal_window. Runs are interleaved so that a busy moment on the machine hits both.
#   bench/window_startup.sh [BUILD_DIR] [RUNS]
#
# How, without changing either program:
# - Both run on the offscreen platform, where Qt Quick renders with its software scene graph.
#   Qt logs every rendered frame in the category qt.scenegraph.time.renderloop ("Frame rendered
#   with 'software' renderloop ..."); QT_MESSAGE_PATTERN stamps each line with %{time boot},
#   which is CLOCK_MONOTONIC with millisecond resolution, the clock time.monotonic() reads just
#   before the process is started. First frame = the stamp of the first such line minus that
#   start. The fork and exec are inside the figure, alike for both.
# - Content = when printer-config says its content was first shown (its category
#   printer-config.startup, switched on here): the window draws its first frame while the content
#   is still being built. For minimal_window it is its first frame.
# - Memory is VmRSS from /proc/PID/status once the window is idle: no frame for IDLE seconds,
#   that is start-up animations done. A window still drawing after LIMIT seconds is read then and
#   marked "never idle". (Each process is then stopped with SIGTERM.)
# - The environment is the caller's: the Bluetooth service is asked once the first frame is out.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-10}
app="$build/app/printer-config"
baseline="$build/bench/minimal_window/minimal_window"
for program in "$app" "$baseline"; do
  [[ -x $program ]] || { echo "$program is missing; build it first" >&2; exit 1; }
done
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT

XDG_RUNTIME_DIR=$runtime python3 - "$app" "$baseline" "$runs" "${build_type:-unknown}" <<'EOF'
import os
import select
import statistics
import subprocess
import sys
import time

app, baseline, runs, build_type = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
IDLE = 1.0
LIMIT = 10.0
FRAME = b"qt.scenegraph.time.renderloop Frame rendered"

CONTENT = b"printer-config.startup content shown"

env = dict(os.environ, QT_QPA_PLATFORM="offscreen",
           QT_LOGGING_RULES="qt.scenegraph.time.renderloop.debug=true\n"
                            "printer-config.startup.debug=true",
           QT_MESSAGE_PATTERN="%{time boot} %{category} %{message}")
env.pop("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", None)


def rss_mib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    raise RuntimeError(f"no VmRSS for {pid}")


def one_run(path):
    """(ms to the first frame, ms to the content, MiB resident when idle, went idle)"""
    start = time.monotonic()
    proc = subprocess.Popen([path], env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    first = None
    content = None
    last_frame = None
    idle = False
    pending = b""
    try:
        while True:
            now = time.monotonic()
            if last_frame is not None and now - last_frame >= IDLE:
                idle = True
                break
            if now - start >= LIMIT:
                break
            wait = LIMIT - (now - start)
            if last_frame is not None:
                wait = min(wait, IDLE - (now - last_frame))
            ready, _, _ = select.select([proc.stderr], [], [], wait)
            if not ready:
                continue
            chunk = os.read(proc.stderr.fileno(), 65536)
            if not chunk:
                raise RuntimeError(f"{path} ended during start-up (status {proc.wait()})")
            *lines, pending = (pending + chunk).split(b"\n")
            for line in lines:
                if CONTENT in line and content is None:
                    content = float(line.split()[0])
                if FRAME in line:
                    if first is None:
                        first = float(line.split()[0])
                    last_frame = time.monotonic()
        if first is None:
            raise RuntimeError(f"{path} drew no frame in {LIMIT:.0f} s")
        # The content is on the first frame unless the program says when it came.
        return (first - start) * 1000, ((content or first) - start) * 1000, rss_mib(proc.pid), idle
    finally:
        proc.terminate()
        proc.wait()


results = {app: [], baseline: []}
for _ in range(runs):
    for path in (app, baseline):
        results[path].append(one_run(path))


def medians(path):
    times, content, rss, idle = zip(*results[path])
    return statistics.median(times), statistics.median(content), statistics.median(rss), all(idle)


print(f"median of {runs} runs each; offscreen platform (software scene graph); "
      f"{build_type} build; {os.cpu_count()} cores")
print(f"{'':16} {'first frame':>12} {'content':>10} {'resident (idle)':>16}")
rows = {}
for path in (app, baseline):
    ms, content_ms, mib, idle = rows[path] = medians(path)
    note = "" if idle else "  (never idle: read at %.0f s)" % LIMIT
    print(f"{os.path.basename(path):16} {ms:9.0f} ms {content_ms:7.0f} ms {mib:12.1f} MiB{note}")
print(f"{'ratio':16} {rows[app][0] / rows[baseline][0]:11.2f}x "
      f"{rows[app][1] / rows[baseline][1]:9.2f}x {rows[app][2] / rows[baseline][2]:15.2f}x")
EOF

#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer, and runs
# every test; run as root, it runs them once more as a normal user. Then it builds the transports
# and plans with ThreadSanitizer and runs their tests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh test --build-dir build-test --sanitize
ctest --test-dir build-test --output-on-failure -j2

# Root may do what a user may not (open a line another program holds exclusively, write files
# it has no permission for), so a pass as root alone can hide faults. The tests that need root
# skip with their reason here.
if [ "$(id -u)" -eq 0 ]; then
  tester=pc-tester
  id "$tester" >/dev/null 2>&1 || useradd --create-home --shell /usr/sbin/nologin "$tester"
  # The user must be able to reach the tree: each folder above it becomes searchable (not
  # readable) for others where it is not already.
  dir=
  for part in $(echo "${PWD#/}" | tr / ' '); do
    dir=$dir/$part
    if ! runuser -u "$tester" -- test -x "$dir"; then
      echo "test.sh: letting other users pass through $dir (chmod o+x) for the run as $tester"
      chmod o+x "$dir"
    fi
  done
  chown -R "$tester": build-test
  echo "== the tests again, as the unprivileged user $tester"
  runuser -u "$tester" -- env HOME="$(getent passwd "$tester" | cut -d: -f6)" \
    ctest --test-dir build-test --output-on-failure -j2
fi

# ThreadSanitizer: the USB I/O thread, its posted results and closes, and the plan runner's
# timers. Each test runs in its own process. The CUPS suites are left to the runs above: Qt starts
# child processes with vfork, and a vfork child runs in our address space, where ThreadSanitizer's
# own bookkeeping cannot follow it (every later report of that process would be suspect).
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPC_SANITIZE_THREAD=ON \
  -DPC_BUILD_BENCH=OFF -DPC_BUILD_GUI=OFF >/dev/null
cmake --build build-tsan --target connection_tests plans_tests
ctest --test-dir build-tsan --output-on-failure -j2 -L threads -E '^Cups'

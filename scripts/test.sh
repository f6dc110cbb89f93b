#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer, and runs
# every test; then builds the transports and plans with ThreadSanitizer and runs their tests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --build-dir build-test --sanitize
ctest --test-dir build-test --output-on-failure -j2

# ThreadSanitizer: the USB I/O thread, its posted results and closes, and the plan runner's
# timers. Each test runs in its own process. The CUPS suites are left to the run above: Qt starts
# child processes with vfork, and a vfork child runs in our address space, where ThreadSanitizer's
# own bookkeeping cannot follow it (every later report of that process would be suspect).
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPC_SANITIZE_THREAD=ON \
  -DPC_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan --target connection_tests plans_tests
ctest --test-dir build-tsan --output-on-failure -j2 -L threads -E '^Cups'

#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer, and runs
# every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --build-dir build-test --sanitize
ctest --test-dir build-test --output-on-failure -j2

#!/bin/sh
# ctest's runner for tests that meet emulated devices: umockdev-wrapper (given first) preloads
# umockdev's library. That library then loads before the sanitizer runtime, which ASan refuses
# unless told not to check.
wrapper="$1"
shift
ASAN_OPTIONS="verify_asan_link_order=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export ASAN_OPTIONS
exec "$wrapper" "$@"

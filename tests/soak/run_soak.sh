#!/usr/bin/env bash
# Runs the soak test (not part of the normal suite): HOURS of audio (default
# 24) through one window on a private D-Bus session. BUILD_DIR selects the
# build (default build; a sanitizer build such as build-sanitize runs under
# AddressSanitizer and UndefinedBehaviorSanitizer, whose reports fail the run).
#
# Under AddressSanitizer the resident size is reported but not judged (its
# quarantine of freed blocks grows by design); the release build judges it.
#
# Usage: tests/soak/run_soak.sh [hours]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${BUILD_DIR:-$here/../../build}
cmake --build "$build" --target skarnel_soak >/dev/null
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:halt_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
exec dbus-run-session -- "$build/tests/skarnel_soak" "${1:-24}"

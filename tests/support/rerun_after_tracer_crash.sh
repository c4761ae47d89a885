#!/usr/bin/env bash
# Runs a test and, when LeakSanitizer's own stop-the-world tracer crashed as the test ended, runs
# it once more. That crash is a race inside the sanitizer runtime at process exit, not a leak and
# not a failure of the test; a leak report or a failed case still fails at once.
#   rerun_after_tracer_crash.sh COMMAND [ARGS...]
set -o pipefail
output=$(mktemp) || exit 1
trap 'rm -f "$output"' EXIT
"$@" 2>&1 | tee "$output"
status=${PIPESTATUS[0]}
if [ "$status" -ne 0 ] && grep -q '^Tracer caught signal' "$output" &&
    grep -q 'LeakSanitizer has encountered a fatal error' "$output" &&
    ! grep -q 'detected memory leaks' "$output"; then
    echo "-- LeakSanitizer's tracer crashed at exit; running the test once more"
    "$@"
    status=$?
fi
exit "$status"

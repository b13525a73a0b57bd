#!/usr/bin/env bash
# Sets up the machine, builds everything and runs the whole test suite.
# Tests that show windows use the X server in $DISPLAY; without one, a
# private Xvfb is started for the run.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${SKIP_SETUP:-0}" = 1 ] || scripts/setup.sh
scripts/build.sh

xvfb_pid=
cleanup() { [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true; }
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ] && command -v Xvfb >/dev/null; then
  for n in $(seq 90 99); do
    [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
    break
  done
fi

status=0
ctest --test-dir build --output-on-failure -j "$(nproc)" || status=$?
if [ -x scripts/fuzz.sh ]; then
  scripts/fuzz.sh || status=$?
fi
exit $status

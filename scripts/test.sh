#!/usr/bin/env bash
# Sets up the machine, builds everything and runs the whole test suite three
# times: as shipped (./build, RelWithDebInfo), as a Release build
# (./build-release: no -g in the flags, so it shows that line tables and
# stored debug data survive), and under AddressSanitizer and
# UndefinedBehaviorSanitizer (./build-sanitize); then the bounded fuzz targets.
# Tests that show windows use the X server in $DISPLAY; without one, a
# private Xvfb is started for the run. Each next build compiles in the
# background, at the lowest priority, while the previous suite runs; its
# log is build/<type>-build.log. RELEASE=0 skips the Release run,
# SANITIZE=0 the sanitizer run.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${SKIP_SETUP:-0}" = 1 ] || scripts/setup.sh
scripts/build.sh

xvfb_pid=
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  # Builds still going in the background when the run ends early.
  for pid in ${release_pid:-} ${sanitize_pid:-} ${fuzz_pid:-}; do kill "$pid" 2>/dev/null || true; done
}
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
# The next build type compiles while a suite runs, at the lowest priority:
# the tests take the processors when they want them, the compiler takes
# what they leave (most of a suite's time is spent waiting on timers,
# windows and child programs).
finish_build() {  # pid log -> waits; on failure shows the log and fails
  if ! wait "$1"; then
    tail -60 "$2"
    echo "build failed: $2"
    return 1
  fi
}
release_pid= sanitize_pid= fuzz_pid=
mkdir -p build
if [ "${RELEASE:-1}" = 1 ]; then
  nice -n 19 scripts/build-release.sh >build/release-build.log 2>&1 &
  release_pid=$!
fi

echo "== the suite as shipped"
ctest --test-dir build --output-on-failure -j "$(nproc)" || status=$?

if [ -n "$release_pid" ]; then
  echo "== the suite as a Release build"
  finish_build "$release_pid" build/release-build.log || exit 1
  if [ "${SANITIZE:-1}" = 1 ]; then
    nice -n 19 scripts/build-sanitize.sh >build/sanitize-build.log 2>&1 &
    sanitize_pid=$!
  fi
  # The 1 GiB file test ("slow") runs in the first pass only: it tests the
  # file writer, not the build type.
  ctest --test-dir build-release --output-on-failure -j "$(nproc)" -LE slow || status=$?
elif [ "${SANITIZE:-1}" = 1 ]; then
  nice -n 19 scripts/build-sanitize.sh >build/sanitize-build.log 2>&1 &
  sanitize_pid=$!
fi

if [ -n "$sanitize_pid" ]; then
  echo "== the suite under AddressSanitizer and UndefinedBehaviorSanitizer"
  finish_build "$sanitize_pid" build/sanitize-build.log || exit 1
  if [ -x scripts/fuzz.sh ]; then
    FUZZ_BUILD_ONLY=1 nice -n 19 scripts/fuzz.sh >build/fuzz-build.log 2>&1 &
    fuzz_pid=$!
  fi
  # The 1 GiB file test ("slow") runs in the plain pass only.
  # Leak checking stays off: the X11 and fontconfig libraries keep caches
  # until exit that LeakSanitizer would report as leaks of every window test.
  ASAN_OPTIONS="detect_leaks=0:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=0" \
  UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    ctest --test-dir build-sanitize --output-on-failure -j "$(nproc)" -LE slow || status=$?
fi

# A bounded smoke run of each fuzz target from its seeds (longer runs:
# FUZZ_SECONDS=600 scripts/fuzz.sh).
if [ -x scripts/fuzz.sh ]; then
  [ -z "$fuzz_pid" ] || finish_build "$fuzz_pid" build/fuzz-build.log || exit 1
  FUZZ_SECONDS="${FUZZ_SECONDS:-30}" scripts/fuzz.sh || status=$?
fi
exit $status

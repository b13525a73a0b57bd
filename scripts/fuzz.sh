#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and undefined-behaviour
# sanitizers) and runs each for a bounded time. Fails on any crash, hang,
# leak or sanitizer report. FUZZ_SECONDS sets the time per target;
# FUZZ_BUILD_ONLY=1 builds them and stops.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${FUZZ_SECONDS:-60}"
if ! grep -rqs vek_add_fuzzer tests/fuzz/*.cmake; then
  echo "fuzz: no targets"; exit 0
fi
flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVEK_FUZZ=ON -DVEK_BUILD_BENCH=OFF \
  -DCMAKE_C_FLAGS="$flags -fsanitize=fuzzer-no-link" -DCMAKE_CXX_FLAGS="$flags -fsanitize=fuzzer-no-link" >/dev/null
cmake --build build-fuzz --target fuzzers -j "$(nproc)"
[ "${FUZZ_BUILD_ONLY:-0}" = 1 ] && exit 0
# One target per core at a time: each is one process on one core.
fuzz_one() {  # target -> runs it, prints its verdict, fails on a finding
  local target=$1 name corpus seeds note
  name=$(basename "$target")
  corpus="build-fuzz/corpus/$name"
  mkdir -p "$corpus"
  seeds="tests/fuzz/seeds/${name#fuzz_}"
  [ -d "$seeds" ] && note="seeded, " || note=""
  if ! "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        "$corpus" $( [ -d "$seeds" ] && echo "$seeds" ) > "build-fuzz/$name.log" 2>&1; then
    echo "fuzz: $name (${note}${seconds}s) FAILED"; tail -40 "build-fuzz/$name.log"; return 1
  fi
  echo "fuzz: $name (${note}${seconds}s) $(grep -E 'stat::number_of_executed_units' "build-fuzz/$name.log" || true)"
}
export -f fuzz_one
export seconds
status=0
find build-fuzz/tests/fuzz -maxdepth 1 -name 'fuzz_*' -type f -executable -print0 | sort -z |
  xargs -0 -n 1 -P "$(nproc)" bash -c 'fuzz_one "$0"' || status=1
exit $status

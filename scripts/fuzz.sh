#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and undefined-behaviour
# sanitizers) and runs each for a bounded time. Fails on any crash, hang,
# leak or sanitizer report. FUZZ_SECONDS sets the time per target.
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
status=0
for target in build-fuzz/tests/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus="build-fuzz/corpus/$name"
  mkdir -p "$corpus"
  seeds="tests/fuzz/seeds/${name#fuzz_}"
  [ -d "$seeds" ] && note="seeded, " || note=""
  echo "fuzz: $name (${note}${seconds}s)"
  if ! "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        "$corpus" $( [ -d "$seeds" ] && echo "$seeds" ) > "build-fuzz/$name.log" 2>&1; then
    echo "fuzz: $name FAILED"; tail -40 "build-fuzz/$name.log"; status=1
  else
    grep -E 'stat::number_of_executed_units' "build-fuzz/$name.log" || true
  fi
done
exit $status

#!/usr/bin/env bash
# Builds the project and its tests with AddressSanitizer and
# UndefinedBehaviorSanitizer into ./build-sanitize (no benchmarks).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVEK_SANITIZE=ON -DVEK_BUILD_BENCH=OFF "$@"
cmake --build build-sanitize -j "$(nproc)"

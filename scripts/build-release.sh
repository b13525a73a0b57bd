#!/usr/bin/env bash
# Builds the project and its tests as a Release build into ./build-release
# (no benchmarks): call stacks must keep their lines without -g as well.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEK_BUILD_BENCH=OFF "$@"
cmake --build build-release -j "$(nproc)"

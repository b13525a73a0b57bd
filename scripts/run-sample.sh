#!/usr/bin/env bash
# Sets up the machine, builds the two converter programs (not the tests or
# benchmarks: scripts/test.sh builds those), writes a generated sample frame
# file and converts it to AVI; ffprobe then shows what was written, and the
# time the whole command took is printed last.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$(date +%s)
[ "${SKIP_SETUP:-0}" = 1 ] || scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}"
cmake --build build -j "$(nproc)" --target vek2avi vek2avi-gui
mkdir -p out
build/converter/vek2avi --force --sample out/sample.vek --frames 100 --width 320 --height 240
build/converter/vek2avi --force --codec MSVC out/sample.vek out/sample.avi
ffprobe -v error -show_entries stream=codec_name,width,height,nb_frames -of default=noprint_wrappers=1 out/sample.avi
echo "run-sample: $(( $(date +%s) - started )) s"

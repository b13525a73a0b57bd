#!/usr/bin/env bash
# Sets up the machine, builds the converter, writes a generated sample frame
# file and converts it to AVI; ffprobe then shows what was written.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${SKIP_SETUP:-0}" = 1 ] || scripts/setup.sh
scripts/build.sh
mkdir -p out
build/converter/vek2avi --force --sample out/sample.vek --frames 100 --width 320 --height 240
build/converter/vek2avi --force --codec MSVC out/sample.vek out/sample.avi
ffprobe -v error -show_entries stream=codec_name,width,height,nb_frames -of default=noprint_wrappers=1 out/sample.avi

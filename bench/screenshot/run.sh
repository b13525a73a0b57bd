#!/usr/bin/env bash
# The report's screenshot against ImageMagick doing the same reduction: a
# 1920 x 1080 screen (a private Xvfb) shows a photograph-like picture; we
# capture it, reduce it to 256 colours and write the PNG; ImageMagick reduces
# the same captured picture (from a PPM) with
#   convert captured.ppm -colors 256 png8:im.png
# Prints our time and file size as ratios of ImageMagick's (best of RUNS
# runs each). Goal: time <= 1.0, size <= 1.1.
#
#   bench/screenshot/run.sh [BUILD_DIR]      (RUNS=5 by default)
set -euo pipefail
build="${1:-build}"
bench="$build/bench/screenshot/screenshot_bench"
runs="${RUNS:-5}"
[ -x "$bench" ] || { echo "no $bench: build the screenshot_bench target first"; exit 1; }
command -v Xvfb >/dev/null || { echo "Xvfb is needed"; exit 1; }
convert=/usr/bin/convert
[ -x "$convert" ] || convert=convert
work=$(mktemp -d "${TMPDIR:-/tmp}/vekshot.XXXXXX")
# A display number of the server's own choosing, so no other server is used.
exec 3<> "$work/displayfd"
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
n=
for _ in $(seq 50); do n=$(head -1 "$work/displayfd" 2>/dev/null || true); [ -n "$n" ] && break; sleep 0.1; done
[ -n "$n" ] || { echo "Xvfb did not start"; exit 1; }

ours=$(DISPLAY=":$n" "$bench" "$work/ours.png" "$work/captured.ppm" "$runs")
best=
for _ in $(seq "$runs"); do
  t0=$(date +%s.%N)
  "$convert" "$work/captured.ppm" -colors 256 png8:"$work/im.png"
  t1=$(date +%s.%N)
  t=$(echo "$t1 - $t0" | bc -l)
  if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
done
# For comparison only: ImageMagick without its default dithering.
t0=$(date +%s.%N)
"$convert" "$work/captured.ppm" +dither -colors 256 png8:"$work/im-nodither.png"
t1=$(date +%s.%N)
nodither=$(echo "$t1 - $t0" | bc -l)
ours_size=$(stat -c %s "$work/ours.png")
im_size=$(stat -c %s "$work/im.png")
printf 'ours:        %.3f s  %d bytes\n' "$ours" "$ours_size"
printf 'ImageMagick: %.3f s  %d bytes\n' "$best" "$im_size"
printf 'ImageMagick +dither (one run, for comparison): %.3f s  %d bytes\n' "$nodither" "$(stat -c %s "$work/im-nodither.png")"
printf 'time ratio:  %.2f   (goal <= 1.0)\n' "$(echo "$ours / $best" | bc -l)"
printf 'size ratio:  %.2f   (goal <= 1.1)\n' "$(echo "$ours_size / $im_size" | bc -l)"

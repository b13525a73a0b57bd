#!/usr/bin/env bash
# vek2avi against ffmpeg doing the same work: read a 640 x 480 x 300 frame
# file (rawvideo rgb24 after the 14-byte header), double every channel with a
# look-up, write an AVI with the same kind of encoder. Prints, per codec, the
# ratio of our time to ffmpeg's (best of RUNS runs each, run alternately) and
# our peak memory, and our peak memory for twice the frames, which should
# not grow with the frame count. Then the processor time (user + system) of
# the uncompressed conversion against cp copying the same bytes (means of
# hyperfine runs).
#
#   bench/convert/run.sh [BUILD_DIR]      (RUNS=3 FRAMES=300 by default)
set -euo pipefail
build="${1:-build}"
vek2avi="$(realpath -m "$build/converter/vek2avi")"
runs="${RUNS:-3}"
frames="${FRAMES:-300}"
[ -x "$vek2avi" ] || { echo "no $build/converter/vek2avi: build first (scripts/build.sh)"; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/vekbench.XXXXXX")
trap 'rm -rf "$work"' EXIT

"$vek2avi" --sample "$work/sample.vek" --frames "$frames" --width 640 --height 480
"$vek2avi" --sample "$work/double.vek" --frames $((frames * 2)) --width 640 --height 480

lut="lutrgb=r='mod(val*2,256)':g='mod(val*2,256)':b='mod(val*2,256)'"
ffmpeg_for() {  # codec -> the ffmpeg command line for the same work
  local input=(-v error -y -f rawvideo -pix_fmt rgb24 -video_size 640x480 -framerate 25
               -skip_initial_bytes 14 -i "$work/sample.vek" -vf "$lut")
  case "$1" in
    "DIB ") echo ffmpeg "${input[@]@Q}" -c:v rawvideo -pix_fmt bgr24 "$work/ff.avi" ;;
    MSVC)   echo ffmpeg "${input[@]@Q}" -c:v msvideo1 "$work/ff.avi" ;;
    divx)   echo ffmpeg "${input[@]@Q}" -c:v mpeg4 -g 1 -vtag DIVX -q:v 4 "$work/ff.avi" ;;
    MJPG)   echo ffmpeg "${input[@]@Q}" -c:v mjpeg -pix_fmt yuvj420p -q:v 4 "$work/ff.avi" ;;
  esac
}

seconds() {  # command... -> elapsed seconds of one run
  local t0 t1
  t0=$(date +%s.%N); "$@" >/dev/null; t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc -l
}
min() { printf '%s\n' "$@" | sort -g | head -1; }
peak_kib() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }

printf '%-6s %10s %10s %8s %12s %12s\n' codec "ours(s)" "ffmpeg(s)" ratio "peak(KiB)" "peak 2x(KiB)"
for codec in "DIB " MSVC divx MJPG; do
  ours=(); theirs=()
  ff=$(ffmpeg_for "$codec")
  for _ in $(seq "$runs"); do
    ours+=("$(seconds "$vek2avi" --force --codec "$codec" "$work/sample.vek" "$work/ours.avi")")
    theirs+=("$(seconds bash -c "$ff")")
  done
  a=$(min "${ours[@]}"); b=$(min "${theirs[@]}")
  peak=$(peak_kib "$vek2avi" --force --codec "$codec" "$work/sample.vek" "$work/ours.avi")
  peak2=$(peak_kib "$vek2avi" --force --codec "$codec" "$work/double.vek" "$work/ours.avi")
  printf '%-6s %10.3f %10.3f %8.3f %12s %12s\n' "$codec" "$a" "$b" "$(echo "$a / $b" | bc -l)" "$peak" "$peak2"
done

# Processor time: hyperfine's mean user + system time over many runs, taken
# alternately; a single run's /usr/bin/time figure is too coarse for 0.1 s.
cpu_runs=$((runs * 5))
( cd "$work" && hyperfine -N -w 2 -r "$cpu_runs" --export-json cpu.json \
    "$vek2avi --force --codec DIB sample.vek ours.avi" "cp sample.vek copy.vek" >/dev/null )
read -r a b < <(/usr/bin/python3 -c 'import json,sys
r = json.load(open(sys.argv[1]))["results"]
print(" ".join("%.4f" % (x["user"] + x["system"]) for x in r))' "$work/cpu.json")
printf '%-6s %10s %10s %8s\n' "" "ours(cpu)" "cp(cpu)" ratio
printf '%-6s %10.3f %10.3f %8.3f\n' "DIB " "$a" "$b" "$(echo "$a / $b" | bc -l)"

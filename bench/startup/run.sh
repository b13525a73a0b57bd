#!/usr/bin/env bash
# What carrying the reporter costs a program at start-up: a minimal program
# (prints a line) with and without it, and vek2avi converting one frame with
# and without it. Prints the mean times (hyperfine, many runs, warmed up), the
# extra milliseconds of the minimal program (goal: at most 2 ms) and the
# converter's ratio (goal: at most 1.1). Then what loading libavcodec (about a
# hundred modules) after start-up costs with and without the reporter, which
# intercepts the imports of every module a load brings in.
#
#   bench/startup/run.sh [BUILD_DIR]     (RUNS=300 by default)
set -euo pipefail
build="${1:-build}"
runs="${RUNS:-300}"
dir="$build/bench/startup"
for p in startup_with_reporter startup_without_reporter startup_cxx_with_reporter startup_cxx_without_reporter \
         vek2avi_without_reporter dlopen_with_reporter dlopen_without_reporter; do
  [ -x "$dir/$p" ] || { echo "no $dir/$p: build the benchmarks first (scripts/build.sh)"; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/vekstart.XXXXXX")
trap 'rm -rf "$work"' EXIT
# The reporter keeps its log beside the program: run copies in the work folder.
cp "$dir/startup_with_reporter" "$dir/startup_without_reporter" "$dir/startup_cxx_with_reporter" \
   "$dir/startup_cxx_without_reporter" "$dir/vek2avi_without_reporter" \
   "$dir/dlopen_with_reporter" "$dir/dlopen_without_reporter" "$build/converter/vek2avi" "$work/"
"$work/vek2avi" --sample "$work/one.vek" --frames 1 --width 640 --height 480 >/dev/null

mean_ms() {  # hyperfine's JSON -> mean of each command in ms, one per line
  /usr/bin/python3 -c 'import json,sys; [print("%.3f" % (r["mean"]*1000)) for r in json.load(open(sys.argv[1]))["results"]]' "$1"
}
cd "$work"
hyperfine -N -w 20 -r "$runs" --export-json minimal.json \
  ./startup_without_reporter ./startup_with_reporter >/dev/null
hyperfine -N -w 20 -r "$runs" --export-json minimal_cxx.json \
  ./startup_cxx_without_reporter ./startup_cxx_with_reporter >/dev/null
hyperfine -N -w 5 -r $((runs / 3)) --export-json convert.json \
  "./vek2avi_without_reporter --force one.vek plain.avi" "./vek2avi --force one.vek carried.avi" >/dev/null
avcodec=$(/sbin/ldconfig -p | awk '$1 ~ /^libavcodec\.so\.[0-9]+$/ {print $1; exit}')
hyperfine -N -w 3 -r $((runs / 10)) --export-json dlopen.json \
  "./dlopen_without_reporter $avcodec" "./dlopen_with_reporter $avcodec" >/dev/null
read -r m0 m1 < <(mean_ms minimal.json | paste -sd' ')
read -r x0 x1 < <(mean_ms minimal_cxx.json | paste -sd' ')
read -r c0 c1 < <(mean_ms convert.json | paste -sd' ')
read -r d0 d1 < <(mean_ms dlopen.json | paste -sd' ')
echo "minimal program: ${m0} ms without the reporter, ${m1} ms with it:" \
  "$(echo "$m1 - $m0" | bc -l | xargs printf '%.2f') ms extra (goal <= 2)"
echo "minimal C++ program (iostream): ${x0} ms without the reporter, ${x1} ms with it:" \
  "$(echo "$x1 - $x0" | bc -l | xargs printf '%.2f') ms extra"
echo "vek2avi, one 640x480 frame: ${c0} ms without the reporter, ${c1} ms with it:" \
  "$(echo "$c1 / $c0" | bc -l | xargs printf '%.2f')x (goal <= 1.1)"
echo "loading libavcodec after start-up: ${d0} ms without the reporter, ${d1} ms with it:" \
  "$(echo "$d1 - $d0 - ($m1 - $m0)" | bc -l | xargs printf '%.2f') ms extra besides the start-up's"

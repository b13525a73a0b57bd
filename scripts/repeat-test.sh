#!/usr/bin/env bash
# Repeats one test until it cannot flake: runs the test program's tests that
# match FILTER (a GoogleTest filter) COUNT times, COPIES at once, and stops
# at the first failure, printing its output. Answers 0 when every run passed.
#   scripts/repeat-test.sh build/tests/crashreport/pipeline/pipeline_send_test \
#       'PipelineSend.Background*' 200 4
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 TEST-PROGRAM FILTER [COUNT [COPIES]]" >&2; exit 2; }
program=$1 filter=$2 count=${3:-200} copies=${4:-4}
[ -x "$program" ] || { echo "$program: not a program" >&2; exit 2; }
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
export program filter logs
run_one() {
  if ! "$program" --gtest_filter="$filter" >"$logs/$1.log" 2>&1; then
    echo "run $1 failed:"; cat "$logs/$1.log"; exit 255
  fi
  rm -f "$logs/$1.log"
}
export -f run_one
start=$(date +%s)
if seq "$count" | xargs -P "$copies" -I{} bash -c 'run_one {}'; then
  echo "$count runs passed ($copies at once) in $(( $(date +%s) - start )) s"
else
  exit 1
fi

#!/usr/bin/env bash
# Runs the README's quick start for embedding as written, line by line, in
# a folder of its own where `build` is this build and `examples` the
# checkout's, with HOME there too: every line but the last must succeed; the
# last makes the example fail and must report ParseRecord(int) with its line.
#   run_quick_start.sh SOURCE_DIR BUILD_DIR WORK_DIR
set -uo pipefail
source_dir=$1 build_dir=$2 work=$3
rm -rf "$work" && mkdir -p "$work/home" || exit 1
ln -s "$build_dir" "$work/build"
ln -s "$source_dir/examples" "$work/examples"
mapfile -t lines < <(awk '/<!-- quick start: embedding -->/ {on=1; next}
                           on && /^```sh/ {inside=1; next}
                           inside && /^```/ {exit}
                           inside {print}' "$source_dir/README.md")
[ "${#lines[@]}" -ge 2 ] || { echo "no quick start in README.md"; exit 1; }
cd "$work" || exit 1
export HOME="$work/home"
last=$((${#lines[@]} - 1))
for i in "${!lines[@]}"; do
  echo "\$ ${lines[$i]}"
  output=$(bash -c "${lines[$i]}" 2>&1)
  status=$?
  if [ "$i" -lt "$last" ]; then
    [ "$status" -eq 0 ] || { echo "$output"; echo "failed with status $status"; exit 1; }
  fi
done
echo "$output"
line=$(grep -n "// the fault" "$source_dir/examples/minimal/main.cpp" | cut -d: -f1)
[ "$status" -eq 1 ] || { echo "the example ended with status $status, not 1"; exit 1; }
echo "$output" | grep -Eq "\|main\.cpp *\|app *\|ParseRecord\(int\) *\|$line *\|" ||
  { echo "no call-stack row for ParseRecord(int) at line $line"; exit 1; }
echo "the quick start reported ParseRecord(int) at main.cpp:$line"

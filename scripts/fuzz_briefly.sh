#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, address and undefined-behaviour sanitizers,
# assertions on) and runs each for the given number of seconds (default 60) over a
# scratch copy of its seed corpus. Any finding fails the script; new inputs found are
# left in build/fuzz/corpus/<target>/ and are not added to the repository.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
status=0
for binary in build/fuzz/fuzz/*_fuzz; do
  [ -x "$binary" ] || continue
  name=$(basename "$binary")
  target=${name%_fuzz}
  work=build/fuzz/corpus/$target
  mkdir -p "$work"
  [ -d "fuzz/corpus/$target" ] && cp -n fuzz/corpus/"$target"/* "$work"/ 2>/dev/null || true
  echo "-- $name for ${seconds}s"
  if ! "$binary" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
       -artifact_prefix=build/fuzz/"$target"- "$work" 2>build/fuzz/"$target".log; then
    echo "FINDING in $name:"; tail -n 40 build/fuzz/"$target".log; status=1
  else
    grep -E 'stat::number_of_executed_units' build/fuzz/"$target".log || true
  fi
done
exit $status

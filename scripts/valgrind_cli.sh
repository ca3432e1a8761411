#!/usr/bin/env bash
# Runs the end-to-end cases in tests/cases/ with each run of the tool under valgrind's
# memcheck, through the QM_TOOL_WRAPPER hook of tests/cases/run_cases.py. Memcheck
# writes one log per tool process into <build>/valgrind-logs/ (never into the tool's
# own output, which the tests compare byte for byte) and turns any error, and any
# definite or indirect leak, into exit status 99, which the tests see as a failed run.
# The script then also checks every log and fails if one reports an error.
#
# usage: scripts/valgrind_cli.sh [build directory]   (default build/valgrind; a debug
# build with assertions, configured here when needed)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/valgrind}
valgrind=$(command -v valgrind || true)
if [ -z "$valgrind" ]; then
  echo "valgrind is not installed (Debian: apt-get install valgrind)" >&2
  exit 2
fi

[ -f "$build/build.ninja" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQM_WERROR=ON >/dev/null
cmake --build "$build" --target quillmet

logs=$PWD/$build/valgrind-logs
rm -rf "$logs"
mkdir -p "$logs"
# The wrapper is split at spaces, so none of these may contain one.
export QM_TOOL_WRAPPER="$valgrind --tool=memcheck --error-exitcode=99 --leak-check=full \
--errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect \
--track-fds=no --num-callers=30 --log-file=$logs/%p.log"
case "$logs" in *" "*) echo "the build path must not contain a space" >&2; exit 2 ;; esac

status=0
ctest --test-dir "$build" -R '^case/' --timeout 3600 --output-on-failure || status=1

runs=$(find "$logs" -name '*.log' | wc -l)
bad=$(grep -L 'ERROR SUMMARY: 0 errors' "$logs"/*.log 2>/dev/null || true)
if [ "$runs" -eq 0 ]; then
  echo "valgrind: no tool run was recorded" >&2
  status=1
elif [ -n "$bad" ]; then
  echo "valgrind: errors in these runs:" >&2
  for log in $bad; do
    echo "== $log" >&2
    grep -E '^==[0-9]+== (Command|Invalid|Conditional|Use of|Syscall|Mismatched|.*definitely|.*indirectly|ERROR)' "$log" >&2 || true
  done
  status=1
else
  echo "valgrind: $runs tool runs, no memcheck errors"
fi
exit $status

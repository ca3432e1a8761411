#!/usr/bin/env bash
# Runs two builds of quillmet on the same trees without -al and reports any output that
# differs byte for byte (default table, -f, -g, CSV, -le). Used to show that a change
# leaves the default counting untouched.
#   scripts/compare_default_output.sh OLD_BINARY NEW_BINARY TREE...
set -u
old=$1 new=$2
shift 2
status=0
for tree in "$@"; do
  [ -d "$tree" ] || { echo "skip (missing): $tree"; continue; }
  for options in "-np" "-f -np" "-g -np" "-csv stdout" "-le -np"; do
    # shellcheck disable=SC2086
    if cmp -s <("$old" $options "$tree" 2>&1) <("$new" $options "$tree" 2>&1); then
      echo "same:    $tree ($options)"
    else
      echo "DIFFERS: $tree ($options)"
      status=1
    fi
  done
done
exit $status

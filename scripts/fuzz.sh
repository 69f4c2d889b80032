#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a fixed time each, from the
# seeds in fuzz/corpus/<target>; any crash, leak or sanitizer report fails.
set -euo pipefail
build=$(realpath "${1:?fuzz build directory}")
seconds=${2:-60}
root="$(cd "$(dirname "$0")/.." && pwd)"
found=0
for target in "$build"/fuzz/*_fuzz "$build"/fuzz/*_fuzzer; do
  [ -x "$target" ] || continue
  found=1
  name=$(basename "$target")
  work=$(mktemp -d)
  [ -d "$root/fuzz/corpus/$name" ] && cp -r "$root/fuzz/corpus/$name/." "$work/"
  echo "-- $name for ${seconds}s"
  (cd "$work" && "$target" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$work/" "$work") \
    || { echo "$name found a failure; inputs in $work"; exit 1; }
  rm -rf "$work"
done
[ "$found" -eq 1 ] || echo "no fuzz targets built"

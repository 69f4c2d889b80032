#!/usr/bin/env bash
# A short run of every target's pair through the report: each target must
# be measured (a benchmark renamed on one side only would leave its row
# "not measured"). The figures of so short a run mean nothing.
#   report_smoke.sh KVIABDB_BENCH REPORT_PY WORK_DIR
set -euo pipefail
bench=$1 report=$2 work=$3
mkdir -p "$work"
"$bench" --benchmark_filter='Paired|SecurityOpenPair/20000' --benchmark_min_time=0.01 --benchmark_repetitions=2 \
  --benchmark_display_aggregates_only=true --benchmark_out="$work/smoke.json" --benchmark_out_format=json >/dev/null
python3 "$report" "$work/smoke.json" "$work/smoke.md"
rows=$(grep -c -- '| \*\*m' "$work/smoke.md" || true)
if grep -q 'not measured' "$work/smoke.md" || [ "$rows" -lt 14 ]; then
  echo "targets not measured in $work/smoke.md:" >&2
  grep -- 'not measured' "$work/smoke.md" >&2 || true
  exit 1
fi
echo "every target measured ($rows rows)"

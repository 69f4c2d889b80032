#!/usr/bin/env bash
# Builds kviabdb_bench (Release), runs every benchmark once with JSON output
# (every repetition kept: the targets' ratios are taken per repetition)
# and writes docs/performance.md and docs/performance-scaling.png from it.
# Figures taken while the machine is busy are noisy: the load before and
# after the run goes into the report.
#   KVI_BENCH_BUILD        build directory (default: build-bench)
#   KVI_BENCH_REPETITIONS  repetitions of each benchmark (default: 5)
#   KVI_BENCH_MIN_TIME     minimum seconds of each repetition (default: 0.2)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KVI_BENCH_BUILD:-$root/build-bench}
repetitions=${KVI_BENCH_REPETITIONS:-5}
min_time=${KVI_BENCH_MIN_TIME:-0.2}
# Debian's interpreter, where python3-matplotlib is installed.
python=/usr/bin/python3
[ -x "$python" ] || python=python3

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKVI_BENCH=ON -DKVI_TESTS=OFF -DKVI_TOOLS=OFF >/dev/null
cmake --build "$build" --target kviabdb_bench -j2 >/dev/null
grep -q "^SQLite3_INCLUDE_DIR:PATH=/" "$build/CMakeCache.txt" ||
  echo "warning: SQLite not found (install libsqlite3-dev): the report will have no SQLite comparison" >&2

json=$build/bench.json
tmp_before=$(mktemp)
{ ls -d /tmp/kvibench* 2>/dev/null || true; } | sort >"$tmp_before"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
start=$(date +%s)
"$build/bench/kviabdb_bench" --benchmark_out="$json" --benchmark_out_format=json \
  --benchmark_repetitions="$repetitions" --benchmark_min_time="$min_time" \
  --benchmark_display_aggregates_only=true
seconds=$(( $(date +%s) - start ))
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
# The benchmarks' Windows directories under /tmp made by this run.
# (none left is the usual case: the benchmarks remove their own)
{ ls -d /tmp/kvibench* 2>/dev/null || true; } | sort | comm -13 "$tmp_before" - | xargs -r rm -rf
rm -f "$tmp_before"

cpu=$(grep -m1 "model name" /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')
fs=$(df -T /tmp | awk 'NR==2 {print $2 " on " $1}')
"$python" "$root/scripts/plot_scaling.py" "$json" "$root/docs/performance-scaling.png"
"$python" "$root/scripts/bench_report.py" "$json" "$root/docs/performance.md" \
  --conditions "CPU: $cpu; $(nproc) cores, $(free -g | awk '/^Mem:/ {print $2}') GiB of memory; kernel $(uname -r)" \
  --conditions "Load average (1, 5, 15 min) before the run: $load_before; after it: $load_after; the run took ${seconds} s" \
  --conditions "Files: the books and the baselines' files live under /tmp ($fs); fsync waits for that disk" \
  --conditions "Build: Release (-O3), gcc $(gcc -dumpfullversion), Google Benchmark $(dpkg-query -W -f='${Version}' libbenchmark-dev 2>/dev/null || echo '?'), SQLite $(dpkg-query -W -f='${Version}' libsqlite3-dev 2>/dev/null || echo 'not installed')" \
  --conditions "Run: $repetitions repetitions of at least ${min_time} s each"
echo "wrote docs/performance.md and docs/performance-scaling.png (from $json)"

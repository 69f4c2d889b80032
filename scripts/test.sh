#!/usr/bin/env bash
# Sets up the machine and runs every test: a normal build and an
# AddressSanitizer + UndefinedBehaviorSanitizer build, each with the whole
# suite, then the fuzz targets for a fixed time.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
jobs=$(nproc)
fuzz_seconds=${KVI_FUZZ_SECONDS:-60}

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -DKVI_BENCH=ON "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  ctest --test-dir "$dir" -j"$jobs" --output-on-failure --timeout 300
}

echo "== normal build"
run_suite build/normal -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== sanitizer build (ASan + UBSan)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build/sanitize -DCMAKE_BUILD_TYPE=Debug -DKVI_SANITIZE=ON -DKVI_BENCH=OFF

if [ -f fuzz/CMakeLists.txt ]; then
  echo "== fuzzing (${fuzz_seconds}s per target, ASan + UBSan)"
  CC=clang CXX=clang++ cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKVI_FUZZ=ON -DKVI_TESTS=OFF -DKVI_BENCH=OFF -DKVI_TOOLS=OFF >/dev/null
  cmake --build build/fuzz -j"$jobs"
  ./scripts/fuzz.sh build/fuzz "$fuzz_seconds"
fi
# ---- Windows and 32-bit builds (scripts/windows.sh, scripts/test32.sh)
echo "== Windows builds: i686 product, x86_64 tests under wine64"
./scripts/windows.sh build/win
echo "== release packages (.tar.gz, .deb, Windows .zip from the i686 build)"
./scripts/package.sh build/package build/win32
echo "== 32-bit Linux build and suite"
./scripts/test32.sh build/linux32
echo "== all tests passed"

#!/usr/bin/env bash
# Sets up the machine, builds the library and runs a short client session
# on a local demo folder (demo/windows, with its KVI32 folder).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build/demo -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVI_TESTS=OFF -DKVI_BENCH=OFF >/dev/null
cmake --build build/demo -j"$(nproc)" --target kviabdb_demo
mkdir -p demo/windows/KVI32
KVI_WINDOWS_DIR="$PWD/demo/windows" ./build/demo/tools/kviabdb_demo

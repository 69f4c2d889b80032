#!/usr/bin/env bash
# Sets up the machine, builds the library and kvidf, and runs a short kvidf
# session on a local demo folder (demo/windows, with its KVI32 folder),
# made afresh each run.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build/demo -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVI_TESTS=OFF -DKVI_BENCH=OFF >/dev/null
cmake --build build/demo -j"$(nproc)" --target kvidf
rm -rf demo/windows
mkdir -p demo/windows/KVI32
kvidf() {
  echo "\$ kvidf $*"
  ./build/demo/tools/kvidf --windows-dir demo/windows --locker "demo session" "$@"
  echo
}
kvidf address add --name "Head office" --address office.example --type network
kvidf address add --name "Branch" --address branch.example --type cable --value 2
kvidf address add --name "Night line" --phone 0123456789 --type modem
kvidf address list
kvidf users add --name alice --password s3cret
kvidf prefixes add --name outside --text 9,
kvidf users list
kvidf prefixes list
kvidf locks
kvidf --json address get 1

#!/usr/bin/env bash
# The Windows build: installs mingw-w64 and 64-bit Wine from Debian when
# missing, cross-builds the i686 product (KVIABDB.dll, KVIABIO.dll, their
# GNU import libraries and KVIABDB.lib; stripped, no test hooks) and the
# x86_64 DLLs with the test suite, checks the i686 export tables, links the
# C client against each import library, and runs the test suite and the
# client under wine64. scripts/package.sh makes the .zip from the i686 build.
#   scripts/windows.sh [BUILD_PREFIX]    (default: build/win -> build/win32, build/win64)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
prefix=$(realpath -m "${1:-build/win}")
jobs=$(nproc)

packages=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 python3 cmake make llvm)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
[ -d /usr/src/googletest ] || {
  DEBIAN_FRONTEND=noninteractive ${SUDO:-} apt-get install -y -qq --no-install-recommends googletest >/dev/null
}

common=(-DCMAKE_BUILD_TYPE=Release -DKVI_BENCH=OFF -DKVI_TOOLS=OFF)

echo "== i686 Windows build (the product)"
w32=$prefix"32"
cmake -S . -B "$w32" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-w64-mingw32.cmake" \
  "${common[@]}" -DKVI_TESTS=OFF >/dev/null
cmake --build "$w32" -j"$jobs"
python3 scripts/check_exports.py "$w32"
version=$(sed -n 's/^project(kviabdb VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
python3 scripts/check_dll.py "$version" "$w32/KVIABDB.dll" "$w32/KVIABIO.dll"
i686-w64-mingw32-gcc -std=c99 -Wall -Wextra -Werror -Iinclude tools/winclient/winclient.c \
  -L"$w32" -lkviabdb -o "$w32/winclient.exe"
echo "winclient linked against $w32/libkviabdb.dll.a"

echo "== x86_64 Windows build (DLLs and tests, run under wine64)"
w64=$prefix"64"
gtest=$w64/googletest
if [ ! -f "$gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
  cmake -S /usr/src/googletest -B "$w64/googletest-build" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64-w64-mingw32.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON \
    -DCMAKE_INSTALL_PREFIX="$gtest" -DCMAKE_INSTALL_LIBDIR=lib >/dev/null
  cmake --build "$w64/googletest-build" -j"$jobs" >/dev/null
  cmake --install "$w64/googletest-build" >/dev/null
fi
cmake -S . -B "$w64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64-w64-mingw32.cmake" \
  "${common[@]}" -DGTest_DIR="$gtest/lib/cmake/GTest" >/dev/null
cmake --build "$w64" -j"$jobs"
x86_64-w64-mingw32-gcc -std=c99 -Wall -Wextra -Werror -Iinclude tools/winclient/winclient.c \
  -L"$w64" -lkviabdb -o "$w64/winclient.exe"
echo "winclient linked against $w64/libkviabdb.dll.a"

# A Wine prefix of our own, made once per build directory; no display.
export WINEPREFIX=$w64/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export DISPLAY=
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64)
if [ ! -d "$WINEPREFIX/drive_c/windows" ]; then
  "$wine" wineboot --init >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -w 2>/dev/null || wineserver -w 2>/dev/null || true
fi
# The Windows directory of the prefix, which the tests use (KVI32 in it).
echo "Windows directory: $WINEPREFIX/drive_c/windows"

echo "== winclient under wine64 (KVIABDB.dll itself, two processes)"
(cd "$w64" && "$wine" winclient.exe)

echo "== test suite under wine64"
# One process, one test at a time: they share the Windows directory of the
# prefix, and a Wine process start costs seconds.
(cd "$w64" && "$wine" kviabdb_tests.exe --gtest_brief=1)

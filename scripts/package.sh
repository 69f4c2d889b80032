#!/usr/bin/env bash
# Makes the release artefacts, each checked before it is kept:
#   kviabdb-VERSION-linux-x86_64.tar.gz, kviabdb_VERSION_amd64.deb
#       (Release build, no test hooks; CPack from the install rules),
#   kviabdb-VERSION-win32.zip
#       (i686 Release DLLs, stripped, with their .def, both import
#       libraries, the header, LICENSE and README).
# A package is checked by unpacking it into a scratch folder and running
# kvidf from there; nothing is installed on this machine.
#   scripts/package.sh [OUT_DIR [WIN32_BUILD]]    (default build/package)
# WIN32_BUILD: the i686 Release build of scripts/windows.sh, reused
# (default OUT_DIR/win32-build).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$(realpath -m "${1:-build/package}")
jobs=$(nproc)
version=$(sed -n 's/^project(kviabdb VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "no version in CMakeLists.txt"; exit 1; }
mkdir -p "$out"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# The installed kvidf starts with the libraries beside it and knows the
# version (when it has --version).
check_kvidf() {
  local kvidf=$1 text
  text=$("$kvidf" --help 2>&1) || fail "$kvidf --help: $text"
  if grep -q -- "--version" <<<"$text"; then
    text=$("$kvidf" --version 2>&1) || fail "$kvidf --version: $text"
    grep -q "$version" <<<"$text" || fail "$kvidf --version does not say $version: $text"
  fi
  grep -q "libkviabdb.so.1 => $(dirname "$(dirname "$kvidf")")/" <<<"$(ldd "$kvidf")" ||
    fail "$kvidf does not load the libkviabdb beside it: $(ldd "$kvidf" | grep kvia)"
}

echo "== Linux: Release build and packages"
lin=$out/linux-build
cmake -S . -B "$lin" -DCMAKE_BUILD_TYPE=Release -DKVI_TESTS=OFF -DKVI_BENCH=OFF -DKVI_FUZZ=OFF \
  -DKVI_FAULT_HOOK=OFF -DKVI_TOOLS=ON >/dev/null
cmake --build "$lin" -j"$jobs"
python3 scripts/check_exports.py --elf "$lin"
(cd "$lin" && cpack -G "TGZ;DEB" -B "$out" >/dev/null)
rm -rf "$out/_CPack_Packages"
tgz=$out/kviabdb-$version-linux-x86_64.tar.gz
deb=$out/kviabdb_${version}_amd64.deb
[ -f "$tgz" ] || fail "no $tgz"
[ -f "$deb" ] || fail "no $deb"

tar -xzf "$tgz" -C "$scratch"
top=$scratch/kviabdb-$version-linux-x86_64
for f in bin/kvidf include/kviabdb.h lib/libkviabdb.so.$version lib/libkviabio.so.$version \
         lib/pkgconfig/kviabdb.pc lib/cmake/KVIABDB/KVIABDBConfig.cmake share/doc/kviabdb/LICENSE; do
  [ -e "$top/$f" ] || fail "$(basename "$tgz") has no $f"
done
check_kvidf "$top/bin/kvidf"
echo "$(basename "$tgz"): ok"

[ "$(dpkg-deb -f "$deb" Package)" = kviabdb ] || fail "the .deb is not the package kviabdb"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the .deb is not version $version"
depends=$(dpkg-deb -f "$deb" Depends)
grep -q libc6 <<<"$depends" || fail "the .deb does not depend on libc6: '$depends'"
dpkg-deb -x "$deb" "$scratch/deb"
[ -f "$scratch/deb/usr/include/kviabdb.h" ] || fail "the .deb has no /usr/include/kviabdb.h"
check_kvidf "$scratch/deb/usr/bin/kvidf"
# Would apt install it here? A simulation: it resolves the dependencies
# against this machine's package lists and changes nothing.
if command -v apt-get >/dev/null; then
  apt-get install -s "$deb" >"$scratch/apt.log" 2>&1 || fail "apt-get install -s refuses the .deb: $(tail -5 "$scratch/apt.log")"
  grep -q "^Inst kviabdb " "$scratch/apt.log" || fail "apt-get would not install kviabdb: $(tail -5 "$scratch/apt.log")"
fi
echo "$(basename "$deb"): ok (Depends: $depends)"

echo "== Windows: i686 Release DLLs and the .zip"
if ! command -v i686-w64-mingw32-g++-posix >/dev/null; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends g++-mingw-w64-i686 >/dev/null ||
    { $SUDO apt-get update -qq; DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends g++-mingw-w64-i686 >/dev/null; }
fi
win=$(realpath -m "${2:-$out/win32-build}")
cmake -S . -B "$win" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-w64-mingw32.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DKVI_TESTS=OFF -DKVI_BENCH=OFF -DKVI_TOOLS=OFF -DKVI_FAULT_HOOK=OFF >/dev/null
cmake --build "$win" -j"$jobs"
python3 scripts/check_exports.py "$win"
python3 scripts/check_dll.py "$version" "$win/KVIABDB.dll" "$win/KVIABIO.dll"
[ -f "$win/KVIABDB.lib" ] || fail "no KVIABDB.lib (llvm-dlltool, Debian: llvm)"
# Linked again, the DLLs come out byte for byte the same.
sums=$(cd "$win" && sha256sum KVIABDB.dll KVIABIO.dll)
rm "$win/KVIABDB.dll" "$win/KVIABIO.dll"
cmake --build "$win" -j"$jobs" >/dev/null
[ "$(cd "$win" && sha256sum KVIABDB.dll KVIABIO.dll)" = "$sums" ] || fail "linked again, the DLLs differ"
echo "the DLLs are reproducible"

name=kviabdb-$version-win32
python3 - "$out/$name.zip" "$name" <<PY
import sys, zipfile
target, top = sys.argv[1], sys.argv[2]
files = [("$win/KVIABDB.dll", "KVIABDB.dll"), ("$win/KVIABIO.dll", "KVIABIO.dll"),
         ("$win/def/kviabdb.def", "KVIABDB.def"), ("$win/libkviabdb.dll.a", "libkviabdb.dll.a"),
         ("$win/KVIABDB.lib", "KVIABDB.lib"), ("$root/include/kviabdb.h", "kviabdb.h"),
         ("$root/LICENSE", "LICENSE"), ("$root/README.md", "README.md"), ("$root/CHANGELOG.md", "CHANGELOG.md")]
# Fixed times and order: the same inputs make the same archive.
with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as z:
    for path, inside in sorted(files, key=lambda f: f[1]):
        info = zipfile.ZipInfo(top + "/" + inside, date_time=(1980, 1, 1, 0, 0, 0))
        info.external_attr = 0o644 << 16
        info.compress_type = zipfile.ZIP_DEFLATED
        with open(path, "rb") as f:
            z.writestr(info, f.read())
PY
mkdir "$scratch/zip"
python3 -m zipfile -e "$out/$name.zip" "$scratch/zip"
z=$scratch/zip/$name
for f in KVIABDB.dll KVIABIO.dll KVIABDB.def libkviabdb.dll.a KVIABDB.lib kviabdb.h LICENSE README.md; do
  [ -f "$z/$f" ] || fail "$name.zip has no $f"
done
cmp -s "$z/KVIABDB.dll" "$win/KVIABDB.dll" || fail "$name.zip holds another KVIABDB.dll"
# A GNU-toolchain client links against the .dll.a of the archive, with
# the header's dllimport declarations.
i686-w64-mingw32-gcc -std=c89 -pedantic-errors -Wall -Wextra -Werror -I"$z" \
  "$root/tests/package/consumer/consumer.c" -L"$z" -lkviabdb -o "$scratch/gnu_client.exe"
# A Microsoft-toolchain client: clang-cl and lld-link at its defaults
# (/safeseh) against KVIABDB.lib. No Windows SDK here, so the client needs
# no C runtime; it is linked, not run (this machine runs no 32-bit Windows
# code).
clang_cl=$(command -v clang-cl || command -v clang-cl-14 || true)
lld_link=$(command -v lld-link || command -v lld-link-14 || true)
if [ -n "$clang_cl" ] && [ -n "$lld_link" ]; then
  "$clang_cl" --target=i686-pc-windows-msvc /nologo /c /Zl /GS- /W4 /WX -Xclang -ffreestanding -I"$z" \
    /Fo"$scratch/msvc_client.obj" -- "$root/tests/package/msvc/msvc_client.c"
  "$lld_link" /nologo /safeseh /subsystem:console /entry:start /nodefaultlib \
    "$scratch/msvc_client.obj" "$z/KVIABDB.lib" /out:"$scratch/msvc_client.exe"
  imports=$(i686-w64-mingw32-objdump -p "$scratch/msvc_client.exe")
  grep -q "DLL Name: KVIABDB.dll" <<<"$imports" || fail "the clang-cl client does not import KVIABDB.dll"
  for f in KviDfInitialize KviDfCreateAddressList KviDfAddressListCount KviDfDestroyAddressList KviDfTerminate; do
    grep -qE "^\s+[0-9a-f]+\s+[0-9]+\s+$f$" <<<"$imports" || fail "the clang-cl client does not import $f undecorated"
  done
  echo "clang-cl + lld-link /safeseh client: linked against KVIABDB.lib"
else
  fail "clang-cl or lld-link missing (Debian: clang, lld)"
fi
echo "$name.zip: ok"

echo "== packages in $out"
(cd "$out" && ls -l "$(basename "$tgz")" "$(basename "$deb")" "$name.zip")

#!/usr/bin/env bash
# Installs a build into a temporary prefix, checks what was installed, then
# builds and runs three clients: one through find_package(KVIABDB CONFIG),
# one through `pkg-config --cflags --libs kviabdb`, one with the source tree
# as a subproject. The prefix is moved before the clients use it, so every
# path in it must be relative to where it lies.
#   consumers.sh BUILD_DIR SOURCE_DIR VERSION [HARDENING]
# HARDENING: what the build's flags promise: none, stack (the stack
# protector, full RELRO, PIE) or fortify (also _FORTIFY_SOURCE).
set -euo pipefail
build=$1 source=$2 version=$3 hardening=${4:-none}
major=${version%%.*}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cmake --install "$build" --prefix "$work/first" >/dev/null
mv "$work/first" "$work/prefix"
prefix=$work/prefix
libdir=$(dirname "$(find "$prefix" -name "libkviabdb.so.$version")")
[ -n "$libdir" ] || fail "libkviabdb.so.$version not installed"

echo "== installed files"
kvidf=
[ -x "$build/tools/kvidf" ] && kvidf=bin/kvidf  # a build with the tools
for f in include/kviabdb.h $kvidf share/doc/kviabdb/README.md share/doc/kviabdb/LICENSE \
         share/doc/kviabdb/CHANGELOG.md share/doc/kviabdb/docs/architecture.md; do
  [ -f "$prefix/$f" ] || fail "$f not installed"
done
for lib in kviabdb kviabio; do
  [ "$(readlink "$libdir/lib$lib.so")" = "lib$lib.so.$major" ] || fail "lib$lib.so does not link to lib$lib.so.$major"
  [ "$(readlink "$libdir/lib$lib.so.$major")" = "lib$lib.so.$version" ] || fail "lib$lib.so.$major does not link to lib$lib.so.$version"
  grep -q "SONAME.*\[lib$lib.so.$major\]" <<<"$(readelf -d "$libdir/lib$lib.so.$version")" || fail "lib$lib has no SONAME lib$lib.so.$major"
done
grep -q 'RUNPATH.*\[\$ORIGIN\]' <<<"$(readelf -d "$libdir/libkviabdb.so.$version")" || fail "libkviabdb has no RUNPATH \$ORIGIN"
# The library loads the KVIABIO beside it, wherever the prefix lies.
grep -q "libkviabio.so.$major => $libdir/libkviabio.so.$major" <<<"$(ldd "$libdir/libkviabdb.so.$major")" ||
  fail "libkviabdb does not load its own libkviabio: $(ldd "$libdir/libkviabdb.so.$major" | grep kviabio)"
# Hardened: stack protector and _FORTIFY_SOURCE's checked calls in the
# library, full RELRO everywhere, and kvidf a position-independent executable.
if [ "$hardening" != none ]; then
  grep -q "__stack_chk_fail" <<<"$(readelf --dyn-syms -W "$libdir/libkviabdb.so.$version")" ||
    fail "libkviabdb is built without the stack protector"
  grep -q 'BIND_NOW\|FLAGS_1.*NOW' <<<"$(readelf -d "$libdir/libkviabdb.so.$version")" || fail "libkviabdb is not linked with -z now"
  grep -q GNU_RELRO <<<"$(readelf -lW "$libdir/libkviabdb.so.$version")" || fail "libkviabdb has no RELRO segment"
  if [ -n "$kvidf" ]; then
    grep -q 'DYN' <<<"$(readelf -h "$prefix/bin/kvidf")" || fail "kvidf is not a position-independent executable"
    grep -q 'BIND_NOW\|FLAGS_1.*NOW' <<<"$(readelf -d "$prefix/bin/kvidf")" || fail "kvidf is not linked with -z now"
    grep -q GNU_RELRO <<<"$(readelf -lW "$prefix/bin/kvidf")" || fail "kvidf has no RELRO segment"
  fi
fi
if [ "$hardening" = fortify ]; then
  grep -q "__[a-z]*_chk@" <<<"$(readelf --dyn-syms -W "$libdir/libkviabdb.so.$version")" ||
    fail "libkviabdb is built without _FORTIFY_SOURCE"
fi
# The installed kvidf starts with the libraries of its own prefix.
if [ -n "$kvidf" ]; then
  "$prefix/bin/kvidf" --help >"$work/kvidf-help" 2>&1 || fail "installed kvidf --help: $(cat "$work/kvidf-help")"
  if grep -q -- "--version" "$work/kvidf-help"; then
    "$prefix/bin/kvidf" --version >"$work/kvidf-version" 2>&1 || fail "kvidf --version: $(cat "$work/kvidf-version")"
    grep -q "$version" "$work/kvidf-version" || fail "kvidf --version does not say $version: $(cat "$work/kvidf-version")"
  fi
fi

run_client() {
  local what=$1 program=$2
  local out
  out=$("$program") || fail "$what: the client failed: $out"
  [ "$out" = "$version 0" ] || fail "$what: the client printed '$out', not '$version 0'"
  echo "$what: ok ($out)"
}

echo "== find_package(KVIABDB CONFIG)"
cmake -S "$source/tests/package/consumer" -B "$work/find" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/find" >/dev/null
run_client find_package "$work/find/consumer"
# A package of another major version is refused.
if cmake -S "$source/tests/package/consumer" -B "$work/find2" -DCMAKE_PREFIX_PATH="$prefix" \
     -DKVI_WANT_VERSION=$((major + 1)).0 >/dev/null 2>&1; then
  fail "find_package accepted version $((major + 1)).0"
fi

echo "== pkg-config"
export PKG_CONFIG_PATH=$libdir/pkgconfig
[ "$(pkg-config --modversion kviabdb)" = "$version" ] || fail "pkg-config --modversion is not $version"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Werror "$source/tests/package/consumer/consumer.c" -o "$work/pc-consumer" \
  $(pkg-config --cflags --libs kviabdb) -Wl,-rpath,"$libdir"
run_client pkg-config "$work/pc-consumer"

echo "== add_subdirectory"
cmake -S "$source/tests/package/consumer" -B "$work/sub" -DKVIABDB_SOURCE="$source" \
  -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$work/sub" -j2 >/dev/null
run_client add_subdirectory "$work/sub/consumer"

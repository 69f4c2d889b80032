#!/usr/bin/env bash
# Installs what building and testing KVIABDB needs, when it is missing.
set -euo pipefail
packages=(cmake make g++ clang libclang-rt-14-dev libgtest-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev help2man libsqlite3-dev python3-matplotlib)
# Install and package tests: pkg-config, dpkg-shlibdeps (dpkg-dev), and
# llvm-dlltool and lld-link for the Microsoft-format import library.
packages+=(pkg-config dpkg-dev llvm lld)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

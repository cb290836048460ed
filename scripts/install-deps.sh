#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those that
# are missing. Usage: scripts/install-deps.sh [extra package...]
set -euo pipefail

packages=(
  cmake make g++ pkg-config
  libgtest-dev googletest libbenchmark-dev
  libssl-dev                    # OpenSSL: test-only reference implementation
  python3-cryptography-vectors  # NIST and RFC known-answer files
  clang libclang-rt-14-dev      # libFuzzer and sanitizer runtimes
  g++-mingw-w64-i686 wine wine32:i386  # Varrow.dll and its tests under Wine
  python3-tds python3-pymssql freetds-bin  # real client drivers for varrowd
  freetds-dev                   # the load generator of the benchmarks
  "$@"
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -q i386; then
    dpkg --add-architecture i386
  fi
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

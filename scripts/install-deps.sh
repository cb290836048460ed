#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those that
# are missing. Usage: scripts/install-deps.sh [extra package...]
set -euo pipefail

packages=(
  cmake make g++ pkg-config
  libgtest-dev libbenchmark-dev
  libssl-dev                    # OpenSSL: test-only oracle
  python3-cryptography-vectors  # NIST and RFC known-answer files
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
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

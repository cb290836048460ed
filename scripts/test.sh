#!/usr/bin/env bash
# Installs what the tests need, builds everything and runs every test: the
# Linux build, the 32-bit and the 64-bit Varrow.dll under Wine, and the
# committed fuzz corpora. VARROW_SANITIZERS=1 adds the AddressSanitizer and
# ThreadSanitizer runs; VARROW_WERROR=1 (CI) makes warnings errors, with the ci
# preset in place of the default one.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

scripts/install-deps.sh

werror=OFF
main_preset=default
if [[ "${VARROW_WERROR:-0}" == 1 ]]; then
  werror=ON
  main_preset=ci
fi

run_preset() {
  echo "== $1"
  cmake --preset "$1" -DVARROW_WERROR="$werror" >/dev/null
  cmake --build --preset "$1" -j "$jobs" >/dev/null
  ctest --preset "$1" -j "$jobs"
}

run_preset "$main_preset"
run_preset windows-x86
run_preset windows-x64
if [[ "${VARROW_SANITIZERS:-0}" == 1 ]]; then
  run_preset asan
  VARROW_STRESS_SECONDS=5 run_preset tsan
fi

#!/usr/bin/env bash
# Runs every benchmark and writes docs/performance.md and
# docs/performance.png: primitives beside OpenSSL (as it runs and with its
# hardware paths off), the procedures through the host, and varrowd against
# PostgreSQL with pgcrypto. Needs an idle machine for numbers worth reading.
# Usage: bench/run.sh [LOAD_SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh freetds-dev gnuplot-nox postgresql >&2
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" >/dev/null
bin=build/default/bin
out=build/default/bench-results
mkdir -p "$out" docs

# AES-NI and PCLMULQDQ (CPUID.1:ECX bits 25 and 1), SHA and AVX2 (CPUID.7:EBX
# bits 29 and 5) hidden from OpenSSL.
HW_OFF="~0x200000200000000:~0x20000020"
echo "$HW_OFF" > "$out/hw_off.txt"
"$bin"/varrow_primitives_bench --benchmark_out="$out/primitives.json" --benchmark_out_format=json \
  --benchmark_min_time=0.2 --benchmark_repetitions=5 >&2
OPENSSL_ia32cap="$HW_OFF" "$bin"/varrow_primitives_bench --benchmark_filter=openssl \
  --benchmark_out="$out/primitives_hw_off.json" --benchmark_out_format=json \
  --benchmark_min_time=0.2 --benchmark_repetitions=5 >&2
"$bin"/varrow_procedures_bench --benchmark_out="$out/procedures.json" \
  --benchmark_out_format=json --benchmark_min_time=0.2 --benchmark_repetitions=5 >&2
/usr/bin/python3 bench/load/compare.py "$bin" "${1:-10}" > "$out/compare.md"
/usr/bin/python3 bench/report.py "$out" docs
cat docs/performance.md

#!/usr/bin/env bash
# Runs every benchmark and writes docs/performance.md with its two plots
# (docs/performance-load.svg, docs/performance-throughput.svg): the
# procedures in-process, the primitives beside OpenSSL (as it runs and with
# its hardware paths off), and varrowd against PostgreSQL with pgcrypto and
# through HAProxy (two instances; skipped without haproxy). Needs no root: PostgreSQL, found through pg_config, runs as the current
# user (as the postgres user when run as root), and its comparison is
# skipped with a message when it is not installed. Takes about six minutes
# with the default 4 seconds per load cell; wants an idle machine for figures
# worth reading.
# Usage: bench/run.sh [SECONDS_PER_LOAD_CELL]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-4}"

missing=()
for tool in cmake python3; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
if ((${#missing[@]})); then
  echo "bench/run.sh: missing ${missing[*]}" >&2
  exit 1
fi
command -v pg_config >/dev/null ||
  echo "bench/run.sh: pg_config not found: the PostgreSQL comparison is skipped" \
    "(Debian: postgresql postgresql-contrib)" >&2

# Configured once: configuring again could drop a compiler launcher the
# build folder was made with, and rebuild everything.
[[ -f build/default/CMakeCache.txt ]] || cmake --preset default >/dev/null
targets=(varrow varrowd varrow_primitives_bench varrow_procedures_bench varrow_rpc_load)
# The db-lib generator exists where FreeTDS's db-lib (freetds-dev) was found.
if cmake --build --preset default --target help | grep -c varrow_tds_load >/dev/null; then
  targets+=(varrow_tds_load)
else
  echo "bench/run.sh: FreeTDS's db-lib not found: no db-lib column (Debian: freetds-dev)" >&2
fi
cmake --build --preset default -j "$(nproc)" --target "${targets[@]}" >/dev/null
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
python3 bench/load/compare.py "$bin" "$out/compare.json" "$seconds"
python3 bench/report.py "$out" docs
echo "bench/run.sh: wrote docs/performance.md, docs/performance-load.svg," \
  "docs/performance-throughput.svg" >&2

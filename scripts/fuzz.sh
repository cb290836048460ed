#!/usr/bin/env bash
# Fuzzes one target with libFuzzer for a given time, starting from its
# committed corpus; new inputs go to build/fuzz/corpus/TARGET, findings to
# build/fuzz/findings/.
# Usage: scripts/fuzz.sh procedure_fuzzer|key_file_fuzzer|batch_fuzzer|tds_fuzzer|tls_fuzzer|proxy_header_fuzzer SECONDS
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:?usage: scripts/fuzz.sh TARGET SECONDS}
seconds=${2:-600}

scripts/install-deps.sh >&2
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" --target "$target" >/dev/null

work=build/fuzz/corpus/$target
mkdir -p "$work" build/fuzz/findings
# The batch and TDS targets take inputs long enough to reach the batch
# language's limits (64 nested expressions, 65,536 tokens, 4,096 columns).
limits=()
case $target in
  batch_fuzzer | tds_fuzzer) limits=(-max_len=262144) ;;
esac
# Standard input is closed: no input can make a target wait on it.
build/fuzz/bin/"$target" -max_total_time="$seconds" -timeout=10 "${limits[@]}" \
  -artifact_prefix=build/fuzz/findings/"$target"- "$work" fuzz/corpus/"$target" </dev/null

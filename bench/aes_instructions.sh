#!/usr/bin/env bash
# Instructions per block of the single-block AES functions, from callgrind:
# the aes_encrypt_block and aes_decrypt_block benchmarks of
# varrow_primitives_bench run under valgrind, collecting only inside the
# four-argument functions (key expansion, the rounds and the clearing of the
# round keys), divided by the number of blocks callgrind counted.
# Usage: bench/aes_instructions.sh [BUILD_DIR]   (default build/default)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
cmake --build "$build" --target varrow_primitives_bench -j2 >/dev/null
bench=$build/bin/varrow_primitives_bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Instructions per call of aes_<op>_block at <bits>.
per_block() {
  local op=$1 bits=$2 out=$work/$1.$2
  # '?' stands for the '*' of "unsigned char*)": callgrind would read that '*'
  # as a wildcard and also match the five-argument form, which the
  # four-argument one calls once per block.
  valgrind --tool=callgrind --callgrind-out-file="$out" \
    --toggle-collect="varrow::aes_${op}_block(*char?)" \
    "$bench" --benchmark_filter="^aes_${op}_block/$bits\$" --benchmark_min_time=0.05 \
    >/dev/null 2>&1
  /usr/bin/python3 - "$out" <<'PY'
import re, sys
names, callee, calls, total = {}, "", 0, 0
for line in open(sys.argv[1]):
    m = re.match(r"(c?fn)=\((\d+)\)(?: (.*))?", line)
    if m:
        if m.group(3):
            names[m.group(2)] = m.group(3).strip()
        if m.group(1) == "cfn":
            callee = names.get(m.group(2), "")
    elif line.startswith("calls=") and callee.endswith("[60])"):
        calls += int(line.split()[0][len("calls="):])
    elif line.startswith("totals:"):
        total = int(line.split()[1])
print(round(total / calls))
PY
}

echo "| key bits | encrypt instr./block | decrypt instr./block | decrypt / encrypt |"
echo "|---|---|---|---|"
for bits in 128 192 256; do
  enc=$(per_block encrypt "$bits")
  dec=$(per_block decrypt "$bits")
  echo "| $bits | $enc | $dec | $(/usr/bin/python3 -c "print(f'{$dec / $enc:.2f}')") |"
done

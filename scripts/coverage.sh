#!/usr/bin/env bash
# Line and branch coverage of the library (src/) over the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh gcovr
cmake --preset coverage >/dev/null
cmake --build --preset coverage -j "$(nproc)" >/dev/null
find build/coverage -name '*.gcda' -delete
ctest --preset coverage -j "$(nproc)" >/dev/null
gcovr --root . --filter 'src/' --object-directory build/coverage \
  --exclude-throw-branches --exclude-unreachable-branches --print-summary --txt - "$@"

#!/usr/bin/env bash
# Builds the varrow command and runs a short demonstration through it. It
# installs only a compiler, CMake and make (scripts/test.sh installs the rest)
# and builds only varrow and the library, in build/demo.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --minimal >&2
cmake --preset demo >/dev/null
cmake --build --preset demo -j "$(nproc)" >/dev/null
varrow=build/demo/bin/varrow

echo "== examples/demo.sql"
"$varrow" -i examples/demo.sql

echo "== A failing call, as a client sees it"
status=0
"$varrow" -Q "DECLARE @c VARCHAR(100), @rc INT
EXEC @rc = master.dbo.xp_AES_Encrypt 'text', '0123', @c OUTPUT
SELECT @rc AS return_status" || status=$?
echo "(varrow exit status: $status)"

#!/usr/bin/env bash
# Builds Varrow and runs a short demonstration through the varrow command.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh >&2
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" >/dev/null
varrow=build/default/bin/varrow

echo "== examples/demo.sql"
"$varrow" -i examples/demo.sql

echo "== A failing call, as a client sees it"
status=0
"$varrow" -Q "DECLARE @c VARCHAR(100), @rc INT
EXEC @rc = xp_AES_Encrypt 'text', '0123', @c OUTPUT
SELECT @rc AS return_status" || status=$?
echo "(varrow exit status: $status)"

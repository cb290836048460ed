#!/usr/bin/env bash
# varrowd's user-space instructions per call, by function, under callgrind:
# one client of varrow_rpc_load for SECONDS, then the inclusive count of each
# function named below divided by the calls made. The TLS figures include the
# one handshake, spread over the calls. Needs valgrind.
# BIN_DIR holds the varrowd measured (another build, to compare); the
# generator is always this build's.
# Usage: bench/profile_varrowd.sh aes|md5 clear|tls [SECONDS] [BIN_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
work="${1:-aes}" mode="${2:-clear}" seconds="${3:-4}" bin="${4:-build/default/bin}"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
args=()
if [[ "$mode" == tls ]]; then
  python3 -c "import sys; sys.path.insert(0, 'tests/tds'); import tls_certs; tls_certs.make('$scratch')"
  args=(--tls-cert "$scratch/server.pem" --tls-key "$scratch/server.key")
fi
valgrind --tool=callgrind --callgrind-out-file="$scratch/cg.out" "$bin/varrowd" \
  --listen 127.0.0.1:0 "${args[@]}" >"$scratch/out" 2>"$scratch/err" &
server=$!
for _ in $(seq 100); do grep -q listening "$scratch/out" && break; sleep 0.2; done
port=$(head -1 "$scratch/out" | sed 's/.*://')
result=$(build/default/bin/varrow_rpc_load "127.0.0.1:$port" 1 "$seconds" "$work" "$mode")
kill -TERM "$server"
wait "$server" || true
calls=$(sed 's/.*calls=\([0-9]*\).*/\1/' <<<"$result")
echo "$result"
callgrind_annotate --threshold=100 --inclusive=yes "$scratch/cg.out" 2>/dev/null |
  grep -E 'Server::serve\(|Session::run_rpc\(|xp_(AES|MD5)_Encrypt \[|system_procedure_id\(|Library::find\(|utf16le_to_utf8|resolve_procedure\(|RpcReader::next\(|ChannelTransport::(read|write)\(|TlsEngine::read_record\(' |
  awk -v calls="$calls" '{ n = $1; gsub(",", "", n); name = $0; sub(/^[^?]*\?\?\?:/, "", name);
    sub(/\(.*/, "", name); sub(/ \[.*/, "", name); printf "%10.0f  %s\n", n / calls, name }'

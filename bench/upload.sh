#!/bin/sh
# Uploading one 256 MiB file (mode "file-upload") against curl -T of the same file to the same
# S3-protocol test server (s3rver from node_modules, on loopback), in the same run.
# Usage: bench/upload.sh [size in MiB, default 256]
. "$(dirname "$0")/lib.sh"
SIZE_MIB=${1:-256}
SERVER=$HERE/../node_modules/s3rver/bin/s3rver.js
[ -f "$SERVER" ] || { echo "install the test server first: npm ci" >&2; exit 2; }
command -v curl >/dev/null || { echo "needs curl" >&2; exit 2; }
new_root
PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -p "$ROOT/store"
node "$SERVER" --directory "$ROOT/store" --address 127.0.0.1 --port "$PORT" --configure-bucket bench --silent &
SERVER_PID=$!
trap 'kill $SERVER_PID 2>/dev/null; rm -rf "$ROOT"' EXIT
for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$PORT/" && break; sleep 0.1; done

export ORVANE_REMOTE_ENDPOINT=http://127.0.0.1:$PORT ORVANE_REMOTE_BUCKET=bench \
    ORVANE_REMOTE_ACCESS_KEY=S3RVER ORVANE_REMOTE_SECRET_KEY=S3RVER ORVANE_REMOTE_REGION=us-east-1
head -c "$((SIZE_MIB * 1024 * 1024))" /dev/urandom >"$ROOT/upload.bin"
cat "$ROOT/upload.bin" >/dev/null
for i in $(seq "$ROUNDS"); do
    (cd "$ROOT" && measure "$ROOT/ours" "$BIN" -m file-upload --silent upload.bin)
    measure "$ROOT/peer" curl -sS --fail -o /dev/null -H "Content-Type: application/octet-stream" -H "Expect:" \
        -H "x-amz-content-sha256: UNSIGNED-PAYLOAD" --aws-sigv4 "aws:amz:us-east-1:s3" --user S3RVER:S3RVER \
        -T "$ROOT/upload.bin" "http://127.0.0.1:$PORT/bench/curl-$i/upload.bin"
done
# Every upload arrived whole.
count=$(find "$ROOT/store/bench" -name '*upload.bin*' -size "$((SIZE_MIB * 1024))k" 2>/dev/null | wc -l)
[ "$count" -ge $((2 * ROUNDS)) ] || echo "warning: only $count complete objects in the store" >&2
report "upload of $SIZE_MIB MiB" "$ROOT/ours" "$ROOT/peer" "curl -T"

#!/bin/sh
# Uploading one file (mode "file-upload") to the S3-protocol test server (s3rver from node_modules,
# on loopback), in one request and in parts, against curl -T, aws s3 cp and rclone copyto of the
# same file to the same server, in the same run. Rounds alternate which tool goes first.
# Usage: bench/upload.sh [size in MiB ...] (default 256)
. "$(dirname "$0")/lib.sh"
new_root
start_test_store
export AWS_ACCESS_KEY_ID=S3RVER AWS_SECRET_ACCESS_KEY=S3RVER AWS_DEFAULT_REGION=us-east-1

# What each upload leaves in the store is removed before the next, so that every tool writes to a
# store of the same size.
clear_store() { rm -rf "$ROOT/store/bench"/*; }

# One PUT of the whole file, as curl -T sends it; in parts (the default above 64 MiB), as aws s3 cp
# and rclone send files of this size.
ours_whole() { clear_store; (cd "$ROOT" && ORVANE_REMOTE_MULTIPART_THRESHOLD=5GiB measure "$RESULT-ours" "$BIN" -m file-upload --silent upload.bin); }
ours_parts() { clear_store; (cd "$ROOT" && measure "$RESULT-ours" "$BIN" -m file-upload --silent upload.bin); }
peer_curl() {
    clear_store
    measure "$RESULT-peer" curl -sS --fail -o /dev/null -H "Content-Type: application/octet-stream" \
        -H "x-amz-content-sha256: UNSIGNED-PAYLOAD" --aws-sigv4 "aws:amz:us-east-1:s3" --user S3RVER:S3RVER \
        -T "$ROOT/upload.bin" "$ENDPOINT/bench/curl/upload.bin"
}
# The same multipart upload as ours with nothing but curl: begun, each 16 MiB part PUT (from files
# split off before the rounds, one curl each), completed. The store's own joining of the parts is in
# every multipart figure; this is its limit on loopback.
peer_curl_parts() { clear_store; measure "$RESULT-peer" sh "$HERE/curl-parts.sh" "$ENDPOINT" "$ROOT/parts" bench/curlparts/upload.bin; }
peer_aws() { clear_store; measure "$RESULT-peer" aws --endpoint-url "$ENDPOINT" s3 cp --quiet "$ROOT/upload.bin" s3://bench/aws/upload.bin; }
peer_rclone() {
    clear_store
    # rclone refuses a CA bundle variable set for other tools; the store is plain HTTP anyway.
    measure "$RESULT-peer" env -u AWS_CA_BUNDLE rclone copyto "$ROOT/upload.bin" :s3:bench/rclone/upload.bin --s3-provider Other \
        --s3-endpoint "$ENDPOINT" --s3-access-key-id S3RVER --s3-secret-access-key S3RVER --s3-region us-east-1 \
        --s3-force-path-style
}

# PAIRS="ours_whole:peer_curl:curl_-T" (any of the pairs below) measures those alone.
if [ -z "${PAIRS:-}" ]; then
    PAIRS="ours_whole:peer_curl:curl_-T ours_parts:peer_curl:curl_-T ours_parts:peer_curl_parts:curl_in_parts"
    have_peer aws awscli && PAIRS="$PAIRS ours_parts:peer_aws:aws_s3_cp"
    have_peer rclone rclone && PAIRS="$PAIRS ours_parts:peer_rclone:rclone_copyto"
fi

for SIZE_MIB in ${@:-256}; do
    head -c "$((SIZE_MIB * 1024 * 1024))" /dev/urandom >"$ROOT/upload.bin"
    rm -rf "$ROOT/parts" && mkdir "$ROOT/parts" && split -b 16M -d -a 4 "$ROOT/upload.bin" "$ROOT/parts/part."
    for pair in $PAIRS; do
        ours=${pair%%:*} rest=${pair#*:}
        peer=${rest%%:*} peerName=$(echo "${rest#*:}" | tr _ ' ')
        RESULT=$ROOT/result-$ours-$peer
        rm -f "$RESULT-ours" "$RESULT-peer"
        for i in $(seq "$ROUNDS"); do
            cat "$ROOT/upload.bin" >/dev/null
            alternate "$i" "$ours" "$peer"
        done
        how=$([ "$ours" = ours_whole ] && echo "one PUT" || echo "in parts")
        report "upload of $SIZE_MIB MiB, $how" "$RESULT-ours" "$RESULT-peer" "$peerName"
    done
done

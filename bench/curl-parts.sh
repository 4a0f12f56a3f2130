#!/bin/sh
# One multipart upload with curl alone, for bench/upload.sh: begun, each file of a directory (in
# name order) PUT as the next part, completed with the ETags the store answered.
# Usage: bench/curl-parts.sh ENDPOINT PARTS-DIRECTORY BUCKET/KEY
set -e
endpoint=$1 parts=$2 key=$3
s3() {
    curl -sS --fail -H "x-amz-content-sha256: UNSIGNED-PAYLOAD" --aws-sigv4 "aws:amz:us-east-1:s3" \
        --user S3RVER:S3RVER "$@"
}
id=$(s3 -X POST "$endpoint/$key?uploads" | sed -n 's:.*<UploadId>\(.*\)</UploadId>.*:\1:p')
n=0 body=""
for part in "$parts"/*; do
    n=$((n + 1))
    etag=$(s3 -o /dev/null -D - -T "$part" "$endpoint/$key?partNumber=$n&uploadId=$id" |
        tr -d '\r' | sed -n 's/^[Ee][Tt][Aa][Gg]: *//p')
    body="$body<Part><PartNumber>$n</PartNumber><ETag>$etag</ETag></Part>"
done
s3 -o /dev/null -X POST -H "Content-Type: application/xml" \
    --data-binary "<CompleteMultipartUpload>$body</CompleteMultipartUpload>" "$endpoint/$key?uploadId=$id"

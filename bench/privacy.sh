#!/bin/sh
# The system log uploaded (mode "log-upload") redacted and encrypted for an OpenPGP key, against
# the same upload sent as it is, from a store of two generations of the same size, to the
# S3-protocol test server (s3rver from node_modules, on loopback), in the same run; which goes
# first alternates by round. Every line of the store holds an address, as a busy server's log does;
# CORPUS=journal makes it a machine's mix of services instead (an address on one line in four).
# Usage: bench/privacy.sh [MiB of each of the two generations, default 16]
. "$(dirname "$0")/lib.sh"
SIZE_MIB=${1:-16}
command -v gpg >/dev/null || { echo "needs gpg (apt-get install gpg gpg-agent)" >&2; exit 2; }
new_root
export GNUPGHOME=$ROOT/gnupg
ON_EXIT='gpgconf --kill all 2>/dev/null'
start_test_store

mkdir -m 700 "$GNUPGHOME"
gpg --batch --quiet --passphrase '' --quick-gen-key 'Support <support@example.org>' future-default default never 2>/dev/null
RECIPIENT=$(gpg --with-colons --list-keys | awk -F: '$1 == "fpr" {print $10; exit}')

make_store "$SIZE_MIB" "${CORPUS:-busy}"
store=$ROOT/syslog
# Each run adds its own lines to the store: it is put back before every upload, so that each sends
# the same log.
cp "$store/system.log" "$ROOT/current.log"
clear_store() { rm -rf "$ROOT/store/bench"/*; cp "$ROOT/current.log" "$store/system.log"; }
plain() { clear_store; measure "$RESULT-peer" env ORVANE_REDACT=0 ORVANE_REMOTE_ENCRYPT_TO= "$BIN" -m log-upload --silent; }
ours() { clear_store; measure "$RESULT-ours" env ORVANE_REDACT="$1" ORVANE_REMOTE_ENCRYPT_TO="${2:-}" "$BIN" -m log-upload --silent; }

# Both, then each alone: what each part costs.
for part in "1:$RECIPIENT:redacted_and_encrypted" "1::redacted" "0:$RECIPIENT:encrypted"; do
    redact=${part%%:*} rest=${part#*:}
    recipients=${rest%%:*} name=$(echo "${rest#*:}" | tr _ ' ')
    RESULT=$ROOT/result-$redact-${recipients:+gpg}
    rm -f "$RESULT-ours" "$RESULT-peer"
    for i in $(seq "$ROUNDS"); do alternate "$i" "ours $redact $recipients" plain; done
    report "log upload of 2 x $SIZE_MIB MiB, $name" "$RESULT-ours" "$RESULT-peer" "the same sent as it is"
done

#!/bin/sh
# Saving the system log from the program's own store (mode "log") to the two locations of the
# embedded default, against gzip -6 and gzip -1 of the same two generations into one file and a cp
# of it to a second, in the same run; which tool goes first alternates by round.
# Usage: bench/logsave.sh [MiB of each of the two generations, default 16]
. "$(dirname "$0")/lib.sh"
SIZE_MIB=${1:-16}
new_root
make_store "$SIZE_MIB"
store=$ROOT/syslog
cat "$store"/* >/dev/null
logs1=$ROOT/nodes/system/Logs logs2=$ROOT/nodes/system/Service/Logs
ours() {
    rm -rf "$logs1" "$logs2"
    sync
    measure "$RESULT-ours" "$BIN" -m log --silent
    [ "$(ls "$logs1" "$logs2" | grep -c '\.log$')" -eq 2 ] || { echo "the log was not saved twice" >&2; exit 1; }
}
peer() {
    rm -f "$ROOT"/peer-*.gz
    sync
    measure "$RESULT-peer" sh -c 'cat "$1/system.log.1" "$1/system.log" | gzip "$2" >"$3-1.gz" && cp "$3-1.gz" "$3-2.gz"' \
        peer "$store" "$LEVEL" "$ROOT/peer"
}
for LEVEL in -6 -1; do
    RESULT=$ROOT/result$LEVEL
    for i in $(seq "$ROUNDS"); do alternate "$i" ours peer; done
    report "log save of 2 x $SIZE_MIB MiB to two locations" "$RESULT-ours" "$RESULT-peer" "gzip $LEVEL + cp"
    echo "  sizes: scrivletv2 $(stat -c %s "$(ls "$logs1"/*.log)") bytes, gzip $LEVEL $(stat -c %s "$ROOT/peer-1.gz") bytes"
done

#!/bin/sh
# Saving one 1 GiB file (mode "file", one location) against cp and dd of the same file, in the same
# run. Each pair alternates which tool goes first; every tool starts after the same deletion, sync
# and pause, and its time runs until the data is on the disk (measure ends with sync).
# Usage: bench/copy.sh [size in MiB, default 1024]
. "$(dirname "$0")/lib.sh"
SIZE_MIB=${1:-1024}
new_root
# One platform location, so that both tools write the file once.
drop_platform_path 10
head -c "$((SIZE_MIB * 1024 * 1024))" /dev/urandom >"$ROOT/source.bin"
target=$ROOT/nodes/system/Screenshots/source.bin
# The same preconditions for every tool: nothing of an earlier copy left, written back, a pause.
clean() {
    rm -f "$target" "$ROOT/peer.bin"
    sync
    cat "$ROOT/source.bin" >/dev/null
    sleep 1
}
ours() {
    clean
    (cd "$ROOT" && measure "$RESULT-ours" "$BIN" --silent source.bin)
    cmp -s "$ROOT/source.bin" "$target" || { echo "copy differs from the source" >&2; exit 1; }
}
peer_cp() { clean; measure "$RESULT-peer" cp "$ROOT/source.bin" "$ROOT/peer.bin"; }
# A peer that moves the same 64 KiB per call as the save engine, through its own memory.
peer_dd() { clean; measure "$RESULT-peer" dd if="$ROOT/source.bin" of="$ROOT/peer.bin" bs=64K status=none; }
for peer in peer_cp peer_dd; do
    RESULT=$ROOT/result-$peer
    for i in $(seq "$ROUNDS"); do alternate "$i" ours "$peer"; done
    [ "$peer" = peer_cp ] && name="cp + sync" || name="dd bs=64K + sync"
    report "copy of $SIZE_MIB MiB" "$RESULT-ours" "$RESULT-peer" "$name"
done

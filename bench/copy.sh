#!/bin/sh
# Saving one 1 GiB file (mode "file", one location) against cp of the same file, in the same run.
# Usage: bench/copy.sh [size in MiB, default 1024]
. "$(dirname "$0")/lib.sh"
SIZE_MIB=${1:-1024}
new_root
# One platform location, so that both tools write the file once.
add_faults '[{"op": "PlatformEnvironment::getPathNode", "path": "10", "error": "0x20"}]'
head -c "$((SIZE_MIB * 1024 * 1024))" /dev/urandom >"$ROOT/source.bin"
cat "$ROOT/source.bin" >/dev/null
target=$ROOT/nodes/system/Screenshots/source.bin
for i in $(seq "$ROUNDS"); do
    rm -f "$target" "$ROOT/cp.bin"
    (cd "$ROOT" && measure "$ROOT/ours" "$BIN" --silent source.bin)
    cmp -s "$ROOT/source.bin" "$target" || { echo "copy differs from the source" >&2; exit 1; }
    sync
    measure "$ROOT/peer" cp "$ROOT/source.bin" "$ROOT/cp.bin"
    rm -f "$ROOT/cp.bin"
    sync
    # A peer that moves the same 64 KiB per call as the save engine, through its own memory.
    measure "$ROOT/dd" dd if="$ROOT/source.bin" of="$ROOT/cp.bin" bs=64K status=none
    sync
done
report "copy of $SIZE_MIB MiB" "$ROOT/ours" "$ROOT/peer" cp
report "copy of $SIZE_MIB MiB" "$ROOT/ours" "$ROOT/dd" "dd bs=64K"

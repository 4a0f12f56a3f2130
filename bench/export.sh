#!/bin/sh
# Exporting a log category of 20,000 small files and a few large ones (mode "export" to a drive,
# without clearing) against cp -a, rsync -a and a tar pipe of the same tree, in the same run.
# Usage: bench/export.sh [small files, default 20000] [large files of 64 MiB, default 4]
. "$(dirname "$0")/lib.sh"
SMALL=${1:-20000}
LARGE=${2:-4}
new_root
logs=$ROOT/nodes/boot/Orvane/Logs
rm -rf "$ROOT/nodes/boot/Orvane"
mkdir -p "$logs"
python3 - "$logs" "$SMALL" <<'PY'
import os, sys
directory, count = sys.argv[1], int(sys.argv[2])
for i in range(count):
    with open(os.path.join(directory, "service-%05d.log" % i), "wb") as f:
        f.write(os.urandom(512 + (i * 37) % 3584))
PY
for i in $(seq "$LARGE"); do head -c $((64 * 1024 * 1024)) /dev/urandom >"$logs/large-$i.log"; done
find "$logs" -type f -exec cat {} + >/dev/null
# The drive dialog answers STICK, with only the logs chosen and clearing switched off.
cat >"$ROOT/script.json" <<'JSON'
{"select": [{"drive": "STICK", "elements": {"cbLogs": true, "gbClear": {"checked": false}}}]}
JSON
export ORVANE_UI=script ORVANE_UI_SCRIPT=$ROOT/script.json
# Each round writes to fresh directories and nothing is removed until the end: creating files
# where many were just deleted is far slower on some filesystems (ext4 scans for recently
# deleted inodes), which would make whichever tool ran second look faster. On a RAM filesystem
# the copies are removed after each measurement instead: there they only take memory, and a
# machine that has to find fresh memory for every round slows both tools round by round.
ram=false
[ "$(stat -f -c %T "$ROOT")" = tmpfs ] && ram=true
# FRESH_FS=1 (root, with mkfs.ext4 and loop devices) gives every copy a new ext4 filesystem of its
# own, as a drive just plugged in: no round inherits what an earlier one left on the disk.
fresh=${FRESH_FS:-}
target_dir() {
    if [ -z "$fresh" ]; then
        echo "$ROOT/$1"
        return
    fi
    truncate -s 2G "$ROOT/$1.img"
    mkfs.ext4 -q -F "$ROOT/$1.img"
    mkdir -p "$ROOT/$1"
    mount -o loop "$ROOT/$1.img" "$ROOT/$1"
    echo "$ROOT/$1/copy"
}
# After its measurement a copy is only in the way: a filesystem of its own is unmounted and deleted.
drop_target() {
    if [ -n "$fresh" ]; then
        umount "$ROOT/$1" && rm -f "$ROOT/$1.img"
    elif $ram; then
        rm -rf "$ROOT/$1"
    fi
}
release_mounts() {
    awk -v r="$ROOT/" 'index($2, r) == 1 {print $2}' /proc/mounts | while read -r m; do umount "$m"; done
}
if [ -n "$fresh" ]; then trap 'release_mounts; rm -rf "$ROOT"' EXIT; fi
run_ours() {
    stick=$(target_dir "stick-$1")
    mkdir -p "$stick"
    python3 - "$ROOT/host.json" "$stick" <<'PY'
import json, sys
path, stick = sys.argv[1], sys.argv[2]
config = json.load(open(path))
for node in config["nodes"]:
    if node["name"] == "/devices/usb/stick":
        node["host"] = stick
json.dump(config, open(path, "w"), indent=2)
PY
    sync
    measure "$RESULT-ours" "$BIN" -m export --silent
    copied=$(find "$stick" -type f | wc -l)
    [ "$copied" -eq $((SMALL + LARGE)) ] || { echo "export copied $copied files" >&2; exit 1; }
    drop_target "stick-$1"
}
run_peer() {
    copy=$(target_dir "cp-$1")
    sync
    case $PEER in
    cp) measure "$RESULT-peer" cp -a "$logs" "$copy" ;;
    rsync) measure "$RESULT-peer" rsync -a "$logs/" "$copy/" ;;
    tar) mkdir -p "$copy" && measure "$RESULT-peer" sh -c 'tar -C "$1" -cf - . | tar -C "$2" -xf -' tar "$logs" "$copy" ;;
    esac
    drop_target "cp-$1"
}
# PEERS="cp" (or any of cp, tar, rsync) measures against those alone.
if [ -z "${PEERS:-}" ]; then
    PEERS="cp tar"
    have_peer rsync rsync && PEERS="$PEERS rsync"
fi
for PEER in $PEERS; do
    RESULT=$ROOT/result-$PEER
    for i in $(seq "$ROUNDS"); do alternate "$i" "run_ours $PEER-$i" "run_peer $PEER-$i"; done
    case $PEER in cp) name="cp -a" ;; rsync) name="rsync -a" ;; tar) name="tar | tar" ;; esac
    report "export of $SMALL small and $LARGE large files" "$RESULT-ours" "$RESULT-peer" "$name"
done

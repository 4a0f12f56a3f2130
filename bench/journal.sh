#!/bin/sh
# Saving the system log from a journal (mode "log", one location) against journalctl piped to gzip,
# on the same journal files, in the same run; which tool goes first alternates by round.
# Usage: bench/journal.sh [size of the journal's text in MiB, default 200]
. "$(dirname "$0")/lib.sh"
SIZE_MIB=${1:-200}
REMOTE=/lib/systemd/systemd-journal-remote
[ -x "$REMOTE" ] || { echo "needs systemd-journal-remote: apt-get install -y systemd-journal-remote" >&2; exit 2; }
new_root
# One platform location, so that both tools compress the text once.
drop_platform_path 9
BOOT=0123456789abcdef0123456789abcdef
python3 - "$ROOT/host.json" "$ROOT/journal" "$BOOT" <<'PY'
import json, sys
path, journal, boot = sys.argv[1:]
config = json.load(open(path))
config.setdefault("syslog", {}).update({"source": "journal", "journal": journal, "boot": boot})
json.dump(config, open(path, "w"), indent=2)
PY
mkdir -p "$ROOT/journal"
# Entries of about 300 bytes of text each.
python3 - "$SIZE_MIB" "$BOOT" <<'PY' | "$REMOTE" -o "$ROOT/journal/bench.journal" - 2>/dev/null
import sys
size, boot = int(sys.argv[1]) << 20, sys.argv[2]
out, start, i, written = sys.stdout, 1765000000000000, 0, 0
while written < size:
    message = "request %d served in %d ms for client 10.0.%d.%d with status 200 " % (i, i % 997, i % 250, i % 200) + "x" * 180
    out.write("__REALTIME_TIMESTAMP=%d\n__MONOTONIC_TIMESTAMP=%d\n_BOOT_ID=%s\n_HOSTNAME=orvhost\nSYSLOG_IDENTIFIER=server\n_PID=%d\nMESSAGE=%s\n\n"
              % (start + i * 1000, i * 1000, boot, 1000 + i % 50, message))
    written += len(message) + 60
    i += 1
PY
target_dir=$ROOT/nodes/system/Logs
peer() {
    measure "$ROOT/peer" sh -c 'TZ=UTC journalctl -D "$1" -b "$2" -o short-iso --no-pager | gzip -6 >"$3"' peer \
        "$ROOT/journal" "$BOOT" "$ROOT/peer.log.gz"
}
ours() { measure "$ROOT/ours" env TZ=UTC "$BIN" -m log --silent; }
for i in $(seq "$ROUNDS"); do
    rm -rf "$target_dir" "$ROOT/peer.log.gz"
    if [ $((i % 2)) -eq 1 ]; then ours; peer; else peer; ours; fi
    [ -s "$(ls "$target_dir"/*.log | head -1)" ] || { echo "no log saved" >&2; exit 1; }
done
report "journal of $SIZE_MIB MiB" "$ROOT/ours" "$ROOT/peer" "journalctl -o short-iso | gzip -6"

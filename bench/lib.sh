# Shared helpers of the benchmarks: a throw-away platform root and a measuring wrapper.
# Sourced by the bench scripts; BIN is the scrivletv2 binary (default: the normal build).
set -eu
HERE=$(cd "$(dirname "$0")" && pwd)
BIN=${BIN:-$HERE/../build/scrivletv2}
ROUNDS=${ROUNDS:-3}
[ -x "$BIN" ] || { echo "build first: cmake --preset default && cmake --build --preset default" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "needs GNU time: apt-get install -y time" >&2; exit 2; }

# A fresh platform root below $BENCH_DIR (default /tmp) with the embedded default written.
new_root() {
    ROOT=$(mktemp -d "${BENCH_DIR:-/tmp}/scrivlet-bench-XXXXXX")
    export ORVANE_ROOT=$ROOT ORVANE_UI=headless
    unset ORVANE_CONFIG ORVANE_UI_TRANSCRIPT
    "$BIN" -h >/dev/null || true
    trap 'rm -rf "$ROOT"' EXIT
}

# The S3-protocol test server (s3rver from node_modules) on a free loopback port with a bucket
# "bench", keeping its objects below $ROOT/store, and the run pointed at it: ENDPOINT and SERVER_PID
# are set; the server stops when the script ends ($ON_EXIT runs then too).
start_test_store() {
    SERVER=$HERE/../node_modules/s3rver/bin/s3rver.js
    [ -f "$SERVER" ] || { echo "install the test server first: npm ci" >&2; exit 2; }
    command -v curl >/dev/null || { echo "needs curl" >&2; exit 2; }
    PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    mkdir -p "$ROOT/store"
    node "$SERVER" --directory "$ROOT/store" --address 127.0.0.1 --port "$PORT" --configure-bucket bench --silent &
    SERVER_PID=$!
    trap 'kill $SERVER_PID 2>/dev/null; eval "${ON_EXIT:-true}"; rm -rf "$ROOT"' EXIT
    for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$PORT/" && break; sleep 0.1; done
    ENDPOINT=http://127.0.0.1:$PORT
    export ORVANE_REMOTE_ENDPOINT=$ENDPOINT ORVANE_REMOTE_BUCKET=bench \
        ORVANE_REMOTE_ACCESS_KEY=S3RVER ORVANE_REMOTE_SECRET_KEY=S3RVER ORVANE_REMOTE_REGION=us-east-1
}

# A system-log store of two generations of $1 MiB each in the root, the source of the root's log.
# $2 says what its lines are: "busy" (the default), a busy server's, an address on every one; or
# "journal", a machine's mix of services, an address on one line in four.
make_store() {
    python3 - "$ROOT/host.json" <<'PY'
import json, sys
config = json.load(open(sys.argv[1]))
config.setdefault("syslog", {}).update({"source": "store", "maxBytes": 1 << 40})
json.dump(config, open(sys.argv[1], "w"), indent=2)
PY
    mkdir -p "$ROOT/syslog"
    python3 - "$ROOT/syslog" "$1" "${2:-busy}" <<'PY'
import sys
store, size, kind = sys.argv[1], int(sys.argv[2]) << 20, sys.argv[3]
busy = ["L1 server[%(pid)d]: request %(i)d served in %(ms)d ms for 10.0.%(a)d.%(b)d"]
journal = [
    "L1 systemd[1]: Started session-%(i)d.scope - Session %(i)d of User operator.",
    "L2 sshd[%(pid)d]: Accepted publickey for deploy from 10.0.%(a)d.%(b)d port %(port)d ssh2: ED25519 SHA256:q3Jx",
    "L1 kernel: [%(ms)d.%(i)06d] eth0: Link is Up - 1Gbps/Full - flow control rx/tx",
    "L1 CRON[%(pid)d]: (root) CMD (command -v debian-sa1 > /dev/null && debian-sa1 1 1)",
    "L1 app[%(pid)d]: GET /api/v2/items/%(i)d 200 %(ms)dms",
    "L3 dockerd[%(pid)d]: time=\"2026-12-07T10:00:00Z\" level=warning msg=\"container %(i)x restarted\"",
    "L1 NetworkManager[812]: <info> dhcp4 (eth0): state changed new lease, address=192.168.%(a)d.%(b)d",
    "L1 postgres[%(pid)d]: LOG:  checkpoint complete: wrote %(ms)d buffers (0.%(a)d%%); 0 WAL file(s) added",
    "L2 smartd[%(pid)d]: Device: /dev/sda [SAT], SMART Usage Attribute: 194 Temperature_Celsius changed from %(a)d to %(b)d",
    "L1 app[%(pid)d]: job %(i)d finished in %(ms)d ms, 0 errors",
    "L1 systemd-resolved[%(pid)d]: Using degraded feature set UDP instead of UDP+EDNS0 for DNS server 10.0.0.%(b)d.",
    "L1 app[%(pid)d]: cache hit ratio 0.%(a)d over the last %(ms)d requests",
]
lines = journal if kind == "journal" else busy
for name, start in (("system.log.1", 0), ("system.log", 10 ** 7)):
    with open("%s/%s" % (store, name), "w") as f:
        i, written = start, 0
        while written < size:
            values = {"i": i, "pid": 1000 + i % 50, "ms": i % 997, "a": i % 250, "b": i % 200, "port": 40000 + i % 20000}
            line = "2026-12-07T10:%02d:%02d.%03dZ " % (i // 60000 % 60, i // 1000 % 60, i % 1000) + lines[i % len(lines)] % values + "\n"
            f.write(line)
            written += len(line)
            i += 1
PY
}

# Takes a platform path identifier (7 to 10) out of the root's host configuration, so that a save
# has one location fewer. (Not a fault rule: rules put a decorator around every file the run opens,
# which a real run never has, and the benchmark would measure that.)
drop_platform_path() {
    python3 - "$ROOT/host.json" "$1" <<'PY'
import json, sys
path, identifier = sys.argv[1], sys.argv[2]
config = json.load(open(path))
config["paths"].pop(identifier, None)
json.dump(config, open(path, "w"), indent=2)
PY
}

# Runs a command and appends "<seconds> <peak KiB>" to the named result file. The time runs until
# the data is on disk (a sync after the command): otherwise one tool's writeback is paid by
# whichever runs next, and tools that flush as they go (cp probing for holes) look slower than
# tools that leave the flushing to the kernel. The peak memory is that of the command alone.
measure() {
    out=$1
    shift
    sync
    # GNU time gives the peak memory; its elapsed time has only 10 ms steps, so the clock is read here.
    start=$(date +%s.%N)
    /usr/bin/time -f "%M" -o "$ROOT/.time" sh -c '"$@" >/dev/null 2>>"$ORVANE_ROOT/.stderr" && sync' measure "$@"
    end=$(date +%s.%N)
    echo "$(awk -v s="$start" -v e="$end" 'BEGIN {printf "%.3f", e - s}') $(cat "$ROOT/.time")" >>"$out"
}

# Runs two functions one after the other, the first one first in odd rounds ($1) and the second one
# first in even rounds: neither tool always runs first, after the same deletions and pauses.
# (Each function is given as a command line: a name and its arguments.)
alternate() {
    if [ $(($1 % 2)) -eq 1 ]; then
        $2
        $3
    else
        $3
        $2
    fi
}

# Makes sure a peer tool is there: installs its Debian package when it is missing and we may, else
# says so and returns false (the benchmark then skips that peer).
have_peer() {
    command -v "$1" >/dev/null 2>&1 && return 0
    if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null; then
        DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$2" >/dev/null 2>&1 || true
    fi
    command -v "$1" >/dev/null 2>&1 && return 0
    echo "skipping $1: not installed (Debian package $2)" >&2
    return 1
}

# Median of the first (time) or second (memory) column of a result file.
median() {
    awk -v c="$2" '{print $c}' "$1" | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'
}

# Prints one result line: the tool's median time and memory against the peer's, as ratios.
report() {
    name=$1 ours=$2 peer=$3 peerName=$4
    if [ -n "${BENCH_VERBOSE:-}" ]; then
        echo "$name, each round (seconds, KiB): scrivletv2 $(tr '\n' ' ' <"$ours")| $peerName $(tr '\n' ' ' <"$peer")"
    fi
    ot=$(median "$ours" 1) om=$(median "$ours" 2) pt=$(median "$peer" 1) pm=$(median "$peer" 2)
    # Each round runs both tools back to back under the same conditions, so the ratio within a
    # round is the steadier figure when the machine drifts between rounds.
    rt=$(paste -d' ' "$ours" "$peer" | awk '$3 > 0 {print $1 / $3}' | sort -g |
        awk '{v[NR]=$1} END {print (NR ? v[int((NR+1)/2)] : 0)}')
    awk -v n="$name" -v ot="$ot" -v om="$om" -v pt="$pt" -v pm="$pm" -v p="$peerName" -v r="$ROUNDS" -v rt="$rt" 'BEGIN {
        printf "%s (median of %d): scrivletv2 %.2f s, %.1f MiB peak; %s %.2f s, %.1f MiB peak; time ratio %.3f (of medians), %.3f (median of rounds)\n",
               n, r, ot, om / 1024, p, pt, pm / 1024, (pt > 0 ? ot / pt : 0), rt }'
}

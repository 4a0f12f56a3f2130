#!/bin/sh
# Starting up: 200 runs of `scrivletv2 --help` against 200 of `cp --help`, in the same run; rounds
# alternate which goes first.
# Usage: bench/startup.sh [runs per measurement, default 200]
. "$(dirname "$0")/lib.sh"
RUNS=${1:-200}
new_root
ours() { measure "$ROOT/ours" sh -c 'i=0; while [ $i -lt "$1" ]; do "$2" --help >/dev/null; i=$((i + 1)); done' ours "$RUNS" "$BIN"; }
peer() { measure "$ROOT/peer" sh -c 'i=0; while [ $i -lt "$1" ]; do cp --help >/dev/null; i=$((i + 1)); done' peer "$RUNS"; }
for i in $(seq "$ROUNDS"); do alternate "$i" ours peer; done
report "$RUNS starts with --help" "$ROOT/ours" "$ROOT/peer" "cp --help"

#!/usr/bin/env bash
# Instructions per condition event on the whole road (generate, filter,
# queue, deliver), measured by callgrind on the benchmark's small fixed run:
# the run with two cycles minus the run with setup only, divided by the
# events of the two cycles.
#   bench/toolkit/callgrind.sh [build dir]   (default build/default)
set -euo pipefail
build=${1:-build/default}
bench="$build/bin/bench_condition_events"
[ -x "$bench" ] || { echo "callgrind.sh: $bench not built" >&2; exit 1; }
command -v valgrind >/dev/null || { echo "callgrind.sh: valgrind not installed" >&2; exit 1; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

instructions() {  # cycles
  valgrind --tool=callgrind --callgrind-out-file="$out/cg.$1" "$bench" --callgrind "$1" >"$out/log.$1" 2>&1 || {
    cat "$out/log.$1" >&2
    exit 1
  }
  callgrind_annotate "$out/cg.$1" | awk '/PROGRAM TOTALS/ {gsub(",", "", $1); print $1}'
}

cycles=2
events=$((1000 * cycles * 3))  # 1000 sources, Activate + Acknowledge + Deactivate
setup=$(instructions 0)
run=$(instructions "$cycles")
echo "callgrind: $events events on 1000 sources, one in-process subscription"
echo "instructions per event: $(((run - setup) / events))"

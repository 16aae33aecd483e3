#!/usr/bin/env bash
# Instructions per alarm change on the whole road (controller change, update
# cycle, data callback, alarm processor, condition event, delivery to one
# in-process subscription), measured by callgrind on a small fixed plant:
# the run with four rounds of changes minus the run with none, divided by
# the changes made.
#   bench/alarmproc/callgrind.sh [build dir]   (default build/default)
set -euo pipefail
build=${1:-build/default}
bench="$build/bin/bench_alarmproc"
[ -x "$bench" ] || { echo "callgrind.sh: $bench not built" >&2; exit 1; }
command -v valgrind >/dev/null || { echo "callgrind.sh: valgrind not installed" >&2; exit 1; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

run() {  # rounds -> "instructions changes"
  valgrind --tool=callgrind --callgrind-out-file="$out/cg.$1" "$bench" --producers 1 --blocks 250 \
    --callgrind "$1" >"$out/log.$1" 2>&1 || {
    cat "$out/log.$1" >&2
    exit 1
  }
  local total changes
  total=$(callgrind_annotate "$out/cg.$1" | awk '/PROGRAM TOTALS/ {gsub(",", "", $1); print $1}')
  changes=$(awk '/^changes:/ {print $2}' "$out/log.$1")
  echo "$total $changes"
}

read -r setup _ < <(run 0)
read -r total changes < <(run 4)
echo "callgrind: $changes alarm changes on a plant of 250 blocks, one in-process subscription"
echo "instructions per change: $(((total - setup) / changes))"

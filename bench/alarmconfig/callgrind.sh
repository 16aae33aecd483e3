#!/usr/bin/env bash
# Where the configuration import's growth goes, in figures that the load of
# the machine does not change: callgrind with its cache simulation counts
# instructions (Ir), first-level data misses (D1) and last-level misses (LL)
# of one fresh connection's import and source build (bench_import --phase
# import), split into the import's own libxml2 parse and free (CXmlDocument
# Load and destructor) and the rest, and of the plain libxml2 parse of the
# same documents (--phase parse), for the base plant and the two plants 10
# times larger. Takes about half an hour (the 10 times plants run under
# callgrind for some minutes each).
#   bench/alarmconfig/callgrind.sh [build dir [producers blocks]]
# Defaults: build/default, a base plant of 10 producers of 1,100 blocks.
set -euo pipefail
build=${1:-build/default}
producers=${2:-10}
blocks=${3:-1100}
bench="$build/bin/bench_import"
[ -x "$bench" ] || { echo "callgrind.sh: $bench not built" >&2; exit 1; }
command -v valgrind >/dev/null || { echo "callgrind.sh: valgrind not installed" >&2; exit 1; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# run NAME PHASE FUNCTION PRODUCERS BLOCKS
run() {
  valgrind --tool=callgrind --cache-sim=yes --collect-atstart=no "--toggle-collect=*$3*" \
    --callgrind-out-file="$out/cg.$1" "$bench" --phase "$2" --producers "$4" --blocks "$5" >"$out/log.$1" 2>&1 || {
    cat "$out/log.$1" >&2
    exit 1
  }
}

# figures NAME FUNCTION...: Ir, D1 misses and LL misses, inclusive, summed
# over the functions (the phase's whole when none is named).
figures() {
  local name=$1
  shift
  callgrind_annotate --inclusive=yes --threshold=100 "$out/cg.$name" 2>/dev/null | awk -v want="$*" '
    BEGIN { n = split(want, fns, " ") }
    /^ *[0-9,]+ / {
      line = $0
      gsub(/\([^)]*%\)/, "", line)
      split(line, f, " ")
      for (i = 1; i <= 9; i++) { v[i] = f[i]; gsub(",", "", v[i]); if (v[i] == ".") v[i] = 0 }
      if (n == 0) { if (line ~ /PROGRAM TOTALS/) { ir = v[1]; d1 = v[5] + v[6]; ll = v[8] + v[9] } next }
      for (k = 1; k <= n; k++) if (index(line, fns[k] "(") && !seen[k] && line !~ /\([0-9,]+x\)/) {
        seen[k] = 1; ir += v[1]; d1 += v[5] + v[6]; ll += v[8] + v[9]
      }
    }
    END { printf "%.0f %.0f %.0f\n", ir, d1, ll }'
}

plants=("base $producers $blocks" "blocks $producers $((blocks * 10))" "producers $((producers * 10)) $blocks")
for plant in "${plants[@]}"; do
  set -- $plant
  run "import.$1" import ConnectFresh "$2" "$3"
  run "parse.$1" parse ParseDocuments "$2" "$3"
done

declare -A ir d1 ll
for plant in "${plants[@]}"; do
  set -- $plant
  read -r ir[import.$1] d1[import.$1] ll[import.$1] < <(figures "import.$1")
  read -r ir[own.$1] d1[own.$1] ll[own.$1] < <(figures "import.$1" CXmlDocument::Load CXmlDocument::~CXmlDocument)
  ir[rest.$1]=$((ir[import.$1] - ir[own.$1])); d1[rest.$1]=$((d1[import.$1] - d1[own.$1])); ll[rest.$1]=$((ll[import.$1] - ll[own.$1]))
  read -r ir[parse.$1] d1[parse.$1] ll[parse.$1] < <(figures "parse.$1")
done

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a > 0) printf "%6.1fx", b / a; else printf "     -" }'; }
printf "%-34s %14s %12s %11s | %22s %22s\n" "callgrind (cache simulation)" "Ir" "D1 misses" "LL misses" \
  "10x blocks: Ir D1 LL" "10x producers: Ir D1 LL"
for row in "import:import and source build" "own:  its libxml2 parse and free" "rest:  the import without them" \
  "parse:plain libxml2 parse"; do
  key=${row%%:*}
  printf "%-34s %14d %12d %11d | %s %s %s  %s %s %s\n" "${row#*:}" "${ir[$key.base]}" "${d1[$key.base]}" "${ll[$key.base]}" \
    "$(ratio "${ir[$key.base]}" "${ir[$key.blocks]}")" "$(ratio "${d1[$key.base]}" "${d1[$key.blocks]}")" \
    "$(ratio "${ll[$key.base]}" "${ll[$key.blocks]}")" \
    "$(ratio "${ir[$key.base]}" "${ir[$key.producers]}")" "$(ratio "${d1[$key.base]}" "${d1[$key.producers]}")" \
    "$(ratio "${ll[$key.base]}" "${ll[$key.producers]}")"
done
echo "simulated $(grep -m1 "^desc: LL cache" "$out/cg.import.base" | sed "s/^desc: //")"

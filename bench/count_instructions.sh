#!/bin/bash
# Instructions per computation, counted with callgrind, which unlike wall time does not drift
# between runs: the inclusive cost of the calls the benchmark loops make to the planner and to
# the reference search, over their number. First the full-exploration (unsolvable) missions
# against the reference search, then the far and near missions' first computation against
# their re-plan.
#   bench/count_instructions.sh [benchmark binary, default build-bench/bench/mova_bench]
# Takes a few minutes (every benchmark runs under valgrind).
set -euo pipefail
bin=${1:-build-bench/bench/mova_bench}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# count FILTER FUNCTION: mean instructions per call of FUNCTION made from the benchmark loop
# (the callers named BM_...), from callgrind's caller tree; needs no debug information.
count() {
  valgrind --tool=callgrind --callgrind-out-file="$scratch/out" "$bin" \
    --benchmark_filter="$1" >/dev/null 2>&1
  callgrind_annotate --tree=caller --inclusive=yes "$scratch/out" 2>/dev/null |
    awk -v fn="$2" '
      /^ *$/ {n = 0; next}
      / < / && /BM_/ && /\([0-9,]+x\)/ {
        ir = $1; gsub(",", "", ir)
        calls = $0; sub(/.*\(/, "", calls); sub(/x\).*/, "", calls); gsub(",", "", calls)
        held_ir[n] = ir; held_calls[n] = calls; n++; next
      }
      / \* / && index($0, fn) {for (i = 0; i < n; i++) {sum += held_ir[i]; count += held_calls[i]}}
      END {if (count > 0) printf "%.3g", sum / count / 1e6; else printf "?"}'
  rm -f "$scratch/out"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN {if (b + 0 > 0) printf "%.1f", a / b; else printf "?"}'; }

networks="line ring-one-lane ring-two-lanes dense-15 one-way-loops"
planner='Search::DStarLite::Compute_Solution(std::vector'
printf '%-16s %10s %12s %8s %10s %12s\n' network "first (M)" "re-plan (M)" "BFS (M)" "first/BFS" "re-plan/BFS"
for net in $networks; do
  first=$(count "Compute_First/$net/unsolvable" "$planner")
  replan=$(count "Compute_Replan/$net/unsolvable" "$planner")
  bfs=$(count "Reference_BFS/$net/unsolvable" 'Bench::Reference_Search(')
  printf '%-16s %10s %12s %8s %10s %12s\n' "$net" "$first" "$replan" "$bfs" "$(ratio "$first" "$bfs")" \
    "$(ratio "$replan" "$bfs")"
done

echo
printf '%-16s %-8s %10s %12s %14s\n' network mission "first (M)" "re-plan (M)" "first/re-plan"
for net in $networks; do
  for mission in far near; do
    first=$(count "Compute_First/$net/$mission/" "$planner")
    replan=$(count "Compute_Replan/$net/$mission/" "$planner")
    printf '%-16s %-8s %10s %12s %14s\n' "$net" "$mission" "$first" "$replan" "$(ratio "$first" "$replan")"
  done
done

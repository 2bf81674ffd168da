#!/usr/bin/env bash
# Builds the fuzz targets with clang++ (libFuzzer, address and undefined-behaviour sanitizers)
# and runs each for a bounded time; fails on any finding (crash, sanitizer report, leak,
# time-out, memory limit). The seeds and regression inputs of fuzz/corpus/<target> are run
# first; new inputs go to the build directory, never into the source tree.
# The target "scenario" is the host package's (fuzz/fuzz_scenario.py, run with $PYTHON): the
# scenario and site readers on JSON trees made hostile, from a fixed seed (FUZZ_SEED); its
# findings go to the build directory as the others' do.
#   FUZZ_BUILD    build directory (default build-fuzz)
#   FUZZ_SECONDS  seconds per target (default 60)
#   FUZZ_TARGETS  targets to run (default "console mission scenario")
#   FUZZ_SEED     seed of the scenario target (default 20)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-60}
targets=${FUZZ_TARGETS:-console mission scenario}
python=${PYTHON:-/usr/bin/python3}

if [ -n "$(echo " $targets " | sed 's/ scenario / /g' | tr -d ' ')" ]; then
  cmake -S "$root/fuzz" -B "$build" -DCMAKE_CXX_COMPILER=clang++ > /dev/null
  cmake --build "$build" -j2 > /dev/null
fi

status=0
for target in $targets; do
  if [ "$target" = scenario ]; then
    log="$build/fuzz-scenario.log"
    mkdir -p "$build"
    if PYTHONDONTWRITEBYTECODE=1 "$python" "$root/fuzz/fuzz_scenario.py" --seconds "$seconds" \
         --seed "${FUZZ_SEED:-20}" --corpus "$root/fuzz/corpus/scenario" \
         --findings "$build/findings-scenario" > "$log" 2>&1
    then result=ok; else result=FAILED; status=1; fi
    tail -n 1 "$log"
    if [ "$result" != ok ]; then
      grep -E '^(finding|input)' "$log" | head -4
      echo "full log: $log; inputs: $build/findings-scenario"
    fi
    continue
  fi
  work="$build/corpus-$target"
  findings="$build/findings-$target"
  log="$build/fuzz-$target.log"
  mkdir -p "$work" "$findings"
  options=(-max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 -print_final_stats=1
           -artifact_prefix="$findings/")
  [ -f "$root/fuzz/$target.dict" ] && options+=(-dict="$root/fuzz/$target.dict")
  # The target's working directory is a temporary one: every path handed to it is absolute.
  if "$build/fuzz_$target" "${options[@]}" "$work" "$root/fuzz/corpus/$target" > "$log" 2>&1
  then result=ok; else result=FAILED; status=1; fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  peak=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log")
  corpus=$(find "$work" "$root/fuzz/corpus/$target" -type f | wc -l)
  seeds=$(find "$root/fuzz/corpus/$target" -type f | wc -l)
  echo "fuzz_$target: $result, ${seconds} s, ${runs:-?} executions (${rate:-?}/s)," \
       "corpus $corpus inputs ($seeds seeds), peak RSS ${peak:-?} MB"
  if [ "$result" != ok ]; then
    grep -E 'ERROR|SUMMARY|finding|runtime error|Test unit written' "$log" | head -20
    tail -n 3 "$log"
    echo "full log: $log; inputs: $findings"
  fi
done
exit $status

#!/usr/bin/env bash
# Runs the whole test suite with every start of the real binary under valgrind memcheck.
#
# The suite's transcript tests start the binary of their own build directory; here that binary
# is replaced by a wrapper that runs the real one under memcheck with a log file per process.
# The run fails when any process reports a memory error or a leak. Test results themselves are
# shown but do not decide: the planner's time limit is wall-clock time, and under memcheck a
# search may hit it and answer differently.
#   VALGRIND_BUILD  build directory (default build-valgrind)
#   VALGRIND_FILTER gtest filter for the test binary (default: every test but the crash loop,
#                   whose processes are killed before memcheck could report anything)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VALGRIND_BUILD:-$root/build-valgrind}
filter=${VALGRIND_FILTER:-*-Loss.KilledAtAnyMomentTheLogHoldsOnlyWholeRecords}
command -v valgrind > /dev/null || { echo "valgrind is not installed" >&2; exit 2; }

# An existing build directory (e.g. the one of `make test`) is reused as it is configured.
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null || exit 2
fi
# A wrapper left behind by an interrupted run is replaced by the real binary first.
if [ -f "$build/mova" ] && [ "$(head -c 2 "$build/mova")" = "#!" ]; then rm -f "$build/mova"; fi
cmake --build "$build" -j2 > /dev/null || exit 2

logs=$(mktemp -d /tmp/mova-valgrind-XXXXXX)
chmod 1777 "$logs"  # tests may run the binary as another user
real="$build/mova.memcheck"
cp "$build/mova" "$real"
# The real binary again at the end, so that the build directory is usable as before.
trap 'cp "$real" "$build/mova"' EXIT
cat > "$build/mova" <<WRAPPER
#!/bin/sh
exec valgrind -q --tool=memcheck --leak-check=full --show-leak-kinds=definite,indirect,possible \
  --errors-for-leak-kinds=definite,indirect,possible --track-fds=no \
  --log-file="$logs/memcheck.%p" "$real" "\$@"
WRAPPER
chmod 755 "$build/mova" "$real"

start=$(date +%s)
"$build/tests/mova_tests" --gtest_filter="$filter" > "$logs/tests.txt" 2>&1
tests_status=$?
seconds=$(( $(date +%s) - start ))

runs=$(find "$logs" -name 'memcheck.*' | wc -l)
findings=$(find "$logs" -name 'memcheck.*' -size +0 | wc -l)
grep -E '^\[  (PASSED|FAILED)  \]|tests? ran' "$logs/tests.txt" | head -20
echo "memcheck: $runs runs of the binary in ${seconds} s, $findings with errors or leaks"
if [ "$findings" -ne 0 ]; then
  for f in $(find "$logs" -name 'memcheck.*' -size +0 | head -5); do
    echo "--- $f"; head -60 "$f"
  done
  echo "logs kept in $logs"
  exit 1
fi
[ "$tests_status" -eq 0 ] || echo "(some tests failed under memcheck; see $logs/tests.txt)"
rm -rf "$logs"
exit 0

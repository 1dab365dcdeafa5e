#!/usr/bin/env bash
# Installs what is missing, builds everything with AddressSanitizer and UndefinedBehaviorSanitizer (its lines go to
# <build>/build.log; a warning in the project's own code stops it), and runs every test. Extra arguments go to ctest
# (for example: -L codec). Build jobs and tests at once: scripts/jobs.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

build=${VEXMIR_TEST_BUILD:-build/test}
scripts/build.sh --log "$build/build.log" "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXMIR_SANITIZE=ON \
  -DVEXMIR_TESTS=ON -DVEXMIR_WERROR=ON
jobs=$(scripts/jobs.sh test)
# Tests that build something of their own (the daw tests' release bundle) keep to the build's job count.
CMAKE_BUILD_PARALLEL_LEVEL=$(scripts/jobs.sh build)
export CMAKE_BUILD_PARALLEL_LEVEL

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:detect_odr_violation=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cd "$build"
rm -rf Testing/e2e-retries.log Testing/e2e-retries
# The tests get a /dev/shm of their own, where the e2e tests' JACK server lives (see private-shm.sh).
status=0
"$root"/scripts/private-shm.sh ctest --output-on-failure -j "$jobs" "$@" || status=$?
if [ -s Testing/e2e-retries.log ]; then
  echo "End-to-end cases that failed once and were run again (tests/fixtures/retry-e2e.sh):"
  cat Testing/e2e-retries.log
fi
exit "$status"

#!/usr/bin/env bash
# Builds everything with ThreadSanitizer (build/tsan) and runs the threaded tests under it: the live loop, the
# jobs, the protocol cases, the fault cases, every end-to-end test (the plug-in in vexmir-host, a real JACK
# server, the synthesizer emulator) and the cases of banks that follow their files (a recall on a host thread while
# the editor's thread shows the librarian). Extra arguments go to ctest; one of them naming tests (-L, -R, -E, -LE)
# replaces the default choice of labels. Runs by hand; it is too slow for CI.
#
# Every instrumented process of the run (test programs, vexmir-host; the emulator, a test tool, is built without
# ThreadSanitizer) writes its reports to report.<program>.<pid> in a folder under /tmp (linked as
# <build>/Testing/tsan): the install test runs vexmir-host with the build and source trees hidden, where it could
# write no report and read no suppressions.
# The script lists the reports at the end and fails when there is one. Reports inside third-party libraries are
# suppressed by tests/tsan-suppressions.txt.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

build=${VEXMIR_TSAN_BUILD:-build/tsan}
scripts/build.sh --log "$build/build.log" "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXMIR_TSAN=ON -DVEXMIR_TESTS=ON
jobs=$(scripts/jobs.sh test)
CMAKE_BUILD_PARALLEL_LEVEL=$(scripts/jobs.sh build)
export CMAKE_BUILD_PARALLEL_LEVEL

select=(-L 'liveloop|jobs|faults|e2e|protocol|followfile')
for a in "$@"; do
  case "$a" in -L | -R | -E | -LE | --label-regex | --tests-regex | --exclude-regex | --label-exclude) select=() ;; esac
done

reports="${TMPDIR:-/tmp}/vexmir-tsan-$(printf '%s' "$root/$build" | md5sum | cut -c1-10)"
rm -rf "$reports"
mkdir -p "$reports" "$build/Testing"
cp tests/tsan-suppressions.txt "$reports/suppressions.txt"
ln -sfn "$reports" "$build/Testing/tsan"
export TSAN_OPTIONS="suppressions=$reports/suppressions.txt:log_path=$reports/report:log_exe_name=1:second_deadlock_stack=1:history_size=4${VEXMIR_TSAN_OPTIONS:+:$VEXMIR_TSAN_OPTIONS}"
# The random action sequences run fewer under ThreadSanitizer, which makes every step many times slower.
export VEXMIR_SEQUENCES=${VEXMIR_SEQUENCES:-300}
cd "$build"
rm -f Testing/e2e-retries.log
status=0
"$root"/scripts/private-shm.sh ctest --output-on-failure -j "$jobs" "${select[@]}" "$@" || status=$?
if [ -s Testing/e2e-retries.log ]; then
  echo "End-to-end cases that failed once and were run again (tests/fixtures/retry-e2e.sh):"
  cat Testing/e2e-retries.log
fi

# A log file can also hold only the suppression counts (VEXMIR_TSAN_OPTIONS=print_suppressions=1).
files=()
for f in "$reports"/report.*; do
  [ -f "$f" ] && grep -q '^WARNING: ThreadSanitizer' "$f" && files+=("$f")
done
if [ ${#files[@]} -gt 0 ]; then
  echo "ThreadSanitizer reported in ${#files[@]} process(es); the reports are in $reports:"
  grep -h '^SUMMARY: ThreadSanitizer' "${files[@]}" | sort | uniq -c | sort -rn
  [ "$status" -ne 0 ] || status=1
else
  echo "ThreadSanitizer: no reports"
fi
exit "$status"

#!/usr/bin/env bash
# scripts/test.sh, scripts/build.sh and scripts/run.sh as a user on a small machine meets them, with stand-ins for
# cmake, ctest and dpkg-query: a job limit (ours or the standard variables) reaches the build, ctest and what the tests
# build themselves; the build's lines go to a log that the terminal names, with a line now and then while it runs;
# a failed build shows every error in full, and a warning that stops the test build says so.
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The scripts run from a copy, so that their build folders and logs are the test's own.
mkdir -p "$work/bin" "$work/tree"
cp -r "$1/scripts" "$work/tree/"
root=$work/tree
cat >"$work/bin/dpkg-query" <<'STANDIN'
#!/usr/bin/env bash
echo -n "install ok installed"
STANDIN
# The build: configuring says nothing; building prints ninja's lines for FAKE_STEPS steps and fails, when asked, at
# the middle one with FAKE_ERROR_LINES lines of compiler output, as ninja does.
cat >"$work/bin/cmake" <<STANDIN
#!/usr/bin/env bash
echo "cmake \$* CMAKE_BUILD_PARALLEL_LEVEL=\${CMAKE_BUILD_PARALLEL_LEVEL:-}" >>"$work/calls"
if [ "\$1" = -S ]; then
  mkdir -p "\$4"
  [ -z "\${FAKE_CONFIGURE_ERROR:-}" ] && exit 0
  echo "CMake Error at CMakeLists.txt:3 (find_package):" >&2
  echo "  \$FAKE_CONFIGURE_ERROR" >&2
  exit 1
fi
sleep "\${FAKE_SECONDS:-0}"
steps=\${FAKE_STEPS:-1000}
for i in \$(seq "\$steps"); do
  echo "[\$i/\$steps] Building CXX object src/CMakeFiles/vexmir-src.dir/File\$i.cpp.o"
  if [ -n "\${FAKE_ERROR_LINES:-}" ] && [ "\$i" -eq \$((steps / 2)) ]; then
    echo "FAILED: src/CMakeFiles/vexmir-src.dir/File\$i.cpp.o"
    echo "/usr/bin/g++ -Wall -Wextra \${FAKE_WERROR:-} -c ../../src/File\$i.cpp"
    for k in \$(seq "\$FAKE_ERROR_LINES"); do echo "../../src/File\$i.cpp:\$k:5: error: fault number \$k\${FAKE_WERROR:+ [-Werror=unused-variable]}"; done
  fi
done
if [ -n "\${FAKE_ERROR_LINES:-}" ]; then echo "ninja: build stopped: subcommand failed."; exit 1; fi
STANDIN
cat >"$work/bin/ctest" <<STANDIN
#!/usr/bin/env bash
echo "ctest \$* CMAKE_BUILD_PARALLEL_LEVEL=\${CMAKE_BUILD_PARALLEL_LEVEL:-}" >>"$work/calls"
echo "100% tests passed"
STANDIN
chmod +x "$work/bin/"*
export PATH="$work/bin:$PATH" VEXMIR_SETUP_LOCK="$work/setup.lock" VEXMIR_SHARED_SHM=1
unset VEXMIR_JOBS CMAKE_BUILD_PARALLEL_LEVEL CTEST_PARALLEL_LEVEL VEXMIR_TEST_BUILD
fail() {
  echo "$1"
  shift
  for f in "$@"; do echo "--- $f:"; cat "$f"; done
  exit 1
}
call() { grep "^$1 " "$work/calls" | grep -- "$2" >/dev/null; }

# A limit of 2 in our variable, and then in the standard ones: both scripts keep to it.
VEXMIR_JOBS=2 "$root/scripts/test.sh" -L codec >"$work/out" 2>&1 ||
  fail "scripts/test.sh failed" "$work/out"
call cmake "--build build/test -j 2 " || fail "VEXMIR_JOBS=2 did not reach the build" "$work/calls"
call ctest "-j 2 -L codec CMAKE_BUILD_PARALLEL_LEVEL=2$" || fail "VEXMIR_JOBS=2 did not reach ctest" "$work/calls"
: >"$work/calls"
CMAKE_BUILD_PARALLEL_LEVEL=2 CTEST_PARALLEL_LEVEL=2 "$root/scripts/test.sh" \
  >"$work/out" 2>&1 || fail "scripts/test.sh failed" "$work/out"
call cmake "--build build/test -j 2 " || fail "CMAKE_BUILD_PARALLEL_LEVEL=2 did not reach the build" "$work/calls"
call ctest "-j 2 " || fail "CTEST_PARALLEL_LEVEL=2 did not reach ctest" "$work/calls"
if VEXMIR_JOBS=two "$root/scripts/build.sh" build/test >"$work/out" 2>&1; then fail "VEXMIR_JOBS=two was taken"; fi
grep -q "VEXMIR_JOBS=two: a number of jobs" "$work/out" || fail "VEXMIR_JOBS=two was not named" "$work/out"

# The build's thousand lines go to the log; the terminal names it and gets a line while the build runs.
VEXMIR_BUILD_TICK=1 FAKE_SECONDS=3 "$root/scripts/test.sh" >"$work/out" 2>&1 ||
  fail "scripts/test.sh failed" "$work/out"
[ "$(grep -c '^\[[0-9]*/1000\]' "$root/build/test/build.log")" -eq 1000 ] || fail "the log lacks build lines" "$work/out"
grep -q '^\[' "$work/out" && fail "build lines reached the terminal" "$work/out"
grep -q "build/test/build.log" "$work/out" || fail "the terminal was not told where the log is" "$work/out"
grep -q "still building" "$work/out" || fail "no line while building" "$work/out"
grep -q "100% tests passed" "$work/out" || fail "the tests' results are missing" "$work/out"

# A failed build: every line of its errors, none of the other steps' lines; no tests run.
: >"$work/calls"
if FAKE_ERROR_LINES=60 "$root/scripts/test.sh" >"$work/out" 2>&1; then
  fail "scripts/test.sh passed a failed build" "$work/out"
fi
for k in 1 30 60; do
  grep -q "File500.cpp:$k:5: error: fault number $k$" "$work/out" || fail "error line $k is not shown" "$work/out"
done
grep -q "^FAILED: src/CMakeFiles/vexmir-src.dir/File500.cpp.o" "$work/out" || fail "the failed step is not named" "$work/out"
[ "$(grep -c 'Building CXX' "$work/out")" -eq 0 ] || fail "other steps' lines are shown" "$work/out"
call ctest "" && fail "tests ran after a failed build" "$work/calls"
grep -q "VEXMIR_WERROR" "$work/out" && fail "a plain error was taken for a warning" "$work/out"
# The same from scripts/run.sh, whose release build shares the code; and a warning that stops the test build.
if FAKE_ERROR_LINES=40 FAKE_WERROR=-Werror "$root/scripts/run.sh" >"$work/out" 2>&1; then fail "run.sh passed"; fi
grep -q "File500.cpp:1:5: error: fault number 1 \[-Werror=unused-variable\]" "$work/out" ||
  fail "run.sh does not show the first error" "$work/out"
grep -q "stops at a warning in the project's own code (VEXMIR_WERROR" "$work/out" ||
  fail "a warning that stops the build is not named as such" "$work/out"
# CMake stopped it: all that it said.
if FAKE_CONFIGURE_ERROR="Could not find a package configuration file provided by \"GTest\"" \
  "$root/scripts/test.sh" >"$work/out" 2>&1; then
  fail "scripts/test.sh passed a failed configuration" "$work/out"
fi
grep -q 'Could not find a package configuration file provided by "GTest"' "$work/out" ||
  fail "CMake's error is not shown" "$work/out"
echo "job limits reach the build and ctest; the build's lines go to its log; a failed build shows its errors in full"

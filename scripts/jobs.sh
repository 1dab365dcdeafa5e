#!/usr/bin/env bash
# The number of jobs the scripts run at once, for a build or for the tests:
#   scripts/jobs.sh build|test
# VEXMIR_JOBS for both; else the tool's own variable (CMAKE_BUILD_PARALLEL_LEVEL for a build, CTEST_PARALLEL_LEVEL
# for the tests); else one per processor.
set -euo pipefail
case "${1:-}" in
  build) name=CMAKE_BUILD_PARALLEL_LEVEL ;;
  test) name=CTEST_PARALLEL_LEVEL ;;
  *) echo "usage: $0 build|test" >&2; exit 2 ;;
esac
for name in VEXMIR_JOBS "$name"; do
  value=${!name:-}
  [ -n "$value" ] || continue
  if ! [[ $value =~ ^[0-9]+$ ]] || [ "$value" -lt 1 ]; then
    echo "$name=$value: a number of jobs from 1 up is needed" >&2
    exit 2
  fi
  echo "$value"
  exit 0
done
nproc

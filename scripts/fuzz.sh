#!/usr/bin/env bash
# Builds every libFuzzer target with clang (and the bundle's resources, which the editor's targets read) and runs
# each for SECONDS (default 60) from its seed corpus, at most VEXMIR_FUZZ_JOBS (default 3) at a time:
#   scripts/fuzz.sh [SECONDS] [TARGET...]
# Each target works in out/fuzz/<target>/: the corpus it grows (corpus/), its log (log.txt) and every input that
# crashed it, leaked, hung or broke one of its checks (crash-*, leak-*, timeout-*, oom-*). The seed corpora in the
# repository are only read. Prints executions, coverage (edges), features and corpus size and the outcome of each
# target (also kept in out/fuzz/summary.txt); exits 1 when any failed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

seconds=${1:-60}
[ $# -gt 0 ] && shift
build=${VEXMIR_FUZZ_BUILD:-build/fuzz}
out=${VEXMIR_FUZZ_OUT:-out/fuzz}
parallel=${VEXMIR_FUZZ_JOBS:-3}

export VEXMIR_SETUP_EXTRAS=1 CC=clang CXX=clang++
scripts/build.sh --log "$build/build.log" "$build" -DVEXMIR_FUZZ=ON -DVEXMIR_TESTS=OFF

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:detect_odr_violation=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
manifest="$build/tests/fuzz/targets.txt"

# One target: name, program, its own options, seed folders.
run_target() {
  local name=$1 program=$2 options=$3
  shift 3
  local dir="$out/$name"
  mkdir -p "$dir/corpus"
  [ -n "$program" ] && [ $# -gt 0 ] || { echo "fuzz: $name has no program or seeds" >"$dir/log.txt"; return; }
  rm -f "$dir/log.txt" "$dir/status"
  local status=0
  # An input that runs for more than 120 s counts as a hang (a generous bound: on a shared machine an input of
  # 60 ms once took 33 s); the outer bound stops a target that never ends.
  # shellcheck disable=SC2086
  timeout -k 30 $((seconds + 900)) "$program" -max_total_time="$seconds" -timeout=120 -rss_limit_mb=4096 \
    -print_final_stats=1 -artifact_prefix="$dir/" $options "$dir/corpus" "$@" >"$dir/log.txt" 2>&1 || status=$?
  echo "$status" >"$dir/status"
}

summary() {
  local name=$1 dir="$out/$1"
  local status execs cov ft corp result
  status=$(cat "$dir/status" 2>/dev/null || echo "?")
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log.txt" | tail -1)
  read -r cov ft corp < <(grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+' "$dir/log.txt" | tail -1 |
    awk '{print $2, $4, $6}') || true
  result=ok
  if [ "$status" != 0 ] || grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|^broken:' \
    "$dir/log.txt"; then
    result="FAILED (exit $status; $(ls "$dir" | grep -E '^(crash|leak|timeout|oom)-' | head -1), see $dir/log.txt"
  fi
  printf '%-22s %12s %9s %9s %8s  %s\n' "$name" "${execs:-0}" "${cov:-0}" "${ft:-0}" "${corp:-0}" "$result"
}

names=()
while IFS='|' read -r name program options seeds; do
  if [ $# -gt 0 ] && ! printf '%s\n' "$@" | grep -qx "$name"; then continue; fi
  names+=("$name")
  IFS='|' read -r -a seedList <<<"$seeds"
  while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do wait -n || true; done
  echo "fuzz: $name for $seconds s"
  run_target "$name" "$program" "$options" "${seedList[@]}" &
done <"$manifest"
wait

mkdir -p "$out"
{
  printf '%-22s %12s %9s %9s %8s  %s\n' target executions coverage features corpus result
  for name in "${names[@]}"; do summary "$name"; done
} >"$out/summary.txt"
echo
cat "$out/summary.txt"
! grep -q FAILED "$out/summary.txt"

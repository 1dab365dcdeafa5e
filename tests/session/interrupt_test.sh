#!/usr/bin/env bash
# Ctrl-C in the middle of the demonstration session, as a terminal sends it (SIGINT to the session's process
# group) once the editor is open: the session says it was interrupted, ends within seconds, and leaves no process
# behind (its own JACK server, the emulator, vexmir-host).
set -uo pipefail
build=$1
out=$2
here=$(cd "$(dirname "$0")" && pwd)
running() { [ -r "/proc/$1/stat" ] && [ "$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f1)" != Z ]; }
fail() {
  echo "interrupt test: $*"
  cat "$out.log"
  exit 1
}

# An earlier run's transcript must not be taken for this one's.
if [ -f "$out/.vexmir-session" ]; then rm -rf "$out"; fi
# The transcript lies beside the session's folder, whose parent the other session test may not have made yet.
mkdir -p "$(dirname "$out")"
set -m  # the session runs as a job of its own, in its own process group, with SIGINT not ignored
bash "$here/../../tools/session/session.sh" "$build" "$out" >"$out.log" 2>&1 &
session=$!
set +m
for _ in $(seq 600); do
  grep -q "STEP editor opened" "$out/host-transcript.txt" 2>/dev/null && break
  running "$session" || fail "the session ended before the editor opened"
  sleep 0.1
done
grep -q "STEP editor opened" "$out/host-transcript.txt" 2>/dev/null || fail "the editor did not open within a minute"
jackd=$(cat "$out/state/jackd.pid" 2>/dev/null)
emulator=$(cat "$out/state/emulator.pid" 2>/dev/null)
[ -n "$jackd" ] && [ -n "$emulator" ] || fail "no server or emulator of the session's own"

start=$(date +%s%N)
kill -INT -- "-$session"
wait "$session"
status=$?
ms=$((($(date +%s%N) - start) / 1000000))
echo "interrupt test: the session ended with status $status, $ms ms after Ctrl-C"
[ "$status" -eq 130 ] || fail "exit status $status, not 130"
grep -q "session: interrupted" "$out.log" || fail "the session did not say it was interrupted"
left=$(pgrep -g "$session")
[ -z "$left" ] || fail "processes left in the session's group: $left"
running "$jackd" && fail "the session's JACK server $jackd still runs"
running "$emulator" && fail "the emulator $emulator still runs"
[ "$ms" -lt 20000 ] || fail "the session took $ms ms to end"
echo "interrupt test: nothing left behind"

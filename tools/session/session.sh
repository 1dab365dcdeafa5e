#!/usr/bin/env bash
# The demonstration session: the plug-in in vexmir-host, editing a sound on the synthesizer emulator over JACK,
# with a librarian of banks this script makes itself. Takes the build folder and the output folder; writes a
# picture of the editor after every step, the host's transcript, the MIDI the emulator saw, and a summary.
# Starts what it needs (a JACK server of its own with the dummy driver, the emulator) and stops it again, also
# when interrupted.
set -euo pipefail
build=${1:?build folder}
out=${2:?output folder}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
case "$build" in /*) ;; *) build="$root/$build" ;; esac
case "$out" in /*) ;; *) out="$root/$out" ;; esac

host="$build/tools/vexmir-host/vexmir-host"
emulator="$build/tools/synth-emulator/synth-emulator"
bankgen="$build/tools/vexmir-bankgen/vexmir-bankgen"
bundle="$build/Vexmir Editor.vst"
for f in "$host" "$emulator" "$bankgen" "$bundle/Contents/Linux/Vexmir Editor.so"; do
  [ -e "$f" ] || { echo "session: $f is missing; build first" >&2; exit 2; }
done

state="$out/state"
# Only an earlier session's output is ever removed.
if [ -e "$out" ] && [ ! -f "$out/.vexmir-session" ] && [ -n "$(ls -A "$out" 2>/dev/null)" ]; then
  echo "session: $out exists and is not a session's output folder; choose another" >&2
  exit 2
fi
rm -rf "$out"
mkdir -p "$out/pictures" "$state"
: >"$out/.vexmir-session"
step=0
say() { step=$((step + 1)); printf '[%2d] %s\n' "$step" "$*"; }
# The musician's steps of a vexmir-host script are printed as the host reaches them: the "echo STEP" lines of its
# transcript, followed while it runs. Both processes of the follower are waited for, so that none outlives it.
follower= printer=
follow_steps() {
  exec {steps_fd}> >(sed -un 's/^echo STEP \(.*\)/       \1/p')
  printer=$!
  tail -s 0.2 -n +1 -F --pid=$$ "$1" 2>/dev/null >&"$steps_fd" &
  follower=$!
}
quit_following() {
  [ -z "$follower" ] || { kill "$follower" 2>/dev/null; wait "$follower" 2>/dev/null || true; }
  [ -z "$printer" ] || { exec {steps_fd}>&-; wait "$printer" 2>/dev/null || true; }
  follower= printer=
}
stop_following() {
  sleep 0.5  # the last lines of the transcript reach the terminal first
  quit_following
}

# A JACK server of the session's own, so that the synthesizer emulator is the only MIDI device the editor lists
# and a user's own server and devices are left alone. One that already runs under this name is used as it is.
export JACK_DEFAULT_SERVER=${VEXMIR_SESSION_SERVER:-vexmir-session}
export JACK_NO_START_SERVER=1
export VEXMIR_MIDI_API=jack
emulator_name="Vexmir Synth"
export VEXMIR_EMULATOR_SOCKET="$state/emulator.sock"

cleanup() {
  local status=$?
  trap - EXIT INT TERM
  quit_following || true
  bash "$root/tests/fixtures/emulator-stop.sh" "$state" >/dev/null 2>&1 || true
  bash "$root/tests/fixtures/jack-stop.sh" "$state" >/dev/null 2>&1 || true
  exit "$status"
}
trap cleanup EXIT
trap 'echo "session: interrupted"; exit 130' INT TERM

say "Starting a JACK server \"$JACK_DEFAULT_SERVER\" with the dummy driver"
bash "$root/tests/fixtures/jack-start.sh" "$JACK_DEFAULT_SERVER" "$state" >"$state/jack-fixture.log" 2>&1 ||
  { cat "$state/jack-fixture.log" >&2; exit 1; }

# The plug-in keeps its data folder under the output folder: the user's own is never touched.
export VEXMIR_ROOT="$out/data"
data="$VEXMIR_ROOT/Library/Audio/Presets/Pellacor/Korg Vexmir Editor"
patches="$data/Patches"
mkdir -p "$patches/Session/Leads" "$patches/Session/Pads"
# The editor keeps its debug log only when the file is there when it starts. The log also adds the build date to
# the status display, where it does not fit: the demonstration leaves it off, the session test asks for it.
if [ "${VEXMIR_SESSION_LOG:-0}" = 1 ]; then : >"$data/Vexmir Editor LOG.txt"; fi
say "Making banks of 128 programs: the synthesizer's memory and a librarian \"Patches\" tree"
"$bankgen" "$state/synth-bank.syx" "Synth " 11
"$bankgen" "$patches/Session/Leads/Lead Bank.syx" "Lead " 21
"$bankgen" "$patches/Session/Pads/Pad Bank.syx" "Pad " 31
"$bankgen" "$patches/Basses.syx" "Bass " 41

say "Starting the synthesizer emulator \"$emulator_name\" with its bank"
: >"$state/emulator.log"
"$emulator" --name "$emulator_name" --socket "$VEXMIR_EMULATOR_SOCKET" --background --pid-file "$state/emulator.pid" \
  --log-file "$state/emulator.log" --bank "$state/synth-bank.syx" ||
  { echo "session: the emulator did not start" >&2; cat "$state/emulator.log" >&2; exit 1; }

export SESSION_PICTURES="$out/pictures"
export SESSION_STATE="$state"
cd "$out"
say "Loading the plug-in bundle in vexmir-host and running the editing session, about 20 seconds (pictures in $out/pictures):"
status=0
follow_steps "$out/host-transcript.txt"
"$host" --transcript "$out/host-transcript.txt" "$bundle" "$here/session.steps" 2>"$state/host-stderr.txt" || status=$?
stop_following
if [ "$status" -ne 0 ]; then
  echo "session: vexmir-host stopped with exit code $status; the end of its transcript:" >&2
  tail -20 "$out/host-transcript.txt" >&2
  grep -v "^$" "$state/host-stderr.txt" | tail -5 >&2
  exit 1
fi

say "Recalling the saved state in a fresh plug-in instance:"
: >"$state/restore-start"
follow_steps "$out/host-transcript-restore.txt"
"$host" --transcript "$out/host-transcript-restore.txt" "$bundle" "$here/restore.steps" 2>>"$state/host-stderr.txt" ||
  status=$?
stop_following
if [ "$status" -ne 0 ]; then
  echo "session: the restoring vexmir-host stopped with exit code $status; the end of its transcript:" >&2
  tail -20 "$out/host-transcript-restore.txt" >&2
  exit 1
fi
cp "$state/emulator.log" "$out/midi-transcript.txt"

say "Summary"
bash "$here/summary.sh" "$out"

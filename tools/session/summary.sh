#!/usr/bin/env bash
# Checks what the session should have left behind and prints one line per check; exits 1 when any fails.
set -uo pipefail
out=$1
midi="$out/midi-transcript.txt"
host="$out/host-transcript.txt"
restore="$out/host-transcript-restore.txt"
data="$out/data/Library/Audio/Presets/Pellacor/Korg Vexmir Editor"
failed=0
check() {
  local what=$1
  shift
  if "$@" >/dev/null 2>&1; then echo "  ok    $what"; else echo "  FAIL  $what"; failed=1; fi
}
# The emulator's log lines after a marker text, for checks that must look at one part of the session only.
after() { awk -v m="$1" 'found { print } index($0, m) { found = 1 }' "$midi"; }

check "the editor asked for the synthesizer's global data" grep -q "in F0 42 30 58 0E F7" "$midi"
check "the editor asked for the program the synthesizer plays" grep -q "in F0 42 30 58 10 F7" "$midi"
check "the cutoff knob dragged down reached the synthesizer as control change 74" grep -q "in B0 4A 00" "$midi"
check "switching to timbre 2 sent the timbre select CC 95" grep -q "in B0 5F 7F" "$midi"
# Resonance (parameter 26) turned to 100 of 127 on the synthesizer: the plug-in takes it in and tells the host.
check "the editor followed the knob turned on the synthesizer" grep -q "index=26 opt=0.787402" "$host"
check "the randomized program reached the synthesizer" grep -q "program dump .* loaded into the edit buffer" "$midi"
check "the renamed program was stored into the synthesizer's program 1" grep -q "ok My Lead" "$host"
check "the saved bank file holds the renamed program" grep -qa "My Lead" "$data/Patches/Session/Leads/Lead Bank.syx"
check "the host's state chunk was saved" test -s "$out/state/host-state.bin"
# After the last edit-off message (the recall's first), the global dump and then the program must follow.
recall_order() {
  awk '/in F0 42 30 58 4E 00 00 F7/ { s = 1; seq = "" }
       s && /in F0 42 30 58 51 / { seq = seq "G" }
       s && /in F0 42 30 58 40 / { seq = seq "P" }
       END { exit !(substr(seq, 1, 2) == "GP") }' "$midi"
}
check "the recalled state sent edit mode off, the global data and the program, in that order" recall_order
check "the recalled instance saves the same state chunk (sound, ports and librarian)" \
  grep -q "host-state-recalled.bin\" -> equal" "$restore"
# Picture 14 must show the librarian page: saved after the restored window's librarian program panel was seen as
# picture 12 of the first instance shows it, with no input in between, and so not the sound editor of picture 13.
restored_librarian() {
  awk '/^pump until .* like ".*\/12-program-stored\.png"$/ { shown = 1; next }
       /^(click|dblclick|drag|mouse|wheel|key|type|menu|editor) / { shown = 0 }
       /^window save ".*\/14-restored-librarian\.png"/ { saved = 1; exit }
       END { exit !(saved && shown) }' "$restore" &&
    ! cmp -s "$out/pictures/13-restored-in-a-new-instance.png" "$out/pictures/14-restored-librarian.png"
}
check "the restored instance shows its librarian in picture 14" restored_librarian
check "a picture of every step" test "$(ls "$out/pictures" | wc -l)" -ge 14
echo
if [ "$failed" -eq 0 ]; then
  echo "Every check passed. Pictures: $out/pictures, MIDI: $midi, host transcripts: $host and $restore"
else
  echo "Some checks failed; see $host, $restore and $midi"
fi
exit "$failed"

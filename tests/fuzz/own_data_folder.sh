#!/usr/bin/env bash
# own_data_folder.sh BANKGEN TARGET SEEDS...: runs a fuzz target that creates the editor object over its seeds with
# a user's data folder under HOME (and no VEXMIR_ROOT) holding a bank of 256 programs, which an editor using that
# folder would split and move. The target must leave the folder exactly as it was.
set -euo pipefail
bankgen=$1
target=$2
shift 2
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
data="$home/.local/share/vexmir/Library/Audio/Presets/Pellacor/Korg Vexmir Editor"
mkdir -p "$data/Patches"
"$bankgen" "$home/a.syx" A 1 >/dev/null
"$bankgen" "$home/b.syx" B 2 >/dev/null
cat "$home/a.syx" "$home/b.syx" >"$data/Patches/Long.syx"
echo normal >"$data/Vexmir Editor UI.txt"
# Every entry with its kind, and every file's checksum.
picture() { (cd "$home/.local" && find . -printf '%p %y\n' | sort && find . -type f -exec md5sum {} + | sort); }
before=$(picture)
env -u VEXMIR_ROOT -u XDG_DATA_HOME HOME="$home" "$target" "$@"
after=$(picture)
if [ "$before" != "$after" ]; then
  echo "the user's data folder was changed:"
  diff <(echo "$before") <(echo "$after") || true
  exit 1
fi
echo "the user's data folder is as it was"

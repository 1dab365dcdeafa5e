#!/usr/bin/env bash
# Two runs of scripts/setup.sh at once on a machine that lacks packages, and a run while another package manager
# holds dpkg's lock: every run must end with status 0. apt-get and dpkg-query are stand-ins that behave as apt's do
# with its lock: held by someone else, apt-get fails at once with status 100 unless told to wait for it
# (-o DPkg::Lock::Timeout=SECONDS).
set -euo pipefail
root=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
: >"$work/installed"
cat >"$work/bin/apt-get" <<STANDIN
#!/usr/bin/env bash
wait=-n
for a in "\$@"; do case \$a in DPkg::Lock::Timeout=*) wait="-w \${a#*=}";; esac; done
exec 8>"$work/dpkg.lock"
if ! flock \$wait 8; then echo "E: Could not get lock $work/dpkg.lock" >&2; exit 100; fi
if [[ " \$* " == *" install "* ]]; then
  touch "$work/installing"
  for _ in \$(seq 600); do [ -e "$work/release" ] && break; sleep 0.05; done
  for a in "\$@"; do [[ \$a == -* || \$a == install || \$a == *=* ]] || echo "\$a" >>"$work/installed"; done
fi
STANDIN
cat >"$work/bin/dpkg-query" <<STANDIN
#!/usr/bin/env bash
grep -qx -- "\${@: -1}" "$work/installed" && echo -n "install ok installed"
STANDIN
chmod +x "$work/bin/"*
export PATH="$work/bin:$PATH" VEXMIR_SETUP_LOCK="$work/setup.lock" VEXMIR_SETUP_DAW=0

"$root/scripts/setup.sh" >"$work/first.log" 2>&1 &
first=$!
until [ -e "$work/installing" ] || ! kill -0 $first 2>/dev/null; do sleep 0.05; done
# The second run starts while the first installs, which goes on until the second has either ended or said it waits.
"$root/scripts/setup.sh" >"$work/second.log" 2>&1 &
second=$!
until grep -qs "waiting" "$work/second.log" || ! kill -0 $second 2>/dev/null; do sleep 0.05; done
touch "$work/release"
status=0
wait $second || status=$?
wait $first || { echo "the first setup failed:"; cat "$work/first.log"; exit 1; }
[ $status -eq 0 ] || { echo "the second setup, run while the first installed, failed ($status):"; cat "$work/second.log"; exit 1; }
[ "$(sort "$work/installed" | uniq -d)" = "" ] || { echo "packages installed twice"; exit 1; }

# Another package manager holds the lock for a while.
: >"$work/installed"
flock "$work/dpkg.lock" sleep 1 &
sleep 0.2
"$root/scripts/setup.sh" >"$work/third.log" 2>&1 || { echo "setup failed on a lock held by another:"; cat "$work/third.log"; exit 1; }
wait
echo "two setups at once and one behind another package manager: all ended with status 0"

#!/usr/bin/env bash
# Runs a test with a /dev/shm of its own (needs root), so that the JACK server the test starts and stops shares
# nothing with the server of the other tests: every JACK server deletes the user's metadata database in
# /dev/shm when it stops, and a client of another server opening it at that moment dies. The test learns that it
# runs apart from VEXMIR_FAULTS_OWN_SHM and skips its case otherwise. A case that fails runs once more, in a
# /dev/shm of its own again (tests/fixtures/retry-e2e.sh).
set -euo pipefail
if [ "${1:-}" != --attempt ]; then
  exec "$(dirname "$0")/../fixtures/retry-e2e.sh" "$0" --attempt "$@"
fi
shift
if [ "$(id -u)" -eq 0 ] && command -v unshare >/dev/null && unshare --mount --propagation private true 2>/dev/null; then
  exec unshare --mount --propagation private bash -c \
    'mount -t tmpfs -o mode=1777 vexmir-faults-shm /dev/shm && VEXMIR_FAULTS_OWN_SHM=1 exec "$@"' own-shm "$@"
fi
exec "$@"

#!/usr/bin/env bash
# Runs a command (usually ctest) with a /dev/shm of its own, so that its JACK server and clients share nothing
# with other JACK users on the machine (another build tree's test run, a desktop session).
#
# JACK keeps machine-wide state there that is shared by every server and client of one user, whatever the server
# name: the metadata database (jack_db-<uid>, which every client opens and every server deletes when it exits,
# so that a client opening it at that moment dies of a bus error), the registry of shared memory (eight server
# slots; segments named by slot number), and the clients' notification sockets, which are named by client name
# alone. Test runs of several trees, or a test run beside a busy JACK setup, then break each other's servers and
# clients now and then.
#
# Needs root (or the capability to make mount namespaces); without it the command runs with the machine's
# /dev/shm, which is fine when nothing else uses JACK. VEXMIR_SHARED_SHM=1 asks for the machine's /dev/shm.
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: $0 command [argument...]" >&2; exit 2; }

if [ "${VEXMIR_SHARED_SHM:-0}" != 1 ] && [ -z "${VEXMIR_IN_PRIVATE_SHM:-}" ] && [ "$(id -u)" -eq 0 ] &&
  command -v unshare >/dev/null && unshare --mount --propagation private true 2>/dev/null; then
  exec unshare --mount --propagation private env VEXMIR_IN_PRIVATE_SHM=1 bash -c '
    if mount -t tmpfs -o mode=1777 vexmir-shm /dev/shm; then
      # Every JACK client creates the metadata database when it is missing; several creating it at once (the test
      # server starting while tests probe for JACK) can leave it broken. One client creates it now, alone.
      JACK_NO_START_SERVER=1 JACK_DEFAULT_SERVER=vexmir-none jack_lsp >/dev/null 2>&1 || true
    else
      echo "private-shm: cannot mount a /dev/shm of our own; the machine'"'"'s is used" >&2
    fi
    exec "$@"' private-shm "$@"
fi
exec "$@"

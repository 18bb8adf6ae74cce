#!/usr/bin/env bash
# Sets up the machine, builds the board, makes the sample system in board/
# and runs it at this terminal: the server in the background, one caller
# line in local mode on this console.  The server stops when the call ends.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

# A private IPC namespace: this board's segment never meets another server.
if [ -z "${KV_IN_NAMESPACE:-}" ]; then
  if [ "$(id -u)" -eq 0 ]; then
    exec env KV_IN_NAMESPACE=1 unshare --ipc "$0" "$@"
  else
    exec env KV_IN_NAMESPACE=1 unshare --ipc --map-root-user "$0" "$@"
  fi
fi


bash scripts/setup.sh
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" >/dev/null

board=${KV_BOARD:-$top/board}
tty=$(tty 2>/dev/null) || tty=/dev/console  # tty prints "not a tty" when it fails
tty=${tty#/dev/}
rm -rf "$board"
build/testbin/kvsample board sample "$board" --tty "$tty" --bin "$top/build/bin"
echo "Sample board built in $board (line 0 is $tty)."

if [ ! -x build/bin/kvhubd ] || [ ! -x build/bin/kivo ]; then
  echo "The server or the caller program is not built yet; nothing to run."
  exit 0
fi

cd "$board"
# The server forks into the background and names its process; it is
# stopped (SIGTERM removes its segment and pipe) as soon as the call ends.
started=$("$top/build/bin/kvhubd" -q)
echo "$started"
server=${started##*PID = }
trap 'kill -TERM "$server" 2>/dev/null || true' EXIT
"$top/build/bin/kivo" -t || true

#!/usr/bin/env bash
# Runs the board at this terminal as one caller line.
#
#   scripts/run-board.sh [--fresh] [--built DIR]
#
# The first run sets up the machine, builds the programs (not the tests),
# builds the sample system in board/ when there is none, and starts the
# board's server when none runs.  The terminal becomes a line through the
# entry that network callers take (kvline): the lowest line
# nobody is on, kivo as a line, so ANSI and colour are as the caller chose.
# A run started in another terminal joins as the next line.  The server a
# run started stops when a run ends and no caller is left on any line of
# the board; one the sysop started (scripts/board-server.sh) keeps running.
# Everything callers write stays in board/ for the next run.
#
#   --fresh      remove board/ and build the sample system again
#   --built DIR  take the programs built in DIR (DIR/bin) as they are: no
#                set-up, no build
#   KV_BOARD     the board's directory instead of board/
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

fresh=0
built=""
while [ $# -gt 0 ]; do
  case "$1" in
    --fresh) fresh=1 ;;
    --built) built=$(realpath "${2:?--built needs a directory}"); shift ;;
    *) echo "usage: $0 [--fresh] [--built DIR]" >&2; exit 2 ;;
  esac
  shift
done

given=${KV_BOARD:-$top/board}
board=$(realpath -m "$given")
bin=${built:-$top/build}/bin
kvsample=$bin/kvsample

if [ -z "$built" ]; then
  echo "Setting up: scripts/setup.sh installs the packages the build needs, when any is missing."
  bash scripts/setup.sh
  echo "Building the programs in build/ (the first build takes some minutes)."
  cmake -S . -B build >/dev/null
  cmake --build build -j"$(nproc)" --target board-programs
fi
. scripts/board-common.sh
# From here on the board's work: as the board's owner, when root runs this
# on a board of another user's, on a terminal of the owner's that root's
# side relays (this terminal stays root's).
again=(--built "${built:-$top/build}")
[ "$fresh" -eq 0 ] || again+=(--fresh)
as_board_owner --terminal "$given" "$top/scripts/run-board.sh" "${again[@]}"
if [ -e "$board/kvconfig.bbs" ]; then
  board_init "$board"
  server=$(live_server)
  if [ "$fresh" -eq 1 ] && [ -n "$server" ]; then
    echo "The board in $board runs (server PID $server); --fresh only when nobody is on it." >&2
    exit 1
  fi
fi
if [ "$fresh" -eq 1 ] && [ -e "$board" ]; then
  echo "Removing $board and everything callers wrote there (users, messages, logs)."
  # The board's owner may not own the directory that holds it: then the
  # directory stays, empty.
  rm -rf "$board" 2>/dev/null || find "$board" -mindepth 1 -delete
fi
if [ ! -e "$board" ] || [ -z "$(ls -A "$board")" ]; then
  "$kvsample" board sample "$board" --bin "$bin"
  echo "Sample board built in $board."
fi
board_init "$board"

# The server: the board's own when it runs, else one this run starts and
# marks as the run command's.
exec 8>>"$state/server.lock"
flock 8
server=$(live_server)
if [ -n "$server" ]; then
  echo "Joining the board in $board (server PID $server)."
else
  start_server
  touch "$state/server.run"
fi
flock -u 8

# The server the run command started goes with the last caller: checked
# under both locks, so a call that is just taking a line keeps it.
finish() {
  flock 8
  if [ -e "$state/server.run" ] && [ -n "$(live_server)" ]; then
    exec 9>>"$state/lock"
    flock 9
    if ! lines_in_use; then
      stop_server
      rm -f "$state/server.run"
    fi
    flock -u 9
  fi
  flock -u 8
}
trap finish EXIT
trap ':' HUP INT QUIT TERM

"$bin/kvline" "$board" 8>&- || true

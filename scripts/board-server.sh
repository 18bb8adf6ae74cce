#!/usr/bin/env bash
# Starts or stops the board's server on its own, whoever is on line.
#
#   scripts/board-server.sh start [--bin DIR] BOARD [kvhubd options]
#   scripts/board-server.sh stop  [--bin DIR] BOARD
#
# start: kvhubd runs in BOARD (it reads BOARD/kvconfig.bbs) in the IPC
#        namespace of the command, where the callers' entry program must
#        find it; its PID goes to BOARD/state/server.pid.  Nothing is
#        started when the board's server runs already.
# stop:  SIGTERM to that server, which removes its segment and its pipe,
#        callers or not; calls going on keep what they have and end as
#        usual, new calls are refused until it runs again.
#
#   --bin DIR  the programs (default: bin/ of an installed tree, else
#              build/bin of this one)
#
# Run it as the board's user, as a member of the board's group or as root.
# Root's run on a board of another user's starts again as that user in a
# session of its own, whose messages reach root's terminal through a pipe;
# the server never holds a terminal.  Never through runuser or su without
# a new pseudo-terminal: the script would then run as the board's user on
# root's own terminal.
set -euo pipefail
here=$(dirname "$(realpath "$0")")
. "$here/board-common.sh"
bin=$(default_bin)
usage() {
  echo "usage: $0 start [--bin DIR] BOARD [kvhubd options] | stop [--bin DIR] BOARD" >&2
  exit 2
}
what=${1:-}
[ $# -ge 2 ] || usage
shift
if [ "$1" = --bin ]; then
  bin=${2:?--bin needs a directory}
  shift 2
fi
[ $# -ge 1 ] || usage
as_board_owner "$1" "$here/board-server.sh" "$what" --bin "$bin" "$@"
board_init "$1"
shift

exec 8>>"$state/server.lock"
flock 8
case "$what" in
  start)
    server=$(live_server)
    if [ -n "$server" ]; then
      echo "The server of $board runs already (PID $server)."
      exit 0
    fi
    start_server "$@"
    rm -f "$state/server.run"
    ;;
  stop)
    stop_server
    rm -f "$state/server.run"
    ;;
  *) usage ;;
esac

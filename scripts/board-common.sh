# What the board's scripts share: where a board keeps its server, and who
# does the board's work.  Sourced, not run.  The lines are kvline's: it
# takes and frees them and says whether a caller is on one; no script here
# reads a record of the board.
#
# A board's scripts keep their state in BOARD/state: "lock" (taken while a
# line is chosen or freed), "line.N" (the entry program holding line N:
# its process id and start time), "server.pid" (the server started by
# scripts/board-server.sh), "server.lock" and "server.run" (that server was
# started by the run command, which stops it again).

# The programs: bin/ of an installed tree, else build/bin of this one.
default_bin() {
  if [ -x "$here/../bin/kvhubd" ]; then
    echo "$here/../bin"
  else
    echo "$here/../build/bin"
  fi
}

# as_board_owner [--terminal] DIR SCRIPT ARGS...: what root runs for a
# board must not write through a name that another user can put there, nor
# hand root's terminal to a process of that user (which the user's other
# processes may trace and take descriptors from).  On a board that another
# user owns, SCRIPT starts again as that user (with the user's own groups)
# with ARGS, in a session of its own that root's kvline relays: its output
# and errors as text through pipes, its input /dev/null; with --terminal on
# a pseudo-terminal of the user's own, relayed to and from root's.  Where
# root must not work on the board at all, this refuses.  kvline decides
# which, for every program of the board (needs bin).  Nothing for other
# users.
as_board_owner() {
  local how=--as-owner
  if [ "$1" = --terminal ]; then
    how=--as-owner-on-pty
    shift
  fi
  local dir=$1 script=$2 who
  [ "$(id -u)" -eq 0 ] || return 0
  who=$("$bin/kvline" --owner "$dir") || exit 1
  shift 2
  [ -n "$who" ] || return 0
  exec "$bin/kvline" "$how" "$dir" "$BASH" "$script" "$@"
}

# board_init BOARD: sets board and state for the board in BOARD; the state
# directory is made open to the board's group, so the sysop and the
# callers' account share it.
board_init() {
  board=$(realpath -m "$1")
  if [ ! -f "$board/kvconfig.bbs" ]; then
    echo "$board holds no board (no kvconfig.bbs)." >&2
    exit 1
  fi
  umask 007
  state=$board/state
  if [ ! -d "$state" ]; then
    mkdir -p -m 2770 "$state"
    chgrp "$(stat -c %g "$board")" "$state" 2>/dev/null || true
  fi
}

# board_command_line [--bin DIR] BOARD: the command line of a script that
# serves one board; sets bin (the programs, by default default_bin) and
# then everything board_init sets.
board_command_line() {
  bin=$(default_bin)
  if [ "${1:-}" = --bin ]; then
    bin=${2:?--bin needs a directory}
    shift 2
  fi
  if [ $# -ne 1 ]; then
    echo "usage: $0 [--bin DIR] BOARD" >&2
    exit 2
  fi
  board_init "$1"
}

# True while a caller is on any line of the board.  Under the line lock.
# kvline answers 0 (in use) or 1 (none); anything else (it could not
# tell) counts as in use.
lines_in_use() {
  local status=0
  "$bin/kvline" --in-use "$board" || status=$?
  [ "$status" -ne 1 ]
}

# The board's server (started by scripts/board-server.sh) while it runs.
# A killed one that nobody has reaped yet (where no init collects the
# dead) still shows its PID and name: as a zombie it runs no more.
live_server() {
  local pid stat
  pid=$(cat "$state/server.pid" 2>/dev/null) || return 0
  [ -n "$pid" ] || return 0
  stat=$(cat "/proc/$pid/stat" 2>/dev/null) || return 0
  case "$stat" in
    "$pid (kvhubd) "[ZX]*) ;;
    "$pid (kvhubd) "*) echo "$pid" ;;
  esac
}

# start_server [kvhubd options]: kvhubd in the board's directory; it forks
# into the background and names the process that serves.  Under
# server.lock.
start_server() {
  local started pid
  started=$(cd "$board" && "$bin/kvhubd" "$@" 8>&- 9>&-)
  echo "$started"
  pid=${started##*PID = }
  case "$pid" in
    '' | *[!0-9]*) echo "The server gave no PID (run it without -Q)." >&2; return 1 ;;
  esac
  echo "$pid" > "$state/server.pid"
}

# stop_server: SIGTERM to the board's server; waits until it is gone (or a
# zombie nobody has reaped yet).
stop_server() {
  local server letter
  server=$(live_server)
  if [ -z "$server" ]; then
    echo "The server of $board is not running."
    return 0
  fi
  kill -TERM "$server"
  for _ in $(seq 100); do
    letter=$(awk '{ print $3 }' "/proc/$server/stat" 2>/dev/null) || break
    [ "$letter" != Z ] || break
    sleep 0.1
  done
  rm -f "$state/server.pid"
  echo "The server is stopped."
}

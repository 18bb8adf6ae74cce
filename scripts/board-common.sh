# What the board's scripts share: where a board keeps its lines and its
# server, and who is on which line.  Sourced, not run.
#
# A board's scripts keep their state in BOARD/state: "lock" (taken while a
# line is chosen or freed), "line.N" (the entry program holding line N:
# its process id and start time), "server.pid" (the server started by
# scripts/board-server.sh), "server.lock" and "server.run" (that server was
# started by the run command, which stops it again).

# as_board_owner DIR SCRIPT ARGS...: what root runs for a board must not
# write through a name that another user can put there.  On a board that
# another user owns, SCRIPT starts again as that user (with the user's own
# groups) with ARGS.  Root keeps only a board of its own that nobody else
# can write to (its directory and its state; for a board still to be made,
# the directory it goes in), named by no link of another user's; else this
# refuses.  Nothing for other users.
as_board_owner() {
  local dir script=$2 owner account d
  dir=$(realpath -m "$1")
  [ "$(id -u)" -eq 0 ] || return 0
  if [ -L "$1" ] && [ "$(stat -c %u "$1")" -ne 0 ]; then
    echo "$1 is a link of another user's: name the board's own directory." >&2
    exit 1
  fi
  shift 2
  if [ -d "$dir" ]; then
    owner=$(stat -c %u "$dir")
    if [ "$owner" -ne 0 ]; then
      if ! account=$(getent passwd "$owner"); then
        echo "$dir belongs to user $owner, who has no account: run this as the board's owner." >&2
        exit 1
      fi
      exec setpriv --reuid="$owner" --regid="$(echo "$account" | cut -d: -f4)" --init-groups \
        -- "$BASH" "$script" "$@"
    fi
    set -- "$dir" "$dir/state"
  else
    set -- "$(dirname "$dir")"
  fi
  for d in "$@"; do
    if [ -n "$(find "$d" -maxdepth 0 \( -perm -o+w -o \( -perm -g+w ! -gid 0 \) \) 2>/dev/null)" ]; then
      echo "$d is open to other users' writes: run this as the board's owner, not as root." >&2
      exit 1
    fi
  done
}

# board_init BOARD: sets board, state, data, lines (bbsline.ctl) and online
# (online.ctl) for the board in BOARD; the state directory is made open to
# the board's group, so the sysop and the callers' account share it.
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
  # DataDir: the text of 80 bytes at byte 646 of the configuration record,
  # ended by a NUL.
  data=$(dd if="$board/kvconfig.bbs" bs=1 skip=646 count=80 status=none | tr '\0' '\n' | head -n1)
  lines=$data/bbsline.ctl
  online=$data/online.ctl
}

# board_command_line [--bin DIR] BOARD: the command line of a script that
# serves one board; sets bin (the programs, by default build/bin of this
# tree) and then everything board_init sets.
board_command_line() {
  bin=$here/../build/bin
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

# started_at PID: the start time of a process (clock ticks since boot), or
# nothing when it is gone; a PID with its start time names one process even
# once the PID is given to another.
started_at() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
  set -- ${stat##*) }
  echo "${20}"
}

# A claim file holds "PID START"; true while that process runs.
claim_live() {
  local pid start
  read -r pid start 2>/dev/null < "$1" || return 1
  [ -n "$pid" ] && [ "$(started_at "$pid")" = "$start" ]
}

# online_pid N: the process id in line N's entry of online.ctl (-1 free).
online_pid() {
  local pid
  pid=$(od -An -t d4 -j $(($1 * 24)) -N 4 "$online" 2>/dev/null | tr -d ' ')
  echo "${pid:--1}"
}

kivo_live() { [ "$1" -gt 0 ] && [ "$(cat "/proc/$1/comm" 2>/dev/null)" = kivo ]; }

# line_busy N: a caller is on line N (its entry program holds it, or a kivo
# started another way runs there).
line_busy() {
  claim_live "$state/line.$1" || kivo_live "$(online_pid "$1")"
}

# The number of entries in bbsline.ctl (comment lines do not count).
line_count() { grep -cv '^#' "$lines" 2>/dev/null || true; }

# True while a caller is on any line of the board.  Under the line lock.
lines_in_use() {
  local n i
  n=$(line_count)
  for ((i = 0; i < n && i < 256; i++)); do
    line_busy "$i" && return 0
  done
  return 1
}

# The board's server (started by scripts/board-server.sh) while it runs.
live_server() {
  local pid
  pid=$(cat "$state/server.pid" 2>/dev/null) || return 0
  if [ -n "$pid" ] && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = kvhubd ]; then
    echo "$pid"
  fi
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

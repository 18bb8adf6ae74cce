#!/usr/bin/env bash
# Runs the board at this terminal as one caller line in local mode.
#
#   scripts/run-board.sh [--fresh] [--built DIR]
#
# The first run sets up the machine, builds the programs, builds the sample
# system in board/ when there is none, and starts the server in a private
# IPC namespace.  A run started in another terminal while one runs joins
# that board as the next line: the same server in the same namespace, its
# terminal added to "bbsline.ctl".  The server stops when the last of these
# runs ends.  Everything callers write stays in board/ for the next run.
#
#   --fresh      remove board/ and build the sample system again
#   --built DIR  take the programs built in DIR (DIR/bin, DIR/testbin) as
#                they are: no set-up, no build
#   KV_BOARD     the board's directory instead of board/
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

args=("$@")
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

board=$(realpath -m "${KV_BOARD:-$top/board}")
state=$board/.run-board        # server.pid, calls/<pid of each run>, lock
bin=${built:-$top/build}/bin
kvsample=${built:-$top/build}/testbin/kvsample
tty=$(tty 2>/dev/null) || tty=/dev/console  # tty prints "not a tty" when it fails
tty=${tty#/dev/}

# The server of a run still going on, or nothing.
live_server() {
  local pid
  pid=$(cat "$state/server.pid" 2>/dev/null) || return 0
  if [ -n "$pid" ] && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = kvhubd ]; then
    echo "$pid"
  fi
}

if [ -z "${KV_RUN_BOARD:-}" ]; then
  if [ -z "$built" ]; then
    bash scripts/setup.sh
    cmake -S . -B build >/dev/null
    cmake --build build -j"$(nproc)" >/dev/null
  fi
  server=$(live_server)
  if [ "$fresh" -eq 1 ] && [ -n "$server" ]; then
    echo "The board in $board runs (server PID $server); --fresh only when nobody is on it." >&2
    exit 1
  fi
  if [ "$fresh" -eq 1 ] && [ -e "$board" ]; then
    echo "Removing $board and everything callers wrote there (users, messages, logs)."
    rm -rf "$board"
  fi
  if [ ! -e "$board" ]; then
    "$kvsample" board sample "$board" --tty "$tty" --bin "$bin"
    echo "Sample board built in $board (line 0 is $tty)."
  fi
  if [ ! -x "$bin/kvhubd" ] || [ ! -x "$bin/kivo" ]; then
    echo "The server or the caller program is not built yet; nothing to run."
    exit 0
  fi
  # A board that runs already is joined in its server's IPC namespace; any
  # other gets a namespace of its own, so its segment never meets another
  # server.
  if [ -n "$server" ]; then
    echo "Joining the board in $board (server PID $server)."
    if [ "$(id -u)" -eq 0 ]; then
      exec env KV_RUN_BOARD=join nsenter --ipc --target "$server" "$0" "${args[@]}"
    else
      exec env KV_RUN_BOARD=join nsenter --user --ipc --target "$server" "$0" "${args[@]}"
    fi
  fi
  if [ "$(id -u)" -eq 0 ]; then
    exec env KV_RUN_BOARD=start unshare --ipc "$0" "${args[@]}"
  else
    exec env KV_RUN_BOARD=start unshare --ipc --map-root-user "$0" "${args[@]}"
  fi
fi

mkdir -p "$state/calls"
exec 9>"$state/lock"

# The runs share the bookkeeping: one at a time.
flock 9
if [ "$KV_RUN_BOARD" = start ]; then
  cd "$board"
  # The server forks into the background and names its process.
  started=$("$bin/kvhubd" -q)
  echo "$started"
  echo "${started##*PID = }" > "$state/server.pid"
  cd "$top"
fi
server=$(live_server)
touch "$state/calls/$$"
# This terminal's line: its entry in "bbsline.ctl", added at the end.
lines=$board/system/bbsline.ctl
if ! cut -d, -f1 "$lines" | grep -qixF -- "$tty"; then
  cp "$lines" "$lines.new"
  echo "$tty,0,0" >> "$lines.new"
  mv "$lines.new" "$lines"
fi
line=$(grep -v '^#' "$lines" | cut -d, -f1 | grep -nixF -- "$tty" | head -n1 | cut -d: -f1)
echo "This terminal ($tty) is line $((line - 1))."
flock -u 9

# The last run to end stops the server (SIGTERM removes its segment and
# pipe); runs that died without a word are not waited for.
finish() {
  flock 9
  rm -f "$state/calls/$$"
  local others=0 f
  for f in "$state"/calls/*; do
    [ -e "$f" ] || continue
    if kill -0 "${f##*/}" 2>/dev/null; then others=1; else rm -f "$f"; fi
  done
  if [ "$others" -eq 0 ] && [ -n "$server" ]; then
    kill -TERM "$server" 2>/dev/null || true
    rm -f "$state/server.pid"
    echo "The server is stopped."
  fi
  flock -u 9
}
trap finish EXIT

cd "$board"
"$bin/kivo" -t || true

#!/usr/bin/env bash
# The sysop's console on this terminal.
#
#   scripts/sysop.sh [--bin DIR] BOARD
#
# While it runs, SysopConsole names this terminal (written into
# BOARD/kvconfig.bbs and reloaded into the running server), and the
# terminal is open to the board's group, so pages ring here.  Keys:
#   a  answer: a sysop chat with the line that pages (or the line typed);
#      both sides type, Ctrl-C ends the chat
#   m  switch the monitor of a line on or off (the copy goes to MonitorPath)
#   w  who is on which line
#   q  quit: SysopConsole and the terminal as they were
#
# A chat is the line's kivo at work: SIGPIPE starts it, SIGUSR1 ends it,
# and while it runs kivo reads the sysop's keys from this terminal, which
# this script then holds without echo and without reading it.
#
#   --bin DIR  the programs (default: build/bin of this tree)
set -euo pipefail
here=$(dirname "$(realpath "$0")")
. "$here/board-common.sh"
board_command_line "$@"
kvsample=$bin/../testbin/kvsample
config=$board/kvconfig.bbs

if ! tty=$(tty 2>/dev/null); then
  echo "The sysop's console needs a terminal." >&2
  exit 1
fi
dev=${tty#/dev/}

# A text field of the configuration record: its offset and width.
config_text() { dd if="$config" bs=1 skip="$1" count="$2" status=none | tr '\0' '\n' | head -n1; }

# The lines' files and who is on them, as this console reads them (DataDir
# is the text of 80 bytes at byte 646 of the configuration record).
data=$(config_text 646 80)
lines=$data/bbsline.ctl
online=$data/online.ctl
# online_pid N: the process id in line N's entry of online.ctl (-1 free).
online_pid() {
  local pid
  pid=$(od -An -t d4 -j $(($1 * 24)) -N 4 "$online" 2>/dev/null | tr -d ' ')
  echo "${pid:--1}"
}
kivo_live() { [ "$1" -gt 0 ] && [ "$(cat "/proc/$1/comm" 2>/dev/null)" = kivo ]; }
# The number of entries in bbsline.ctl (comment lines do not count).
line_count() { grep -cv '^#' "$lines" 2>/dev/null || true; }

# SysopConsole := $1; the file keeps its owner and mode, and the server
# (when one runs) reloads it at once.
set_console() {
  local owner mode
  owner=$(stat -c %u:%g "$config")
  mode=$(stat -c %a "$config")
  "$kvsample" set "$config" "SysopConsole=$1"
  chown "$owner" "$config" 2>/dev/null || true
  chmod "$mode" "$config"
  (cd "$board" && "$bin/kvrefresh" >/dev/null 2>&1) || true
}

old_console=$(config_text 572 74)
old_tty=$(stat -c '%a %g' "$tty")
modes=$(stty -g)
restore() {
  stty "$modes" 2>/dev/null || true
  if [ "$(config_text 572 74)" = "$dev" ]; then set_console "$old_console"; fi
  chmod "${old_tty% *}" "$tty" 2>/dev/null || true
  chgrp "${old_tty#* }" "$tty" 2>/dev/null || true
}
trap restore EXIT
trap 'exit 130' INT TERM HUP

chgrp "$(stat -c %g "$board")" "$tty" 2>/dev/null || true
chmod g+rw "$tty"
set_console "$dev"

# flags N: the status bits of line N's entry in online.ctl.
flags() { od -An -t u1 -j $(($1 * 24 + 4)) -N 1 "$online" 2>/dev/null | tr -d ' '; }

# The kivo of line $1, or a word why there is none.
line_kivo() {
  local pid
  case "$1" in '' | *[!0-9]*) echo "No line $1." >&2; return 1 ;; esac
  pid=$(online_pid "$1")
  if ! kivo_live "$pid"; then
    echo "Nobody is on line $1." >&2
    return 1
  fi
  echo "$pid"
}

who() {
  local n i pid f devs
  n=$(line_count)
  mapfile -t devs < <(grep -v '^#' "$lines" | cut -d, -f1)
  for ((i = 0; i < n && i < 256; i++)); do
    pid=$(online_pid "$i")
    kivo_live "$pid" || continue
    f=$(flags "$i")
    printf 'Line %d (%s), PID %d%s%s\n' "$i" "${devs[$i]}" "$pid" \
      "$([ $((f & 1)) -eq 0 ] || echo ', paging')" "$([ $((f & 2)) -eq 0 ] || echo ', monitored')"
  done
}

answer() {
  local line="" n i pid ended=0
  n=$(line_count)
  for ((i = 0; i < n && i < 256; i++)); do
    if kivo_live "$(online_pid "$i")" && [ $(($(flags "$i") & 1)) -ne 0 ]; then
      line=$i
      break
    fi
  done
  [ -n "$line" ] || read -rp "Chat with line: " line
  pid=$(line_kivo "$line") || return 0
  echo "Chat with line $line; Ctrl-C ends it."
  # kivo reads this terminal now; Ctrl-C still reaches this script.
  stty raw -echo isig noflsh quit undef susp undef
  trap 'ended=1' INT
  kill -PIPE "$pid"
  while [ "$ended" -eq 0 ] && kivo_live "$pid"; do sleep 0.2 || true; done
  trap 'exit 130' INT
  kill -USR1 "$pid" 2>/dev/null || true
  stty "$modes"
  echo
  echo "Chat with line $line ended."
}

monitor() {
  local line pid
  read -rp "Monitor line: " line
  pid=$(line_kivo "$line") || return 0
  kill -USR1 "$pid"
  echo "Monitor of line $line switched; the copy goes to $(config_text 290 75)."
}

echo "Sysop console of $board on $dev: pages ring here."
echo "Keys: a answer a page (chat), m monitor a line, w who is on, q quit."
while :; do
  key=q
  read -rsn1 key || true
  case "$key" in
    a) answer ;;
    m) monitor ;;
    w) who ;;
    q) break ;;
  esac
done

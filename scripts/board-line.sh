#!/usr/bin/env bash
# One call of the board on this terminal: the way in of every line.
#
#   scripts/board-line.sh [--bin DIR] BOARD
#
# sshd runs it for each call (ForceCommand), the run command for its own
# terminal.  Under the board's line lock it takes the lowest-numbered entry
# of bbsline.ctl that nobody is on and writes this terminal's name into it
# (an entry is added at the end only when every entry is taken), so the
# lines callers get are the first ones, which chat between lines reaches.
# Then kivo runs there as a line (not in local mode: ANSI and colour as
# the caller chose), with the caller's locale as it came (LANG, LC_*), in
# the IPC namespace this script runs in, which must be the server's.  When
# the call ends, however it ends (log-off, hang-up, kivo or this script
# killed), the line is free again: its entry program is gone, and an entry
# in online.ctl that a killed kivo left is cleared.
#
#   --bin DIR  the programs (default: build/bin of this tree)
set -euo pipefail
here=$(dirname "$(realpath "$0")")
. "$here/board-common.sh"
[ $# -eq 0 ] || as_board_owner "${@: -1}" "$here/board-line.sh" "$@"
board_command_line "$@"

if ! tty=$(tty 2>/dev/null); then
  echo "The board needs a terminal: call it with ssh -t." >&2
  exit 1
fi
tty=${tty#/dev/}
me="$$ $(started_at $$)"

# Hang-up, Ctrl-C and a kill reach kivo too; this script waits for it to
# end and then frees the line.
trap ':' HUP INT QUIT TERM

exec 9>>"$state/lock"
flock 9
count=$(line_count)
line=-1
for ((i = 0; i < count && i < 256; i++)); do
  if ! line_busy "$i"; then
    line=$i
    break
  fi
done
if [ "$line" -lt 0 ] && [ "$count" -ge 256 ]; then
  echo "Every line of the board is taken; call again later." >&2
  exit 1
fi
[ "$line" -ge 0 ] || line=$count
echo "$me" > "$state/line.$line"
freed=0
free_line() {
  [ "$freed" -eq 0 ] || return 0
  freed=1
  flock 9
  # A kivo that was killed left its entry in use: cleared, so that the
  # line reads as free to every other line at once.
  local pid
  pid=$(online_pid "$line")
  if [ "$pid" != -1 ] && ! kivo_live "$pid"; then
    printf '\377\377\377\377\0\0\0\0\377\377\377\377\0\0\0\0\0\0\0\0\0\0\0\0' |
      dd of="$online" bs=24 seek="$line" conv=notrunc status=none 2>/dev/null || true
  fi
  rm -f "$state/line.$line"
  flock -u 9
}
trap free_line EXIT

# The terminal goes into the line's entry: the whole file is written anew
# and renamed into place, so kivo starting on another line reads the old
# file or the new one, never half of one.
tmp=$(mktemp "$lines.XXXXXX")
awk -v n="$line" -v dev="$tty" '
  /^#/ { print; next }
  { if (i++ == n) { c = index($0, ","); print dev (c ? substr($0, c) : ",0,0"); next } print }
  END { if (i <= n) print dev ",0,0" }
' "$lines" > "$tmp"
chmod --reference="$lines" "$tmp"
chgrp --reference="$lines" "$tmp" 2>/dev/null || true
sync "$tmp"
mv "$tmp" "$lines"
flock -u 9

echo "This terminal ($tty) is line $line."
cd "$board"
status=0
"$bin/kivo" 9>&- || status=$?
free_line
exit "$status"

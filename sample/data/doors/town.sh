#!/bin/sh
# The town crier, the sample board's door.  It reads the caller's name and
# location from the drop file, asks where the caller calls from today and
# writes the answer into the drop file's user record; the board takes it
# back into the caller's record when the door ends.
#
#   town.sh LINE FIRSTNAME
#
# The menu line passes "*N *F*Z": the line number (which names the drop
# file), the first name, and the terminal in its own modes, so that the
# answer is typed and echoed as usual.

drop="$(dirname "$0")/../exitinfo$(printf %03d "$1")"
[ -f "$drop" ] || drop="$(dirname "$0")/../exitinfo"
if [ ! -f "$drop" ]; then
    echo "The crier cannot find the drop file."
    exit 1
fi

# A text field of the drop file: offset and width.
field() { dd if="$drop" bs=1 skip="$1" count="$2" 2>/dev/null | tr -d '\000'; }

name=$(field 308 36)
town=$(field 344 26)
echo "Hear ye, $2!  $name of ${town:-nowhere} is in the town square."
printf 'Where do you call from today (Enter keeps it)? '
read -r answer || exit 0
answer=$(printf '%s' "$answer" | tr -cd '[:print:]' | cut -c1-25)
[ -n "$answer" ] || exit 0

# The location: 26 bytes at 308 + 36, ended by a NUL.
dd if=/dev/zero of="$drop" bs=1 seek=344 count=26 conv=notrunc 2>/dev/null
printf '%s' "$answer" | dd of="$drop" bs=1 seek=344 conv=notrunc 2>/dev/null
echo "The crier calls out: $name now hails from $answer!"

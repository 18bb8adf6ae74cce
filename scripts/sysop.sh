#!/bin/sh
# The sysop's console (kvconsole) of this tree for the board in BOARD:  scripts/sysop.sh BOARD
exec "$(dirname "$(realpath "$0")")/../build/bin/kvconsole" "$@"

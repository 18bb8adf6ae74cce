#!/usr/bin/env bash
# The sysop's console, kvconsole, for the board in BOARD:  scripts/sysop.sh BOARD
# Run by root on a board of another user's, kvconsole becomes that user
# inside its own process, out of reach of the user's other processes, and
# so keeps root's terminal to itself.
here=$(dirname "$(realpath "$0")") && . "$here/board-common.sh" && exec "$(default_bin)/kvconsole" "$@"

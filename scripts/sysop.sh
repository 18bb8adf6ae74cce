#!/usr/bin/env bash
# The sysop's console, kvconsole, for the board in BOARD:  scripts/sysop.sh BOARD
here=$(dirname "$(realpath "$0")") && . "$here/board-common.sh" && exec "$(default_bin)/kvconsole" "$@"

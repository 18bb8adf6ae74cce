// The curses header with its wide-character functions: kvroster draws the
// few code-page-437 glyphs it needs as their Unicode characters.
#pragma once

#ifndef NCURSES_WIDECHAR
#define NCURSES_WIDECHAR 1
#endif
#include <curses.h>

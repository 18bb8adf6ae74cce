// Who does the board's work when root runs a program of it.  The board's
// directories belong to its user, who can put a link wherever the board
// keeps a file: root working there would write wherever the link points.
// So on another user's board root becomes that user first, and on its own
// board works only where nobody else can write.
#pragma once

#include <sys/types.h>

#include <string>

namespace kv {

// What root may do with the board in dir (given as the caller named it):
// nothing itself on a board that another user owns, whose account is to do
// the work (uid and gid filled, true); on its own board, only where nobody
// else can write (the board, its state, for a board still to be made the
// directory it goes in) and only when the name is no link of another
// user's (uid 0, true).  false with why otherwise.
bool BoardOwnerFor(const std::string& given, uid_t& uid, gid_t& gid, std::string& why);
// Becomes that owner when this runs as root; false with why when root
// must not work on the board.  Without an exec the process stays out of
// reach of the owner's other processes (no tracing, no taking of its
// descriptors), so it may go on with root's terminal; whatever it runs
// must get no terminal of root's.
bool BecomeBoardOwner(const std::string& given, std::string& why);
// Gives up root for the user uid of group gid with the user's own groups;
// false with why when that fails.
bool BecomeUser(uid_t uid, gid_t gid, std::string& why);

}  // namespace kv

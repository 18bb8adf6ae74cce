// Users of the machine made for one test and removed after it, for the
// tests of what root and other users may do (they run in CI as root and
// skip elsewhere).  Each name holds the test process's PID and a count, so
// tests running side by side on one machine never meet.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/board.h"

namespace kv::test {

class ThrowAwayUser {
public:
    // A user with a group of its own and the shell and home given (the
    // home is not made).  ok() is false when the machine would not make it.
    explicit ThrowAwayUser(const std::string& tag, const std::string& shell = "/usr/sbin/nologin",
                           const std::string& home = "/nonexistent");
    ~ThrowAwayUser();
    ThrowAwayUser(const ThrowAwayUser&) = delete;
    ThrowAwayUser& operator=(const ThrowAwayUser&) = delete;

    bool ok() const { return uid_ != uid_t(-1); }
    const std::string& name() const { return name_; }
    uid_t uid() const { return uid_; }
    gid_t gid() const { return gid_; }
    // Gives a whole tree to the user and its group.
    void Own(const std::filesystem::path& tree) const;
    // Ends every process of the user: whatever a test started as it (a
    // server, a call) goes with the test that started it, whether the
    // test passed or not.  The destructor does it too, before the user is
    // removed: a user with processes cannot be.
    void KillProcesses() const;
    // A command line that runs argv as this user, with none of root's
    // groups.
    std::vector<std::string> As(const std::vector<std::string>& argv) const;

private:
    std::string name_;
    uid_t uid_ = uid_t(-1);
    gid_t gid_ = gid_t(-1);
};

// A sample board that user owns, with its state directory as the board's
// scripts make it: a board root works on as another user's.
std::unique_ptr<TempBoard> BoardOwnedBy(const ThrowAwayUser& owner);

// Whether this process can make users (root, with useradd at hand).
bool CanMakeUsers();

// What a process that is not the test's own looks like from /proc: its
// real user (-1 when it is gone).
uid_t ProcessUser(pid_t pid);

}  // namespace kv::test

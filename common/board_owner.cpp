#include "common/board_owner.h"

#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

namespace kv {
namespace {

// Another user than root may write into the directory (a group other than
// root's counts as other users).
bool OpenToOthers(const struct stat& st) {
    return (st.st_mode & S_IWOTH) != 0 || ((st.st_mode & S_IWGRP) != 0 && st.st_gid != 0);
}

}  // namespace

bool BoardOwnerFor(const std::string& given, uid_t& uid, gid_t& gid, std::string& why) {
    uid = 0;
    gid = 0;
    struct stat st;
    if (lstat(given.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && st.st_uid != 0) {
        why = given + " is a link of another user's: name the board's own directory.";
        return false;
    }
    std::error_code ec;
    fs::path dir = fs::weakly_canonical(fs::absolute(given), ec);
    if (ec) dir = fs::absolute(given);
    std::vector<fs::path> mustBeRoots;
    if (stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        if (st.st_uid != 0) {
            passwd* pw = getpwuid(st.st_uid);
            if (pw == nullptr) {
                why = dir.string() + " belongs to user " + std::to_string(st.st_uid) +
                      ", who has no account: run this as the board's owner.";
                return false;
            }
            uid = pw->pw_uid;
            gid = pw->pw_gid;
            return true;
        }
        mustBeRoots = {dir, dir / "state"};
    } else {
        mustBeRoots = {dir.parent_path()};
    }
    for (const fs::path& d : mustBeRoots) {
        if (stat(d.c_str(), &st) == 0 && OpenToOthers(st)) {
            why = d.string() + " is open to other users' writes: run this as the board's owner, not as root.";
            return false;
        }
    }
    return true;
}

bool BecomeUser(uid_t uid, gid_t gid, std::string& why) {
    passwd* pw = getpwuid(uid);
    if (pw == nullptr || initgroups(pw->pw_name, gid) != 0 || setresgid(gid, gid, gid) != 0 ||
        setresuid(uid, uid, uid) != 0) {
        why = "cannot become the board's owner (user " + std::to_string(uid) + "): " + std::strerror(errno);
        return false;
    }
    return true;
}

bool BecomeBoardOwner(const std::string& given, std::string& why) {
    if (geteuid() != 0) return true;
    uid_t uid;
    gid_t gid;
    if (!BoardOwnerFor(given, uid, gid, why)) return false;
    if (uid == 0) return true;
    if (!BecomeUser(uid, gid, why)) return false;
    // The kernel makes a process that changed its user undumpable only
    // where the machine's setting says so; root's terminal and whatever
    // root's process read stay out of the owner's reach on every machine.
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    return true;
}

}  // namespace kv

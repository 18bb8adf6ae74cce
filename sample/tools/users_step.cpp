// The sample board's user database: sample/users.conf becomes "users.bbs" in
// DataDir and, record for record, zeroed last-read records in "lastread.bbs"
// in MsgBaseDir.
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "common/lastread.h"
#include "common/record_io.h"
#include "common/runtime.h"
#include "common/strings.h"
#include "common/user_record.h"
#include "common/users.h"
#include "sample/tools/builders.h"
#include "sample/tools/key_values.h"

namespace fs = std::filesystem;

namespace kv::sample {
namespace {

// The records of sources/users.conf as written there (passwords as typed).
bool ReadSampleUsers(const BoardContext& b, std::vector<UserRecord>& users) {
    fs::path source = b.src / "users.conf";
    std::vector<std::pair<std::string, std::string>> kvs;
    if (!ReadKeyValueFile(source, kvs)) return false;
    for (const auto& [key, value] : kvs) {
        int n = 0;
        std::string field;
        if (!SplitIndexedKey(key, "Users", 4, n, field)) {
            std::cerr << "kvsample: " << source.string() << ": want Users[n].Field, not " << key << "\n";
            return false;
        }
        while (users.size() <= size_t(n)) {
            users.emplace_back();
            ClearUserRecord(users.back());
        }
        bool tooLong = false;
        if (!ApplyKeyValue(users[size_t(n)], field, Substitute(value, b), &tooLong)) {
            std::cerr << "kvsample: " << source.string() << ": no user field " << field << "\n";
            return false;
        }
        if (tooLong) {
            std::cerr << "kvsample: " << source.string() << ": value of " << key << " is too long for its field\n";
            return false;
        }
    }
    for (size_t n = 0; n < users.size(); ++n) {
        if (users[n].Name.empty()) {
            std::cerr << "kvsample: " << source.string() << ": user " << n << " has no name\n";
            return false;
        }
    }
    return true;
}

bool Printable(const std::string& text) {
    for (char ch : text)
        if (ch < 0x20 || ch > 0x7E) return false;
    return true;
}

bool StepUsers(BoardContext& b) {
    std::vector<UserRecord> users;
    if (!ReadSampleUsers(b, users)) return false;
    if (b.sysop != nullptr) {
        // The sample's sysop record with the real sysop's name and
        // password; the sample's other users, its phone number and its
        // comment stay out.
        users.resize(1);
        UserRecord& u = users[0];
        u.Name = b.sysop->name;
        u.Password = b.sysop->password;
        u.HomePhone.clear();
        u.Comment1.clear();
    }

    std::vector<uint8_t> userBytes;
    for (UserRecord& u : users) {
        // The board compares typed passwords capitalised; store them so.
        u.Password = CapitalizePassword(u.Password);
        UserBytes bytes = EncodeUserRecord(u);
        userBytes.insert(userBytes.end(), bytes.begin(), bytes.end());
    }
    std::vector<uint8_t> lastRead(users.size() * LastReadRecord::kSize, 0);
    return WriteWholeFile(fs::path(b.config.DataDir) / kUsersFile, userBytes.data(), userBytes.size()) &&
           WriteWholeFile(fs::path(b.config.MsgBaseDir) / kLastReadFile, lastRead.data(), lastRead.size());
}

}  // namespace

bool CheckRealSysop(const BoardContext& b, RealSysop& sysop, std::string& why) {
    const size_t kUserNameWidth = kPlaceOf<&UserRecord::Name>.width;
    const size_t kUserPasswordWidth = kPlaceOf<&UserRecord::Password>.width;
    // The name as a caller types it at the log-in: one blank between words.
    std::istringstream words(sysop.name);
    sysop.name.clear();
    for (std::string word; words >> word;) sysop.name += (sysop.name.empty() ? "" : " ") + word;
    CapitalizeName(sysop.name);
    ConfigRecord c;
    std::vector<UserRecord> sample;
    if (!ApplyConfigSource(c, b.src / "board.conf", b) || !ReadSampleUsers(b, sample)) {
        why = "cannot read the sources in " + b.src.string();
        return false;
    }
    if (sysop.name.empty() || !Printable(sysop.name) || sysop.name.size() >= kUserNameWidth) {
        why = "the sysop's name must be 1 to " + std::to_string(kUserNameWidth - 1) + " plain letters or signs";
        return false;
    }
    if (!c.OneWordNames && sysop.name.find(' ') == std::string::npos) {
        why = "the sysop's name must be a first and a last name, as callers' names are";
        return false;
    }
    if (!Printable(sysop.password) || sysop.password.find(' ') != std::string::npos ||
        sysop.password.size() >= kUserPasswordWidth) {
        why = "the password must be at most " + std::to_string(kUserPasswordWidth - 1) +
              " plain letters, digits or signs, without blanks";
        return false;
    }
    for (const UserRecord& u : sample) {
        if (CapitalizePassword(u.Password) == CapitalizePassword(sysop.password)) {
            why = "that password is one of the sample board's, which anyone can read: choose another";
            return false;
        }
    }
    // The caller's own rules for a new password, with the refused words of
    // the sources.
    c.DataDir = (b.src / "data").string();
    SetConfig(c);
    PasswordVerdict verdict = CheckNewPassword(sysop.password, sysop.name);
    SetConfig(ConfigRecord{});
    if (verdict == PasswordVerdict::kTooShort) {
        why = "the password must have at least " + std::to_string(int(c.MinPasswordLength)) + " characters";
        return false;
    }
    if (verdict == PasswordVerdict::kRefused) {
        why = "that password is refused: it is the name, a part of it or a word of pwdtrash.ctl";
        return false;
    }
    return true;
}

namespace {

BoardStepRegistrar users_step(40, "users", StepUsers);

}  // namespace
}  // namespace kv::sample

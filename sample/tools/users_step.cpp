// The sample board's user database: sample/users.conf becomes "users.bbs" in
// DataDir and, record for record, zeroed last-read records in "lastread.bbs"
// in MsgBaseDir.
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "common/lastread.h"
#include "common/user_record.h"
#include "common/users.h"
#include "sample/tools/builders.h"
#include "sample/tools/key_values.h"

namespace fs = std::filesystem;

namespace kv::sample {
namespace {

bool StepUsers(BoardContext& b) {
    fs::path source = b.src / "users.conf";
    std::vector<std::pair<std::string, std::string>> kvs;
    if (!ReadKeyValueFile(source, kvs)) return false;

    std::vector<UserRecord> users;
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

    std::vector<uint8_t> userBytes;
    for (size_t n = 0; n < users.size(); ++n) {
        UserRecord& u = users[n];
        if (u.Name.empty()) {
            std::cerr << "kvsample: " << source.string() << ": user " << n << " has no name\n";
            return false;
        }
        // The board compares typed passwords capitalised; store them so.
        u.Password = CapitalizePassword(u.Password);
        UserBytes bytes = EncodeUserRecord(u);
        userBytes.insert(userBytes.end(), bytes.begin(), bytes.end());
    }
    std::vector<uint8_t> lastRead(users.size() * LastReadRecord::kSize, 0);
    return WriteWholeFile(fs::path(b.config.DataDir) / kUsersFile, userBytes.data(), userBytes.size()) &&
           WriteWholeFile(fs::path(b.config.MsgBaseDir) / kLastReadFile, lastRead.data(), lastRead.size());
}

BoardStepRegistrar users_step(40, "users", StepUsers);

}  // namespace
}  // namespace kv::sample

// The user file "users.bbs" as it lies on disk, torn or hand-edited: every
// whole record decodes and encodes again as it lay (texts cut at their
// first NUL), the walk over the file visits exactly the whole records in
// order, a torn end is never read as a record, a name already held is
// refused for a new user, and an append or a rewrite changes nothing but
// its own record (a torn file takes no append: it would shift every later
// user off their number).
#include <algorithm>
#include <fstream>
#include <utility>
#include <string>
#include <vector>

#include "common/runtime.h"
#include "common/user_record.h"
#include "common/users.h"
#include "fuzz/fuzz_records.h"
#include "fuzz/fuzz_support.h"

using namespace kv;
using kv::fuzz::Check;

namespace {

std::string ReadUsersFile() {
    std::ifstream in(UsersPath(), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string BytesOf(const UserRecord& r) {
    UserBytes b = EncodeUserRecord(r);
    return std::string(reinterpret_cast<const char*>(b.data()), b.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::InstallFixtureConfig();
    const std::string file(fuzz::Bytes(data, size));
    const int whole = int(size / kUserRecordSize);
    const bool torn = size % kUserRecordSize != 0;
    for (int n = 0; n < whole; ++n) {
        const uint8_t* p = data + size_t(n) * kUserRecordSize;
        UserBytes again = EncodeUserRecord(DecodeUserRecord(p));
        std::vector<uint8_t> want = fuzz::CanonicalRecord<UserRecord>(p);
        // An empty name, location or password is written as the first
        // programs wrote it: blanks behind the NUL.
        for (auto [at, width] : {std::pair<size_t, size_t>{0, 36}, {36, 26}, {62, 16}})
            if (want[at] == 0) std::fill(want.begin() + std::ptrdiff_t(at + 1), want.begin() + std::ptrdiff_t(at + width - 1), ' ');
        Check(std::vector<uint8_t>(again.begin(), again.end()) == want,
              "a user record does not encode back as it lay");
    }

    fuzz::WriteScratchFile(kUsersFile, file);
    int visited = 0;
    ScanUsers([&](int number, const UserRecord& r) {
        Check(number == visited, "the walk skipped or repeated a record");
        Check(number < whole, "the walk read a torn record");
        Check(BytesOf(r) == BytesOf(DecodeUserRecord(data + size_t(number) * kUserRecordSize)),
              "the walk gave another record than the file holds");
        ++visited;
        return true;
    });
    Check(visited == whole, "the walk missed records");
    Check(UpdateUserCount() == whole, "the user count is not the whole records");
    UserRecord r;
    Check(!ReadUserRecord(whole, r), "a torn or missing record was read");

    if (whole > 0) {
        // The first record holding the last record's name is the one found.
        UserRecord last = DecodeUserRecord(data + size_t(whole - 1) * kUserRecordSize);
        UserRecord found;
        int at = FindUser(last.Name, found);
        Check(at >= 0 && at < whole && found.Name == last.Name, "a user's name was not found");
        for (int n = 0; n < at; ++n)
            Check(DecodeUserRecord(data + size_t(n) * kUserRecordSize).Name != last.Name, "not the first holder found");
        UserRecord twin;
        twin.Name = last.Name;
        Check(AppendNewUser(twin) == kNameTaken, "a new user got a name already held");
        Check(ReadUsersFile() == file, "a refused new user changed the file");

        // A rewrite of record 0 touches nothing else.
        UserRecord changed = DecodeUserRecord(data);
        changed.TotalCalls += 1;
        Check(WriteUserRecord(0, changed), "a whole record could not be rewritten");
        std::string want = file;
        want.replace(0, kUserRecordSize, BytesOf(changed));
        Check(ReadUsersFile() == want, "a rewrite changed more than its record");
        fuzz::WriteScratchFile(kUsersFile, file);
    }
    Check(!WriteUserRecord(whole, r), "a record the file does not hold was written");

    UserRecord fresh;
    fresh.Name = "\x01 nobody's name";
    for (int n = 0; n < whole; ++n)
        if (DecodeUserRecord(data + size_t(n) * kUserRecordSize).Name == fresh.Name) return 0;
    int number = AppendNewUser(fresh);
    if (torn) {
        Check(number == -1, "a user was appended to a torn file");
        Check(ReadUsersFile() == file, "a refused append changed the file");
    } else {
        Check(number == whole, "an appended user got another number than the end");
        Check(ReadUsersFile() == file + BytesOf(fresh), "an append changed more than the end");
    }
    return 0;
}

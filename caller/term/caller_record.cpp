#include "caller/term/caller_record.h"

#include <algorithm>

#include "caller/term/call_state.h"
#include "common/users.h"

namespace kv::caller {
namespace {

LastReadRecord gLastRead;
std::string gPassword;
int gUserCount = 0;

}  // namespace

LastReadRecord& CallerLastRead() { return gLastRead; }
std::string& CurrentPassword() { return gPassword; }
int UserCount() { return gUserCount; }

void ClearUserRecord() {
    kv::ClearUserRecord(Call().User);
    Call().CurrentUserNumber = -1;
}

void UpdateUserCount() { gUserCount = kv::UpdateUserCount(); }

std::string CallerClearCodes() {
    size_t n = std::min<size_t>(Call().User.ClearScreenLength, Call().User.ClearScreenCodes.size());
    return std::string(Call().User.ClearScreenCodes.begin(), Call().User.ClearScreenCodes.begin() + n);
}

}  // namespace kv::caller

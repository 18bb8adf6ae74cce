#include "tools/kvconsole/console_name.h"

#include "common/config_file.h"
#include "common/config_record.h"
#include "common/msgbase_swap.h"
#include "common/record_io.h"
#include "common/segment.h"
#include "common/whole_file.h"
#include "server/control_request.h"

namespace kv::console {
namespace {

uint8_t* Bytes(std::string& file) { return reinterpret_cast<uint8_t*>(file.data()); }

// SysopConsole := name in the file's bytes, the file rewritten whole.
bool Rewrite(const std::string& path, std::string& bytes, const std::string& name, std::string& why) {
    SetField<&ConfigRecord::SysopConsole>(Bytes(bytes), name);
    return WriteFileWhole(path, bytes, &why);
}

Reload AskReload(const std::string& dataDir) {
    switch (server::WriteControlRequest(dataDir, CMD_RELOAD)) {
        case server::RequestResult::kSent: return Reload::kDone;
        case server::RequestResult::kNoServer: return Reload::kNoServer;
        case server::RequestResult::kNotAPipe:
        case server::RequestResult::kWriteFailed: break;
    }
    return Reload::kFailed;
}

}  // namespace

bool TakeConsole(const std::string& ours, ConsoleClaim& claim, Reload& reload, std::string& why) {
    reload = Reload::kFailed;
    std::string bytes;
    if (!ReadConfigFileWhole(claim.File, bytes)) {
        why = "Cannot load the BBS configuration -- please check!";
        return false;
    }
    if (ours.size() >= kPlaceOf<&ConfigRecord::SysopConsole>.width) {
        why = "The terminal name /dev/" + ours + " is too long for SysopConsole.";
        return false;
    }
    claim.Ours = ours;
    claim.Previous = GetField<&ConfigRecord::SysopConsole>(Bytes(bytes));
    claim.DataDir = GetField<&ConfigRecord::DataDir>(Bytes(bytes));
    if (!Rewrite(claim.File, bytes, ours, why)) return false;
    CrashPoint("console");
    reload = AskReload(claim.DataDir);
    return true;
}

bool GiveBackConsole(const ConsoleClaim& claim, std::string& why) {
    std::string path, bytes;
    if (!ReadConfigFileWhole(path, bytes)) {
        why = "Cannot load the BBS configuration -- please check!";
        return false;
    }
    if (path != claim.File || !TextFieldEquals<&ConfigRecord::SysopConsole>(Bytes(bytes), claim.Ours)) return true;
    if (!Rewrite(path, bytes, claim.Previous, why)) return false;
    CrashPoint("console");
    AskReload(claim.DataDir);
    return true;
}

}  // namespace kv::console

// The watchdog message after the last wrong password.
#include "caller/areas/watchdog.h"

#include <stdlib.h>
#include <unistd.h>

#include <fstream>

#include "caller/areas/area_access.h"
#include "caller/areas/line_editor.h"
#include "caller/areas/message_buffer.h"
#include "caller/areas/save_message.h"
#include "caller/term/activity_log.h"
#include "caller/term/call_state.h"
#include "common/files.h"
#include "common/runtime.h"
#include "common/whole_file.h"

namespace kv::caller {

namespace {

constexpr const char* kWatchdogFile = "watchdog.msg";
constexpr int kNoLineLimit = 999;

std::string ReadWhole(const std::string& path, bool& ok) {
    std::ifstream in(path, std::ios::binary);
    ok = bool(in);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

void BuildWatchdogText(std::string& path, const std::string& list) {
    bool haveText = false, haveList = false;
    std::string text = ReadWhole(path, haveText);
    std::string tried = ReadWhole(list, haveList);
    if (!haveList) return;

    // The sysop's words, a blank line, the heading and the passwords, each
    // on its own line under the heading's indent.
    std::string out = text;
    if (!out.empty() && out.back() != '\n') out += '\n';
    out += '\n';
    std::string heading = GetText(710);
    out += heading;
    if (heading.empty() || heading.back() != '\n') out += '\n';
    size_t indent = heading.find_first_not_of(' ');
    if (indent == std::string::npos) indent = heading.size();
    if (indent == 0) indent = 1;
    size_t from = 0;
    while (from < tried.size()) {
        size_t end = tried.find('\n', from);
        std::string password = tried.substr(from, end == std::string::npos ? std::string::npos : end - from);
        from = end == std::string::npos ? tried.size() : end + 1;
        out += std::string(indent, ' ') + password + '\n';
    }

    std::string name = "/tmp/kvwatchXXXXXX";
    int fd = mkstemp(name.data());
    if (fd < 0) return;
    bool written = WriteFully(fd, out);
    if (close(fd) != 0) written = false;
    if (!written) {
        unlink(name.c_str());
        return;
    }
    path = name;
}

void PostWatchdogFile(const std::string& path, int area) {
    int64_t size = FileSize(path);
    auto buffer = MessageBuffer::Make(size_t(size < 0 ? 0 : size) / 1024 + 3);
    if (!buffer) {
        LogText(463);
        return;
    }
    const std::string owner = Call().User.Name;
    MsgHeader loading;
    loading.ToName = owner;
    int limit = Config().MsgAreas[size_t(area)].LineLimit;
    if (limit == 0) limit = kNoLineLimit;
    if (LoadMessageText(loading, *buffer, limit, false, path) <= 0) return;
    buffer->Finish();
    OutgoingMessage m;
    m.Recipient = owner;
    m.Subject = GetText(461);
    m.Area = area;
    m.Private = true;
    m.AsSysop = true;
    int32_t offset = 0;
    if (SaveMessage(*buffer, m, offset) == 0) LogText(462);
}

void PostWatchdogMessage(const std::string& triedList) {
    const int configured = Config().WatchdogArea;
    if (configured <= 0) return;
    const int area = configured - 1;
    if (area >= kMsgAreaCount || Config().MsgAreas[size_t(area)].AreaDefined == 0) {
        LogText(460, configured);
        return;
    }
    const std::string original = Config().TextDir + "/" + kWatchdogFile;
    if (!FileExists(original, kPlainPath)) {
        LogText(459, kWatchdogFile);
        return;
    }
    std::string path = original;
    if (!triedList.empty()) BuildWatchdogText(path, triedList);
    if (!CanUseMessageArea(area, kAreaRead)) LogText(458);
    PostWatchdogFile(path, area);
    // Only the temporary text goes; the sysop's file stays.
    if (path != original) unlink(path.c_str());
}

}  // namespace kv::caller

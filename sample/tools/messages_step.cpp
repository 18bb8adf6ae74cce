// The sample board's first messages: sample/messages.conf is posted into
// the message base of MsgBaseDir through the writer every program uses, so
// the reader, the scans, the mail check and the summary have something to
// show on the first call.  Without the file the base stays empty.
#include <ctime>
#include <iostream>
#include <string>
#include <vector>

#include "common/dates.h"
#include "common/msgbase.h"
#include "common/runtime.h"
#include "sample/tools/builders.h"
#include "sample/tools/key_values.h"

namespace fs = std::filesystem;

namespace kv::sample {
namespace {

struct SampleMessage {
    MsgHeader header;
    MsgText text;
    bool written = false;
};

// "YYYY-MM-DD HH:MM" into the header's date and time texts and WrittenAt.
bool SetWritten(MsgHeader& h, const std::string& value) {
    std::tm t{};
    if (std::sscanf(value.c_str(), "%d-%d-%d %d:%d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour, &t.tm_min) != 5)
        return false;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    t.tm_isdst = -1;
    time_t at = std::mktime(&t);
    if (at == time_t(-1)) return false;
    h.DateText = FormatDate(t);
    h.TimeText = FormatTime(t);
    h.WrittenAt = int32_t(at);
    return true;
}

bool StepMessages(BoardContext& b) {
    fs::path source = b.src / "messages.conf";
    if (!b.messages || !fs::exists(source)) return true;
    std::vector<std::pair<std::string, std::string>> kvs;
    if (!ReadKeyValueFile(source, kvs)) return false;
    // The dates are written in the board's order, and the writer finds the
    // base through the configuration.
    SetConfig(b.config);

    std::vector<SampleMessage> messages;
    for (const auto& [key, value] : kvs) {
        int n = 0;
        std::string field;
        if (!SplitIndexedKey(key, "Messages", 3, n, field)) {
            std::cerr << "kvsample: " << source.string() << ": want Messages[n].Field, not " << key << "\n";
            return false;
        }
        if (messages.size() <= size_t(n)) messages.resize(size_t(n) + 1);
        SampleMessage& m = messages[size_t(n)];
        bool ok = true, tooLong = false;
        if (field == "Text") {
            m.text.Lines.push_back(value);  // one line each, in order
        } else if (field == "Written") {
            ok = m.written = SetWritten(m.header, value);
        } else {
            ok = ApplyKeyValue(m.header, field, value, &tooLong) && !tooLong;
        }
        if (!ok) {
            std::cerr << "kvsample: " << source.string() << ": bad " << key << "\n";
            return false;
        }
    }

    for (size_t n = 0; n < messages.size(); ++n) {
        SampleMessage& m = messages[n];
        if (m.header.FromName.empty() || m.header.ToName.empty() || !m.written) {
            std::cerr << "kvsample: " << source.string() << ": message " << n << " wants FromName, ToName and Written\n";
            return false;
        }
        m.header.Status |= MSG_LOCAL;
        m.text.Pid = "Kivo v1.0";
        int32_t offset = 0;
        if (!AppendMessage(m.text, m.header, offset)) {
            std::cerr << "kvsample: message " << n << " could not be posted\n";
            return false;
        }
        if (m.header.MsgNumber != int32_t(n) + 1) {
            std::cerr << "kvsample: the sample messages want an empty base\n";
            return false;
        }
    }
    return true;
}

// After the users (40): the base's directory and lock are there.
BoardStepRegistrar messages_step(45, "messages", StepMessages);

}  // namespace
}  // namespace kv::sample

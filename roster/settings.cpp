#include "roster/settings.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "common/runtime.h"
#include "common/whole_file.h"
#include "roster/roster_log.h"

namespace kv::roster {

// Made by declaration, not by "RosterSettings{}": clang 14 with both
// sanitizers crashes evaluating the value-initialized form.
RosterSettings DefaultSettings() {
    RosterSettings s;
    return s;
}

RosterSettings DecodeSettings(const uint8_t* p) {
    RosterSettings s;
    DecodeRecord(p, s);
    // A file from another version or a damaged one must not drive the
    // program out of its tables: each value out of range takes its default.
    const RosterSettings d;
    if (s.DefaultLayout >= kLayoutCount) s.DefaultLayout = d.DefaultLayout;
    if (s.UnvalidatedLevel < 0 || s.UnvalidatedLevel > kMaxUnvalidatedLevel) s.UnvalidatedLevel = d.UnvalidatedLevel;
    if (s.ValidatedLevel < 0 || s.ValidatedLevel > kMaxValidatedLevel) s.ValidatedLevel = d.ValidatedLevel;
    if (s.LetterArea < 1 || s.LetterArea > int16_t(kMsgAreaCount)) s.LetterArea = d.LetterArea;
    return s;
}

SettingsBytes EncodeSettings(const RosterSettings& s) { return EncodeRecord(s); }

RosterSettings ReadSettingsFile(const std::string& path, bool& fromDefaults) {
    fromDefaults = true;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return DefaultSettings();
    SettingsBytes bytes{};
    size_t got = 0;
    while (got < bytes.size()) {
        ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += size_t(n);
    }
    close(fd);
    if (got < bytes.size()) return DefaultSettings();
    fromDefaults = false;
    return DecodeSettings(bytes.data());
}

bool WriteSettingsFile(const std::string& path, const RosterSettings& s) {
    SettingsBytes bytes = EncodeSettings(s);
    std::string why;
    if (!WriteFileWhole(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), &why)) {
        RosterLog("Cannot save the settings: %s", why);
        return false;
    }
    return true;
}

}  // namespace kv::roster

// The sample board's user-editor settings: "kvconfig.kvr" in DataDir,
// written from sample/roster.conf over the editor's defaults.
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "roster/settings.h"
#include "sample/tools/builders.h"

namespace fs = std::filesystem;

namespace kv::sample {
namespace {

bool ParseFlags(const std::string& value, FlagGroups& out) {
    std::istringstream in(value);
    std::string part;
    for (size_t i = 0; i < out.size(); ++i) {
        if (!std::getline(in, part, ',')) return false;
        out[i] = uint8_t(std::strtoul(part.c_str(), nullptr, 0));
    }
    return true;
}

bool StepRoster(BoardContext& b) {
    fs::path source = b.src / "roster.conf";
    if (!fs::exists(source)) return true;
    std::vector<std::pair<std::string, std::string>> kvs;
    if (!ReadKeyValueFile(source, kvs)) return false;
    roster::RosterSettings s;
    for (auto& [key, raw] : kvs) {
        const std::string value = Substitute(raw, b);
        bool ok = true;
        if (key == "UnvalidatedLevel") s.UnvalidatedLevel = std::atoi(value.c_str());
        else if (key == "ValidatedLevel") s.ValidatedLevel = std::atoi(value.c_str());
        else if (key == "NewUserFlags") ok = ParseFlags(value, s.NewUserFlags);
        else if (key == "ValidatedFlags") ok = ParseFlags(value, s.ValidatedFlags);
        else if (key == "LetterPath") s.LetterPath = value;
        else if (key == "LetterArea") s.LetterArea = int16_t(std::atoi(value.c_str()));
        else if (key == "PrivateLetter") s.PrivateLetter = uint8_t(std::atoi(value.c_str()));
        else if (key == "QuestionnairePath") s.QuestionnairePath = value;
        else if (key.rfind("Utility", 0) == 0 && key.size() == 8 && key[7] >= '0' && key[7] <= '9')
            s.UtilityCommands[key[7] == '0' ? 9 : size_t(key[7] - '1')] = value;
        else ok = false;
        if (!ok) {
            std::cerr << "kvsample: " << source.string() << ": cannot use " << key << " = " << raw << "\n";
            return false;
        }
    }
    auto bytes = EncodeRecord(s);
    return WriteWholeFile(fs::path(b.config.DataDir) / roster::kSettingsFile, bytes.data(), bytes.size());
}

BoardStepRegistrar roster_step(60, "roster settings", StepRoster);

}  // namespace
}  // namespace kv::sample

// The sample board's menus: each sample/menus/<name>.menu becomes
// "<name>.mnu" in MenuDir.
//
// A source sets fields of the menu's records by their MenuRecord names:
// "Prompt.Field" for the prompt record (record 0), "Lines[n].Field" for
// menu line n (1-49, without gaps).  A value in double quotes keeps its
// blanks ("  [M]essages", as in every sample source); a HotKey is the key itself ("M"); FlagMasks are
// four numbers ("1,0,0,0"); "@BOARD@" and "@BIN@" name the board's
// directories as everywhere in the sample.
#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "common/menu_record.h"
#include "sample/tools/builders.h"
#include "sample/tools/key_values.h"

namespace fs = std::filesystem;

namespace kv::sample {
namespace {

// "Prompt.Field" (record 0) or "Lines[n].Field": the record and the field.
bool SplitMenuKey(const std::string& key, int& record, std::string& field) {
    const std::string prompt = "Prompt.";
    if (key.compare(0, prompt.size(), prompt) == 0) {
        record = 0;
        field = key.substr(prompt.size());
        return !field.empty();
    }
    return SplitIndexedKey(key, "Lines", 2, record, field) && record >= 1 && record < int(kMaxMenuRecords) &&
           !field.empty();
}

bool BuildMenu(const fs::path& source, const BoardContext& b) {
    auto fail = [&](const std::string& why) {
        std::cerr << "kvsample: " << source.string() << ": " << why << "\n";
        return false;
    };
    std::vector<std::pair<std::string, std::string>> kvs;
    if (!ReadKeyValueFile(source, kvs)) return false;

    std::map<int, MenuRecord> records;
    for (const auto& [key, raw] : kvs) {
        int n = 0;
        std::string field;
        if (!SplitMenuKey(key, n, field)) return fail("want Prompt.Field or Lines[1-49].Field, not " + key);
        std::string value = Substitute(raw, b);
        if (field == "HotKey") {
            if (value.size() != 1) return fail(key + " is one key");
            value = std::to_string(uint8_t(value[0]));
        }
        bool tooLong = false;
        if (!ApplyKeyValue(records[n], field, value, &tooLong)) return fail("no menu field " + field);
        if (tooLong) return fail("value of " + key + " is too long for its field");
    }
    // The menu stack keeps ten characters of a name before ".mnu".
    if (source.stem().string().size() > 10) return fail("a menu name has at most 10 characters");
    if (!records.contains(0)) return fail("no Prompt record");
    if (records.rbegin()->first != int(records.size()) - 1) return fail("menu lines must run from 1 without gaps");

    std::vector<MenuRecord> ordered;
    for (auto& [n, r] : records) ordered.push_back(r);
    std::vector<uint8_t> bytes = EncodeMenuFile(ordered);
    fs::path target = fs::path(b.config.MenuDir) / (source.stem().string() + ".mnu");
    return WriteWholeFile(target, bytes.data(), bytes.size());
}

bool StepMenus(BoardContext& b) {
    fs::path dir = b.src / "menus";
    if (!fs::is_directory(dir)) return true;
    std::vector<fs::path> sources;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ".menu") sources.push_back(e.path());
    std::sort(sources.begin(), sources.end());
    for (const auto& s : sources)
        if (!BuildMenu(s, b)) return false;
    return true;
}

BoardStepRegistrar menus_step(35, "menus", StepMenus);

}  // namespace
}  // namespace kv::sample

#include "server/message_file.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "common/record_io.h"
#include "common/runtime.h"
#include "common/segment.h"
#include "server/shared_memory.h"

namespace kv::server {
namespace {

bool IsFile(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// One line without its line end; false at the end of the file.
bool ReadLine(FILE* f, std::string& line) {
    line.clear();
    int c;
    while ((c = std::getc(f)) != EOF && c != '\n') line += char(c);
    if (c == EOF && line.empty()) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

// The text of a line numbered `expected`, or nothing when the line does not
// carry that number and a quote.
std::optional<std::string> TextOfLine(const std::string& line, int expected) {
    size_t i = line.find_first_not_of(" \t");
    if (i == std::string::npos || line[i] < '0' || line[i] > '9') return std::nullopt;
    long number = 0;
    for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
        number = number * 10 + (line[i] - '0');
        if (number > 100000) return std::nullopt;
    }
    if (number != expected) return std::nullopt;
    size_t quote = line.find('"', i);
    if (quote == std::string::npos) return std::nullopt;

    std::string raw = line.substr(quote + 1);
    size_t end = raw.find_last_not_of(" \t\r\n\f\v");
    raw.resize(end == std::string::npos ? 0 : end + 1);
    if (!raw.empty()) raw.pop_back();  // the closing quote

    std::string text;
    for (size_t k = 0; k < raw.size(); ++k) {
        if (raw[k] != '\\' || k + 1 == raw.size()) {
            text += raw[k];
            continue;
        }
        char e = raw[++k];
        text += e == 'b' ? '\b' : e == 'n' ? '\n' : e == 'r' ? '\r' : e;
    }
    return text;
}

void SetLastText(uint8_t* segment, int slot, int last) {
    SegmentHeader h;
    DecodeRecord(segment, h);
    h.LastText[slot] = int16_t(last);
    EncodeRecord(h, segment);
}

std::string BaseName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::optional<std::string> MessageFilePath(int language) {
    if (language < 0 || language > 6) return std::nullopt;
    std::string name = std::string("message.") + kLanguageExtensions[language];
    if (IsFile(name)) return name;
    std::string inBin = Config().DataDir + "/bin/" + name;
    if (IsFile(inBin)) return inBin;
    return std::nullopt;
}

int LoadMessageFile(int language, int slot) {
    if (slot < 0 || slot > 1 || SegmentAddress() == nullptr) return 0;
    auto path = MessageFilePath(language);
    if (!path) {
        if (language >= 0 && language <= 6)
            std::fprintf(stderr, "Cannot find message file message.%s\n", kLanguageExtensions[language]);
        SetLastText(SegmentAddress(), slot, -1);
        return 0;
    }
    return LoadTextFile(*path, SegmentAddress(), slot);
}

int LoadTextFile(const std::string& path, uint8_t* segment, int slot) {
    if (slot < 0 || slot > 1) return 0;
    uint8_t* table = segment + kSlotTableOffset[slot];
    uint8_t* block = segment + kSlotBlockOffset[slot];
    const std::string name = BaseName(path);

    int count = 0;
    size_t used = 0;
    bool ok = true;
    FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) {
        std::fprintf(stderr, "Cannot open message file %s\n", path.c_str());
        ok = false;
    }
    std::string line;
    for (int lineNo = 1; ok && ReadLine(f, line); ++lineNo) {
        if (line.empty() || line[0] == '#') continue;
        auto text = TextOfLine(line, count);
        if (!text) {
            std::fprintf(stderr, "Message file %s, line %d: text %d expected\n", name.c_str(), lineNo, count);
            ok = false;
        } else if (count >= int(kTextsPerSlot)) {
            std::fprintf(stderr, "Message file %s holds more than %zu texts\n", name.c_str(), kTextsPerSlot);
            ok = false;
        } else if (used + text->size() + 1 > kTextBlockSize) {
            std::fprintf(stderr, "Message file %s: its texts pass %zu bytes at text %d\n", name.c_str(),
                         kTextBlockSize, count);
            ok = false;
        } else {
            std::memcpy(block + used, text->data(), text->size());
            block[used + text->size()] = 0;
            PutLE32(table + 4 * size_t(count), uint32_t(used));
            used += text->size() + 1;
            ++count;
        }
    }
    if (f != nullptr) std::fclose(f);
    SetLastText(segment, slot, count - 1);
    return ok ? 1 : 0;
}

}  // namespace kv::server

// A news article: its header lines as the article list summarizes them
// and as the reader shows them, and its body lines made fit for a
// terminal.  A cleaned line keeps its length and every printable byte and
// holds no control byte; a header rule is one of the configuration's; the
// summary's texts hold no control byte and its subject fits its column.
#include <string_view>
#include <vector>

#include "caller/areas/news_groups.h"
#include "caller/areas/news_reader.h"
#include "common/runtime.h"
#include "fuzz/fuzz_support.h"

using namespace kv::caller;
using kv::fuzz::Check;

namespace {

bool Clean(std::string_view text) {
    for (char c : text)
        if (uint8_t(c) < 32 || uint8_t(c) == 127) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::fuzz::InstallFixtureConfig();
    std::string_view text = kv::fuzz::Bytes(data, size);
    std::vector<std::string> header;
    bool inHeader = true;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::string clean = CleanArticleText(line);
        Check(clean.size() == line.size() && Clean(clean), "a cleaned line holds a control byte or lost bytes");
        for (size_t i = 0; i < line.size(); ++i)
            if (uint8_t(line[i]) >= 32 && uint8_t(line[i]) != 127) Check(clean[i] == line[i], "cleaning changed a printable byte");
        if (inHeader && line.empty()) inHeader = false;
        if (!inHeader) continue;
        header.emplace_back(line);
        const int rule = HeaderRuleIndex(clean);
        Check(rule >= -1 && rule < int(kv::Config().NewsHeaders.size()), "a header rule beyond the configuration's");
        ShortenAuthor(line);
    }
    ArticleSummary s = SummarizeArticle(header);
    Check(s.subject.size() <= 45, "a summary's subject wider than its column");
    Check(Clean(s.author) && Clean(s.date) && Clean(s.lines) && Clean(s.subject), "a summary text holds a control byte");
    return 0;
}

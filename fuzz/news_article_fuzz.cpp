// A news article: its header lines as the article list summarizes them
// and as the reader shows them, and its body lines made fit for a
// terminal.
#include <string_view>
#include <vector>

#include "caller/areas/news_reader.h"
#include "fuzz/fuzz_support.h"

using namespace kv::caller;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::fuzz::InstallFixtureConfig();
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> header;
    bool inHeader = true;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::string clean = CleanArticleText(line);
        if (inHeader && line.empty()) inHeader = false;
        if (!inHeader) continue;
        header.emplace_back(line);
        HeaderRuleIndex(clean);
        ShortenAuthor(line);
    }
    SummarizeArticle(header);
    return 0;
}

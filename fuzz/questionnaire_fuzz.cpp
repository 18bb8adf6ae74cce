// A questionnaire script run for a caller who types keys at it (the first
// byte is their count; they follow it, the script after them; a caller
// who has typed them all ends the run where the script waits for more, and
// a script that branches for ever ends after 64 rounds), then each of its
// lines taken apart and expanded as the interpreter does.  Scripts with
// "execute" or "logoff" are left out: the first runs a command and the
// second ends the process, as the sysop who wrote them asked.  The script
// runs nothing else; a keyword is one of the table's; an answer number is
// one of the 30 answers; and an expansion holds each answer it names as it
// stands, never as a format.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "caller/call/questionnaire.h"
#include "caller/term/call_state.h"
#include "fuzz/fuzz_support.h"

using namespace kv::caller;
using kv::fuzz::Check;

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// What a text that expanded names of the answers, read as the format reads
// it: "%" and the next character are one code, so "%%Z4" is a percent sign
// and the letters "Z4"; "%Z" and one or two digits name that answer, and a
// "[k]" right after keeps its first k characters.
std::vector<std::string> NamedAnswers(const ScriptAnswers& answers, std::string_view text) {
    std::vector<std::string> named;
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != '%') continue;
        if (text[++i] != 'Z') continue;
        size_t at = i + 1, n = 0;
        for (; at < text.size() && at < i + 3 && IsDigit(text[at]); ++at) n = n * 10 + size_t(text[at] - '0');
        std::string shown = answers.at(n);
        if (at < text.size() && text[at] == '[') {
            const size_t close = text.find(']', at);
            size_t k = 0;
            for (size_t d = at + 1; d < close && k < shown.size(); ++d) k = k * 10 + size_t(text[d] - '0');
            shown.resize(std::min(k, shown.size()));
            at = close + 1;
        }
        named.push_back(shown);
        i = at - 1;
    }
    return named;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::fuzz::InstallFixtureCall(true);
    if (size == 0) return 0;
    const size_t typed = std::min<size_t>(data[0], size - 1);
    std::string_view keys = kv::fuzz::Bytes(data + 1, typed);
    std::string text(kv::fuzz::Bytes(data + 1 + typed, size - 1 - typed));
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char ch) { return char(std::tolower(ch)); });
    for (const char* word : {"execute", "logoff"})
        if (lower.find(word) != std::string::npos) return -1;

    CallState& c = Call();
    c.User = kv::UserRecord{};
    c.User.Name = "Terry Fuzz";
    c.AnsiOn = c.ColorOn = true;
    kv::fuzz::WriteScratchFile("fuzz.q-a", text);
    std::filesystem::remove(kv::fuzz::ScratchDir() + "/fuzz.asw");  // a cut-short run kept its answers
    kv::fuzz::TypeKeys(keys, 1);
    try {
        int ran = RunQuestionnaire("fuzz /D /N");
        Check(ran == 0 || ran == 1, "a questionnaire ended with no status of its own");
    } catch (const kv::fuzz::KeysRanOut&) {
    }
    kv::fuzz::StopTyping();

    ScriptAnswers answers;
    for (size_t i = 0; i < answers.size(); ++i) answers[i] = "%s%n<" + std::string(i, char('a' + i % 26)) + ">";
    std::string_view rest = text;
    while (!rest.empty()) {
        size_t end = rest.find('\n');
        std::string line(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        std::string argument, out;
        Check(LookupScriptKeyword(line, argument) < 26, "a keyword beyond the table");
        size_t after = 0;
        const int z = ParseAnswerNumber(argument, &after);
        Check(z >= -1 && z < kAnswerCount && after <= argument.size(), "an answer beyond the 30");
        if (ExpandScriptText(answers, argument, out) != 1) continue;
        for (const std::string& shown : NamedAnswers(answers, argument))
            Check(out.find(shown) != std::string::npos, "an answer was not written as it stands");
    }
    return 0;
}

// A questionnaire script run for a caller whose every answer is empty (the
// line is lost, so each question returns at once), then each of its lines
// taken apart and expanded as the interpreter does.  Scripts with
// "execute", "logoff", "branch" or "getchoice" are left out: the first runs
// a command, the second ends the process, and the last two wait or loop
// for ever when no caller answers (a real call ends there by its
// inactivity alarm or its hang-up), all as the sysop who wrote it asked.
#include <algorithm>
#include <cctype>
#include <string_view>

#include "caller/core/call_state.h"
#include "caller/core/questionnaire.h"
#include "fuzz/fuzz_support.h"

using namespace kv::caller;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::fuzz::InstallFixtureCall(true);
    std::string text(reinterpret_cast<const char*>(data), size);
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char ch) { return char(std::tolower(ch)); });
    for (const char* word : {"execute", "logoff", "branch", "getchoice"})
        if (lower.find(word) != std::string::npos) return -1;

    CallState& c = Call();
    c.User = kv::UserRecord{};
    c.User.Name = "Terry Fuzz";
    c.AnsiOn = c.ColorOn = true;
    kv::fuzz::WriteScratchFile("fuzz.q-a", text);
    RunQuestionnaire("fuzz /D /N");

    ScriptAnswers answers;
    for (size_t i = 0; i < answers.size(); ++i) answers[i] = std::string(i * 9, char('a' + i % 26));
    std::string_view rest = text;
    while (!rest.empty()) {
        size_t end = rest.find('\n');
        std::string line(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        std::string argument, out;
        LookupScriptKeyword(line, argument);
        size_t after = 0;
        ParseAnswerNumber(argument, &after);
        ExpandScriptText(answers, argument, out);
    }
    return 0;
}

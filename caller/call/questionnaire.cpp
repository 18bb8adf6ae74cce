#include "caller/call/questionnaire.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "caller/call/logoff.h"
#include "caller/term/activity_log.h"
#include "caller/term/call_end.h"
#include "caller/term/call_signals.h"
#include "caller/term/call_state.h"
#include "caller/term/display_file.h"
#include "caller/term/external_programs.h"
#include "caller/term/limits.h"
#include "caller/term/line_status.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/dates.h"
#include "common/runtime.h"
#include "common/strings.h"
#include "common/user_record.h"

namespace kv::caller {
namespace {

constexpr const char* kScriptEnding = ".q-a";
constexpr const char* kAnswersEnding = ".asw";
constexpr int kScriptLineRoom = 255;  // 254 characters and the NUL
constexpr size_t kKeywordMax = 20;
constexpr int kLabels = 5;
constexpr int32_t kHighestLevel = 64000;

enum Keyword {
    kAsk, kBranch, kCapitalize, kChangeColor, kClearScreen, kDisplay, kIf, kEndif, kExecute, kGetChoice,
    kHereDocument, kLabel, kListAnswer, kOutputAnswer, kPostInfo, kQuit, kSetFlag, kSetSecurity, kStampLog,
    kStop, kToUpper, kToLower, kWritef, kZap, kLogoff, kFileCat,
};
constexpr const char* kKeywords[] = {
    "ask", "branch", "capitalize", "changecolor", "clearscreen", "display", "if", "endif", "execute",
    "getchoice", "heredocument", "label", "listanswer", "outputanswer", "postinfo", "quit", "setflag",
    "setsecurity", "stamplog", "stop", "toupper", "tolower", "writef", "zap", "logoff", "filecat",
};

// One running script.
struct Script {
    std::string name;
    FILE* file = nullptr;
    FILE* answersFile = nullptr;
    std::string answersPath;
    bool deleteAnswers = false;
    int lines = 0;  // read so far, for the error report
    ScriptAnswers answers;
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A whole decimal number with nothing around it; false otherwise.
bool ReadNumber(std::string_view text, long& value) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (!IsDigit(c)) return false;
    value = std::atol(std::string(text).c_str());
    return true;
}

// The next line of the script, counted; its line end removed.  False at
// the end of the script.
bool NextLine(Script& s, std::string& line) {
    char buf[kScriptLineRoom];
    if (std::fgets(buf, sizeof buf, s.file) == nullptr) return false;
    ++s.lines;
    line = buf;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return true;
}

std::string WithoutLeadingBlanks(const std::string& line) { return std::string(SkipBlanks(line)); }

// The first word of a line, lower case.
std::string FirstWord(const std::string& line) {
    std::string word = line.substr(0, line.find(' '));
    return LowerCase(word);
}

// The text between the first double quote and the next one.
bool QuotedArgument(const std::string& argument, std::string& text) {
    size_t open = argument.find('"');
    if (open == std::string::npos) return false;
    size_t close = argument.find('"', open + 1);
    if (close == std::string::npos) return false;
    text = argument.substr(open + 1, close - open - 1);
    return true;
}

// "[k]" right at pos of text: the k, and pos moved past the "]".  -1 when
// there is no "[" there; -2 for a "[" without a number and "]".
long ParseLengthSuffix(const std::string& text, size_t& pos) {
    if (pos >= text.size() || text[pos] != '[') return -1;
    size_t close = text.find(']', pos);
    long k = 0;
    if (close == std::string::npos || !ReadNumber(std::string_view(text).substr(pos + 1, close - pos - 1), k))
        return -2;
    pos = close + 1;
    return k;
}

int LabelNumber(const std::string& argument) {
    long n = 0;
    if (!ReadNumber(argument, n) || n < 1 || n > kLabels) return -1;
    return int(n);
}

// Reads on to the "endif" that closes the "if" just run; false at the end
// of the script.
bool SkipToEndif(Script& s) {
    int depth = 0;
    for (std::string line; NextLine(s, line);) {
        std::string word = FirstWord(WithoutLeadingBlanks(line));
        if (word == "if") {
            ++depth;
        } else if (word == "endif") {
            if (depth == 0) return true;
            --depth;
        }
    }
    return false;
}

// Reads on to the line "label n".
bool FindScriptLabel(Script& s, int n) {
    for (std::string line; NextLine(s, line);) {
        std::string text = WithoutLeadingBlanks(line);
        TrimRight(text);
        std::string argument;
        if (LookupScriptKeyword(text, argument) == kLabel && LabelNumber(argument) == n) return true;
    }
    return false;
}

// The lines after "heredocument" as they stand, up to the one beginning
// with "stop"; true when that line came.
bool PrintHereDocument(Script& s) {
    for (std::string line; NextLine(s, line);) {
        if (FirstWord(line) == "stop") return true;
        PutLine(line);
    }
    return false;
}

void WriteAnswers(Script& s, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), s.answersFile);
}

// "ask Z3 20": the answer, a blank, then the length.
bool Ask(Script& s, const std::string& argument) {
    size_t end = 0;
    int z = ParseAnswerNumber(argument, &end);
    size_t blank = argument.find(' ', end);
    long length = 0;
    if (z < 0 || blank == std::string::npos || !ReadNumber(SkipBlanks(std::string_view(argument).substr(blank)), length))
        return false;
    // The answer holds 255 characters; a longer question would not fit.
    if (length <= 0 || length > long(kAnswerMax)) return false;
    std::string& answer = s.answers[size_t(z)];
    InputLine(true, int(length), answer);
    if (answer == kEscAnswer) answer.clear();
    PutLine();
    return true;
}

bool ChangeColor(const std::string& argument) {
    size_t blank = argument.find(' ');
    long fg = 0, bg = 0;
    if (blank == std::string::npos || !ReadNumber(argument.substr(0, blank), fg) ||
        !ReadNumber(SkipBlanks(std::string_view(argument).substr(blank)), bg) || fg > 15 || bg > 8)
        return false;
    if (Call().ColorOn) SetColor(int16_t(fg), int16_t(bg));
    return true;
}

bool Display(const std::string& argument) {
    if (argument.size() < 2 || argument.front() != '"' || argument.back() != '"') return false;
    for (char c : argument) {
        if (c == '"') continue;
        if (c == '|') PutLine();
        else PutChar(uint8_t(c));
    }
    return true;
}

bool If(Script& s, const std::string& argument) {
    int z = ParseAnswerNumber(argument);
    size_t op = argument.find('=');
    if (op == std::string::npos) op = argument.find('~');
    std::string text;
    if (z < 0 || op == std::string::npos || !QuotedArgument(argument.substr(op + 1), text)) return false;
    bool equal = s.answers[size_t(z)] == text;
    bool skip = argument[op] == '=' ? !equal : equal;
    return !skip || SkipToEndif(s);
}

bool GetChoice(Script& s, const std::string& argument) {
    int z = ParseAnswerNumber(argument);
    std::string keys;
    if (z < 0 || !QuotedArgument(argument, keys) || keys.empty()) return false;
    UpperCase(keys);
    int key = ChoicePrompt("", false, true, false, false, keys);
    s.answers[size_t(z)] = std::string(1, char(key));
    return true;
}

bool OutputAnswer(Script& s, const std::string& argument) {
    int z = ParseAnswerNumber(argument);
    std::string label;
    if (z < 0 || !QuotedArgument(argument, label)) return false;
    for (char& c : label)
        if (c == '|') c = '\n';
    WriteAnswers(s, label + s.answers[size_t(z)] + "\n");
    return true;
}

// "setflag C3 ON": flag 3 of set C.
bool SetFlag(const std::string& argument) {
    size_t blank = argument.find(' ');
    if (argument.size() < 2 || blank == std::string::npos) return false;
    char group = ToUpperChar(argument[0]);
    char bit = argument[1];
    std::string last = argument.substr(argument.find_last_of(' ') + 1);
    UpperCase(last);
    if (group < 'A' || group > 'D' || bit < '1' || bit > '8' || (last != "ON" && last != "OFF")) return false;
    uint8_t mask = uint8_t(1u << (bit - '1'));
    uint8_t& flags = Call().User.Flags[size_t(group - 'A')];
    flags = last == "ON" ? uint8_t(flags | mask) : uint8_t(flags & ~mask);
    return true;
}

bool SetSecurity(const std::string& argument) {
    long level = 0;
    if (!ReadNumber(argument, level) || level > kHighestLevel) return false;
    CallState& c = Call();
    c.User.SecurityLevel = int32_t(level);
    int16_t before = c.CallMinutes;
    if (!LoadLimits(int32_t(level), GetLineSpeed())) {
        LogText(117);
        c.CallMinutes = before;
        return true;
    }
    // The allowance of a call counts from its start: the minutes of this
    // call are charged by the clock as it goes on, so only the minutes of
    // the earlier calls today come off here.
    c.DailyMinutes = c.CallMinutes;
    c.CallMinutes = int16_t(c.DailyMinutes - c.User.MinutesToday);
    return true;
}

bool Expanded(const Script& s, const std::string& argument, std::string& out) {
    std::string text;
    return QuotedArgument(argument, text) && ExpandScriptText(s.answers, text, out) == 1;
}

bool FileCat(const std::string& argument) {
    std::string name;
    if (!QuotedArgument(argument, name) || name.empty()) return false;
    return DisplayFile(name[0] == '/' ? 0 : 1, name) != -1;
}

[[noreturn]] void ScriptLogoff(Script& s, const std::string& argument) {
    LogText(118, s.name, kScriptEnding);
    if (argument.empty() || argument[0] != '0') DisplayFile(1, GetText(643));
    std::fclose(s.answersFile);
    if (s.deleteAnswers) unlink(s.answersPath.c_str());
    std::fclose(s.file);
    RestoreTtyMode();
    LogOff(kLogOffNormal);
    ExitProgram(50);
}

// Runs one keyword; false when it failed.
bool ExecScriptKeyword(Script& s, int code, const std::string& argument) {
    ScriptAnswers& a = s.answers;
    int z = ParseAnswerNumber(argument);
    std::string text;
    switch (code) {
        case kAsk: return Ask(s, argument);
        case kBranch: {
            int n = LabelNumber(argument);
            if (n < 0) return false;
            // A loop back may never come to a key wait: a hang-up or a
            // chat request is taken here, so such a loop still ends with
            // the call.
            ActOnSignals();
            std::rewind(s.file);
            s.lines = 0;
            if (FindScriptLabel(s, n)) return true;
            PutColorText(GetText(516), true, false, 2, kColorWarning);
            return false;
        }
        case kCapitalize:
            if (z < 0) return false;
            CapitalizeName(a[size_t(z)]);
            return true;
        case kChangeColor: return ChangeColor(argument);
        case kClearScreen:
            if (Call().User.Options & USER_CLEAR_SCREEN) EraseScreen();
            return true;
        case kDisplay: return Display(argument);
        case kIf: return If(s, argument);
        case kEndif: return true;
        case kExecute:
            if (argument.empty() || !QuotedArgument(argument, text)) return false;
            RunExternal(0, 0, 0, text);
            return true;
        case kGetChoice: return GetChoice(s, argument);
        case kHereDocument: return PrintHereDocument(s);
        case kLabel: return LabelNumber(argument) > 0;
        case kListAnswer:
            if (z < 0) return false;
            PutLine(a[size_t(z)]);
            return true;
        case kOutputAnswer: return OutputAnswer(s, argument);
        case kPostInfo:
            WriteAnswers(s, "\n" + FormatText(115, Call().User.Name, TimeString(), GetText(116), DateString()) +
                                " ***\n");
            return true;
        case kSetFlag: return SetFlag(argument);
        case kSetSecurity: return SetSecurity(argument);
        case kStampLog:
            if (!Expanded(s, argument, text)) return false;
            WriteLogLine(text);
            return true;
        case kToUpper:
            if (z < 0) return false;
            UpperCase(a[size_t(z)]);
            return true;
        case kToLower:
            if (z < 0) return false;
            LowerCase(a[size_t(z)]);
            return true;
        case kWritef:
            if (!Expanded(s, argument, text)) return false;
            PutLine(text);
            return true;
        case kZap:
            for (std::string& answer : a) answer.clear();
            return true;
        case kLogoff: ScriptLogoff(s, argument);
        case kFileCat: return FileCat(argument);
        default: return false;  // "stop"
    }
}

int InterpretScript(Script& s) {
    for (std::string& answer : s.answers) answer.clear();
    bool ok = true;
    for (std::string line; ok && NextLine(s, line);) {
        TrimRight(line);
        std::string text = WithoutLeadingBlanks(line);
        if (text.empty() || text[0] == '#') continue;
        std::string argument;
        int code = LookupScriptKeyword(text, argument);
        if (code == kQuit) return 1;
        ok = code >= 0 && ExecScriptKeyword(s, code, argument);
    }
    if (ok) return 1;
    std::string report = FormatText(114, s.name, kScriptEnding, s.lines);
    if (Call().ColorOn) SetColorPair(kColorWarning);
    else SetBold();
    SetBlink();
    PutLine(report);
    ResetAttributes();
    PauseWithSignals(3);
    WriteLogLine(report);
    return 0;
}

}  // namespace

int ParseAnswerNumber(const std::string& argument, size_t* end) {
    for (size_t at = argument.find('Z'); at != std::string::npos; at = argument.find('Z', at + 1)) {
        if (at + 1 >= argument.size() || !IsDigit(argument[at + 1])) continue;
        size_t stop = at + 1;
        while (stop < argument.size() && IsDigit(argument[stop])) ++stop;
        if (end != nullptr) *end = stop;
        long n = 0;
        // Only 30 answers exist: a larger number names none of them.
        if (!ReadNumber(std::string_view(argument).substr(at + 1, stop - at - 1), n) || n >= kAnswerCount) return -1;
        return int(n);
    }
    return -1;
}

int LookupScriptKeyword(const std::string& line, std::string& argument) {
    size_t blank = line.find(' ');
    std::string word = line.substr(0, blank);
    argument = blank == std::string::npos ? std::string() : std::string(SkipBlanks(std::string_view(line).substr(blank)));
    if (word.size() > kKeywordMax) return -1;
    LowerCase(word);
    for (int code = 0; code < int(std::size(kKeywords)); ++code)
        if (word == kKeywords[code]) return code;
    return -1;
}

int ExpandScriptText(const ScriptAnswers& answers, const std::string& text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '|') {
            out += "\r\n";
            continue;
        }
        if (c != '%') {
            out += c;
            continue;
        }
        char code = i + 1 < text.size() ? text[++i] : '\0';
        switch (code) {
            case '%': out += '%'; break;
            case 'D': out += DateString(); break;
            case 'T': out += TimeString(); break;
            case 'F': {
                const std::string& name = Call().User.Name;
                out += name.substr(0, name.find(' '));
                break;
            }
            case 'Z': {
                size_t start = i + 1, pos = start;
                while (pos < text.size() && pos < start + 2 && IsDigit(text[pos])) ++pos;
                long n = 0;
                if (!ReadNumber(std::string_view(text).substr(start, pos - start), n) || n >= kAnswerCount) return 0;
                std::string answer = answers[size_t(n)];
                long k = ParseLengthSuffix(text, pos);
                if (k == -2) return 0;
                if (k >= 0 && size_t(k) < answer.size()) answer.resize(size_t(k));
                out += answer;
                i = pos - 1;
                break;
            }
            default: return 0;
        }
    }
    return 1;
}

int RunQuestionnaire(const std::string& argument) {
    CallState& c = Call();
    // "name /D /N": the options after the name.
    size_t slash = argument.find('/');
    std::string name = argument.substr(0, slash);
    TrimRight(name);
    bool deleteAnswers = false, quiet = false;
    for (; slash != std::string::npos; slash = argument.find('/', slash + 1)) {
        char option = slash + 1 < argument.size() ? ToUpperChar(argument[slash + 1]) : '\0';
        if (option == 'D') deleteAnswers = true;
        if (option == 'N') quiet = true;
    }
    Script s;
    s.name = name;
    std::string base = Config().DataDir + "/" + name;
    s.file = std::fopen((base + kScriptEnding).c_str(), "r");
    if (s.file == nullptr) return 0;
    s.answersPath = base + kAnswersEnding;
    s.answersFile = std::fopen(s.answersPath.c_str(), "a+");
    if (s.answersFile == nullptr) {
        std::fclose(s.file);
        return 0;
    }
    s.deleteAnswers = deleteAnswers;
    if (!quiet) LogText(708, name, GetText(deleteAnswers ? 53 : 52));
    bool high = c.AcceptHighChars;
    if (c.ColorOn) c.AcceptHighChars = true;
    int result = InterpretScript(s);
    c.AcceptHighChars = high;
    std::fclose(s.answersFile);
    if (deleteAnswers) unlink(s.answersPath.c_str());
    std::fclose(s.file);
    return result;
}

}  // namespace kv::caller

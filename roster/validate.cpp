#include "roster/validate.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <fstream>

#include <fmt/printf.h>

#include "common/msgbase.h"
#include "common/runtime.h"
#include "common/strings.h"
#include "roster/browse.h"
#include "roster/roster_log.h"
#include "roster/screen.h"
#include "roster/session.h"
#include "roster/widgets.h"

namespace kv::roster {
namespace {

constexpr size_t kAnswerLineMax = 131;
constexpr const char* kLetterSender = "kvroster 1.0";

bool NameCharacter(char c) { return std::isalnum(static_cast<unsigned char>(c)) || static_cast<unsigned char>(c) >= 128; }

bool IsHeading(std::string_view line) { return line.substr(0, 3) == "***"; }

}  // namespace

bool AnswerHeadingNames(std::string_view line, std::string_view name) {
    if (!IsHeading(line) || name.empty()) return false;
    for (size_t at = line.find(name); at != std::string_view::npos; at = line.find(name, at + 1)) {
        bool startsWord = at == 0 || !NameCharacter(line[at - 1]);
        size_t end = at + name.size();
        bool endsWord = end == line.size() || !NameCharacter(line[end]);
        if (startsWord && endsWord) return true;
    }
    return false;
}

AnswerBlock ReadAnswerBlock(const std::string& path, const std::string& name, std::vector<std::string>& lines) {
    lines.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) return AnswerBlock::kNoFile;
    std::string line;
    bool inBlock = false;
    while (std::getline(in, line)) {
        if (line.size() > kAnswerLineMax) line.resize(kAnswerLineMax);
        TrimRight(line);
        if (inBlock) {
            if (IsHeading(line)) break;
            lines.push_back(line);
        } else if (AnswerHeadingNames(line, name)) {
            inBlock = true;
        }
    }
    return inBlock ? AnswerBlock::kFound : AnswerBlock::kNotFound;
}

UserRecord ValidatedRecord(const UserRecord& r, const RosterSettings& s) {
    UserRecord v = r;
    v.SecurityLevel = s.ValidatedLevel;
    for (size_t set = 0; set < v.Flags.size(); ++set)
        if (v.Flags[set] == s.NewUserFlags[set]) v.Flags[set] = s.ValidatedFlags[set];
    return v;
}

std::vector<std::string> LetterLines(std::string_view text) {
    std::vector<std::string> lines;
    // The letter ends at an end byte as a message text does.
    text = text.substr(0, text.find(char(kTextEndByte)));
    size_t start = 0;
    for (size_t nl = text.find('\n'); nl != std::string_view::npos; nl = text.find('\n', start)) {
        std::string line(text.substr(start, nl - start));
        TrimRight(line);
        while (line.size() > kLetterLineMax) {
            lines.push_back(line.substr(0, kLetterLineMax));
            line.erase(0, kLetterLineMax);
        }
        lines.push_back(line);
        start = nl + 1;
    }
    return lines;
}

int32_t PostLetter(const std::string& recipient, const std::string& subject, int area, bool isPrivate,
                   const std::vector<std::string>& lines) {
    if (area < 0 || area >= int(kMsgAreaCount)) {
        RosterLog("Letter area %d is not a message area; nothing posted", area + 1);
        return 0;
    }
    MsgText text;
    text.Pid = "kvroster";
    text.Lines = lines;
    MsgHeader header;
    const std::string& sysop = Config().SysopName;
    BuildMessageHeader(header, recipient, subject, 0, 0, area, isPrivate, std::nullopt, false, false,
                       sysop.empty() ? kLetterSender : sysop);
    int32_t headerOffset = 0;
    if (!AppendMessage(text, header, headerOffset)) return 0;
    return header.MsgNumber;
}

int ShowAnswers(WINDOW* w, const std::string& name) {
    std::vector<std::string> lines;
    AnswerBlock found = ReadAnswerBlock(State().settings.QuestionnairePath, name, lines);
    if (found == AnswerBlock::kNoFile) {
        PopupAck(10, 15, "Cannot open newuser questionnaire answer file");
        touchwin(Windows().list);
        wrefresh(Windows().list);
        return 0;
    }
    if (found == AnswerBlock::kNotFound) return 0;
    const std::string title = fmt::sprintf(" Questionnaire answers of %s ", name);
    ClearWindow(w, true);
    PutText(w, 0, 2, title, A_BOLD);
    int result = 1;
    for (size_t i = 0; i <= lines.size(); ++i) {
        const bool atEnd = i == lines.size();
        if (!atEnd) PutText(w, 1 + int(i % 11), 2, fmt::sprintf("%.73s", lines[i]));
        if (atEnd || i % 11 == 10) {
            static const char kPrompt[] = " Hit any key to continue, <Esc> to abort :  ";
            PutText(w, 12, 2, kPrompt);
            wmove(w, 12, 2 + int(sizeof kPrompt) - 2);
            wrefresh(w);
            if (ReadWindowKey(w) == kEsc) {
                result = -1;
                break;
            }
            ClearWindow(w, true);
            if (!atEnd && i + 1 < lines.size()) PutText(w, 0, 2, title, A_BOLD);
        }
    }
    ClearWindow(w, true);
    return result;
}

int32_t PostValidationLetter(WINDOW* w, const UserRecord& record) {
    const RosterSettings& s = State().settings;
    std::string path = s.LetterPath;
    if (!PopupPrompt(10, 8, "Which letter do you want to post?", A_REVERSE, 60, path)) return 0;
    TrimRight(path);
    if (path.empty()) return 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        PopupAck(10, 22, "Cannot find the messages file");
        return 0;
    }
    std::string text((std::istreambuf_iterator<char>(in)), {});
    int32_t number = PostLetter(record.Name, "Validation", s.LetterArea - 1, s.PrivateLetter != 0, LetterLines(text));
    if (number > 0) {
        std::string said = fmt::sprintf("Message no. %ld posted in area #%d", long(number), int(s.LetterArea));
        PopupAck(10, 36 - int(said.size()) / 2, said);
    } else {
        PopupAck(10, 22, "Cannot write auto-message to user");
    }
    touchwin(w);
    wrefresh(w);
    return number;
}

int ValidateOne(WINDOW* w, int position, UserRecord& record, bool fromMarkedList) {
    BrowseState& b = Browser();
    int shown = ShowAnswers(w, record.Name);
    if (shown == -1) return -1;
    if (shown == 0) PopupAck(10, 22, fmt::sprintf("No answer found for %s.", Unmarked(record.Name)));
    ClearWindow(w, true);
    PutText(w, 0, 2, fmt::sprintf(" Validation of %s ", record.Name), A_BOLD);
    wrefresh(w);
    const RosterSettings& s = State().settings;
    if (record.SecurityLevel > s.UnvalidatedLevel) {
        PopupAck(10, 22, "This user is already validated");
        return 0;
    }
    if (PopupChoice(10, 21, true, "Do you want to validate this user?", "YN") != 'Y') return 0;
    const UserRecord saved = b.current;
    const int32_t recordNumber = b.base.index()[size_t(position)].RecordNumber;
    UserRecord validated = ValidatedRecord(record, s);
    if (!b.base.WriteBack(recordNumber, record, validated)) {
        PopupAck(10, 22, "Cannot write the user record");
        return 0;
    }
    record = validated;
    if (!s.LetterPath.empty()) PostValidationLetter(w, record);
    b.current = saved;
    if (!fromMarkedList) b.base.FetchAt(position, b.current);
    return 1;
}

int ValidateUsers(bool fromMenu) {
    BrowseState& b = Browser();
    if (b.base.count() == 0) return 0;
    int marked = 0;
    if (fromMenu)
        for (const IndexEntry& e : b.base.index()) marked += e.Marked ? 1 : 0;
    {
        Popup window(13, 76, 6, 2);
        WINDOW* w = window.w;
        wrefresh(w);
        if (marked > 0) {
            for (int pos = 0; pos < b.base.count(); ++pos) {
                if (!b.base.index()[size_t(pos)].Marked) continue;
                UserRecord r;
                if (!b.base.FetchAt(pos, r)) continue;
                if (ValidateOne(w, pos, r, true) == -1) break;
            }
        } else {
            ValidateOne(w, b.currentPos, b.current, false);
        }
    }
    ShowListPage(b.top);
    ShowCurrentLine(b.currentPos);
    return 0;
}

int ValidateFromMenu() { return ValidateUsers(true); }

}  // namespace kv::roster

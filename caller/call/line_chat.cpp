#include "caller/call/line_chat.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "caller/call/startup.h"
#include "caller/term/activity_log.h"
#include "caller/term/call_signals.h"
#include "caller/term/call_state.h"
#include "caller/term/limits.h"
#include "caller/term/line_status.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "caller/term/term_charset.h"
#include "caller/term/terminal.h"
#include "common/process_info.h"
#include "common/files.h"
#include "common/online_status.h"
#include "common/runtime.h"
#include "common/strings.h"
#include "common/users.h"
#include "common/whole_file.h"

namespace kv::caller {
namespace {

constexpr int kChatLines = 10;         // only lines 0-9 can be asked
constexpr size_t kRequestRoom = 127;   // characters of a request file read
constexpr size_t kAnswerRoom = 20;     // of an answer file
constexpr int kMessageMax = 75;
constexpr int kWrapColumn = 75;
constexpr int kFileNameMax = 50;
constexpr size_t kSendLineMax = 255;
constexpr int kRequestFields = 7;
constexpr int kSysopExactLevel = 64000;  // only this level passes do-not-disturb and sends files
constexpr std::string_view kWordEnds = ".,! ";

// Set while this line's own request or chat, or an answer, runs: a request
// that comes meanwhile must not start a second chat inside the first.
bool gInChat = false;

class ChatGuard {
public:
    ChatGuard() { gInChat = true; }
    ~ChatGuard() { gInChat = false; }
};

bool ClearScreenWanted() { return (Call().User.Options & USER_CLEAR_SCREEN) != 0; }

void Warn(const std::string& text) { PutColorText(text, true, false, 0, kColorWarning); }

void WarnAndLog(const std::string& text) {
    Warn(text);
    WriteLogLine(text);
}

// A title and a line of "-" as long as it, each in its pair.
void Underlined(const std::string& title, int titlePair, int rulePair) {
    PutColorText(title, true, false, 0, titlePair);
    PutColorText(std::string(title.size(), '-'), true, false, 0, rulePair);
}

void ClearOrNewLine() {
    if (ClearScreenWanted())
        EraseScreen();
    else
        PutLine();
}

std::string ChatFile(int line, const char* ending) {
    return Config().DataDir + "/line" + std::to_string(line) + ending;
}

// The first line of a file, at most room characters.  False when it
// cannot be opened.
bool ReadFirstLine(const std::string& path, size_t room, std::string& line) {
    FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) return false;
    std::vector<char> buf(room + 1, '\0');
    line = std::fgets(buf.data(), int(buf.size()), f) != nullptr ? buf.data() : "";
    std::fclose(f);
    return true;
}

// The fields of a chat file line: the pieces that a "|" ends.
std::vector<std::string> SplitFields(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t bar; (bar = line.find('|', start)) != std::string::npos; start = bar + 1)
        fields.push_back(line.substr(start, bar - start));
    return fields;
}

bool AllDigits(const std::string& s) {
    if (s.empty()) return false;
    for (char ch : s)
        if (ch < '0' || ch > '9') return false;
    return true;
}

// --- the semaphore set ---------------------------------------------------

union SemaphoreValue {
    int val;
    struct semid_ds* buf;
    unsigned short* array;
};

int OpenChatSemaphores(bool create) {
    return semget(kChatSemaphoreKey, 2, create ? (IPC_CREAT | 0660) : 0);
}

int GetChatValue(int id, int side) {
    return semctl(id, side, GETVAL);
}

void SetChatValue(int id, int side, int value) {
    SemaphoreValue v{};
    v.val = value;
    semctl(id, side, SETVAL, v);
}

// A chat runs when one side of the set is in it and some line still shows
// the chat mark: a value left behind by a line that died is no chat.
bool ChatRunsElsewhere(int id) {
    if (GetChatValue(id, kChatRequester) != CHAT_READY && GetChatValue(id, kChatAnswerer) != CHAT_READY) return false;
    std::vector<OnlineEntry> entries;
    if (!ReadOnlineFile(entries)) return true;
    for (size_t line = 0; line < entries.size(); ++line)
        if (int(line) != Call().LineNumber && LineInUse(entries[line]) && (entries[line].Flags & LINE_CHAT))
            return true;
    return false;
}

// Whether pid is the caller program of the line on device: it runs, and
// that terminal is its controlling terminal or its standard input.  An
// entry of "online.ctl" may outlive its process, and the number may have
// gone to another program since.
bool IsCallerOnLine(int32_t pid, const std::string& device) {
    if (pid <= 0 || !OnlineProcessAlive(pid)) return false;
    std::string tty = "/dev/" + device;
    struct stat st {};
    if (stat(tty.c_str(), &st) != 0) return false;
    ProcessInfo info;
    if (ReadProcessInfo(pid_t(pid), info)) {
        unsigned major = (info.terminal >> 8) & 0xfff;
        unsigned minor = (info.terminal & 0xff) | ((info.terminal >> 12) & 0xfff00);
        if (major == ::major(st.st_rdev) && minor == ::minor(st.st_rdev)) return true;
    }
    std::string proc = "/proc/" + std::to_string(pid);
    char link[256];
    ssize_t n = readlink((proc + "/fd/0").c_str(), link, sizeof link - 1);
    return n > 0 && std::string(link, size_t(n)) == tty;
}

// The monitor of this line follows the partner's for the chat: switched on
// when the partner is monitored and this line is not.  True when it was.
bool FollowMonitor(bool partnerMonitored) {
    if (!partnerMonitored || Call().Monitoring) return false;
    ToggleMonitor();
    return true;
}

void RefuseAndPause(const std::string& text) {
    Warn(text);
    PauseWithSignals(3);
}

// The yes/no question whether to wait on; true for "no".
bool GiveUpWaiting(int seconds) {
    PutLine();
    return ChoicePrompt(FormatText(601, seconds), true, true, true, false, GetText(35)) == Call().NoKey;
}

// The chat key of LineChat: as ChatKey, under the inactivity alarm and the
// call-time check of a key wait.
int LineChatKey() {
    CallState& c = Call();
    int k = ChatKey();
    if (k == 0) {
        if (TakeAlarm()) OnInactivityAlarm();  // the warning; the end does not return
    } else {
        RestartInactivityAlarm();
    }
    if (!CheckTimeLeft()) {
        c.TimeUp = 1;
        OnInactivityAlarm();
    }
    return k;
}

// What goes straight to the partner's terminal takes the form that
// terminal wants: each line's program knows only its own, so the partner's
// is read from the locale its program started with.
bool gPartnerUtf8 = false;

void ToPartner(int fd, std::string_view raw) {
    const std::string bytes = TextForTerminal(raw, gPartnerUtf8);
    std::string_view text = bytes;
    while (!text.empty()) {
        ssize_t n = write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // a partner's line that went away loses the text
        text.remove_prefix(size_t(n));
    }
}

// One key of the caller: in pair 0 here, then back to the partner's pair.
void EchoKey(int fd, int key) {
    char b = char(key);
    SetColorPair(kColorNormal);
    PutChar(uint8_t(b));
    SetColorPair(kColorTitle);
    ToPartner(fd, std::string_view(&b, 1));
}

// The reason the partner's value gives for leaving.
int DepartureText(int value) {
    switch (value) {
        case CHAT_HANGUP: return 615;
        case CHAT_INTERRUPT: return 616;
        case CHAT_TIMEOUT: return 617;
        default: return 618;
    }
}

}  // namespace

int LineDeviceName(int line, std::string& name) {
    std::vector<LineTableEntry> lines;
    if (line < 0 || !ReadLineTable(lines) || size_t(line) >= lines.size()) return 0;
    name = lines[size_t(line)].Device;
    return 1;
}

void WhoIsOnline() {
    CallState& c = Call();
    const ConfigRecord& cfg = Config();
    if (!cfg.MultiLine) {
        Warn(GetText(566));
        PauseWithSignals(2);
        return;
    }
    int listed = 0;
    std::vector<OnlineEntry> entries;
    if (!ReadOnlineFile(entries)) {
        WarnAndLog(FormatText(4, kOnlineFile));
        PauseWithSignals(4);
    } else {
        const std::string keys = GetText(200);  // stop, pause
        bool pausing = (c.User.Options & USER_PAGE_BREAK) != 0;
        uint16_t rows = 5;  // the heading's
        bool stop = false;
        NonBlockingInput input;
        // After each column the caller may stop the list or pause it.
        auto listKeys = [&] {
            int index = 0;
            if (!HotKeyPressed(index, 2, keys)) return;
            if (index == 0) stop = true;
            else GetKey();
        };
        for (size_t line = 0; line < entries.size() && !stop; ++line) {
            const OnlineEntry& e = entries[line];
            if (int(line) == c.LineNumber || (line == 0 && !cfg.ShowSysop) || !LineInUse(e)) continue;
            if (listed++ == 0) {
                SetColorPair(kColorTitle);
                ClearOrNewLine();
                Underlined(GetText(557), kColorTitle, kColorTitle);
                Underlined(GetText(558), kColorKeys, kColorKeys);
                SetColorPair(kColorNormal);
            }
            UserRecord u;
            std::string name, location;
            if (e.User >= 0 && ReadUserRecord(e.User, u)) {
                name = u.Name;
                location = u.Location;
            } else {
                name = GetText(559).substr(0, 25);
                location = GetText(560).substr(0, 25);
            }
            std::string device;
            if (!LineDeviceName(int(line), device)) device = "UNKNOWN";
            int state = (e.Flags & LINE_EXTERNAL) ? 561
                        : (e.Flags & LINE_TRANSFER) ? 562
                        : (e.Flags & LINE_CHAT)     ? 563
                        : (e.Flags & LINE_WRITING)  ? 703
                                                    : 564;
            if (e.Flags & LINE_MONITORED) {
                if (c.ColorOn) SetColorPair(kColorWarning);
                else SetBold();
            }
            PutString(FormatChecked("%-7d", int(line)));
            if (e.Flags & LINE_MONITORED) {
                ResetAttributes();
                SetColorPair(kColorNormal);
            }
            const std::string columns[] = {
                FormatChecked("%-9.8s", device),   FormatChecked("%-18.17s", name),
                FormatChecked("%-18.17s", location), FormatChecked("%-8.5s", e.LogonTime),
                FormatChecked("%-11.9s", GetText(state)), GetText((e.Flags & LINE_NODISTURB) ? 53 : 52),
            };
            listKeys();
            for (const std::string& column : columns) {
                if (stop) break;
                PutString(column);
                listKeys();
            }
            PutLine();
            if (!stop && pausing) {
                ++rows;
                int key = CheckPageFull(rows);
                if (key == c.NoKey) stop = true;
                else if (key == '=') pausing = false;
            }
        }
    }
    if (listed > 0) {
        PutColorText(GetText(420), false, false, 0, kColorPrompt);
        GetKey();
        PutLine();
    } else {
        PutColorText(GetText(565), true, false, 0, kColorTitle);
        PauseWithSignals(3);
    }
}

int WriteChatRequest(int targetLine, const std::string& message) {
    CallState& c = Call();
    std::string text = message.empty() ? "..." : message;
    for (char& ch : text)
        if (ch == '|') ch = '!';
    std::string line = FormatChecked("%d|%ld|%d|%d|%d|%c|%s|\n", int(c.LineNumber), long(c.CurrentUserNumber), 0,
                                     c.Monitoring ? 1 : 0, ScreenLength(), message.empty() ? 'C' : 'O', text);
    return WriteFileWhole(ChatFile(targetLine, ".ask"), line) ? 1 : 0;
}

int WriteChatAnswer(int requesterLine, bool accepted, int screenLength) {
    CallState& c = Call();
    std::string line = FormatChecked("%d|%d|%d|%d|%d|\n", int(c.LineNumber), 0, c.Monitoring ? 1 : 0,
                                     std::min(ScreenLength(), screenLength), accepted ? 1 : 0);
    return WriteFileWhole(ChatFile(requesterLine, ".rsp"), line) ? 1 : 0;
}

void RemoveOwnAnswer() { unlink(ChatFile(Call().LineNumber, ".rsp").c_str()); }

ChatAnswer WaitChatAnswer(int targetLine) {
    CallState& c = Call();
    ChatAnswer answer;
    const std::string path = ChatFile(c.LineNumber, ".rsp");
    for (int seconds = 0;;) {
        PauseWithSignals(1);
        if (access(path.c_str(), F_OK) == 0) break;
        PutString(GetText(600));
        if (++seconds >= 15 && GiveUpWaiting(seconds)) {
            int id = OpenChatSemaphores(false);
            if (id >= 0) SetChatValue(id, kChatRequester, CHAT_ENDED);
            return answer;
        }
    }
    PutLine();
    std::string line;
    ReadFirstLine(path, kAnswerRoom, line);
    unlink(path.c_str());
    std::vector<std::string> fields = SplitFields(line);
    fields.resize(5);
    if (!AllDigits(fields[0]) || std::atoi(fields[0].c_str()) != targetLine) {
        WarnAndLog(FormatText(603, fields[0], targetLine));
        PauseWithSignals(3);
        return answer;
    }
    answer.PartnerMonitored = fields[2] == "1";
    if (fields[4] != "1") {
        RefuseAndPause(GetText(602));
        return answer;
    }
    answer.Accepted = true;
    return answer;
}

void RequestChat() {
    CallState& c = Call();
    if (!Config().MultiLine) {
        Warn(GetText(566));
        PauseWithSignals(2);
        return;
    }
    int sem = OpenChatSemaphores(true);
    if (sem < 0) {
        RefuseAndPause(GetText(599));
        return;
    }
    ClearOrNewLine();
    Underlined(GetText(579), kColorTitle, kColorWarning);
    std::string typed;
    AskInput(true, false, GetText(580), typed, 3);
    PutLine();
    if (typed.empty() || typed == kEscAnswer) return;
    int target = AllDigits(typed) ? std::atoi(typed.c_str()) : -1;
    if (target == c.LineNumber) {
        RefuseAndPause(GetText(597));
        return;
    }
    if (target < 0 || target >= kChatLines) {
        RefuseAndPause(FormatText(598, kChatLines - 1));
        return;
    }
    OnlineEntry e;
    if (!ReadLineStatus(target, e)) {
        WarnAndLog(FormatText(596, target));
        PauseWithSignals(3);
        return;
    }
    LogText(688, target);
    // An entry at the log-in prompt has nobody to talk to yet.
    if (e.Pid == -1 || e.User < 0 || (e.User == 0 && !Config().ShowSysop)) {
        RefuseAndPause(FormatText(595, target));
        return;
    }
    int busy = (e.Flags & LINE_CHAT) ? 592
               : (e.Flags & LINE_TRANSFER) ? 593
               : (e.Flags & LINE_EXTERNAL) ? 594
               : (e.Flags & LINE_WRITING)  ? 704
                                           : 0;
    if (busy != 0) {
        RefuseAndPause(GetText(591) + GetText(busy));
        return;
    }
    if ((e.Flags & LINE_NODISTURB) && c.User.SecurityLevel != kSysopExactLevel) {
        Warn(GetText(589));
        PutColorText(GetText(590), true, false, 0, kColorHighlight);
        PauseWithSignals(3);
        return;
    }
    UserRecord partner;
    std::string device;
    if (!ReadUserRecord(e.User, partner)) {
        WarnAndLog(FormatText(587, int(e.User)));
        PauseWithSignals(3);
        return;
    }
    if (!LineDeviceName(target, device)) {
        WarnAndLog(FormatText(588, target));
        PauseWithSignals(3);
        return;
    }

    PutLine(FormatText(581, target, partner.Name, partner.Location));
    const std::string choices = GetText(567);  // cancel, message, chat
    int key = ChoicePrompt(GetText(582), true, true, true, false, choices);
    std::string message;
    if (choices.size() < 3 || key == choices[0]) return;
    if (key == choices[1]) {
        PutColorText(GetText(583), false, false, 0, kColorTitle);
        bool high = c.AcceptHighChars;
        c.AcceptHighChars = true;
        InputLine(true, kMessageMax, message);
        c.AcceptHighChars = high;
        PutLine();
        if (message.empty() || message == kEscAnswer) return;
    } else if (ChatRunsElsewhere(sem)) {
        // One set serves every line: a second chat would take over the
        // values of the one running.
        RefuseAndPause(GetText(591) + GetText(592));
        return;
    }

    ChatGuard guard;
    if (message.empty()) {
        SetChatValue(sem, kChatRequester, CHAT_ENDED);
        SetChatValue(sem, kChatAnswerer, CHAT_ENDED);
    }
    if (!WriteChatRequest(target, message)) {
        WarnAndLog(GetText(586));
        PauseWithSignals(3);
        return;
    }
    RemoveOwnAnswer();
    FlushOutput();
    if (!IsCallerOnLine(e.Pid, device) || kill(e.Pid, SIGUSR2) != 0) {
        unlink(ChatFile(target, ".ask").c_str());
        RefuseAndPause(GetText(585));
        return;
    }
    if (!message.empty()) return;

    ChatAnswer answer = WaitChatAnswer(target);
    if (!answer.Accepted) return;
    bool monitored = FollowMonitor(answer.PartnerMonitored);
    gPartnerUtf8 = ProcessTerminalIsUtf8(e.Pid);
    SetLineStatus(c.LineNumber, kLineChat, 1);
    ChatSession(kChatRequester, sem, device, partner.Name);
    SetLineStatus(c.LineNumber, kLineChat, 0);
    if (monitored && c.Monitoring) ToggleMonitor();
}

void OnChatRequest() {
    CallState& c = Call();
    const std::string path = ChatFile(c.LineNumber, ".ask");
    if (gInChat) {
        // Busy with a chat of its own: a chat request is declined at once
        // rather than left waiting.
        std::string line;
        if (ReadFirstLine(path, kRequestRoom, line)) {
            std::vector<std::string> f = SplitFields(line);
            if (f.size() == kRequestFields && f[5] == "C" && AllDigits(f[0]))
                WriteChatAnswer(std::atoi(f[0].c_str()), false, ScreenLength());
            unlink(path.c_str());
        }
        return;
    }
    ChatGuard guard;
    InactivityPause idle;

    std::string line;
    if (!ReadFirstLine(path, kRequestRoom, line)) {
        LogText(611);
        return;
    }
    if (!line.empty() && line.back() == '\n') line.pop_back();
    std::vector<std::string> f = SplitFields(line);
    UserRecord requester;
    OnlineEntry e;
    int from = f.empty() ? -1 : std::atoi(f[0].c_str());
    if (line.empty()) {
        LogText(610);
    } else if (f.size() != kRequestFields) {
        LogText(609, int(f.size()), kRequestFields);
    } else if (!ReadLineStatus(from, e)) {
        LogText(596, from);
    } else if (e.User >= 0 && ReadUserRecord(e.User, requester)) {
        RingBell();
        RingBell();
        ClearOrNewLine();
        Underlined(GetText(579), kColorTitle, kColorWarning);
        bool chat = f[5] == "C";
        PutColorText(GetText(chat ? 605 : 604), true, false, 0, kColorPrompt);
        PutColorText(FormatText(606, requester.Name, requester.Location, from), true, false, 0, kColorNormal);
        if (!chat) {
            PutLine();
            PutLine(FormatChecked(">> %.75s", f[6]));
        } else {
            std::string device;
            if (!LineDeviceName(from, device)) LogText(588, from);
            bool yes = ChoicePrompt(GetText(607), true, true, true, false, GetText(35)) == c.YesKey;
            if (!WriteChatAnswer(from, yes, std::atoi(f[4].c_str()))) {
                WarnAndLog(GetText(586));
                PauseWithSignals(3);
            } else if (!yes) {
                Warn(GetText(608));
            } else if (int sem = OpenChatSemaphores(false); sem < 0) {
                WarnAndLog(GetText(599));
                PauseWithSignals(3);
            } else {
                bool monitored = FollowMonitor(f[3] == "1");
                gPartnerUtf8 = ProcessTerminalIsUtf8(e.Pid);
                SetLineStatus(c.LineNumber, kLineChat, 1);
                ChatSession(kChatAnswerer, sem, device, requester.Name);
                SetLineStatus(c.LineNumber, kLineChat, 0);
                if (monitored && c.Monitoring) ToggleMonitor();
            }
        }
        PutColorText(GetText(578), true, false, 0, kColorPrompt);
    }
    unlink(path.c_str());
}

void ChatSession(int side, int semaphores, const std::string& device, const std::string& name) {
    LogText(689, name);
    int partner = 1 - side;
    SetChatValue(semaphores, side, CHAT_READY);
    for (int seconds = 0; GetChatValue(semaphores, partner) != CHAT_READY;) {
        PauseWithSignals(1);
        if (++seconds % 10 == 0 && GiveUpWaiting(seconds)) {
            SetChatValue(semaphores, side, CHAT_ENDED);
            return;
        }
    }
    if (ClearScreenWanted()) EraseScreen();
    Underlined(FormatText(612, name), kColorKeys, kColorWarning);
    LineChat(semaphores, side, device, name);
}

void WriteBoth(int fd, std::string_view text) {
    PutString(text);
    ToPartner(fd, text);
}

void LineChat(int semaphores, int side, const std::string& device, const std::string& name) {
    CallState& c = Call();
    int partner = 1 - side;
    ResetAttributes();
    int fd = open(("/dev/" + device).c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        SetChatValue(semaphores, side, CHAT_ENDED);
        RefuseAndPause(FormatText(622, device));
        return;
    }
    SetSysopChatFlag(kLineChatMarker);
    int column = 0;
    std::string word;
    bool left = false;  // this side or the partner ended it
    SetColorPair(kColorTitle);
    {
        NonBlockingInput input;  // so the signal that ends the chat is seen at once
        while (SysopChatFlag() == kLineChatMarker) {
            int key = LineChatKey();
            if (key == 0) continue;
            int value = GetChatValue(semaphores, partner);
            if (value != CHAT_READY) {
                PutLine();
                Warn(FormatText(613, name));
                PutColorText(GetText(614), false, false, 0, kColorPrompt);  // the reason follows on its row
                PutColorText(GetText(DepartureText(value)), true, false, 0, kColorNormal);
                semctl(semaphores, 0, IPC_RMID);
                left = true;
                PauseWithSignals(3);
                break;
            }
            if (key == kKeyBackspace) {
                if (column > 0) {
                    --column;
                    if (!word.empty()) word.pop_back();
                    EraseChar();
                    ToPartner(fd, "\b \b");
                }
            } else if (key == '\r') {
                if (!CheckTimeLeft()) {
                    c.TimeUp = 1;
                    OnInactivityAlarm();
                }
                column = 0;
                word.clear();
                PutLine();
                ToPartner(fd, "\r\n");
            } else if (key == kKeyEsc) {
                std::string question = GetText(690);
                PutString(question);
                int answer = 0;
                while (answer == 0 && SysopChatFlag() == kLineChatMarker) answer = ToUpperChar(char(LineChatKey()));
                if (answer == '\r' || answer == '\n' || answer == c.YesKey) {
                    SetChatValue(semaphores, side, CHAT_ENDED);
                    PutLine();
                    Warn(FormatText(619, name));
                    ToPartner(fd, GetText(620));
                    left = true;
                    PauseWithSignals(3);
                    break;
                }
                PutString(FormatChecked("\r%*s\r", int(question.size() + 1), ""));
            } else if (key == '!' && column == 0 && c.User.SecurityLevel == kSysopExactLevel) {
                SendFileToChat(fd);
            } else if (!IsChatText(key)) {
                // Dropped: a control byte on the partner's terminal could
                // clear it, change its settings or make it answer back.
            } else if (column <= kWrapColumn) {
                EchoKey(fd, key);
                ++column;
                if (kWordEnds.find(char(key)) != std::string_view::npos) word.clear();
                else word += char(key);
            } else if (kWordEnds.find(char(key)) != std::string_view::npos) {
                EchoKey(fd, key);
                WriteBoth(fd, "\n\r");
                column = 0;
                word.clear();
            } else {
                // The word moves to the next line on both screens.
                for (size_t i = 0; i < word.size(); ++i) WriteBoth(fd, "\b \b");
                WriteBoth(fd, "\r\n");
                WriteBoth(fd, word);
                EchoKey(fd, key);
                column = int(word.size()) + 2;
                word.clear();
            }
        }
    }
    if (!left && SysopChatFlag() != kLineChatMarker) {
        // The sysop ended it from outside.
        SetChatValue(semaphores, side, CHAT_ENDED);
        PutLine();
        RefuseAndPause(GetText(621));
    }
    SetSysopChatFlag(0);
    ResetAttributes();
    close(fd);
}

void SendFileToChat(int partnerFd) {
    const std::string keys = GetText(200);
    std::string name;
    AskInput(true, false, GetText(681), name, kFileNameMax);
    PutString("\r" + std::string(52, ' ') + "\r");
    if (name.empty() || name == kEscAnswer) return;
    // The name is one file of TextDir, never a path.
    FILE* f = name.find('/') == std::string::npos && name != "." && name != ".."
                  ? std::fopen((Config().TextDir + "/" + name).c_str(), "r")
                  : nullptr;
    if (f == nullptr) {
        PutLine(GetText(682));
        return;
    }
    int sent = 0;
    {
        NonBlockingInput input;
        WriteBoth(partnerFd, MakeColorCode(15, false) + MakeColorCode(0, true));
        std::vector<char> buf(kSendLineMax + 1);
        bool stop = false;
        while (!stop && std::fgets(buf.data(), int(buf.size()), f) != nullptr) {
            for (const char* p = buf.data(); *p != '\0' && !stop; ++p) {
                WriteBoth(partnerFd, std::string_view(p, 1));
                int index = 0;
                if (HotKeyPressed(index, 2, keys)) {
                    if (index == 0) stop = true;
                    else GetKey();
                }
            }
            WriteBoth(partnerFd, "\r");
            ++sent;
        }
    }
    std::fclose(f);
    if (sent > 0) ToPartner(partnerFd, GetText(683) + name + "\r\n\r\n");
    if (Call().ColorOn) SetColor(10, 0);
    else ResetAttributes();
    PutString("\rKivo v1.0" + std::string(44, ' ') + "\r");
    SetColorPair(kColorTitle);
}

void TellChatPartner(int reason) {
    int id = OpenChatSemaphores(false);
    if (id < 0) return;
    int value = CHAT_ENDED;
    switch (reason) {
        case kLogOffHangup: value = CHAT_HANGUP; break;
        case kLogOffInterrupt: value = CHAT_INTERRUPT; break;
        case kLogOffTimeout: value = CHAT_TIMEOUT; break;
        default: break;
    }
    SetChatValue(id, kChatRequester, value);
    SetChatValue(id, kChatAnswerer, value);
}

}  // namespace kv::caller

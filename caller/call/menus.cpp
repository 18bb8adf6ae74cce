#include "caller/call/menus.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "caller/areas/area_access.h"
#include "caller/areas/file_areas.h"
#include "caller/call/menu_commands.h"
#include "caller/term/activity_log.h"
#include "caller/term/call_signals.h"
#include "caller/term/call_state.h"
#include "caller/term/display_file.h"
#include "caller/term/limits.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/dates.h"
#include "common/runtime.h"
#include "common/users.h"

namespace kv::caller {
namespace {

constexpr int kLineColumns = 79;   // a line with a background is padded to this

UserRecord& Caller() { return Call().User; }

bool HotKeysOn() { return (Caller().Options2 & USER_HOT_KEYS) != 0; }
bool ClearScreenOn() { return (Caller().Options & USER_CLEAR_SCREEN) != 0; }

// Writes a menu or prompt text with its codes, starting in the pair own and
// switching with "^" to alt and back.  With keys, a typed hot key stops the
// writing: its line index goes to chosen.  Returns the columns written;
// lineEnd is cleared by a ";" when semicolons count as a code.
struct TextWriter {
    int16_t ownFg, ownBg, altFg, altBg;
    bool semicolons = false;      // menu lines: ";" suppresses the line end
    const std::string_view* keys = nullptr;
    int n = 0;
};

int WriteMenuText(const TextWriter& w, std::string_view text, bool& lineEnd, int& chosen) {
    const bool colour = Call().ColorOn;
    bool onAlt = false;
    int columns = 0;
    for (char ch : text) {
        if (w.keys != nullptr) {
            int index = kNoChoice;
            if (HotKeyPressed(index, w.n, *w.keys)) {
                chosen = index;
                return columns;
            }
        }
        switch (ch) {
        case '^':
            if (!colour) break;
            ResetAttributes();
            onAlt = !onAlt;
            if (onAlt) SetColor(w.altFg, w.altBg);
            else SetColor(w.ownFg, w.ownBg);
            break;
        case '~':
            columns += ShowMinutesLeft();
            break;
        case '@':
            columns += ShowFileAreaName(Caller().FileArea);
            break;
        case '`':
            columns += ShowMessageAreaName(Caller().MsgArea);
            break;
        case ';':
            if (w.semicolons) {
                lineEnd = false;
                break;
            }
            [[fallthrough]];
        default:
            PutChar(uint8_t(ch));
            ++columns;
        }
    }
    return columns;
}

void BuildLines(int n, std::string& keys, std::vector<int16_t>& codes, const std::vector<MenuRecord>& records) {
    std::span<const MenuRecord> lines(records.data() + 1, size_t(n));
    MenuLineKeys(n, keys, codes, lines);
    FilterMenuLines(keys, codes, n, lines);
}

int LineCount(const std::vector<MenuRecord>& records) { return records.empty() ? 0 : int(records.size()) - 1; }

// An argument's value after "/" and its letter: one separator is skipped.
std::string_view AreaValue(std::string_view argument, size_t slash) {
    return slash + 3 <= argument.size() ? argument.substr(slash + 3) : std::string_view();
}

// The area that a "+", "-" or number value selects, by the area search.
template <class Next>
int16_t SelectArea(std::string_view value, int16_t current, Next next) {
    if (!value.empty() && value[0] == '+') return int16_t(next(current + 1, 0));
    if (!value.empty() && value[0] == '-') return int16_t(next(current - 1, 1));
    std::string digits(value);
    return int16_t(next(std::atoi(digits.c_str()) - 1, 0));
}

// A menu that cannot be loaded after a move: said on the screen and in the
// log, then the caller is sent back to the top.
void ReportMissingMenu(const std::string& name) {
    if (ClearScreenOn()) EraseScreen();
    SetColorPair(kColorWarning);
    PutString(FormatText(98, name));
    LogText(98, name);
    PutLine();
    SetColorPair(kColorPrompt);
    PutString(GetText(104));
    GetKey();
    PutLine();
}

}  // namespace

int LoadMenu(const std::string& name, std::vector<MenuRecord>& records) {
    records.clear();
    std::string path = (std::filesystem::path(Config().MenuDir) / name).string();
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return 0;
    std::vector<uint8_t> bytes(kMaxMenuRecords * kMenuRecordSize);
    size_t got = 0;
    while (got < bytes.size()) {
        ssize_t r = read(fd, bytes.data() + got, bytes.size() - got);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        got += size_t(r);
    }
    close(fd);
    records = DecodeMenuFile(bytes.data(), got);
    return int(records.size());
}

void MenuLineKeys(int n, std::string& keys, std::vector<int16_t>& codes, std::span<const MenuRecord> lines) {
    n = std::clamp(n, 0, int(lines.size()));
    keys.assign(size_t(n), '\0');
    codes.assign(size_t(n), 0);
    for (size_t i = 0; i < size_t(n); ++i) {
        const MenuRecord& l = lines[i];
        codes[i] = l.Command;
        if (l.AutoRun) {
            codes[i] = int16_t(-codes[i]);
            keys[i] = '\0';
        } else {
            keys[i] = l.Command != 0 ? char(l.HotKey) : '\0';
        }
    }
}

void FilterMenuLines(std::string& keys, std::vector<int16_t>& codes, int n, std::span<const MenuRecord> lines) {
    const UserRecord& u = Caller();
    const CallState& c = Call();
    if (IsSysopLevel(u.SecurityLevel) && !c.StrictSysopMenus &&
        (c.DeviceName == "console" || Config().RemoteSysopMenus != 0))
        return;
    n = std::min({n, int(keys.size()), int(codes.size()), int(lines.size())});
    for (size_t i = 0; i < size_t(std::max(n, 0)); ++i) {
        const MenuRecord& l = lines[i];
        if (l.MinLevel > u.SecurityLevel || !HasAllFlags(u.Flags, l.FlagMasks)) {
            keys[i] = char(kHiddenLine);
            codes[i] = kHiddenLine;
        }
    }
}

std::string MenuFileName(std::string_view argument) {
    std::string_view name = argument.substr(0, argument.find('/'));
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    // A stack entry holds ten characters before ".mnu"; a longer name is
    // cut, and the file of the cut name is the one looked for.
    if (name.size() > kMenuNameMax) name = name.substr(0, kMenuNameMax);
    return std::string(name) + ".mnu";
}

void ChangeMenu(MenuStack& stack, const MenuRecord& line, int code) {
    std::string_view argument = line.Argument;
    size_t slash = argument.find('/');
    if (slash != std::string_view::npos && slash + 1 < argument.size()) {
        int letter = UpperKey(uint8_t(argument[slash + 1]));
        if (letter == 'F') SelectFileArea(AreaValue(argument, slash));
        else if (letter == 'M') SelectMessageArea(AreaValue(argument, slash));
    }
    stack.Depth = std::clamp(stack.Depth, 0, kMenuStackSize - 1);
    switch (code) {
    case kMenuGoTo:
        stack.Entries[size_t(stack.Depth)] = MenuFileName(argument);
        break;
    case kMenuCall:
        // At the deepest entry the call is not made; the current menu
        // is loaded again.
        if (stack.Depth <= kMenuStackSize - 2) {
            ++stack.Depth;
            stack.Entries[size_t(stack.Depth)] = MenuFileName(argument);
        }
        break;
    case kMenuReturn:
        if (stack.Depth > 0) --stack.Depth;
        break;
    case kMenuRestart:
        stack.Depth = 0;
        stack.Entries[0] = MenuFileName(argument);
        break;
    default:
        break;
    }
}

int ShowMinutesLeft() {
    const CallState& c = Call();
    std::string text = std::to_string(c.CallMinutes - SecondsSince(c.LogonTime) / 60);
    PutString(text);
    return int(text.size());
}

int ShowFileAreaName(int area) {
    if (area < 0 || area >= kFileAreaCount) return 0;
    const std::string& name = Config().FileAreas[size_t(area)].AreaName;
    PutString(name);
    return int(name.size());
}

int ShowMessageAreaName(int area) {
    if (area < 0 || area >= kMsgAreaCount) return 0;
    const std::string& name = Config().MsgAreas[size_t(area)].AreaName;
    PutString(name);
    return int(name.size());
}

void SelectFileArea(std::string_view value) {
    UserRecord& u = Caller();
    auto canUse = [](int a) { return CanUseFileArea(a, 0) != 0; };
    u.FileArea = SelectArea(value, u.FileArea, [&](int start, int dir) { return NextFileArea(start, dir, false, canUse); });
}

void SelectMessageArea(std::string_view value) {
    UserRecord& u = Caller();
    auto canRead = [](int a) { return CanUseMessageArea(a, kAreaRead) != 0; };
    u.MsgArea =
        SelectArea(value, u.MsgArea, [&](int start, int dir) { return NextMessageArea(start, dir, false, canRead); });
}

void PrintMenuText(const MenuRecord& prompt) {
    TextWriter w{int16_t(prompt.Command), int16_t(prompt.MinLevel), prompt.LineForeground, prompt.LineBackground};
    if (Call().ColorOn) SetColor(w.ownFg, w.ownBg);
    bool lineEnd = true;
    int chosen = kNoChoice;
    WriteMenuText(w, prompt.Text, lineEnd, chosen);
    ResetAttributes();
}

int ReadMenuKey(bool hotKeys, int n, std::string_view keys, const MenuRecord& prompt) {
    PrintMenuText(prompt);
    SetColorPair(kColorNormal);
    int chosen = kNoChoice;
    if (hotKeys) {
        for (;;) {
            int key = UpperKey(GetKey());
            if (key == '\r' || key == '\n') break;
            if (key == 0 || key == ' ') continue;
            int found = FindMenuKey(key, n, keys);
            if (found >= 0) {
                PutChar(uint8_t(key));
                chosen = found;
                break;
            }
        }
    } else {
        // The choice stays on screen in one place: each key overwrites the
        // one before it, and Enter takes the line that key marks.
        PutChar(' ');
        for (;;) {
            int key = UpperKey(GetKey());
            if (key == '\r' || key == '\n') {
                if (chosen != kNoChoice) break;
                continue;
            }
            if (key < 32 || key > 126) continue;
            PutChar(8);
            PutChar(uint8_t(key));
            int found = FindMenuKey(key, n, keys);
            chosen = found >= 0 ? found : kNoChoice;
        }
    }
    PutLine();
    ResetAttributes();
    return chosen;
}

int RunFullScreenMenu(std::string& keys, std::vector<int16_t>& codes, int n, const std::vector<MenuRecord>& records) {
    const bool hotKeys = HotKeysOn();
    n = std::min({n, LineCount(records), int(keys.size()), int(codes.size())});
    if (hotKeys) SetNonBlocking(true);
    if (ClearScreenOn()) EraseScreen();
    const MenuRecord& prompt = records[0];
    int chosen = kNoChoice;
    for (int i = 0; i < n && chosen == kNoChoice; ++i) {
        const MenuRecord& line = records[size_t(i) + 1];
        int code = codes[size_t(i)];
        if (code >= 0) {
            if (uint8_t(keys[size_t(i)]) == kHiddenLine || line.Text.starts_with(';')) continue;
            bool lineEnd = true;
            if (code != kMenuBlank) {
                TextWriter w{line.LineForeground, line.LineBackground, prompt.LineForeground, prompt.LineBackground};
                w.semicolons = true;
                std::string_view keyView = keys;
                if (hotKeys) {
                    w.keys = &keyView;
                    w.n = n;
                }
                if (Call().ColorOn) SetColor(w.ownFg, w.ownBg);
                int columns = WriteMenuText(w, line.Text, lineEnd, chosen);
                if (chosen != kNoChoice) break;
                if (line.LineBackground != 0)
                    for (; columns < kLineColumns; ++columns) PutChar(' ');
            }
            ResetAttributes();
            if (lineEnd) PutLine();
            continue;
        }
        // An AutoRun line: it runs, it is not drawn.
        if (uint8_t(keys[size_t(i)]) == kHiddenLine) continue;
        if (code <= -5 && code != -kMenuLogOff) {
            if (hotKeys) SetNonBlocking(false);
            if (code == -40) {
                // The file is shown with the menu's keys, again and again
                // while the caller answers nothing at the prompt.
                for (;;) {
                    int16_t r = DisplayFile(1, line.Argument, keys, n);
                    if (r >= 0 && r < n) {
                        chosen = r;
                        break;
                    }
                    if (r < 0 || !hotKeys) break;
                    chosen = ReadMenuKey(hotKeys, n, keys, prompt);
                    if (chosen != kNoChoice) break;
                }
            } else {
                DoMenuCommand(-code, line);
                if (code == -12) BuildLines(n, keys, codes, records);
            }
            if (hotKeys) SetNonBlocking(true);
        } else {
            // A menu change or the log-off: taken at once.
            codes[size_t(i)] = int16_t(-code);
            chosen = i;
        }
    }
    if (hotKeys) SetNonBlocking(false);
    ResetAttributes();
    return chosen;
}

int MenuLoop() {
    MenuStack stack;
    stack.Entries[0] = kTopMenu;
    std::vector<MenuRecord> records;
    const int topCount = LoadMenu(kTopMenu, records);
    int count = topCount;
    std::string keys;
    std::vector<int16_t> codes;

    if (count > 0 && CheckTimeLeft()) {
        BuildLines(LineCount(records), keys, codes, records);
        for (;;) {
            // A loop of AutoRun menu changes waits for no key; signals are
            // taken here as well.
            ActOnSignals();
            int n = LineCount(records);
            int choice = RunFullScreenMenu(keys, codes, n, records);
            if (choice == kNoChoice) choice = ReadMenuKey(HotKeysOn(), n, keys, records[0]);
            if (choice == kNoChoice || choice >= n) continue;

            int code = codes[size_t(choice)];
            MenuRecord line = records[size_t(choice) + 1];
            if (code > kMenuRestart && code != kMenuLogOff) {
                DoMenuCommand(code, line);
                // A questionnaire may have changed the caller's level and flags.
                if (std::abs(code) == 12) BuildLines(n, keys, codes, records);
                continue;
            }
            if (code == kMenuLogOff || !CheckTimeLeft()) break;

            ChangeMenu(stack, line, code);
            count = LoadMenu(stack.Current(), records);
            if (count == 0) {
                ReportMissingMenu(stack.Current());
                stack.Depth = 0;
                stack.Entries[0] = kTopMenu;
                count = LoadMenu(kTopMenu, records);
            }
            if (count == 0) break;
            BuildLines(LineCount(records), keys, codes, records);
        }
    }

    if (CheckTimeLeft()) {
        if (count == 0) PutLine(FormatText(98, stack.Current()));
        else DisplayFile(1, GetText(643));
    } else {
        Call().TimeUp = 1;
        OnInactivityAlarm();
    }
    ResetAttributes();
    return topCount;
}

}  // namespace kv::caller

// kvprompt_probe: runs kivo's prompts and display files on a line, one step
// per argument, in a board directory, so that process tests can answer one
// question at a time before log-in and menus exist.
//
//   kvprompt_probe [settings] STEP...
//   settings  ansi color high   user=N (record N of users.bbs is the caller)
//             screen=N options=N options2=N caller=NAME
//   steps     nonblock=0|1 sleep=MS say=TEXT
//             choice=KEYS[,default][,lineend][,colour][,highlight][,prompt=TEXT]
//             ask=MAX[,empty][,name]  line=MAX[,hidden]  name=MAX[,START]
//             wrap=MAX[,START]  phone=PROMPT  list=N
//             display=NAME[,KEYS]  path=PATH  bulletins=NAME
// Each question's answer is written back as "answer=[...]" (a display's
// result as "display=N"), so a test reads it from the screen.  The
// configuration is kvconfig.bbs of the working directory, placed in a
// segment image with the board's own message texts (DataDir/bin/message.usa)
// as table 0; the line is in raw mode as kivo sets it; the activity log
// goes to DataDir.  After the last step the
// probe exits with status 0.
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "caller/call/call_handlers.h"
#include "caller/call/login.h"
#include "caller/term/activity_log.h"
#include "caller/term/call_end.h"
#include "caller/term/call_signals.h"
#include "caller/term/call_state.h"
#include "caller/term/display_file.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "caller/term/term_charset.h"
#include "caller/term/terminal.h"
#include "common/runtime.h"
#include "common/segment.h"
#include "common/users.h"
#include "server/config_loader.h"
#include "server/message_file.h"

using namespace kv;
using namespace kv::caller;

namespace {

// kivo's view of a running server: the configuration and table 0.
bool BuildSegment(std::vector<uint8_t>& seg) {
    if (LoadConfig() != 1) return false;
    seg.assign(kSegmentSize, 0);
    const ConfigBytes& cfg = LoadedConfigBytes();
    std::copy(cfg.begin(), cfg.end(), seg.begin() + long(kConfigOffset));
    SegmentHeader h;
    h.ConfigOffset = int32_t(kConfigOffset);
    h.Language[0] = 0;  // "usa" in slot 0, slot 1 empty
    h.Language[1] = -1;
    h.LastText[1] = -1;
    EncodeRecord(h, seg.data());
    return server::LoadTextFile(Config().DataDir + "/bin/message.usa", seg.data(), 0) == 1;
}

std::vector<std::string> Split(const std::string& s) {
    std::vector<std::string> v;
    size_t start = 0;
    for (;;) {
        size_t comma = s.find(',', start);
        v.push_back(s.substr(start, comma - start));
        if (comma == std::string::npos) return v;
        start = comma + 1;
    }
}

bool Has(const std::vector<std::string>& v, const char* word) {
    for (size_t i = 1; i < v.size(); ++i)
        if (v[i] == word) return true;
    return false;
}

// The words of an answer, control bytes shown as ^X so that ESC reads.
std::string Shown(const std::string& s) {
    std::string out;
    for (char ch : s) {
        if (uint8_t(ch) < 32) {
            out += '^';
            out += char(ch + '@');
        } else {
            out += ch;
        }
    }
    return out;
}

void Answer(const std::string& s) { PutLine("answer=[" + Shown(s) + "]"); }

// A listing of n lines with the page pause: NoKey stops it, "=" turns the
// pauses off.
void List(int n) {
    uint16_t counter = 0;
    bool pausing = true;
    for (int i = 1; i <= n; ++i) {
        PutLine("item " + std::to_string(i));
        if (!pausing) continue;
        ++counter;
        int key = CheckPageFull(counter);
        if (key == std::toupper(uint8_t(Call().NoKey))) {
            PutLine("list stopped");
            return;
        }
        if (key == '=') pausing = false;
    }
    PutLine("list end");
}

}  // namespace

int main(int argc, char** argv) {
    static std::vector<uint8_t> image;
    if (!BuildSegment(image)) return 120;
    CallState& c = Call();
    c.Segment = image.data();
    if (!SelectMessageFile(0) || !RefreshConfig()) return 121;
    InstallCallerServices();
    InstallCallHandlers();
    DecideTerminalCharset();
    c.LogonTime = Now();
    if (!SetRawMode()) return 123;

    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        size_t eq = arg.find('=');
        std::string step = arg.substr(0, eq);
        std::string val = eq == std::string::npos ? "" : arg.substr(eq + 1);
        std::vector<std::string> v = Split(val);
        int n = std::atoi(v[0].c_str());
        if (step == "ansi") c.AnsiOn = true;
        else if (step == "color") c.ColorOn = true;
        else if (step == "high") c.AcceptHighChars = true;
        else if (step == "user") {
            if (!ReadUserRecord(n, c.User)) return 122;
            c.CurrentUserNumber = n;
            c.CallerName = c.User.Name;
        } else if (step == "screen") c.User.ScreenLength = uint32_t(n);
        else if (step == "options") c.User.Options = uint8_t(n);
        else if (step == "options2") c.User.Options2 = uint8_t(n);
        else if (step == "caller") c.CallerName = val;
        else if (step == "nonblock") SetNonBlocking(n != 0);
        else if (step == "sleep") usleep(useconds_t(n) * 1000);
        else if (step == "say") PutLine(val);
        else if (step == "choice") {
            std::string prompt;
            for (const std::string& w : v)
                if (w.rfind("prompt=", 0) == 0) prompt = w.substr(7);
            int key = ChoicePrompt(prompt, Has(v, "default"), Has(v, "lineend"), Has(v, "colour"), Has(v, "highlight"),
                                   v[0]);
            if (!Has(v, "lineend")) PutLine();
            Answer(std::string(1, char(key)));
        } else if (step == "ask") {
            std::string buf;
            int len = AskInput(Has(v, "empty"), Has(v, "name"), "Your answer: ", buf, n);
            PutLine("length=" + std::to_string(len));
            Answer(buf);
        } else if (step == "line") {
            std::string buf;
            InputLine(!Has(v, "hidden"), n, buf);
            PutLine();
            Answer(buf);
        } else if (step == "name" || step == "wrap") {
            std::string buf = v.size() > 1 ? v[1] : "", overflow;
            if (step == "name")
                InputName(n, buf);
            else
                InputLineWrap(true, overflow, n, buf);
            PutLine();
            Answer(buf);
            if (step == "wrap") PutLine("overflow=[" + overflow + "]");
        } else if (step == "phone") {
            std::string buf;
            InputPhone(val, buf);
            Answer(buf);
        } else if (step == "list") List(n);
        else if (step == "display" || step == "path") {
            std::string keys = v.size() > 1 ? v[1] : "";
            int16_t r = DisplayFile(step == "path" ? 0 : 1, v[0], keys, int(keys.size()));
            PutLine();
            PutLine("display=" + std::to_string(r));
        } else if (step == "bulletins") {
            ShowBulletins(val);
            PutLine("bulletins done");
        } else {
            PutLine("unknown step " + arg);
            return 2;
        }
    }
    ExitProgram(0);
}

// Printing and saving a message.
#include "caller/areas/message_print.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "caller/areas/message_display.h"
#include "caller/term/activity_log.h"
#include "caller/term/call_state.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "common/files.h"
#include "common/msgbase.h"
#include "common/runtime.h"
#include "common/strings.h"
#include "common/whole_file.h"

namespace kv::caller {

namespace {

constexpr const char* kPrintProgram = "/usr/bin/lp";
constexpr int kSaveNameMax = 14;

// The status words of the header block, in their order.
constexpr struct {
    uint8_t flag;
    int text;
} kStatusWords[] = {
    {MSG_DELETED, 327}, {MSG_EMAIL, 364}, {MSG_PRIVATE, 329}, {MSG_RECEIVED, 328}, {MSG_LOCAL, 365},
};

std::string PrintProgram() {
    const char* test = std::getenv("KV_TEST_PRINTER");
    return test != nullptr && *test != '\0' ? test : kPrintProgram;
}

// Feeds the text to the print program on its standard input, its output
// thrown away.  No shell takes part.  False (and why) when the program
// could not be started, did not take it all or ended with a failure.
bool Print(const std::string& text, std::string& why) {
    const std::string program = PrintProgram();
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        why = std::strerror(errno);
        return false;
    }
    FlushOutput();  // the child must not send the caller's pending output again
    pid_t pid = fork();
    if (pid < 0) {
        why = std::strerror(errno);
        close(pipeFds[0]);
        close(pipeFds[1]);
        return false;
    }
    if (pid == 0) {
        int nowhere = open("/dev/null", O_WRONLY);
        dup2(pipeFds[0], 0);
        if (nowhere >= 0) {
            dup2(nowhere, 1);
            dup2(nowhere, 2);
        }
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeFds[0]);
    // A printer that ends early makes the write fail with EPIPE; the
    // SIGPIPE that comes with it is the kernel's, which never starts a chat.
    bool written = WriteFully(pipeFds[1], text);
    int writeError = errno;
    close(pipeFds[1]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
        why = "cannot run " + program;
        return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        why = program + " failed";
        return false;
    }
    if (!written) {
        why = std::strerror(writeError);
        return false;
    }
    return true;
}

// Asks the save name until one is given that may be written: the path in
// the save directory and the mode ("w" new or over, "a" append), or false
// when the caller gave up.
bool AskSaveName(const MsgHeader& h, std::string& path, bool& append) {
    std::string name = FormatChecked("m%lda%d", long(h.MsgNumber), int(h.MsgArea));
    const std::string keys = GetText(372);
    for (;;) {
        SetColorPair(kColorPrompt);
        PutString(GetText(371));
        SetColorPair(kColorNormal);
        std::string overflow;
        // A full input ends by itself: a name of every place, offered
        // again, would be refused or found taken again without a key.
        if (name.size() >= size_t(kSaveNameMax)) name.resize(kSaveNameMax - 1);
        InputLineWrap(false, overflow, kSaveNameMax, name);
        PutLine();
        if (name.empty() || name[0] == kKeyEsc) return false;
        if (!SaveNameIsSound(name)) {
            PutColorText(GetText(744), true, false, 0, kColorWarning);
            continue;
        }
        path = SaveDirectory() + "/" + name;
        append = false;
        if (!FileExists(path, kPlainPath)) return true;
        if (keys.size() < 3) return false;
        int answer = ChoicePrompt(GetText(373), true, true, true, true, keys);
        size_t place = keys.find(char(answer));
        if (place == 0) continue;
        if (place > 2) return false;
        append = place == 2;
        return true;
    }
}

// Writes the output into the save file: a new or overwritten file whole
// through a temporary renamed into place, an append at its end.
bool Save(const std::string& path, bool append, const std::string& text, std::string& why) {
    if (!append) {
        if (WriteFileWhole(path, text)) return true;
        why = std::strerror(errno);
        return false;
    }
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    bool done = fd >= 0 && WriteFully(fd, text);
    if (!done) why = std::strerror(errno);
    if (fd >= 0 && close(fd) != 0 && done) {
        why = std::strerror(errno);
        done = false;
    }
    return done;
}

}  // namespace

bool SaveNameIsSound(std::string_view name) {
    if (name.empty() || name[0] == '.' || name[0] == '-') return false;
    for (char c : name) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                     c == '_' || c == '-';
        if (!plain) return false;
    }
    return true;
}

std::string SaveDirectory() { return Config().WorkDir + "/saved"; }

void PrintMessageHeader(const MsgHeader& h, std::string& out) {
    std::string first = FormatText(374, long(h.MsgNumber), MessageAreaName(h.MsgArea));
    if (h.Status != 0) {
        first += " - ";
        for (const auto& w : kStatusWords)
            if (h.Status & w.flag) first += GetText(w.text);
    }
    out += first + "\n";
    out += FormatText(375, h.DateText, h.TimeText, long(h.TimesRead));
    out += FormatText(376, h.FromName);
    out += FormatText(377, h.ToName);
    out += FormatText(378, h.Subject);
    out += std::string(80, '-') + "\n";
}

int PrintMessageBody(const MsgHeader& h, std::string& out) {
    std::string path = MsgBasePath(kMsgTextFile);
    std::ifstream in(path, std::ios::binary);
    if (path.empty() || !in || h.TextOffset < 0 || !in.seekg(h.TextOffset)) return 0;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == kTextEndByte) break;
        if (!line.empty() && line[0] == kControlByte) line.erase(0, 1);
        out += line + "\n";
    }
    out += "\n";
    return 1;
}

int PrintOrSaveMessage(const MsgHeader& h) {
    const std::string keys = GetText(366);
    if (keys.size() < 3) return 0;
    PutHotKeyText(FormatText(367, long(h.MsgNumber)), kColorTitle, kColorPrompt);
    int answer = ChoicePrompt("", false, false, true, false, keys);
    SetColorPair(kColorNormal);
    size_t place = keys.find(char(answer));
    if (place > 2) place = 2;
    PutLine(GetText(368 + int(place)));
    if (place == 2) {
        PutColorText("", false, false, 2, kColorNormal);
        return 0;
    }

    std::string path;
    bool append = false;
    if (place == 1) {
        if (!AskSaveName(h, path, append)) return 0;
        mkdir(SaveDirectory().c_str(), 0770);
    }
    std::string text;
    PrintMessageHeader(h, text);
    int result = PrintMessageBody(h, text);

    std::string why;
    bool written = place == 0 ? Print(text, why) : Save(path, append, text, why);
    if (!written) {
        if (place == 0) {
            WriteLog("Message #%d not printed: %s", long(h.MsgNumber), why);
            PutColorText(GetText(396), true, false, 2, kColorWarning);
        } else {
            WriteLog("Message #%d not saved to %s: %s", long(h.MsgNumber), path, why);
        }
        return 0;
    }
    return result;
}

}  // namespace kv::caller

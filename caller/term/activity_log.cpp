#include "caller/term/activity_log.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "common/dates.h"
#include "common/runtime.h"

namespace kv::caller {
namespace {

constexpr size_t kMaxEventText = 127;
constexpr const char* kProductNotice = "Kivo bulletin board, caller program";

// Holds SIGHUP back for a scope: a hang-up during a write is delivered (and
// recorded) right after it instead of cutting the line in half.
class HangupHeld {
public:
    HangupHeld() {
        sigset_t s;
        sigemptyset(&s);
        sigaddset(&s, SIGHUP);
        sigprocmask(SIG_BLOCK, &s, &old_);
    }
    ~HangupHeld() { sigprocmask(SIG_SETMASK, &old_, nullptr); }

private:
    sigset_t old_;
};

std::string BaseName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string PerProcessLogName() { return Config().DataDir + "/kivo." + std::to_string(getpid()); }

std::string LogFileName() {
    std::string path = Config().DataDir + "/" + Config().LineLogName;
    if (!Config().MultiLine) return path;
    // The number goes before the extension of the file name; a dot in a
    // directory name is no extension.
    std::string number = std::to_string(Call().LineNumber);
    size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + number;
    return path.insert(dot, number);
}

void WriteLogLine(std::string_view text) {
    HangupHeld held;
    std::string line = "* " + DateString() + " " + TimeString() + " ";
    line.append(text.substr(0, kMaxEventText));
    FILE* f = nullptr;
    if (!Config().DataDir.empty()) f = std::fopen(PerProcessLogName().c_str(), "a+");
    if (f == nullptr) {
        std::fprintf(stderr, "%s\n", line.c_str());
        return;
    }
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
}

int MergeLog() {
    signal(SIGINT, SIG_IGN);
    signal(SIGQUIT, SIG_IGN);
    HangupHeld held;
    // Without a system directory there is no process log, and no place for
    // a line log either.
    if (Config().DataDir.empty()) return 0;
    std::string date = DateString(), time = TimeString();
    std::string linePath = LogFileName(), ownPath = PerProcessLogName();

    struct stat st;
    bool fresh = stat(linePath.c_str(), &st) != 0;
    FILE* out = std::fopen(linePath.c_str(), "a+");
    if (out == nullptr) return 0;
    if (fresh) {
        std::fprintf(out, "*\n* @(#)%s %s\n* %s: %s %s\n*\n\n", BaseName(linePath).c_str(), kProductNotice,
                     GetText(19).c_str(), date.c_str(), time.c_str());
    }
    int result = 0;
    FILE* in = std::fopen(ownPath.c_str(), "r");
    if (in != nullptr) {
        char piece[128];
        while (std::fgets(piece, sizeof piece, in) != nullptr) std::fputs(piece, out);
        std::fclose(in);
        // The process log goes only once its lines are safely in the line log.
        if (std::fflush(out) == 0 && !std::ferror(out)) {
            unlink(ownPath.c_str());
            result = 1;
        }
    } else {
        std::string note = FormatText(20, date, time, BaseName(linePath), BaseName(ownPath));
        std::fprintf(out, "%s\n", note.c_str());
    }
    if (std::fclose(out) != 0) result = 0;
    return result;
}

}  // namespace kv::caller

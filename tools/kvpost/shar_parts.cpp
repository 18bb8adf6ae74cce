// An attached file leaves as a shell archive cut into parts, one mail per
// part, so that the recipient's mailer never meets one huge message.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <vector>

#include "common/runtime.h"
#include "common/shell_quote.h"
#include "fmt/format.h"
#include "server/server_log.h"
#include "tools/kvpost/sender_internal.h"

namespace fs = std::filesystem;

namespace kv::post {
namespace {

// The attached file, resolved, when it may leave: a regular file inside
// WorkDir, where a caller's attachments live.  Anything else (a path out of
// the work directory, a link to elsewhere, a device) is refused.
bool ResolveAttachment(const std::string& subject, fs::path& file) {
    const std::string& workDir = Config().WorkDir;
    if (workDir.empty() || subject.empty()) return false;
    std::error_code ec;
    fs::path work = fs::canonical(workDir, ec);
    if (ec) return false;
    file = fs::canonical(subject, ec);
    if (ec || !fs::is_regular_file(file, ec)) return false;
    auto [w, f] = std::mismatch(work.begin(), work.end(), file.begin(), file.end());
    return w == work.end() && f != file.end();
}

// Runs a command through /bin/sh in dir and waits for it.  A pipe whose
// write end closes on exec tells a shell that never started from one that
// ran and failed.  True when the command ended with status 0.
bool RunShell(const std::string& command, const std::string& dir) {
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        WriteServerLog("kvpost: Cannot pipe ()");
        return false;
    }
    pid_t pid = fork();
    if (pid < 0) {
        close(report[0]);
        close(report[1]);
        WriteServerLog("kvpost: exec of /bin/sh failed");
        return false;
    }
    if (pid == 0) {
        close(report[0]);
        signal(SIGPIPE, SIG_DFL);
        if (chdir(dir.c_str()) == 0) execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        int err = errno;
        ssize_t ignored = write(report[1], &err, sizeof err);
        (void)ignored;
        _exit(127);
    }
    close(report[1]);
    int err = 0;
    ssize_t n;
    while ((n = read(report[0], &err, sizeof err)) < 0 && errno == EINTR) {
    }
    close(report[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (n > 0) {
        WriteServerLog("kvpost: exec of /bin/sh failed");
        return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<fs::path> PartFiles(const std::string& dir) {
    std::vector<fs::path> parts;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec))
        if (e.is_regular_file(ec)) parts.push_back(e.path());
    std::sort(parts.begin(), parts.end());
    return parts;
}

int MailParts(const Outgoing& out, const std::vector<fs::path>& parts) {
    for (size_t i = 0; i < parts.size(); ++i) {
        std::string bytes;
        if (!ReadWholeFile(parts[i].string(), bytes)) {
            WriteServerLog("kvpost: Problem to send the file %s", parts[i].string());
            return kMailerFailed;
        }
        std::string subject = fmt::format("File transmission (part {} of {})", i + 1, parts.size());
        if (DeliverMail(out.Command, MailHeaders(out.FromLine, "", subject) + bytes + out.Signature) != kAllSent) {
            WriteServerLog("kvpost: Problem to send the file %s", parts[i].string());
            return kMailerFailed;
        }
    }
    return kAllSent;
}

}  // namespace

int SendSharParts(const Outgoing& out) {
    fs::path file;
    if (!ResolveAttachment(out.Header.Subject, file)) {
        WriteServerLog("KP: Attachment %s of message #%ld is not a file in the work directory, line skipped",
                       out.Header.Subject, long(out.Header.MsgNumber));
        return kLineSkipped;
    }
    std::string dir = MakeTempDirectory("kiv");
    if (dir.empty()) {
        WriteServerLog("KP: Cannot make a work directory for message #%ld", long(out.Header.MsgNumber));
        return kMailerFailed;
    }
    int result = kMailerFailed;
    std::string command = ExpandTemplate(Config().SharCommand, {{'f', ShellQuote(file.string())}}, false);
    if (!RunShell(command, dir)) {
        WriteServerLog("KP: Shell archive command failed (Cmd:%s)", command);
    } else if (auto parts = PartFiles(dir); parts.empty()) {
        WriteServerLog("Cannot find SHAR file to send!");
    } else {
        result = MailParts(out, parts);
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
    return result;
}

}  // namespace kv::post

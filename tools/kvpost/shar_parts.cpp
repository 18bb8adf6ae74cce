// An attached file leaves as a shell archive cut into parts, one mail per
// part, so that the recipient's mailer never meets one huge message.

#include <algorithm>
#include <filesystem>
#include <vector>

#include "common/runtime.h"
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
        if (DeliverMail(out.Mailer, MailHeaders(out.FromLine, "", subject) + bytes + out.Signature) != kAllSent) {
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
    std::vector<std::string> shar;
    std::string why;
    ProgramRun run;
    if (!SplitCommandTemplate(Config().SharCommand, {{'f', file.string()}}, false, shar, why) || shar.empty()) {
        WriteServerLog("KP: Shell archive command refused (%s)", why.empty() ? "empty" : why);
    } else if (run = RunWithoutShell(shar, dir, nullptr); !run.started) {
        WriteServerLog("kvpost: exec of %s failed", shar[0]);
    } else if (run.status != 0) {
        WriteServerLog("KP: Shell archive command failed (Cmd:%s)", JoinWords(shar));
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

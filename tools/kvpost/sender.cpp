#include "tools/kvpost/sender.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "common/msgbase.h"
#include "common/runtime.h"
#include "server/config_loader.h"
#include "server/mail_gateway.h"
#include "server/server_log.h"
#include "tools/kvpost/sender_internal.h"

namespace fs = std::filesystem;

namespace kv::post {
namespace {

bool ParseNumber(std::string_view field, long& v) {
    auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), v);
    return ec == std::errc() && end == field.data() + field.size() && !field.empty();
}

// A header line must stay one line whatever its value holds.
std::string OneLine(std::string s) {
    for (char& c : s)
        if (c == '\n' || c == '\r') c = ' ';
    return s;
}

// Keeps SIGPIPE from killing us while we write into a mailer that may have
// ended early; the write then fails with EPIPE and is reported.  The mailer
// itself was started before and keeps the default.
class SigpipeIgnored {
public:
    SigpipeIgnored() { sigaction(SIGPIPE, Ignore(), &old_); }
    ~SigpipeIgnored() { sigaction(SIGPIPE, &old_, nullptr); }

private:
    static const struct sigaction* Ignore() {
        static struct sigaction ign = [] {
            struct sigaction a {};
            a.sa_handler = SIG_IGN;
            sigemptyset(&a.sa_mask);
            return a;
        }();
        return &ign;
    }
    struct sigaction old_ {};
};

// The text of the message without its control lines.  False when
// "msgtxt.bbs" has no whole text at the header's offset (the base logs why).
bool ReadMailText(const MsgHeader& h, std::string& body) {
    MsgText text;
    if (!ReadMessageText(h.TextOffset, text)) return false;
    body.clear();
    for (const auto& line : text.Lines) {
        if (!line.empty() && line[0] == kControlByte) continue;
        body += line;
        body += '\n';
    }
    return true;
}

std::string Signature(const MailRequest& rq) {
    const ConfigRecord& c = Config();
    fs::path sig = fs::path(c.MailDir) / kSignatureFile;
    std::error_code ec;
    if (fs::is_regular_file(sig, ec)) {
        std::string body;
        if (ReadWholeFile(sig.string(), body)) {
            TemplateCodes codes = {{'A', rq.Alias}, {'B', c.BbsName}, {'F', rq.Name}, {'S', c.SysopName}};
            return "\n--\n" + ExpandTemplate(body, codes, false);
        }
        WriteServerLog("KP: Cannot read %s", sig.string());
    }
    if (c.MailArea >= 0 && size_t(c.MailArea) < c.MsgAreas.size() && !c.MsgAreas[c.MailArea].AreaSignature.empty())
        return "\n--\n" + c.MsgAreas[c.MailArea].AreaSignature + "\n";
    return "";
}

enum class HeaderRead { kOk, kStale, kFailed };

// The header a request line names, and whether it may be sent.  A line that
// no longer fits the base (packed or renumbered since it was queued, or sent
// already) is stale: it must never mail another message.
HeaderRead ReadRequestedHeader(const MailRequest& rq, MsgHeader& h) {
    std::string path = MsgBasePath(kMsgHeaderFile);
    std::error_code ec;
    auto size = fs::file_size(path, ec);
    if (ec) {
        WriteServerLog("KP: Cannot read message header");
        return HeaderRead::kFailed;
    }
    if (uint64_t(rq.Offset) + MsgHeader::kSize > size) {
        WriteServerLog("KP: No message header at position %ld, line skipped", long(rq.Offset));
        return HeaderRead::kStale;
    }
    if (!ReadMessageHeader(h, rq.Offset / int32_t(MsgHeader::kSize))) {
        WriteServerLog("KP: Cannot read message header");
        return HeaderRead::kFailed;
    }
    if (h.MsgNumber != rq.Number) {
        WriteServerLog("KP: Message at position %ld is #%ld, not #%ld, line skipped", long(rq.Offset),
                       long(h.MsgNumber), long(rq.Number));
        return HeaderRead::kStale;
    }
    if ((h.Status & MSG_DELETED) || MessageArea(rq.Offset / int32_t(MsgHeader::kSize)) < 0) {
        WriteServerLog("KP: Message #%ld is deleted, line skipped", long(h.MsgNumber));
        return HeaderRead::kStale;
    }
    if (h.MailFlags & MAIL_SENT) {
        WriteServerLog("KP: Message #%ld was sent already, line skipped", long(h.MsgNumber));
        return HeaderRead::kStale;
    }
    return HeaderRead::kOk;
}

// The mailer's argument vector for a request, when the message may leave:
// it must stand in an Internet-mail area, and no address may pass itself
// off as an option of the mailer.
bool MayLeaveThroughMailer(const MailRequest& rq, const MsgHeader& h, std::vector<std::string>& mailer) {
    const ConfigRecord& c = Config();
    int area = MessageArea(rq.Offset / int32_t(MsgHeader::kSize));
    if (area < 0 || size_t(area) >= c.MsgAreas.size() || c.MsgAreas[area].AreaType != kAreaUucp) {
        WriteServerLog("KP: Message #%ld is not in an Internet-mail area, line skipped", long(h.MsgNumber));
        return false;
    }
    if (!h.ToName.empty() && h.ToName[0] == '-') {
        WriteServerLog("KP: Address %s of message #%ld begins with '-', line skipped", h.ToName, long(h.MsgNumber));
        return false;
    }
    TemplateCodes values = {{'A', rq.Alias}, {'F', rq.Name}, {'T', h.ToName}};
    std::string why;
    if (!SplitCommandTemplate(c.MailerArgs, values, true, mailer, why)) {
        WriteServerLog("KP: Mailer arguments of message #%ld refused (%s), line skipped", long(h.MsgNumber), why);
        return false;
    }
    mailer.insert(mailer.begin(), c.MailerPath);
    return true;
}

int PipeToMailer(const Outgoing& out, const std::string& body) {
    TemplateCodes codes = {{'A', out.Request.Alias}, {'F', out.Request.Name}};
    std::string extra = ExpandTemplate(Config().ExtraHeader, codes, true);
    return DeliverMail(out.Mailer, MailHeaders(out.FromLine, extra, out.Header.Subject) + body + out.Signature);
}

// The header a request line names and, for a plain mail, its text, read
// under the base lock as one: a maintenance run killed in its swap is
// finished first, and none can swap the files between the two reads (a
// header with the offset of another message's text).  kAllSent when the
// mail may leave.
int ReadRequestedMail(Outgoing& out, std::string& body) {
    MsgBaseLock lock;
    if (!lock) return kNoHeader;
    switch (ReadRequestedHeader(out.Request, out.Header)) {
        case HeaderRead::kFailed: return kNoHeader;
        case HeaderRead::kStale: return kLineSkipped;
        case HeaderRead::kOk: break;
    }
    if (!MayLeaveThroughMailer(out.Request, out.Header, out.Mailer)) return kLineSkipped;
    // Without its text a message is not sent at all: a mailer, once started,
    // would send whatever it was given.
    if (!(out.Header.MailFlags & MAIL_FILE_ATTACHED) && !ReadMailText(out.Header, body)) return kNoText;
    return kAllSent;
}

// Sends the message of one request line and marks it.  kAllSent, a failure
// status, or kLineSkipped for a line that is logged and passed over.
int SendOne(const MailRequest& rq) {
    Outgoing out;
    out.Request = rq;
    std::string body;
    if (int r = ReadRequestedMail(out, body); r != kAllSent) return r;
    const ConfigRecord& c = Config();
    TemplateCodes plain = {{'A', rq.Alias}, {'F', rq.Name}};
    if (!c.FromTemplate.empty()) out.FromLine = "From: " + ExpandTemplate(c.FromTemplate, plain, true);
    out.Signature = Signature(rq);

    int r = (out.Header.MailFlags & MAIL_FILE_ATTACHED) ? SendSharParts(out) : PipeToMailer(out, body);
    if (r != kAllSent) return r;
    if (out.Header.MailFlags & MAIL_KILL_SENT)
        KillMessage(out);
    else
        MarkSent(out);
    return kAllSent;
}

// Our output and the mailer's go into a scratch file, not to a terminal the
// server may no longer have.
bool RedirectStandardStreams(std::string& scratch) {
    std::string tmpl = TempTemplate("kvpost");
    int fd = mkstemp(tmpl.data());
    if (fd < 0) return false;
    scratch = tmpl;
    for (int stream = 0; stream <= 2; ++stream)
        if (fd != stream && dup2(fd, stream) != stream) return false;
    if (fd > 2) close(fd);
    return true;
}

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

}  // namespace

bool ParseRequestLine(std::string_view line, MailRequest& out) {
    std::vector<std::string_view> f;
    size_t start = 0;
    for (size_t bar; (bar = line.find('|', start)) != std::string_view::npos; start = bar + 1)
        f.push_back(line.substr(start, bar - start));
    f.push_back(line.substr(start));
    long number = 0, offset = 0;
    if (f.size() != 4 || !ParseNumber(f[2], number) || !ParseNumber(f[3], offset)) return false;
    if (number <= 0 || number > INT32_MAX || offset < 0 || offset > INT32_MAX || offset % MsgHeader::kSize != 0)
        return false;
    out.Name = f[0];
    out.Alias = f[1];
    out.Number = int32_t(number);
    out.Offset = int32_t(offset);
    return true;
}

std::string MailHeaders(const std::string& fromLine, const std::string& extraHeader, const std::string& subject) {
    std::string h;
    if (!fromLine.empty()) h += OneLine(fromLine) + "\n";
    if (!extraHeader.empty()) h += OneLine(extraHeader) + "\n";
    h += std::string("X-Mailer: ") + kMailerName + "\n";
    h += "Subject: " + OneLine(subject) + "\n\n";
    return h;
}

ProgramRun RunWithoutShell(const std::vector<std::string>& argv, const std::string& dir, const std::string* input) {
    ProgramRun run;
    if (argv.empty()) return run;
    // The write end of the report pipe closes on exec: a byte read from it
    // means the program never started.
    int report[2], feed[2] = {-1, -1};
    if (pipe2(report, O_CLOEXEC) != 0) return run;
    if (input != nullptr && pipe2(feed, O_CLOEXEC) != 0) {
        close(report[0]);
        close(report[1]);
        return run;
    }
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGPIPE, SIG_DFL);
        bool ready = (input == nullptr || dup2(feed[0], 0) == 0) && (dir.empty() || chdir(dir.c_str()) == 0);
        if (ready) execvp(args[0], args.data());
        int err = errno;
        ssize_t ignored = write(report[1], &err, sizeof err);
        (void)ignored;
        _exit(127);
    }
    close(report[1]);
    if (input != nullptr) close(feed[0]);
    if (pid < 0) {
        close(report[0]);
        if (input != nullptr) close(feed[1]);
        return run;
    }
    int err = 0;
    ssize_t n;
    while ((n = read(report[0], &err, sizeof err)) < 0 && errno == EINTR) {
    }
    close(report[0]);
    run.started = n == 0;
    if (input != nullptr) {
        SigpipeIgnored guard;
        size_t done = 0;
        while (run.started && done < input->size()) {
            ssize_t w = write(feed[1], input->data() + done, input->size() - done);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) break;
            done += size_t(w);
        }
        run.inputTaken = done == input->size();
        close(feed[1]);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

int DeliverMail(const std::vector<std::string>& mailer, const std::string& mail) {
    ProgramRun run = RunWithoutShell(mailer, "", &mail);
    if (!run.started) {
        WriteServerLog("KP: Cannot execute mailer (Cmd:%s)", JoinWords(mailer));
        return kMailerFailed;
    }
    if (!run.inputTaken) {
        WriteServerLog("KP: Cannot write the mail into the mailer (Cmd:%s)", JoinWords(mailer));
        return kMailerFailed;
    }
    if (run.status != 0) {
        WriteServerLog("KP: Mailer failed with status %d (Cmd:%s)", run.status, JoinWords(mailer));
        return kMailerFailed;
    }
    return kAllSent;
}

bool ReadWholeFile(int fd, std::string& body) {
    body.clear();
    char buf[8192];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        body.append(buf, size_t(n));
    }
}

bool ReadWholeFile(const std::string& path, std::string& body) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ReadWholeFile(fd, body);
    close(fd);
    return ok;
}

std::string TempTemplate(const char* name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/" + name + "XXXXXX";
}

std::string MakeTempDirectory(const char* name) {
    std::string tmpl = TempTemplate(name);
    if (mkdtemp(tmpl.data()) == nullptr) return "";
    return tmpl;
}

int SendRequestFile(const std::string& path) {
    // Held to the end: nobody adds a line that the removal would take
    // unsent, and another kvpost on the file waits, then finds it gone.
    int fd = server::OpenLockedRequestFile(path, O_RDONLY);
    if (fd < 0 && errno == ENOENT) return kAllSent;
    std::string lines;
    if (fd < 0 || !ReadWholeFile(fd, lines)) {
        WriteServerLog("KP: Cannot open request file %s", path);
        if (fd >= 0) close(fd);
        return kCannotOpenRequests;
    }
    int result = kAllSent;
    std::istringstream in(lines);
    std::string line;
    while (result == kAllSent && std::getline(in, line)) {
        if (line.empty()) continue;
        MailRequest rq;
        if (!ParseRequestLine(line, rq)) {
            WriteServerLog("KP: Bad request line skipped: %s", line);
            continue;
        }
        int r = SendOne(rq);
        if (r != kLineSkipped) result = r;
    }
    if (result == kAllSent && std::remove(path.c_str()) != 0)
        WriteServerLog("KP: Cannot remove request file %s", path);
    close(fd);
    return result;
}

int SenderMain(const std::vector<std::string>& args) {
    KeepNewFilesFromOthers();
    if (LoadConfig() != 1) return kNoConfig;
    // The shared library's own failures land in the same log, marked as ours.
    SetLogWriter([](std::string_view line) { WriteServerLogLine("KP: " + std::string(line)); });
    const std::string& mailer = Config().MailerPath;
    if (!IsExecutableFile(mailer)) {
        WriteServerLog("KP: Cannot execute mailer (%s)", mailer);
        return kMailerFailed;
    }
    close(0);
    close(1);
    close(2);
    if (args.size() != 1) return kUsage;
    std::error_code ec;
    if (!fs::exists(args[0], ec)) return kNoRequestFile;
    std::string scratch;
    if (!RedirectStandardStreams(scratch)) {
        if (!scratch.empty()) unlink(scratch.c_str());
        return kNoStreams;
    }
    int result = SendRequestFile(args[0]);
    close(0);
    close(1);
    close(2);
    unlink(scratch.c_str());
    return result;
}

}  // namespace kv::post

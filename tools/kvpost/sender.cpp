#include "tools/kvpost/sender.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "common/msgbase.h"
#include "common/runtime.h"
#include "common/shell_quote.h"
#include "server/config_loader.h"
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

int PipeToMailer(const Outgoing& out) {
    std::string body;
    // Without its text a message is not sent at all: a mailer, once started,
    // would send whatever it was given.
    if (!ReadMailText(out.Header, body)) return kNoText;
    TemplateCodes codes = {{'A', out.Request.Alias}, {'F', out.Request.Name}};
    std::string extra = ExpandTemplate(Config().ExtraHeader, codes, true);
    return DeliverMail(out.Command, MailHeaders(out.FromLine, extra, out.Header.Subject) + body + out.Signature);
}

// Sends the message of one request line and marks it.  kAllSent, a failure
// status, or kLineSkipped for a line that is logged and passed over.
int SendOne(const MailRequest& rq) {
    Outgoing out;
    out.Request = rq;
    switch (ReadRequestedHeader(rq, out.Header)) {
        case HeaderRead::kFailed: return kNoHeader;
        case HeaderRead::kStale: return kLineSkipped;
        case HeaderRead::kOk: break;
    }
    const ConfigRecord& c = Config();
    TemplateCodes plain = {{'A', rq.Alias}, {'F', rq.Name}};
    if (!c.FromTemplate.empty()) out.FromLine = "From: " + ExpandTemplate(c.FromTemplate, plain, true);
    TemplateCodes quoted = {
        {'A', ShellQuote(rq.Alias)}, {'F', ShellQuote(rq.Name)}, {'T', ShellQuote(out.Header.ToName)}};
    out.Command = ShellQuote(c.MailerPath) + " " + ExpandTemplate(c.MailerArgs, quoted, true);
    out.Signature = Signature(rq);

    int r = (out.Header.MailFlags & MAIL_FILE_ATTACHED) ? SendSharParts(out) : PipeToMailer(out);
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

std::string ExpandTemplate(std::string_view text, const TemplateCodes& codes, bool anyCase) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        char letter = text[i + 1];
        const std::string* value = nullptr;
        for (const auto& [code, v] : codes) {
            bool same = anyCase ? std::toupper(static_cast<unsigned char>(letter)) ==
                                      std::toupper(static_cast<unsigned char>(code))
                                : letter == code;
            if (same) value = &v;
        }
        if (value != nullptr) {
            out += *value;
        } else {
            out += '%';
            out += letter;
        }
        ++i;
    }
    return out;
}

std::string MailHeaders(const std::string& fromLine, const std::string& extraHeader, const std::string& subject) {
    std::string h;
    if (!fromLine.empty()) h += OneLine(fromLine) + "\n";
    if (!extraHeader.empty()) h += OneLine(extraHeader) + "\n";
    h += std::string("X-Mailer: ") + kMailerName + "\n";
    h += "Subject: " + OneLine(subject) + "\n\n";
    return h;
}

int DeliverMail(const std::string& command, const std::string& mail) {
    FILE* p = popen(command.c_str(), "w");
    if (p == nullptr) {
        WriteServerLog("KP: Cannot execute mailer (Cmd:%s)", command);
        return kMailerFailed;
    }
    bool written;
    int status;
    {
        SigpipeIgnored guard;
        written = std::fwrite(mail.data(), 1, mail.size(), p) == mail.size() && std::fflush(p) == 0;
        status = pclose(p);
    }
    if (!written) {
        WriteServerLog("KP: Cannot write the mail into the mailer (Cmd:%s)", command);
        return kMailerFailed;
    }
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        int code = status == -1 ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        WriteServerLog("KP: Mailer failed with status %d (Cmd:%s)", code, command);
        return kMailerFailed;
    }
    return kAllSent;
}

bool ReadWholeFile(const std::string& path, std::string& body) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    body.clear();
    char buf[8192];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) body.append(buf, n);
    bool ok = std::ferror(f) == 0;
    std::fclose(f);
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
    std::ifstream in(path);
    if (!in) {
        WriteServerLog("KP: Cannot open request file %s", path);
        return kCannotOpenRequests;
    }
    int result = kAllSent;
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
    in.close();
    if (result == kAllSent && std::remove(path.c_str()) != 0)
        WriteServerLog("KP: Cannot remove request file %s", path);
    return result;
}

int SenderMain(const std::vector<std::string>& args) {
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

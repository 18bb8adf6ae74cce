#include "server/mail_gateway.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <charconv>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <optional>
#include <unordered_map>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/msgbase.h"
#include "common/msgbase_swap.h"
#include "common/runtime.h"
#include "common/strings.h"
#include "common/users.h"
#include "common/whole_file.h"
#include "server/server_log.h"
#include "server/server_settings.h"

namespace kv::server {
namespace {

SleepFn& LockSleep() {
    static SleepFn fn = [](unsigned s) { sleep(s); };
    return fn;
}

std::string MailDirPath(const char* name) { return Config().MailDir + "/" + name; }

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// A request line's fields are split at '|' and the file at line ends, so
// neither may come from a name.
std::string RequestField(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c == '|' || c == '\n' || c == '\r') c = ' ';
    return out;
}

std::string NodeName() {
    struct utsname u;
    if (uname(&u) != 0) return {};
    return u.nodename;
}

// The first line of the mailbox, which must show a format we can split.
// Logs why when it does not.
bool MailboxLooksUsable(FILE* f, MailboxFormat format) {
    MailboxReader in(f);
    std::string first;
    in.ReadLine(first);
    if (IsForwardLine(first)) {
        WriteServerLog("Cannot process forwarded mail box");
        return false;
    }
    if (!BeginsMailbox(first, format)) {
        WriteServerLog("Mail box is corrupted, cannot process it");
        return false;
    }
    return true;
}

MailboxFormat ConfiguredFormat() {
    return Config().MmdfMailbox ? MailboxFormat::kMmdf : MailboxFormat::kFromLines;
}

// Copies from the start of an open file to its end.
bool CopyAll(int from, int to) {
    if (lseek(from, 0, SEEK_SET) != 0) return false;
    char buf[64 * 1024];
    for (;;) {
        ssize_t n = read(from, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        if (!WriteAll(to, std::string_view(buf, size_t(n)))) return false;
    }
}

// Writes a new "incoming.bbs" through fill: a temporary file in MailDir,
// synced and renamed into place, so the old file stays until the new one
// is complete.  False (logged) on failure.
bool ReplaceIncoming(const std::function<bool(int to)>& fill) {
    std::string target = MailDirPath(kIncomingFile), why;
    TempFile tmp = MakeTempBeside(target, &why);
    if (tmp.fd >= 0 && !fill(tmp.fd)) {
        why = std::strerror(errno);
        DiscardTemp(tmp);
    }
    if (tmp.fd < 0 || !CommitTemp(tmp, target, &why)) {
        WriteServerLog("Cannot write %s: %s", target, why);
        return false;
    }
    return true;
}

// Copies the open mailbox whole into "incoming.bbs"; when that still holds
// mail not yet posted, the mailbox goes after that mail.
bool CopyToIncoming(int from, const std::string& mailbox) {
    std::string target = MailDirPath(kIncomingFile);
    bool ok = ReplaceIncoming([&](int to) {
        if (Exists(MailDirPath(kPendingFile))) {
            int pending = open(target.c_str(), O_RDONLY | O_CLOEXEC);
            if (pending < 0 && errno != ENOENT) return false;
            if (pending >= 0) {
                bool copied = CopyAll(pending, to);
                close(pending);
                if (!copied) return false;
            }
        }
        return CopyAll(from, to);
    });
    if (!ok) WriteServerLog("Cannot copy %s to %s", mailbox, target);
    return ok;
}

// "incoming.bbs" holds mail not yet posted while the marker exists: from
// before the mailbox is removed until every mail of it is posted.
bool MarkPending() {
    std::string path = MailDirPath(kPendingFile);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 || fsync(fd) != 0) {
        WriteServerLog("Cannot create %s: %s", path, std::strerror(errno));
        if (fd >= 0) close(fd);
        return false;
    }
    close(fd);
    return true;
}

// The mails of "incoming.bbs" that an earlier, interrupted pass posted:
// the offsets the pending marker lists.  A line not yet ended was never
// written whole and counts for nothing.
std::set<uint64_t> PostedBefore() {
    std::set<uint64_t> posted;
    std::string text;
    std::ifstream in(MailDirPath(kPendingFile), std::ios::binary);
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    size_t from = 0;
    for (size_t end; (end = text.find('\n', from)) != std::string::npos; from = end + 1) {
        uint64_t offset = 0;
        auto [stop, ec] = std::from_chars(text.data() + from, text.data() + end, offset);
        if (ec == std::errc() && stop == text.data() + end) posted.insert(offset);
    }
    return posted;
}

// Notes in the pending marker that the mail at offset is posted.  Failing
// that (logged once), a killed pass would post it again: nothing is lost.
class PostedRecord {
public:
    ~PostedRecord() {
        if (fd_ >= 0) close(fd_);
    }
    void Add(uint64_t offset) {
        if (failed_) return;
        if (fd_ < 0) fd_ = open(MailDirPath(kPendingFile).c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        if (fd_ < 0 || !WriteAll(fd_, std::to_string(offset) + "\n")) {
            WriteServerLog("Cannot note a posted mail in %s: %s", MailDirPath(kPendingFile), std::strerror(errno));
            failed_ = true;
        }
    }

private:
    int fd_ = -1;
    bool failed_ = false;
};

// A lock file older than this was left by a process that died holding it.
constexpr time_t kStaleLockSeconds = 5 * 60;

bool StaleLock(const std::string& lock) {
    struct stat st;
    return stat(lock.c_str(), &st) == 0 && Now() - st.st_mtime > kStaleLockSeconds;
}

// Rewrites "incoming.bbs" to hold only the byte ranges given (the mails
// that could not be posted).  The offsets of the posted ones go from the
// pending marker before the new file takes the old one's place: they would
// name other mails of it.  Failing that, the whole file stays with its
// posted mails, which the marker names (unless it was emptied just before
// the failure): none is lost.
bool KeepUnposted(FILE* f, const std::vector<std::pair<uint64_t, uint64_t>>& keep) {
    return ReplaceIncoming([&](int to) {
        std::string bytes;
        for (const auto& [from, end] : keep) {
            bytes.resize(size_t(end - from));
            if (pread(fileno(f), bytes.data(), bytes.size(), off_t(from)) != ssize_t(bytes.size()) ||
                !WriteAll(to, bytes))
                return false;
        }
        return truncate(MailDirPath(kPendingFile).c_str(), 0) == 0;
    });
}

// The node name of this machine, for the addresses of a mail.
const std::string& ThisNode() {
    static const std::string node = NodeName();
    return node;
}

}  // namespace

std::string AliasBook::Find(std::string_view alias) {
    std::string wanted(alias);
    for (char& c : wanted) c = char(std::tolower(static_cast<unsigned char>(c)));
    // A user without an alias has an empty field; an empty alias must not
    // hand that user somebody's private mail.
    if (!wanted.empty()) {
        if (!loaded_) {
            if (!Exists(UsersPath())) {
                WriteServerLog("Cannot open %s for reading", UsersPath());
                return {};
            }
            loaded_ = true;
            // A read failure is logged by the scan itself; the records read
            // before it still answer.
            complete_ = ScanUsers([&](int, const UserRecord& r) {
                names_.emplace(r.Alias, r.Name);  // the first record with an alias has it
                return true;
            });
        }
        auto it = names_.find(wanted);
        if (it != names_.end()) return it->second;
        if (!complete_) return {};
    }
    WriteServerLog("Alias \"%s\" not found, message not posted", wanted);
    return {};
}

std::string ParseRecipientIn(std::string_view value, AliasBook& book) {
    std::optional<std::string> alias = RecipientAlias(value, ThisNode());
    if (!alias) return {};
    return book.Find(*alias);
}

void SetMailboxLockSleep(SleepFn fn) {
    LockSleep() = fn ? std::move(fn) : SleepFn([](unsigned s) { sleep(s); });
}

void ImportIncomingMail() {
    const std::string& mailbox = Config().MailboxPath;
    struct stat st;
    bool pending = Exists(MailDirPath(kPendingFile));
    // Delivery agents may leave an empty mailbox behind: no mail in it.
    if (!mailbox.empty() && stat(mailbox.c_str(), &st) == 0 && st.st_size > 0) {
        WriteServerLog("Processing incoming mail (%ld bytes)", long(st.st_size));
        switch (MoveMailbox()) {
        case MoveResult::kMoved: ProcessMailbox(); return;
        case MoveResult::kRefused: break;
        case MoveResult::kFailed: WriteServerLog("Cannot move %s to the mail directory", mailbox); break;
        }
    }
    // Mail that an earlier pass could not post is tried again.
    if (pending) {
        WriteServerLog("Posting the mail kept in %s", MailDirPath(kIncomingFile));
        ProcessMailbox();
    }
}

MoveResult MoveMailbox() {
    const std::string& mailbox = Config().MailboxPath;
    std::string lock = mailbox + ".lock";

    for (int waits = 0; Exists(lock); ++waits) {
        if (StaleLock(lock)) {
            WriteServerLog("Removing stale mail box lock file %s", lock);
            if (unlink(lock.c_str()) == 0 || errno == ENOENT) continue;
        }
        if (waits == kMailboxLockWait + 1) {
            WriteServerLog("There is still a lock on mail box after %d seconds", kMailboxLockWait);
            return MoveResult::kFailed;
        }
        LockSleep()(1);
    }
    int lockFd = open(lock.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0444);
    if (lockFd < 0) {
        WriteServerLog("Cannot create mail box lock file %s", lock);
        return MoveResult::kFailed;
    }
    close(lockFd);

    // Under the lock: look at the mailbox before anything is done to it;
    // one we cannot split stays exactly where it is.
    MoveResult result = MoveResult::kFailed;
    if (Config().MailDir.empty()) {
        WriteServerLog("Cannot copy %s: no mail directory configured", mailbox);
    } else if (FILE* f = std::fopen(mailbox.c_str(), "r"); f == nullptr) {
        WriteServerLog("Cannot open %s", mailbox);
    } else {
        if (!MailboxLooksUsable(f, ConfiguredFormat())) {
            result = MoveResult::kRefused;
        } else if (CopyToIncoming(fileno(f), mailbox) && MarkPending()) {
            if (unlink(mailbox.c_str()) == 0) result = MoveResult::kMoved;
            else WriteServerLog("Cannot remove %s: %s", mailbox, std::strerror(errno));
        }
        std::fclose(f);
    }

    if (unlink(lock.c_str()) != 0) WriteServerLog("Cannot remove mail box lock file %s", lock);
    return result;
}

void ProcessMailbox() {
    std::string path = MailDirPath(kIncomingFile);
    FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) {
        WriteServerLog("Cannot open %s", path);
        return;
    }
    MailboxFormat format = ConfiguredFormat();
    if (!MailboxLooksUsable(f, format)) {
        std::fclose(f);
        return;
    }
    std::rewind(f);
    MailboxReader in(f);
    std::string first;
    in.ReadLine(first);

    const int dateOrder = Config().DateOrder;
    // Each mail's bytes: from its start line up to the next one's (MMDF:
    // through its closing line); those whose post failed are kept.
    std::vector<std::pair<uint64_t, uint64_t>> unposted;
    uint64_t mailStart = 0;
    // One pass: the users read once, the log opened once, and every mail
    // posted through one writer that holds the base for the pass.
    ServerLogBatch logBatch;
    // Taking the users lock clears away the copies of the users that a
    // killed rewrite left, before the users are read; it comes before the
    // base lock, in the order a rewrite takes the two.
    { UsersFileLock tidy; }
    AliasBook users;
    auto recipient = [&](std::string_view value) { return ParseRecipientIn(value, users); };
    std::optional<MsgBaseWriter> writer(std::in_place);
    const std::set<uint64_t> postedBefore = PostedBefore();
    PostedRecord posted;
    long skipped = 0;
    for (;;) {
        MailHeader header;
        const uint64_t headerStart = in.Offset();
        int parsed = ParseMailHeader(in, header, recipient, dateOrder);
        if (parsed == kHeaderEndOfFile) {
            // A mail cut off in its header has no body: said, not dropped
            // without a word.
            if (in.Offset() > headerStart)
                WriteServerLog("Message to %s not sent, null message body",
                               header.ToName.empty() ? header.Addressed : header.ToName);
            break;
        }
        std::vector<std::string> body;
        if (!GetBody(in, format, body)) WriteServerLog("Not enough memory to proceed in GetBody()");
        uint64_t mailEnd = format == MailboxFormat::kMmdf ? in.Offset() : in.LineStart();
        const std::pair<uint64_t, uint64_t> bytes(mailStart, mailEnd);
        mailStart = mailEnd;
        int32_t number = 0;
        if (postedBefore.count(bytes.first) != 0) {
            ++skipped;
        } else if (parsed == kHeaderNoRecipient) {
            WriteServerLog("Message to %s not sent, bad header", header.Addressed);
        } else if (body.empty()) {
            WriteServerLog("Message to %s not sent, null message body", header.ToName);
        } else if (PostMail(header, body, number, &*writer)) {
            WriteServerLog("Message #%ld posted to %s in area %d", long(number), header.ToName,
                           int(Config().MailArea));
            CrashPoint("posted");
            posted.Add(bytes.first);
            CrashPoint("import");
        } else {
            WriteServerLog("Posting of a message from %s FAILED", header.FromName);
            unposted.push_back(bytes);
        }
    }
    writer.reset();
    if (skipped > 0)
        WriteServerLog("%ld mail(s) of %s posted by an interrupted pass, not posted again", skipped, path);
    // Only now is a posted mail gone from the file; one that could not be
    // posted waits in it for the next pass, and the next mailbox is put
    // after it.
    if (unposted.empty()) {
        if (unlink(MailDirPath(kPendingFile).c_str()) != 0 && errno != ENOENT)
            WriteServerLog("Cannot remove %s: %s", MailDirPath(kPendingFile), std::strerror(errno));
    } else {
        KeepUnposted(f, unposted);
        WriteServerLog("%ld mail(s) kept in %s for the next pass", long(unposted.size()), path);
    }
    std::fclose(f);
}

std::string FindUserByAlias(std::string_view alias) {
    AliasBook book;
    return book.Find(alias);
}

std::string ParseRecipient(std::string_view value) {
    AliasBook book;
    return ParseRecipientIn(value, book);
}

bool PostMail(const MailHeader& mail, const std::vector<std::string>& body, int32_t& number, MsgBaseWriter* writer) {
    int area = Config().MailArea;
    if (area < 0 || area >= kMsgAreaCount) {
        WriteServerLog("Mail area %d is not a message area", area);
        return false;
    }
    MsgText text;
    text.Pid = kServerPid;
    text.Lines.reserve(body.size());
    for (std::string piece : body) {
        BlankControlBytes(piece);
        std::string line;
        for (char c : piece) {
            if (c == '\t') line.append(8, ' ');
            else line.push_back(c);
        }
        text.Lines.push_back(std::move(line));
    }

    MsgHeader h;
    h.MsgArea = int16_t(area);
    h.FromName = mail.FromName;
    h.ToName = mail.ToName;
    h.Subject = mail.Subject;
    // The time is a word of the mail's "Date:" line as it came.
    h.DateText = mail.DateText;
    h.TimeText = mail.TimeText;
    BlankHeaderControlBytes(h);
    h.WrittenAt = h.ImportedAt = int32_t(Now());
    h.Status = MSG_EMAIL | MSG_PRIVATE;
    int32_t headerOffset = 0;
    if (!(writer ? writer->Append(text, h, headerOffset) : AppendMessage(text, h, headerOffset))) return false;
    number = h.MsgNumber;
    return true;
}

std::string MailRequestLine(const ServerCommand& cmd) {
    return FormatChecked("%s|%s|%ld|%ld\n", RequestField(cmd.Name), RequestField(cmd.Alias), long(cmd.MessageNumber),
                         long(cmd.HeaderOffset));
}

namespace {

void LogRequest(const ServerCommand& cmd, const char* what) {
    WriteServerLog("Message #%ld from %s %s", long(cmd.MessageNumber), cmd.Name, what);
}

// Appends a request line to "outgoing.bbs" for the next outgoing pass.
bool QueueRequest(const ServerCommand& cmd, const std::string& line) {
    std::string path = MailDirPath(kOutgoingFile);
    int fd = OpenLockedRequestFile(path, O_WRONLY | O_APPEND | O_CREAT);
    if (fd < 0) {
        WriteServerLog("Mail not sent, cannot open %s", path);
        return false;
    }
    bool ok = WriteAll(fd, line);
    int err = errno;
    if (close(fd) != 0) ok = false;
    if (!ok) {
        WriteServerLog("Mail not sent, cannot write %s: %s", path, std::strerror(err));
        return false;
    }
    Settings().MailQueued = 1;
    LogRequest(cmd, "queued");
    return true;
}

// The request in a file of its own under a name nobody can guess.
bool WriteRequestFile(const std::string& line, std::string& path) {
    const char* dir = std::getenv("TMPDIR");
    path = std::string(dir && *dir ? dir : "/tmp") + "/kvmailXXXXXX";
    int fd = mkstemp(path.data());
    if (fd < 0) {
        WriteServerLog("Mail not sent, cannot open %s", path);
        return false;
    }
    bool ok = WriteAll(fd, line);
    if (close(fd) != 0) ok = false;
    if (!ok) {
        WriteServerLog("Mail not sent, cannot write %s", path);
        unlink(path.c_str());
    }
    return ok;
}

}  // namespace

int OpenLockedRequestFile(const std::string& path, int flags) {
    for (;;) {
        int fd = open(path.c_str(), flags | O_CLOEXEC, 0660);
        if (fd < 0) return -1;
        int rc;
        while ((rc = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
        }
        struct stat held, named;
        if (rc == 0 && fstat(fd, &held) == 0 && stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
            held.st_ino == named.st_ino)
            return fd;
        int err = errno;
        close(fd);
        if (rc != 0) {
            errno = err;
            return -1;
        }
    }
}

void HandleMailRequest(const ServerCommand& cmd) {
    std::string line = MailRequestLine(cmd);
    if (cmd.Code == CMD_MAIL_QUEUE) {
        QueueRequest(cmd, line);
        return;
    }
    std::string path;
    if (WriteRequestFile(line, path)) {
        bool sent = StartMailSender(path);
        // The sender removes a file it has worked through; one that it left
        // is ours to clear once the line is safe in the queue.
        if (sent) {
            LogRequest(cmd, "sent");
            unlink(path.c_str());
            return;
        }
        LogRequest(cmd, "not sent");
        if (QueueRequest(cmd, line)) unlink(path.c_str());
        return;
    }
    // Not even a request file: the queue keeps the mail for the next pass.
    QueueRequest(cmd, line);
}

bool StartMailSender(const std::string& requestPath) {
    const std::string& sender = Config().SenderPath;
    if (sender.empty() || access(sender.c_str(), X_OK) != 0) {
        WriteServerLog("Cannot execute %s %s", sender, requestPath);
        return false;
    }
    size_t slash = sender.rfind('/');
    std::string name = slash == std::string::npos ? sender : sender.substr(slash + 1);

    pid_t pid = fork();
    if (pid < 0) {
        WriteServerLog("Cannot fork for %s: %s", sender, std::strerror(errno));
        return false;
    }
    if (pid == 0) {
        // The sender waits for the mailer it starts; it needs the default
        // disposition of SIGCHLD and SIGPIPE, whatever the server set.
        signal(SIGCHLD, SIG_DFL);
        signal(SIGPIPE, SIG_DFL);
        char* argv[] = {name.data(), const_cast<char*>(requestPath.c_str()), nullptr};
        execv(sender.c_str(), argv);
        WriteServerLog("Problem exec () of %s (%d)", sender, -1);
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            WriteServerLog("Cannot wait for %s: %s", sender, std::strerror(errno));
            return false;
        }
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void SendQueuedMail() {
    std::string path = MailDirPath(kOutgoingFile);
    if (!Exists(path)) {
        WriteServerLog("Cannot find outgoing request mail file %s", path);
        return;
    }
    StartMailSender(path);
}

}  // namespace kv::server

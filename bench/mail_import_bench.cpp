// How fast the server imports a big mailbox: 10,000 mails to 200 users,
// taken under the lock, copied, split, parsed and posted into the message
// base, with the log line of every mail.  Beside it, the splitting alone,
// and formail -s splitting the same file, as a yardstick.  Run by hand:
//   build/testbin/bench_mail_import [mails]
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/record_io.h"
#include "common/runtime.h"
#include "common/user_record.h"
#include "common/users.h"
#include "server/mail_gateway.h"
#include "server/mail_parse.h"
#include "server/server_log.h"

namespace fs = std::filesystem;
using namespace kv;
using namespace kv::server;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kUsers = 200;

std::string MakeMailbox(int mails) {
    static const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    std::string out;
    char buf[256];
    for (int i = 0; i < mails; ++i) {
        int day = 1 + i % 28;
        std::snprintf(buf, sizeof buf, "From sender%d@far.example.org %s Mar %2d 10:%02d:%02d 1996\n", i % 97,
                      kDays[i % 7], day, i % 60, (i * 7) % 60);
        out += buf;
        out += "Return-Path: <sender" + std::to_string(i % 97) + "@far.example.org>\n";
        out += "Received: from relay.far.example.org by kivo.example.org\n\tid " + std::to_string(i) + "\n";
        out += "Message-Id: <" + std::to_string(i) + "@far.example.org>\n";
        out += "From: Sender Number " + std::to_string(i % 97) + " <sender" + std::to_string(i % 97) +
               "@far.example.org>\n";
        out += "To: user" + std::to_string(i % kUsers) + "@kivo.example.org\n";
        if (i % 5 == 0) out += "Cc: someone@elsewhere.example.org\n";
        out += "Subject: Message number " + std::to_string(i) + " of the timing run\n";
        std::snprintf(buf, sizeof buf, "Date: %s, %d Mar 1996 10:%02d:%02d +0100\n", kDays[i % 7], day, i % 60,
                      (i * 7) % 60);
        out += buf;
        out += "MIME-Version: 1.0\nContent-Type: text/plain; charset=us-ascii\n\n";
        for (int l = 0; l < 20; ++l) {
            out += "Line " + std::to_string(l) + " of the body, with a few words to wrap and to trim   \n";
            if (l == 10) out += std::string(150, 'x') + " and a long line that needs cutting\n\n";
        }
        // An empty line ends each mail, as mail delivery writes them:
        // without it formail -s sees one mail, and its time is a copy.
        out += "\n";
    }
    return out;
}

void WriteUsers(const std::string& path) {
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < kUsers; ++i) {
        UserRecord u;
        ClearUserRecord(u);
        u.Name = "User Number " + std::to_string(i);
        u.Alias = "user" + std::to_string(i);
        auto rec = EncodeRecord(u);
        out.write(reinterpret_cast<const char*>(rec.data()), rec.size());
    }
}

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// Splitting and parsing alone, the users looked up in memory.
int SplitOnly(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "r");
    MailboxReader in(f);
    std::string first;
    in.ReadLine(first);
    int mails = 0;
    auto lookup = [](std::string_view v) { return RecipientAlias(v, "kivo").value_or(""); };
    for (;;) {
        MailHeader h;
        if (ParseMailHeader(in, h, lookup, 1) == kHeaderEndOfFile) break;
        std::vector<std::string> body;
        GetBody(in, MailboxFormat::kFromLines, body);
        ++mails;
    }
    std::fclose(f);
    return mails;
}

double RunFormail(const std::string& path) {
    auto t = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        int in = open(path.c_str(), O_RDONLY), out = open("/dev/null", O_WRONLY);
        dup2(in, 0);
        dup2(out, 1);
        execlp("formail", "formail", "-s", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return Seconds(t);
}

}  // namespace

int main(int argc, char** argv) {
    int mails = argc > 1 ? std::atoi(argv[1]) : 10000;
    char tmpl[] = "/tmp/kvmailbench.XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return 1;
    fs::path root = tmpl;
    ConfigRecord c;
    c.DataDir = (root / "system").string();
    c.MsgBaseDir = (root / "msgbase").string();
    c.MailDir = (root / "mail").string();
    c.MailboxPath = (root / "mail/mailbox").string();
    c.MailArea = 2;
    c.DateOrder = 1;
    for (const std::string* d : {&c.DataDir, &c.MsgBaseDir, &c.MailDir}) fs::create_directories(*d);
    SetConfig(c);
    SetLogWriter(WriteServerLogLine);
    WriteUsers(UsersPath());

    std::string mbox = MakeMailbox(mails);
    std::string copy = (root / "copy.mbox").string();
    std::ofstream(copy, std::ios::binary) << mbox;
    double mb = double(mbox.size()) / 1e6;

    // In turns with formail; the best round of each, as other work on a
    // shared machine only adds.
    constexpr int kRounds = 3;
    double import = 1e9, formail = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        std::ofstream(c.MailboxPath, std::ios::binary) << mbox;
        auto t = Clock::now();
        ImportIncomingMail();
        import = std::min(import, Seconds(t));
        double f = RunFormail(copy);
        formail = f < 0 ? f : std::min(formail, f);
    }
    int posted = 0;
    {
        std::ifstream log(c.DataDir + "/server.log");
        for (std::string line; std::getline(log, line);)
            if (line.find(" posted to ") != std::string::npos) ++posted;
    }
    posted /= kRounds;
    auto t = Clock::now();
    int split = SplitOnly(copy);
    double splitOnly = Seconds(t);

    std::printf("mailbox: %d mails, %.1f MB, %d users; %d posted\n", mails, mb, kUsers, posted);
    std::printf("kvhubd import (lock, copy, split, parse, post, log): %7.3f s  %8.0f mails/s\n", import,
                mails / import);
    std::printf("split and parse only:                              %7.3f s  %8.0f mails/s (%d mails)\n",
                splitOnly, split / splitOnly, split);
    if (formail >= 0)
        std::printf("formail -s > /dev/null:                            %7.3f s  %8.0f mails/s  (import %.2fx)\n",
                    formail, mails / formail, import / formail);
    else
        std::printf("formail -s: not run\n");
    fs::remove_all(root);
    return 0;
}

#include "tests/support/sshd.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>

#include "tests/support/board.h"

namespace fs = std::filesystem;

namespace kv::test {
namespace {

constexpr const char* kSshd = "/usr/sbin/sshd";

// A port nobody listens on now.
int FreePort() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}

bool Listening(int port) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    bool up = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    return up;
}

}  // namespace

TestSshd::TestSshd() {
    char tmpl[] = "/tmp/kvsshXXXXXX";
    if (mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = tmpl;
}

TestSshd::~TestSshd() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

bool TestSshd::Start(const std::string& config) {
    if (!fs::exists(kSshd)) return false;  // scripts/setup.sh installs openssh-server
    for (const char* key : {"host_key", "caller_key"}) {
        RunResult r = RunProgram({"/usr/bin/ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", key}, dir_);
        if (r.status != 0) return false;
    }
    fs::copy_file(dir_ / "caller_key.pub", dir_ / "authorized_keys");
    // sshd's privilege separation needs it, even for a test's sshd.
    fs::create_directories("/run/sshd");
    port_ = FreePort();
    std::ofstream(dir_ / "sshd_config") << "Port " << port_ << "\nListenAddress 127.0.0.1\nHostKey "
                                        << (dir_ / "host_key").string() << "\nAuthorizedKeysFile "
                                        << (dir_ / "authorized_keys").string()
                                        << "\nPidFile none\nPrintMotd no\nPrintLastLog no\n"
                                        << config;
    pid_ = fork();
    if (pid_ == 0) {
        execl(kSshd, kSshd, "-D", "-f", (dir_ / "sshd_config").c_str(), "-E", (dir_ / "sshd.log").c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    return WaitUntil([&] { return Listening(port_); });
}

std::vector<std::string> TestSshd::Client(const std::string& user, const std::vector<std::string>& options) const {
    std::vector<std::string> argv = {"/usr/bin/ssh", "-tt", "-e", "none", "-F", "/dev/null", "-p",
                                     std::to_string(port_), "-i", (dir_ / "caller_key").string(), "-o",
                                     "StrictHostKeyChecking=no", "-o", "UserKnownHostsFile=/dev/null", "-o",
                                     "LogLevel=ERROR"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(user + "@127.0.0.1");
    return argv;
}

std::string TestSshd::Log() const {
    std::ifstream in(dir_ / "sshd.log");
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace kv::test

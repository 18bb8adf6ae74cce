// An OpenSSH sshd of a test's own on 127.0.0.1 (sshd logs callers in only
// when it runs as root), with a host key and a client key of its own, and
// the command line of an ssh client that calls it.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace kv::test {

class TestSshd {
public:
    TestSshd();
    ~TestSshd();  // stops sshd and removes its directory
    TestSshd(const TestSshd&) = delete;
    TestSshd& operator=(const TestSshd&) = delete;

    // Starts sshd with the common settings (its port and address, the host
    // key, no PID file, no motd, the client key authorized) and then the
    // lines of config; true once it listens.
    bool Start(const std::string& config);

    // An ssh client with a terminal, to user at this sshd, with the
    // client's key and no questions about the host.
    std::vector<std::string> Client(const std::string& user, const std::vector<std::string>& options = {}) const;

    const std::filesystem::path& dir() const { return dir_; }
    std::string Log() const;

private:
    std::filesystem::path dir_;
    int port_ = 0;
    pid_t pid_ = -1;
};

}  // namespace kv::test

// A sample board in a temporary directory, built from sample/ the way the
// README's run command builds it, for tests to change and inspect.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/config_record.h"

namespace kv::test {

class TempBoard {
public:
    // Builds the board; tty (below /dev/) becomes line 0 of "bbsline.ctl".
    explicit TempBoard(const std::string& tty = "");
    ~TempBoard();
    TempBoard(const TempBoard&) = delete;
    TempBoard& operator=(const TempBoard&) = delete;

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path DataDir() const { return config_.DataDir; }
    std::filesystem::path MsgBaseDir() const { return config_.MsgBaseDir; }
    const ConfigRecord& config() const { return config_; }

    // Changes one field of kvconfig.bbs ("MsgAreas[0].AreaName", ...).
    void Set(const std::string& key, const std::string& value);
    // Writes a file below the board (parents made).
    void WriteFile(const std::filesystem::path& rel, const std::string& body) const;
    std::string ReadFile(const std::filesystem::path& rel) const;

private:
    std::filesystem::path root_;
    ConfigRecord config_;
};

// Waits for something that should happen (text on a screen, a process
// ending, a log line) give up after their timeout times this factor, so a
// loaded machine or a sanitizer build does not turn a slow step into a
// failure.  KV_TEST_TIMEOUT_SCALE overrides the default of 4.  A wait
// that checks that nothing happens must not use it.
int ScaledTimeout(int timeoutMs);

// Polls until done() holds, for at most timeoutMs (scaled), by the clock:
// for what a program does after the text a test waited for (a file it
// removes, a log line it writes, a record it rewrites).  True once done()
// held.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 5000);

// Waits until some process waits for the flock lock of file (another holds
// it), as /proc/locks shows; false when none came within the timeout.
bool WaitForFlockWaiter(const std::filesystem::path& file, int timeoutMs = 5000);

// The process's umask for a scope, so that what the programs started in it
// create gets modes a test can state.
class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
    ~ScopedUmask() { ::umask(old_); }
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
    mode_t old_;
};

// Paths of the built programs and of the source tree.
std::string ProgramPath(const std::string& name);  // bin/NAME
std::string SourcePath(const std::string& rel);

// Runs a command (argument vector, no shell) in dir with extra environment
// entries; captures its standard output and error.  Returns the exit status,
// or 128 + signal.
struct RunResult {
    int status = -1;
    std::string out, err;
};
RunResult RunProgram(const std::vector<std::string>& argv, const std::filesystem::path& dir,
                     const std::vector<std::string>& env = {}, int timeoutSeconds = 30);

}  // namespace kv::test

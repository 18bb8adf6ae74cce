#include "fuzz/fuzz_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <vector>

#include "caller/core/call_state.h"
#include "common/runtime.h"
#include "tests/support/text_segment.h"

namespace kv::fuzz {

namespace {

void RemoveScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(ScratchDir(), ignored);
}

}  // namespace

const std::string& ScratchDir() {
    static const std::string dir = [] {
        std::string base = std::filesystem::temp_directory_path().string() + "/kvfuzz.XXXXXX";
        if (mkdtemp(base.data()) == nullptr) std::abort();
        return base;
    }();
    static const bool cleanup = (std::atexit(RemoveScratchDir), true);
    (void)cleanup;
    return dir;
}

std::string WriteScratchFile(const std::string& name, const uint8_t* data, size_t size) {
    std::string path = ScratchDir() + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    if (!out) std::abort();  // the harness, not the parser, failed
    return path;
}

std::string WriteScratchFile(const std::string& name, std::string_view text) {
    return WriteScratchFile(name, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

void InstallFixtureConfig() {
    static const bool done = [] {
        ConfigRecord c;
        const std::string& dir = ScratchDir();
        c.BbsName = "Fuzz Board";
        c.DataDir = c.MenuDir = c.TextDir = c.MsgBaseDir = c.MailDir = c.WorkDir = dir;
        c.NewsDir = c.NewsSpool = dir;
        c.InactivityTimeout = 0;  // no alarm
        c.AllowShellEscapes = 0;  // a display file's ~x runs nothing
        SetConfig(c);
        SetLogWriter([](std::string_view) {});
        SetTextLookup([](int) { return std::string(); });
        return true;
    }();
    (void)done;
}

void InstallFixtureCall(bool sampleTexts) {
    InstallFixtureConfig();
    static const bool done = [sampleTexts] {
        // Output goes nowhere; a key wait reads the end of /dev/null.
        int null = open("/dev/null", O_RDWR);
        if (null < 0) std::abort();
        dup2(null, 0);
        dup2(null, 1);
        close(null);
        caller::CallState& c = caller::Call();
        if (sampleTexts) {
            static std::vector<uint8_t> segment = test::SampleTextSegment();
            c.Segment = segment.data();
            caller::SelectMessageFile(0);
        }
        c.Ending = true;  // a lost line ends a key wait, and no hang-up is acted on
        c.CallMinutes = 30000;
        c.LogonTime = Now();
        return true;
    }();
    (void)done;
}

}  // namespace kv::fuzz

// The code under test pauses (a failed questionnaire waits 3 seconds) and
// arms the inactivity alarm, which would also cancel libFuzzer's own
// timer: here neither waits nor arms anything.  libFuzzer sleeps through
// sleep(), which does not come here.
extern "C" int nanosleep(const timespec*, timespec*) { return 0; }
extern "C" unsigned alarm(unsigned) { return 0; }

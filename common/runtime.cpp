#include "common/runtime.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace kv {
namespace {

ConfigRecord& ConfigSlot() {
    static ConfigRecord config;
    return config;
}

LogWriterFn& LogWriterSlot() {
    static LogWriterFn fn;
    return fn;
}

TextLookupFn& TextLookupSlot() {
    static TextLookupFn fn;
    return fn;
}

time_t EnvClock() {
    if (const char* file = std::getenv("KV_TEST_CLOCK_FILE"); file != nullptr && *file != '\0') {
        if (FILE* in = std::fopen(file, "r")) {
            long long t = 0;
            bool ok = std::fscanf(in, "%lld", &t) == 1;
            std::fclose(in);
            if (ok) return static_cast<time_t>(t);
        }
    }
    // Read once: a test fixes the start of the call, the clock runs on.
    static const long long offset = [] {
        const char* s = std::getenv("KV_TEST_NOW");
        if (s == nullptr || *s == '\0') return 0LL;
        return std::atoll(s) - static_cast<long long>(std::time(nullptr));
    }();
    return static_cast<time_t>(std::time(nullptr) + offset);
}

ClockFn& ClockSlot() {
    static ClockFn fn = EnvClock;
    return fn;
}

}  // namespace

const ConfigRecord& Config() { return ConfigSlot(); }
ConfigRecord& MutableConfig() { return ConfigSlot(); }
void SetConfig(const ConfigRecord& c) { ConfigSlot() = c; }

void SetLogWriter(LogWriterFn fn) { LogWriterSlot() = std::move(fn); }

void LogService(std::string_view line) {
    if (LogWriterSlot()) {
        LogWriterSlot()(line);
    } else {
        std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
    }
}

void SetTextLookup(TextLookupFn fn) { TextLookupSlot() = std::move(fn); }

std::string LookupText(int n) {
    if (!TextLookupSlot()) return {};
    return TextLookupSlot()(n);
}

void SetClock(ClockFn fn) { ClockSlot() = fn ? std::move(fn) : ClockFn(EnvClock); }

time_t Now() { return ClockSlot()(); }

std::tm LocalNow() {
    time_t t = Now();
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm;
}

void KeepNewFilesFromOthers() { umask(umask(0) | S_IRWXO); }

void KeepStandardDescriptorsOpen() {
    for (int fd = 0; fd < 3; ++fd)
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) open("/dev/null", O_RDWR);
}

}  // namespace kv

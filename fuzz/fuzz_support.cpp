#include "fuzz/fuzz_support.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <vector>

#include "caller/term/call_state.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"
#include "common/cp437.h"
#include "common/runtime.h"
#include "tests/support/text_segment.h"

namespace kv::fuzz {

namespace {

// The script TypeKeys gives the line.
struct KeyScript {
    bool on = false;
    std::string keys;
    size_t at = 0, chunk = 1;
    int rewinds = 0;      // script rewinds left before KeysRanOut
    std::set<FILE*> open;  // fopen's files not closed yet
};

// Made at its first use and never destroyed: the C library calls below
// come before any constructor and after every destructor of this file.
KeyScript& Script() {
    static KeyScript* script = new KeyScript;
    return *script;
}

using FopenFn = FILE* (*)(const char*, const char*);
using FcloseFn = int (*)(FILE*);
FopenFn RealFopen() {
    static const FopenFn f = reinterpret_cast<FopenFn>(dlsym(RTLD_NEXT, "fopen"));
    return f;
}
FcloseFn RealFclose() {
    static const FcloseFn f = reinterpret_cast<FcloseFn>(dlsym(RTLD_NEXT, "fclose"));
    return f;
}

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

std::string Solid(std::string_view text) {
    std::string out;
    for (char c : text)
        if (std::strchr(" \t\n\r\v\f", c) == nullptr || c == '\0') out += c;
    return out;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(uint8_t(a[i])) != std::toupper(uint8_t(b[i]))) return false;
    return true;
}

void Broken(const char* what) {
    std::fprintf(stderr, "fuzz: property broken: %s\n", what);
    RemoveScratchDir();  // the abort runs no exit handler
    std::abort();
}

void TypeKeys(std::string_view keys, size_t chunk) {
    KeyScript& script = Script();
    script.on = true;
    script.keys.assign(keys);
    script.at = 0;
    script.chunk = std::max<size_t>(chunk, 1);
    script.rewinds = 64;
}

void StopTyping() {
    KeyScript& script = Script();
    script.on = false;
    // A run cut short left the files it had opened.
    for (FILE* f : script.open) RealFclose()(f);
    script.open.clear();
}

CapturedOutput::CapturedOutput(int fd)
    : target_(fd), saved_(fd >= 0 ? dup(fd) : -1), memfd_(memfd_create("kvfuzz-out", 0)) {
    if ((fd >= 0 && saved_ < 0) || memfd_ < 0) std::abort();
    caller::FlushOutput();
    if (target_ >= 0) dup2(memfd_, target_);
}

CapturedOutput::~CapturedOutput() {
    caller::FlushOutput();
    if (target_ >= 0) {
        dup2(saved_, target_);
        close(saved_);
    }
    close(memfd_);
}

std::string CapturedOutput::Take() {
    caller::FlushOutput();
    off_t end = lseek(memfd_, 0, SEEK_END);
    std::string out(size_t(end) - taken_, '\0');
    if (pread(memfd_, out.data(), out.size(), off_t(taken_)) != ssize_t(out.size())) std::abort();
    taken_ = size_t(end);
    return out;
}

void CheckPlainScreen(std::string_view shown, size_t width) {
    if (std::getenv("KVFUZZ_SHOW") != nullptr) std::fwrite(shown.data(), 1, shown.size(), stderr);
    size_t column = 0, lineStart = 0;
    for (size_t i = 0; i < shown.size(); ++i) {
        const uint8_t b = uint8_t(shown[i]);
        if (b == '\n' || b == '\r') {
            column = 0;
            lineStart = i + 1;
            continue;
        }
        if (b == '\a') continue;
        if (b == '\b') {
            column -= column > 0;
            continue;
        }
        if ((b >= 32 && b != 127) && ++column <= width) continue;
        // The line as it went out, control bytes in hex, to see what broke.
        std::string line;
        for (size_t j = lineStart; j < shown.size() && shown[j] != '\n' && shown[j] != '\r'; ++j) {
            const uint8_t c = uint8_t(shown[j]);
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            line += c >= 32 && c < 127 ? std::string(1, char(c)) : std::string(hex);
        }
        std::fprintf(stderr, "fuzz: on the screen: [%s]\n", line.c_str());
        if (std::getenv("KVFUZZ_DUMP") != nullptr) std::fwrite(shown.data(), 1, shown.size(), stderr);
        Broken(b < 32 || b == 127 ? "a control byte reached the screen" : "a line wider than the screen");
    }
}

namespace {

// The second byte of a well-formed sequence has a narrower range after
// some lead bytes (no overlong form, no UTF-16 half, nothing past U+10FFFF).
bool SecondByteFits(uint8_t lead, uint8_t b) {
    if (lead == 0xE0) return b >= 0xA0 && b <= 0xBF;
    if (lead == 0xED) return b >= 0x80 && b <= 0x9F;
    if (lead == 0xF0) return b >= 0x90 && b <= 0xBF;
    if (lead == 0xF4) return b >= 0x80 && b <= 0x8F;
    return b >= 0x80 && b <= 0xBF;
}

int SequenceLength(uint8_t lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

// The well-formed sequence that begins at bytes[i]: true with its character
// and end, or false with end at the byte that broke it off (past a lead
// byte that begins none).
bool TakeSequence(std::string_view bytes, size_t i, char32_t& ch, size_t& end) {
    const uint8_t lead = uint8_t(bytes[i]);
    const int length = SequenceLength(lead);
    end = i + 1;
    if (length == 0) return false;
    ch = length == 1 ? lead : char32_t(lead & (0x7F >> length));
    for (int k = 1; k < length; ++k, ++end) {
        if (end >= bytes.size()) return false;
        const uint8_t b = uint8_t(bytes[end]);
        if (!(k == 1 ? SecondByteFits(lead, b) : (b >= 0x80 && b <= 0xBF))) return false;
        ch = (ch << 6) | (b & 0x3F);
    }
    return true;
}

}  // namespace

std::vector<Utf8Item> ReferenceUtf8Keys(std::string_view bytes, bool cut) {
    std::vector<Utf8Item> items;
    for (size_t i = 0, end = 0; i < bytes.size(); i = end) {
        char32_t ch = 0;
        if (!TakeSequence(bytes, i, ch, end)) {
            if (SequenceLength(uint8_t(bytes[i])) == 0 || end < bytes.size() || cut) items.push_back({false, 0});
            continue;
        }
        uint8_t pc = 0;
        items.push_back(UnicodeToCp437(ch, pc) ? Utf8Item{true, pc} : Utf8Item{false, 0});
    }
    return items;
}

bool ReferenceUtf8Text(std::string_view bytes, std::u32string& chars) {
    chars.clear();
    for (size_t i = 0, end = 0; i < bytes.size(); i = end) {
        char32_t ch = 0;
        if (!TakeSequence(bytes, i, ch, end)) return false;
        chars += ch;
    }
    return true;
}

void CheckKeysAgainstReference(const std::vector<Utf8Item>& want, const std::vector<int>& keys,
                               const std::vector<int>& gaps) {
    Check(gaps.size() == keys.size() + 1, "harness: one bell count per gap");
    size_t key = 0;
    int refusals = 0;
    for (const Utf8Item& item : want) {
        if (!item.key) {
            ++refusals;
            continue;
        }
        Check(key < keys.size(), "a key of a well-formed sequence was lost");
        Check(keys[key] == item.value, "a key came out other than typed");
        Check((gaps[key] > 0) == (refusals > 0), "a refused sequence without a bell, or a bell for nothing");
        Check(gaps[key] <= refusals, "more bells than refused sequences");
        refusals = 0;
        ++key;
    }
    Check(key == keys.size(), "a key came from a refused sequence");
    Check((gaps[key] > 0) == (refusals > 0), "a refused sequence at the end without a bell, or a bell for nothing");
    Check(gaps[key] <= refusals, "more bells than refused sequences at the end");
}

}  // namespace kv::fuzz

// Standard input under a key script: the script's bytes, then KeysRanOut
// for a read that would wait (a read without waiting finds no key).  Every
// other read goes to the system as it is.
extern "C" ssize_t read(int fd, void* buf, size_t count) {
    kv::fuzz::KeyScript& script = kv::fuzz::Script();
    if (fd != 0 || !script.on) return syscall(SYS_read, fd, buf, count);
    if (script.at >= script.keys.size()) {
        if (fcntl(0, F_GETFL) & O_NONBLOCK) {
            errno = EAGAIN;
            return -1;
        }
        throw kv::fuzz::KeysRanOut();
    }
    size_t n = std::min({count, script.chunk, script.keys.size() - script.at});
    std::memcpy(buf, script.keys.data() + script.at, n);
    script.at += n;
    return ssize_t(n);
}

// The code under test pauses (a failed questionnaire waits 3 seconds, the
// news reader's "No more news!" as long) and arms the inactivity alarm,
// which would also cancel libFuzzer's own timer: here neither waits nor
// arms anything.  A pause that waited would make each input that meets one
// seconds slow, and one that meets ten a time-out.  libFuzzer's watch on
// memory sleeps through sleep() too, a second at a time on a thread of its
// own: only the thread that runs the inputs skips its sleep.
namespace {
const pthread_t kInputThread = pthread_self();  // static start-up runs on the main thread
}
extern "C" int nanosleep(const timespec*, timespec*) { return 0; }
extern "C" int usleep(useconds_t) { return 0; }
extern "C" unsigned sleep(unsigned seconds) {
    if (pthread_equal(pthread_self(), kInputThread)) return 0;
    timespec left{time_t(seconds), 0};
    if (syscall(SYS_nanosleep, &left, &left) == 0) return 0;
    return unsigned(left.tv_sec);
}
extern "C" unsigned alarm(unsigned) { return 0; }

// The line under a key script polls readable while keys are left; once
// they are all taken, a look without waiting finds nothing, and a wait
// throws KeysRanOut: the caller has nothing more to type.
extern "C" int poll(pollfd* fds, nfds_t count, int timeout) {
    kv::fuzz::KeyScript& script = kv::fuzz::Script();
    nfds_t line = count;
    for (nfds_t i = 0; i < count; ++i)
        if (fds[i].fd == 0) line = i;
    if (!script.on || line == count) return int(syscall(SYS_poll, fds, count, timeout));
    if (script.at < script.keys.size()) {
        for (nfds_t i = 0; i < count; ++i) fds[i].revents = i == line ? short(fds[i].events & POLLIN) : 0;
        return (fds[line].events & POLLIN) != 0 ? 1 : 0;
    }
    if (timeout != 0) throw kv::fuzz::KeysRanOut();
    fds[line].fd = -1;
    int r = int(syscall(SYS_poll, fds, count, 0));
    fds[line].fd = 0;
    fds[line].revents = 0;
    return r;
}

// Files opened while keys are typed are known, so that a run that
// KeysRanOut cut short leaves none open.
extern "C" FILE* fopen(const char* path, const char* mode) {
    FILE* f = kv::fuzz::RealFopen()(path, mode);
    if (f != nullptr && kv::fuzz::Script().on) kv::fuzz::Script().open.insert(f);
    return f;
}

extern "C" int fclose(FILE* f) {
    kv::fuzz::Script().open.erase(f);
    return kv::fuzz::RealFclose()(f);
}

// A questionnaire's "branch" starts its script over; one that branches
// for ever without asking anything ends here (a real call would spin until
// its time ran out).
extern "C" void rewind(FILE* f) {
    if (kv::fuzz::Script().on && --kv::fuzz::Script().rewinds < 0) throw kv::fuzz::KeysRanOut();
    std::fseek(f, 0, SEEK_SET);
    clearerr(f);
}

// Reading what a caller or a file gives never runs a program: a target
// that gets here has found a way to make the board run one.
extern "C" pid_t fork() { kv::fuzz::Broken("a program was to be started"); }
extern "C" pid_t vfork() { kv::fuzz::Broken("a program was to be started"); }
extern "C" int system(const char*) { kv::fuzz::Broken("a command was to be run"); }
extern "C" FILE* popen(const char*, const char*) { kv::fuzz::Broken("a command was to be run"); }
extern "C" int execve(const char*, char* const[], char* const[]) { kv::fuzz::Broken("a program was to be run"); }
extern "C" int execv(const char*, char* const[]) { kv::fuzz::Broken("a program was to be run"); }
extern "C" int execvp(const char*, char* const[]) { kv::fuzz::Broken("a program was to be run"); }

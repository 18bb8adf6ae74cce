// What every fuzz target shares: a scratch directory for the files a parser
// reads by path, and a caller program that can run without a server, a
// terminal or a clock that ends the call.
//
// No target may run a program: fork, exec, system and popen abort.
//
// Each target is a libFuzzer program (LLVMFuzzerTestOneInput) built with
// clang's fuzzer, address and undefined-behaviour sanitizers; see
// scripts/fuzz.sh.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv::fuzz {

// A directory of this process's own, made at the first call and removed
// when the process ends.
const std::string& ScratchDir();

// Writes bytes as the file name in ScratchDir (replacing it); its path.
std::string WriteScratchFile(const std::string& name, const uint8_t* data, size_t size);
std::string WriteScratchFile(const std::string& name, std::string_view text);

// Installs, once, a configuration record held in memory whose directories
// are all ScratchDir, with no inactivity alarm and no shell escapes, a log
// writer that drops its lines and no message texts.
void InstallFixtureConfig();

// As InstallFixtureConfig, and makes the caller program's call harmless: no
// segment, output to /dev/null, input from /dev/null (a key wait meets a
// lost line and returns at once, the call being marked as ending), a call
// that never runs out of time.  With sampleTexts the sample board's message
// texts are bound, so that a parser that names a text gets a real one.
// Pauses (nanosleep) and alarms do nothing in a fuzz target.
void InstallFixtureCall(bool sampleTexts = false);

// A property the code under test promised and broke: the reason on
// standard error, then an abort, which libFuzzer reports and keeps the
// input of.
[[noreturn]] void Broken(const char* what);
inline void Check(bool holds, const char* what) {
    if (!holds) Broken(what);
}

// The bytes of text: a line that carries one key per byte, or a fuzz input.
inline std::string_view Bytes(const uint8_t* data, size_t size) {
    return std::string_view(reinterpret_cast<const char*>(data), size);
}

// A text without its white space (blank, tab, line ends, vertical tab,
// form feed): what must show of it wherever a layout breaks its lines.
std::string Solid(std::string_view text);
// Two names equal but for the case of their ASCII letters.
bool SameIgnoringCase(std::string_view a, std::string_view b);

// Keys typed on the line: reads of standard input take these bytes, at
// most chunk at a time (a line hands a burst over in pieces), and once
// all are taken the next read that would wait throws KeysRanOut.  The target catches it
// where the call would wait for a caller who has nothing more to type, so
// that no loop of a prompt waits for ever and nothing ends the process.
// Without a script standard input is /dev/null again.
struct KeysRanOut {};
void TypeKeys(std::string_view keys, size_t chunk = 1024);
// A script is also where a questionnaire that branches for ever ends
// (KeysRanOut after 64 starts over).  StopTyping closes what a run cut
// short by KeysRanOut left open (files opened by fopen while typing); the
// script's last byte is taken from the program's input buffer before the
// next read throws, so a run leaves nothing typed behind either.
void StopTyping();

// What the process writes on descriptor fd (standard output) while the
// object lives; with fd -1, what it writes on fd() (a monitor's copy).  Take gives what came since the
// last Take; the caller program's output buffer is flushed first.
class CapturedOutput {
public:
    explicit CapturedOutput(int fd = 1);
    ~CapturedOutput();
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;
    std::string Take();
    int fd() const { return memfd_; }

private:
    int target_, saved_, memfd_;
    size_t taken_ = 0;
};

// What a caller's screen got with ANSI off: no control byte but the line
// ends ("\n\r"), the bell and the backspace of a prompt's erasing, and no
// line wider than width columns.  A failure prints the line (and, with
// KVFUZZ_DUMP set in the environment, the whole screen) on standard error;
// with KVFUZZ_SHOW set every screen checked goes there.
void CheckPlainScreen(std::string_view shown, size_t width);

// The UTF-8 keys of a terminal read independently of the board's reader,
// by the table of well-formed sequences: what a reader of keys must make of
// the bytes.  Each item is a key (the PC byte of a character the set has)
// or a refusal: a byte that begins no well-formed sequence, a sequence cut
// short by a byte that cannot follow, or a character the set lacks.  A
// sequence left unfinished at the end is a refusal when cut, else nothing.
struct Utf8Item {
    bool key;
    int value;  // the key: a PC byte here, a reader's own key code elsewhere
};
std::vector<Utf8Item> ReferenceUtf8Keys(std::string_view bytes, bool cut);
// A whole text read by the same table: its characters, or false when any
// byte of it is no part of a well-formed sequence.
bool ReferenceUtf8Text(std::string_view bytes, std::u32string& chars);

// Checks a reader's keys against the reference: the same keys in the same
// order, and between two keys a bell for each refused stretch (at least
// one where the reference refused something, none where it did not, and
// never more than its refusals).  gaps[i] is the count of bells rung
// before key i; the last entry, those after the last key.
void CheckKeysAgainstReference(const std::vector<Utf8Item>& want, const std::vector<int>& keys,
                               const std::vector<int>& gaps);

}  // namespace kv::fuzz


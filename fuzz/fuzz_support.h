// What every fuzz target shares: a scratch directory for the files a parser
// reads by path, and a caller program that can run without a server, a
// terminal or a clock that ends the call.
//
// Each target is a libFuzzer program (LLVMFuzzerTestOneInput) built with
// clang's fuzzer, address and undefined-behaviour sanitizers; see
// scripts/fuzz.sh.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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

}  // namespace kv::fuzz

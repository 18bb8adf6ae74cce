// A text file a caller uploads as a message: cleaned of the bytes a message
// must not hold, then loaded into the editor's buffer as an upload is.  The
// first byte: bit 0 whether the area takes 8-bit letters, the rest the
// area's line limit.  The cleaning keeps every printable byte and line end
// in its place, leaves no other control byte (and without 8-bit letters no
// byte above 126), drops only the end byte 0x1A, and is its own fixed
// point; the loaded lines fit the editor's width and the limit, and hold
// every word of the cleaned text, in order, up to where the limit cut it.
#include <optional>
#include <string>

#include "caller/areas/line_editor.h"
#include "caller/areas/message_buffer.h"
#include "caller/areas/message_text_upload.h"
#include "caller/term/call_state.h"
#include "fuzz/fuzz_support.h"

using namespace kv::caller;
using kv::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::fuzz::InstallFixtureCall(true);
    if (size == 0) return 0;
    const bool high = (data[0] & 1) != 0;
    const int limit = 1 + (data[0] >> 1);
    std::string_view text = kv::fuzz::Bytes(data + 1, size - 1);

    std::optional<std::string> clean = CleanTextBytes(text, high);
    Check(clean.has_value() == (text.find('\0') == std::string_view::npos), "a NUL byte is refused, nothing else");
    if (!clean) return 0;
    Check(CleanTextBytes(*clean, high) == clean, "cleaning a clean text changes it");
    size_t at = 0;
    for (char ch : text) {
        const uint8_t in = uint8_t(ch);
        if (in == 0x1A) continue;
        Check(at < clean->size(), "the cleaning lost a byte");
        const uint8_t out = uint8_t((*clean)[at++]);
        if ((in >= 32 && in < 127) || in == '\n' || in == '\r' || in == '\t' || (high && in >= 127))
            Check(out == in, "the cleaning changed a byte a message may hold");
        else
            Check(out >= 32 && out < 127, "the cleaning left a byte a message must not hold");
    }
    Check(at == clean->size(), "the cleaning added bytes");

    Call().AcceptHighChars = high;
    std::string path = kv::fuzz::WriteScratchFile("upload.txt", text);
    if (CleanTextFile(path) != 1) Check(false, "a text without NUL could not be cleaned");
    std::optional<MessageBuffer> buffer = MessageBuffer::Make(size / 1024 + 3);
    if (!buffer) return 0;
    kv::MsgHeader source;
    source.ToName = Call().CallerName;
    LoadMessageText(source, *buffer, limit, false, path);
    std::string words;
    for (int n = 1; n <= buffer->Lines(); ++n) {
        std::string line = buffer->LineText(n);
        Check(line.size() <= MessageBuffer::kLineWidth, "a loaded line is wider than the editor");
        words += kv::fuzz::Solid(line);
    }
    Check(buffer->Lines() <= limit, "more lines loaded than the area takes");
    const std::string all = kv::fuzz::Solid(*clean);
    if (buffer->Lines() < limit && !buffer->Full())
        Check(words == all, "the loaded text lost or changed words");
    else
        Check(all.compare(0, words.size(), words) == 0, "the loaded text changed words");
    return 0;
}

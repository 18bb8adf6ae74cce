// The message base as it lies on disk, torn or hand-edited: the first ten
// bytes are the lengths (16 bits each, 0xFFFF for a missing file) of the
// five files that follow, "msgtxt.bbs", "msghdr.bbs", "msgidx.bbs",
// "msgtoidx.bbs" and "msginfo.bbs".  Every whole record decodes and
// encodes again as it lay (texts cut at their first NUL); a text read from
// the start of "msgtxt.bbs" encodes into bytes that read back the same.
// Then one message is appended: either nothing of any file changes but
// the cutting off of a dead append's records beyond the headers, or the
// three parallel files stand in step one record longer than the headers'
// whole records were, every record before it as it was, and the message
// reads back with the number and text it was given.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "common/msg_records.h"
#include "common/msgbase.h"
#include "common/record_io.h"
#include "fuzz/fuzz_records.h"
#include "fuzz/fuzz_support.h"

using namespace kv;
using kv::fuzz::Check;

namespace {

constexpr const char* kFiles[5] = {kMsgTextFile, kMsgHeaderFile, kMsgIndexFile, kMsgToIndexFile, kMsgInfoFile};

std::optional<std::string> ReadFile(const char* name) {
    std::ifstream in(MsgBasePath(name), std::ios::binary);
    if (!in) return std::nullopt;
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

template <class R>
void CheckRecords(const std::optional<std::string>& file) {
    if (!file) return;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(file->data());
    for (size_t at = 0; at + R::kSize <= file->size(); at += R::kSize) {
        R r;
        DecodeRecord(p + at, r);
        auto again = EncodeRecord(r);
        Check(std::vector<uint8_t>(again.begin(), again.end()) == fuzz::CanonicalRecord<R>(p + at),
              "a message-base record does not encode back as it lay");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::InstallFixtureConfig();
    if (size < 10) return 0;
    std::optional<std::string> before[5];
    size_t at = 10;
    for (int f = 0; f < 5; ++f) {
        std::filesystem::remove(MsgBasePath(kFiles[f]));
        const size_t length = GetLE16(data + 2 * f);
        if (length == 0xFFFF) continue;
        const size_t n = std::min(length, size - at);
        before[f] = std::string(fuzz::Bytes(data + at, n));
        fuzz::WriteScratchFile(kFiles[f], *before[f]);
        at += n;
    }
    CheckRecords<MsgHeader>(before[1]);
    CheckRecords<MsgIndexRecord>(before[2]);
    CheckRecords<MsgToIndexRecord>(before[3]);
    CheckRecords<MsgInfoRecord>(before[4]);

    if (before[0]) {
        MsgText text;
        if (DecodeMsgText(*before[0], text) > 0) {
            MsgText again;
            const std::string bytes = EncodeMsgText(text);
            Check(DecodeMsgText(bytes, again) == bytes.size(), "an encoded text does not end where it reads");
            for (std::string& line : text.Lines) std::replace(line.begin(), line.end(), '\x1a', ' ');
            Check(again.Pid == text.Pid && again.Lines == text.Lines, "a text does not read back as encoded");
        }
    }

    MsgText text;
    text.Pid = "Kivo v1.0";
    text.Lines = {"A line of the new message.", "", "\x01" "CONTROL line kept"};
    MsgHeader header;
    BuildMessageHeader(header, "Terry Reader", "Fuzzed base", 0, 0, 7, false, std::nullopt, false, false, "Sam");
    int32_t headerOffset = -1;
    const bool appended = AppendMessage(text, header, headerOffset);
    std::optional<std::string> after[5];
    for (int f = 0; f < 5; ++f) after[f] = ReadFile(kFiles[f]);
    const size_t whole = before[1] ? before[1]->size() / MsgHeader::kSize : 0;
    const size_t widths[5] = {0, MsgHeader::kSize, MsgIndexRecord::kSize, MsgToIndexRecord::kSize, 0};
    if (!appended) {
        // The writer may have cut off what a dead append left beyond the
        // headers before it refused this one: then the three parallel files
        // all stand at the headers' whole records, and nothing else moved.
        bool cutBack = true;
        for (int f = 1; f <= 3; ++f) {
            std::optional<std::string> cut;
            if (before[f]) cut = before[f]->substr(0, whole * widths[f]);
            cutBack = cutBack && after[f] == cut;
        }
        for (int f = 0; f < 5; ++f) {
            const bool same = after[f] == before[f] || (f >= 1 && f <= 3 && cutBack);
            if (!same) std::fprintf(stderr, "fuzz: %s changed\n", kFiles[f]);
            Check(same, "a refused append changed the message base");
        }
        return 0;
    }

    for (int f = 1; f <= 3; ++f) {
        Check(after[f] && after[f]->size() == (whole + 1) * widths[f], "the parallel files are out of step");
        if (before[f])
            Check(after[f]->compare(0, whole * widths[f], *before[f], 0, whole * widths[f]) == 0,
                  "an append changed an earlier record");
    }
    Check(after[0] && before[0].value_or("") == after[0]->substr(0, before[0].value_or("").size()),
          "an append changed an earlier text");
    Check(headerOffset == int32_t(whole * MsgHeader::kSize), "the header landed elsewhere than said");
    MsgHeader back;
    Check(ReadMessageHeader(back, int32_t(whole)) && back.MsgNumber == header.MsgNumber && back.MsgNumber > 0 &&
              back.MsgArea == 7 && back.ToName == "Terry Reader",
          "the appended header does not read back");
    MsgIndexRecord index;
    Check(ReadMessageIndex(index, int32_t(whole)) && index.MsgNumber == back.MsgNumber && index.MsgArea == 7,
          "the appended index entry does not read back");
    MsgText readBack;
    Check(ReadMessageText(back.TextOffset, readBack) && readBack.Lines == text.Lines,
          "the appended text does not read back");
    return 0;
}

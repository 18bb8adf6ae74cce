// A message base of many messages written at once for the timings, with
// the record codecs, far faster than appending them one by one.
#pragma once

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "common/msgbase.h"
#include "common/runtime.h"

namespace kv::bench {

inline MsgText SampleText(int i) {
    return MsgText{"Kivo v1.0",
                   {"Hello,", "this is message " + std::to_string(i) + " of the timing run.",
                    "It has a few lines, as a caller's message would.", "", "Bye"}};
}

inline MsgHeader SampleHeader(int i) {
    MsgHeader h;
    BuildMessageHeader(h, "Recipient " + std::to_string(i % 500), "Timing", 0, 0, i % kMsgAreaCount, false,
                       std::nullopt, false, false, "Bench Writer");
    return h;
}

template <class R>
void Put(std::ofstream& out, const R& r) {
    auto b = EncodeRecord(r);
    out.write(reinterpret_cast<const char*>(b.data()), b.size());
}

// The five files of a base of count messages, numbered 1 to count and
// spread over the areas in turn; the first `old` of them written 100 days
// ago, the rest now.
inline void WriteBase(const std::filesystem::path& dir, int count, int old = 0) {
    const time_t now = Now();
    std::ofstream txt(dir / kMsgTextFile, std::ios::binary), hdr(dir / kMsgHeaderFile, std::ios::binary),
        idx(dir / kMsgIndexFile, std::ios::binary), to(dir / kMsgToIndexFile, std::ios::binary),
        info(dir / kMsgInfoFile, std::ios::binary);
    MsgInfoRecord counts;
    int64_t offset = 0;
    for (int i = 1; i <= count; ++i) {
        if (i == 1 || i == old + 1) {
            const time_t at = i <= old ? now - 100 * 24 * 60 * 60 : now;
            SetClock([at] { return at; });
        }
        MsgHeader h = SampleHeader(i);
        h.MsgNumber = i;
        h.TextOffset = static_cast<int32_t>(offset);
        std::string text = EncodeMsgText(SampleText(i));
        txt << text;
        offset += static_cast<int64_t>(text.size());
        Put(hdr, h);
        Put(idx, MsgIndexRecord{i, h.MsgArea});
        Put(to, MsgToIndexRecord{h.ToName});
        ++counts.AreaCounts[static_cast<size_t>(h.MsgArea)];
    }
    SetClock(nullptr);
    counts.LowestNumber = 1;
    counts.HighestNumber = counts.TotalMessages = count;
    Put(info, counts);
}

}  // namespace kv::bench

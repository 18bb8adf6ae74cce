// A caller's news file "<alias>.bbs" read back, torn or hand-edited, by
// the news reader over a group list of four groups, with keys typed at its
// prompts.  The first byte is the number of keys, which follow it; the rest
// is the file.  Its header and subscriptions decode and encode again as
// they lie; the reader leaves the file's size, its header and every
// subscription's group as they were, moves only the last-read number of a
// subscription it counts, and shows plain text within the screen's width.
#include <filesystem>
#include <fstream>
#include <cstring>
#include <string>
#include <vector>

#include "caller/areas/news_groups.h"
#include "caller/areas/news_reader.h"
#include "caller/term/call_state.h"
#include "common/news_records.h"
#include "common/record_io.h"
#include "fuzz/fuzz_records.h"
#include "fuzz/fuzz_support.h"

using namespace kv;
using namespace kv::caller;
using kv::fuzz::Check;

namespace {

void WriteGroups() {
    static const bool done = [] {
        const struct {
            const char* path;
            uint32_t count, highest;
            uint8_t flags;
        } groups[] = {{"comp/misc", 2, 2, 0}, {"alt/hidden", 3, 9, NEWS_HIDDEN}, {"rec/empty", 0, 0, 0},
                      {"sci/\x1b[2Jmath", 1, 7, NEWS_MODERATED}};
        std::string master;
        for (const auto& g : groups) {
            NewsGroupRecord r;
            r.Path = g.path;
            r.Count = g.count;
            r.Highest = g.highest;
            r.Flags = g.flags;
            auto bytes = EncodeRecord(r);
            master.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        }
        fuzz::WriteScratchFile(kNewsMasterFile, master);
        std::filesystem::create_directories(fuzz::ScratchDir() + "/comp/misc");
        for (const char* n : {"1", "2"})
            std::ofstream(fuzz::ScratchDir() + "/comp/misc/" + n)
                << "From: Terry <t@x>\nSubject: Hello \x1b[5n there\n\nA line.\n\x07" "Another.\n";
        return true;
    }();
    (void)done;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::InstallFixtureCall(true);
    WriteGroups();
    if (size == 0) return 0;
    const size_t typed = std::min<size_t>(data[0], size - 1);
    std::string_view keys = fuzz::Bytes(data + 1, typed);
    std::string file(fuzz::Bytes(data + 1 + typed, size - 1 - typed));

    if (file.size() >= NewsInfoHeader::kSize) {
        NewsInfoHeader h;
        DecodeRecord(reinterpret_cast<const uint8_t*>(file.data()), h);
        auto again = EncodeRecord(h);
        Check(std::vector<uint8_t>(again.begin(), again.end()) ==
                  fuzz::CanonicalRecord<NewsInfoHeader>(reinterpret_cast<const uint8_t*>(file.data())),
              "a news file's header does not encode back as it lay");
    }
    for (size_t at = NewsInfoHeader::kSize; at + NewsSubscription::kSize <= file.size(); at += NewsSubscription::kSize) {
        NewsSubscription s;
        DecodeRecord(reinterpret_cast<const uint8_t*>(file.data() + at), s);
        auto again = EncodeRecord(s);
        Check(std::memcmp(again.data(), file.data() + at, again.size()) == 0,
              "a subscription does not encode back as it lay");
    }

    CallState& c = Call();
    c.AnsiOn = c.ColorOn = false;
    c.User.Options = 0;
    c.User.SecurityLevel = 10;
    const std::string path = fuzz::WriteScratchFile("terry.bbs", file);
    NewsInfoHeader header;
    bool read = ReadNewsHeader(header, path) != 0;
    Check(read == (file.size() >= NewsInfoHeader::kSize), "a whole header could not be read, or a torn one was");
    if (!read) return 0;
    {
        fuzz::CapturedOutput out;
        fuzz::TypeKeys(keys, 1);
        try {
            NewsReadingLoop(path, header);
        } catch (const fuzz::KeysRanOut&) {
        }
        fuzz::StopTyping();
        fuzz::CheckPlainScreen(out.Take(), 80);
    }

    std::ifstream in(path, std::ios::binary);
    std::string after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Check(after.size() == file.size(), "the reader changed the size of the news file");
    // Only the last-read numbers of counted subscriptions may move.
    std::string expected = after;
    for (size_t i = 0, at = NewsInfoHeader::kSize + 4; i < header.Subscribed && at + 4 <= file.size();
         ++i, at += NewsSubscription::kSize)
        expected.replace(at, 4, file, at, 4);
    Check(expected == file, "the reader changed more of the news file than last-read numbers");
    return 0;
}

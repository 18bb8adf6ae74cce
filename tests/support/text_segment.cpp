#include "tests/support/text_segment.h"

#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/segment.h"
#include "sample/tools/builders.h"
#include "server/message_file.h"

namespace fs = std::filesystem;

namespace kv::test {

std::vector<uint8_t> SampleTextSegment() {
    // The sample table written as a message file and read back by the
    // server's own loader.
    std::vector<std::string> tables;
    for (const auto& e : fs::directory_iterator(std::string(KV_SOURCE_DIR) + "/sample/texts"))
        if (e.path().extension() == ".tsv") tables.push_back(e.path().string());
    char tmpl[] = "/tmp/kvtexts.XXXXXX";
    if (mkdtemp(tmpl) == nullptr) std::exit(120);
    std::vector<uint8_t> seg(kSegmentSize, 0);
    SegmentHeader h;
    h.Language[0] = 0;
    h.Language[1] = -1;
    h.LastText[1] = -1;
    EncodeRecord(h, seg.data());
    bool ok = sample::WriteMessageFiles(tables, tmpl) &&
              server::LoadTextFile(std::string(tmpl) + "/message.usa", seg.data(), 0) == 1;
    fs::remove_all(tmpl);
    if (!ok) std::exit(120);
    return seg;
}

}  // namespace kv::test

#include "tests/support/msgbase_reader.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "common/record_io.h"

namespace kv::test {

std::string ReadBaseFile(const std::filesystem::path& dir, const char* name) {
    std::ifstream in(dir / name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

namespace {

template <class R>
R RecordAt(const std::string& bytes, size_t i) {
    R r;
    DecodeRecord(reinterpret_cast<const uint8_t*>(bytes.data()) + i * R::kSize, r);
    return r;
}

}  // namespace

MsgBaseContents ReadMsgBase(const std::filesystem::path& dir) {
    MsgBaseContents c;
    std::string text = ReadBaseFile(dir, kMsgTextFile);
    std::string index = ReadBaseFile(dir, kMsgIndexFile);
    std::string toIndex = ReadBaseFile(dir, kMsgToIndexFile);
    std::string header = ReadBaseFile(dir, kMsgHeaderFile);
    std::string info = ReadBaseFile(dir, kMsgInfoFile);
    c.textBytes = text.size();
    c.indexBytes = index.size();
    c.toIndexBytes = toIndex.size();
    c.headerBytes = header.size();
    c.infoBytes = info.size();
    if (std::filesystem::exists(dir / kMsgInfoFile) && info.size() >= MsgInfoRecord::kSize)
        c.info = RecordAt<MsgInfoRecord>(info, 0);

    size_t n = std::min({index.size() / MsgIndexRecord::kSize, toIndex.size() / MsgToIndexRecord::kSize,
                         header.size() / MsgHeader::kSize});
    for (size_t i = 0; i < n; ++i) {
        StoredMessage m;
        m.index = RecordAt<MsgIndexRecord>(index, i);
        m.recipient = RecordAt<MsgToIndexRecord>(toIndex, i).Recipient;
        m.header = RecordAt<MsgHeader>(header, i);
        if (m.header.TextOffset >= 0 && static_cast<size_t>(m.header.TextOffset) < text.size())
            m.textEnded = DecodeMsgText(std::string_view(text).substr(m.header.TextOffset), m.text) != 0;
        c.messages.push_back(std::move(m));
    }
    return c;
}

bool MsgBaseContents::InStep() const { return Problem().empty(); }

std::string MsgBaseContents::Problem() const {
    size_t n = messages.size();
    if (indexBytes == n * MsgIndexRecord::kSize && toIndexBytes == n * MsgToIndexRecord::kSize &&
        headerBytes == n * MsgHeader::kSize)
        return {};
    return "out of step: msgidx.bbs " + std::to_string(indexBytes) + " bytes, msgtoidx.bbs " +
           std::to_string(toIndexBytes) + " bytes, msghdr.bbs " + std::to_string(headerBytes) + " bytes";
}

}  // namespace kv::test

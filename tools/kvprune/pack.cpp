#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "tools/kvprune/maintenance.h"
#include "tools/kvprune/prune_log.h"

namespace kv::prune {
namespace {

constexpr size_t kPieceLength = 131;  // the longest line a pack copies whole
constexpr std::string_view kPackPid = "PID: Kvprune v0.1";

// White space below 127; bytes above are characters of the text.
bool IsTrailingBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The old text file, mapped for the length of the pack.
class MappedText {
public:
    explicit MappedText(int fd) {
        struct stat st;
        if (fstat(fd, &st) != 0) return;
        size_ = size_t(st.st_size);
        ok_ = true;
        if (size_ == 0) return;
        void* p = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
        if (p == MAP_FAILED) {
            ok_ = false;
            return;
        }
        madvise(p, size_, MADV_SEQUENTIAL);
        data_ = static_cast<const char*>(p);
    }
    ~MappedText() {
        if (data_ != nullptr) munmap(const_cast<char*>(data_), size_);
    }
    MappedText(const MappedText&) = delete;
    MappedText& operator=(const MappedText&) = delete;

    bool ok() const { return ok_; }
    size_t size() const { return size_; }
    std::string_view From(size_t offset) const { return {data_ + offset, size_ - offset}; }

private:
    const char* data_ = nullptr;
    size_t size_ = 0;
    bool ok_ = false;
};

}  // namespace

void CopyMessageText(std::string_view from, bool pidLine, std::string& out) {
    if (pidLine) {
        out += kControlByte;
        out += kPackPid;
        out += '\n';
    }
    size_t at = 0;
    while (at < from.size() && from[at] != kTextEndByte) {
        size_t end = from.find('\n', at);
        size_t lineEnd = end == std::string_view::npos ? from.size() : end;
        // A line longer than a piece is cut into pieces, each a line of its
        // own; a line of exactly a piece is one line, not one and an empty.
        size_t pieceEnd = lineEnd - at > kPieceLength ? at + kPieceLength : lineEnd;
        std::string_view piece = from.substr(at, pieceEnd - at);
        at = pieceEnd == lineEnd ? lineEnd + 1 : pieceEnd;
        while (!piece.empty() && IsTrailingBlank(piece.back())) piece.remove_suffix(1);
        // An earlier pack's line goes; ours above stands for it.
        if (pidLine && piece.size() == kPackPid.size() + 1 && piece.substr(1) == kPackPid) continue;
        out += piece;
        out += '\n';
    }
    out += kTextEndByte;
}

bool PackMessageBase(OpenBase& base, const PruneOptions& opts) {
    std::vector<MsgIndexRecord> index;
    std::vector<MsgToIndexRecord> recipients;
    std::vector<MsgHeader> headers;
    long copied = 0;
    bool ok = true;
    {
        MappedText old(base.textFd);
        NewBaseFile text(base.dir, kMsgTextFile);
        if (!old.ok()) {
            PruneLogF("Cannot read %s: %s", base.Path(kMsgTextFile), std::strerror(errno));
            ok = false;
        }
        ok = ok && text.Create();
        std::string copy;
        for (size_t r = 0; ok && r < base.index.size(); ++r) {
            if (base.index[r].MsgNumber <= 0) continue;
            if (r >= base.headers.size() || r >= base.recipients.size()) {
                PruneLogF("Cannot read message header (recno #%ld)", long(r));
                ok = false;
                break;
            }
            MsgHeader h = base.headers[r];
            if (h.TextOffset < 0 || size_t(h.TextOffset) > old.size()) {
                PruneLogF("Message #%ld (recno #%ld) has text offset %ld beyond the end of %s", long(h.MsgNumber),
                          long(r), long(h.TextOffset), base.Path(kMsgTextFile));
                ok = false;
                break;
            }
            if (text.Offset() > INT32_MAX) {
                PruneLogF("%s would grow beyond 2 GB", base.Path(kMsgTextFile));
                ok = false;
                break;
            }
            copy.clear();
            CopyMessageText(old.From(size_t(h.TextOffset)), opts.pidLine, copy);
            h.TextOffset = int32_t(text.Offset());
            if (!text.Write(copy.data(), copy.size())) {
                ok = false;
                break;
            }
            index.push_back(base.index[r]);
            recipients.push_back(base.recipients[r]);
            headers.push_back(std::move(h));
            ++copied;
        }
        PruneLogF("Packing procedure: %ld record(s) copied", copied);
        ok = ok && text.Finish();
        NewBaseFile indexFile(base.dir, kMsgIndexFile), recipientFile(base.dir, kMsgToIndexFile),
            headerFile(base.dir, kMsgHeaderFile);
        ok = ok && indexFile.Create() && WriteRecords(indexFile, index);
        ok = ok && recipientFile.Create() && WriteRecords(recipientFile, recipients);
        ok = ok && headerFile.Create() && WriteRecords(headerFile, headers);
        // Until here the base is untouched; the new files go in together.
        ok = ok && SwapInNewFiles({&headerFile, &indexFile, &recipientFile, &text}, opts.keepBackups);
    }
    if (!ok) return false;
    // Without backups none stays, not even an earlier run's.
    if (!opts.keepBackups)
        for (const char* f : {kMsgHeaderFile, kMsgIndexFile, kMsgToIndexFile, kMsgTextFile})
            unlink((base.Path(f) + ".B").c_str());
    base.index = std::move(index);
    base.recipients = std::move(recipients);
    base.headers = std::move(headers);
    return ReopenMessageFiles(base);
}

}  // namespace kv::prune

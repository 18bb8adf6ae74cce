#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "common/lastread.h"
#include "tools/kvprune/maintenance.h"
#include "tools/kvprune/prune_log.h"

namespace kv::prune {
namespace {

constexpr size_t kPieceLength = 131;  // the longest line a pack copies whole
constexpr std::string_view kPackPid = "PID: Kvprune v0.1";

// White space below 127; bytes above are characters of the text.
bool IsTrailingBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// An earlier pack's PID line, whatever its first byte.
bool IsPackPidLine(std::string_view line) { return line.size() == kPackPid.size() + 1 && line.substr(1) == kPackPid; }

// One text as a pack writes it (CopyMessageText) onto out; false when from
// ran out before the text's end byte, so the text may go on past it.
bool CopyText(std::string_view from, bool pidLine, std::string& out) {
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
        if (pidLine && IsPackPidLine(piece)) continue;
        out += piece;
        out += '\n';
    }
    out += kTextEndByte;
    return at < from.size();
}

// The old text file, read a window at a time: texts lie in the file in
// the order of their records, so the pack goes through it once from start
// to end.
class TextReader {
public:
    TextReader(int fd, std::string path) : window_(fd, path, kWindow) {
        struct stat st;
        ok_ = fstat(fd, &st) == 0;
        size_ = ok_ ? size_t(st.st_size) : 0;
    }
    bool ok() const { return ok_; }
    size_t size() const { return size_; }
    void Release() {
        window_.Unmap();
        data_ = nullptr;
    }

    // The text at offset copied as a pack writes it (CopyMessageText) onto
    // the end of out; or, when the text stands already as the copy would
    // (an earlier pack's), same is it and out stays as it was.
    bool Copy(size_t offset, bool pidLine, std::string& out, std::string_view& same) {
        const size_t before = out.size();
        size_t want = kWindow;
        same = {};
        for (;;) {
            if (data_ == nullptr || offset < start_ || offset > start_ + length_) {
                if (!Load(offset, want)) return false;
            }
            std::string_view v(data_ + (offset - start_), length_ - (offset - start_));
            const bool whole = start_ + length_ >= size_;
            size_t packed = PackedTextLength(v, pidLine);
            if (packed != 0 && packed != std::string_view::npos) {
                same = v.substr(0, packed);
                return true;
            }
            // The copy finds the end byte itself: the bytes are looked at once.
            if ((packed == 0 || whole) && (CopyText(v, pidLine, out) || whole)) return true;
            // Longer than the window: a wider one from the text's start.
            out.resize(before);
            want = std::max(want, v.size()) * 2;
            if (!Load(offset, want)) return false;
        }
    }

private:
    static constexpr size_t kWindow = 256 << 10;

    bool Load(size_t offset, size_t want) {
        start_ = offset;
        length_ = std::min(want, size_ - offset);
        // An empty window reads nothing; an empty text is all there is.
        static const char none = 0;
        data_ = length_ == 0 ? &none : reinterpret_cast<const char*>(window_.Read(offset, length_));
        return data_ != nullptr;
    }

    ChunkWindow window_;
    bool ok_ = false;
    size_t size_ = 0, start_ = 0, length_ = 0;
    const char* data_ = nullptr;
};

// New numbers by old, for the reply links.
class NumberMap {
public:
    explicit NumberMap(const std::vector<RenumberEntry>& map) : map_(map) {
        auto byOld = [](const RenumberEntry& a, const RenumberEntry& b) { return a.oldNumber < b.oldNumber; };
        // Numbers rise with the records; a base where they do not gets a
        // sorted copy to look them up in.
        if (!std::is_sorted(map.begin(), map.end(), byOld)) {
            sorted_ = map;
            std::stable_sort(sorted_.begin(), sorted_.end(), byOld);
        }
    }
    // The new number of a link; 0 for none or a message that went.
    int32_t operator()(int32_t link) const {
        if (link == 0) return 0;
        const auto& v = sorted_.empty() ? map_ : sorted_;
        auto it = std::lower_bound(v.begin(), v.end(), link,
                                   [](const RenumberEntry& e, int32_t n) { return e.oldNumber < n; });
        return it != v.end() && it->oldNumber == link ? it->newNumber : 0;
    }

private:
    const std::vector<RenumberEntry>& map_;
    std::vector<RenumberEntry> sorted_;
};

// The messages a renumbering numbers, in record order: live in the header
// and in the index (a delete that died halfway stays deleted).
bool MapNumbers(OpenBase& base, std::vector<RenumberEntry>& map) {
    RecordReader<MsgIndexRecord> index(base.indexFd, base.Path(kMsgIndexFile), base.indexCount);
    RecordReader<MsgHeader> headers(base.headerFd, base.Path(kMsgHeaderFile), base.headerCount);
    int32_t next = 1;
    for (size_t r = 0; r < base.headerCount; ++r) {
        const uint8_t* h = headers.Raw(r);
        if (h == nullptr) return false;
        if (GetField<&MsgHeader::Status>(h) & MSG_DELETED) continue;
        const uint8_t* ix = r < base.indexCount ? index.Raw(r) : nullptr;
        if (ix == nullptr) {
            PruneLogF("Cannot load message index (recno #%ld)", long(r));
            return false;
        }
        if (GetField<&MsgIndexRecord::MsgNumber>(ix) <= 0) continue;
        map.push_back({GetField<&MsgHeader::MsgArea>(h), GetField<&MsgHeader::MsgNumber>(h), next++});
    }
    return true;
}

// Record r of a parallel file into its new version: copied from the old
// file when the run left it unchanged.
template <size_t N>
bool WriteRecord(NewBaseFile& out, int oldFd, size_t r, const uint8_t* old, const uint8_t (&now)[N]) {
    if (old != nullptr && std::memcmp(old, now, N) == 0) return out.CopyFrom(oldFd, r * N, old, N);
    return out.Write(now, N);
}

}  // namespace

void CopyMessageText(std::string_view from, bool pidLine, std::string& out) { CopyText(from, pidLine, out); }

size_t PackedTextLength(std::string_view from, bool pidLine) {
    size_t at = 0;
    if (pidLine) {
        // Our line first, as the copy writes it.
        const size_t line = kPackPid.size() + 2;
        if (from.size() < line) return from.find(kTextEndByte) == std::string_view::npos ? std::string_view::npos : 0;
        if (from[0] != kControlByte || from.substr(1, kPackPid.size()) != kPackPid || from[line - 1] != '\n') return 0;
        at = line;
    }
    while (at < from.size() && from[at] != kTextEndByte) {
        size_t end = from.find('\n', at);
        if (end == std::string_view::npos) return std::string_view::npos;
        std::string_view line = from.substr(at, end - at);
        if (line.size() > kPieceLength || (!line.empty() && IsTrailingBlank(line.back()))) return 0;
        if (pidLine && IsPackPidLine(line)) return 0;
        at = end + 1;
    }
    return at < from.size() ? at + 1 : std::string_view::npos;
}

long RewriteBase(OpenBase& base, const PruneOptions& opts, bool pack, bool renumber, bool& usersOk) {
    usersOk = true;
    std::vector<RenumberEntry> map;
    if (renumber && !MapNumbers(base, map)) return -1;
    if (renumber && opts.verbose) std::fputs("Relinking messages\n", stderr);
    const NumberMap newNumber(map);

    NewBaseFile text(base.dir, kMsgTextFile), recipients(base.dir, kMsgToIndexFile), index(base.dir, kMsgIndexFile),
        headers(base.dir, kMsgHeaderFile), lastRead(base.dir, kLastReadFile);
    std::vector<NewBaseFile*> files = {&headers, &index};
    if (pack) files.insert(files.end(), {&recipients, &text});
    for (NewBaseFile* f : files) {
        if (pack && opts.keepBackups) f->KeepOld();
        if (!f->Create()) return -1;
    }
    TextReader oldText(base.textFd, base.Path(kMsgTextFile));
    if (pack && !oldText.ok()) {
        PruneLogF("Cannot read %s: %s", base.Path(kMsgTextFile), std::strerror(errno));
        return -1;
    }
    RecordReader<MsgIndexRecord> indexIn(base.indexFd, base.Path(kMsgIndexFile), base.indexCount);
    RecordReader<MsgToIndexRecord> recipientsIn(base.recipientFd, base.Path(kMsgToIndexFile), base.recipientCount);
    RecordReader<MsgHeader> headersIn(base.headerFd, base.Path(kMsgHeaderFile), base.headerCount);

    // A pack walks the index and needs every record of a message; a
    // renumbering alone rewrites the index and headers as they stand.
    const size_t records = pack ? base.indexCount : std::max(base.indexCount, base.headerCount);
    size_t mapped = 0;
    long copied = 0;
    bool ok = true;
    std::string copy;
    // Records are copied as they lie, with only the fields the run changes
    // written into the copy: a header is never decoded whole.
    uint8_t ix[MsgIndexRecord::kSize] = {}, h[MsgHeader::kSize] = {};
    for (size_t r = 0; ok && r < records; ++r) {
        bool hasIndex = r < base.indexCount, hasHeader = r < base.headerCount;
        const uint8_t* raw = nullptr;
        if (hasIndex) {
            if ((raw = indexIn.Raw(r)) == nullptr) {
                PruneLogF("Cannot load message index (recno #%ld)", long(r));
                ok = false;
                break;
            }
            std::memcpy(ix, raw, sizeof ix);
        }
        const int32_t number = hasIndex ? GetField<&MsgIndexRecord::MsgNumber>(ix) : 0;
        if (pack && number <= 0) continue;
        if (pack && (!hasHeader || r >= base.recipientCount)) {
            PruneLogF("Cannot read message header (recno #%ld)", long(r));
            ok = false;
            break;
        }
        const uint8_t* oldHeader = nullptr;
        if (hasHeader && (oldHeader = headersIn.Raw(r)) == nullptr) {
            ok = false;
            break;
        }
        // The header is copied out only when the run changes it: a pack
        // alone changes the text's place, and often not even that.
        bool headerChanged = renumber && hasHeader;
        if (headerChanged) std::memcpy(h, oldHeader, sizeof h);
        if (renumber && hasHeader) {
            if (mapped < map.size() && !(GetField<&MsgHeader::Status>(h) & MSG_DELETED) && hasIndex && number > 0) {
                SetField<&MsgHeader::MsgNumber>(h, map[mapped].newNumber);
                SetField<&MsgIndexRecord::MsgNumber>(ix, map[mapped++].newNumber);
            }
            SetField<&MsgHeader::ReplyTo>(h, newNumber(GetField<&MsgHeader::ReplyTo>(h)));
            SetField<&MsgHeader::LatestReply>(h, newNumber(GetField<&MsgHeader::LatestReply>(h)));
        }
        if (pack) {
            const int32_t offset = GetField<&MsgHeader::TextOffset>(oldHeader);
            if (offset < 0 || size_t(offset) > oldText.size()) {
                PruneLogF("Message #%ld (recno #%ld) has text offset %ld beyond the end of %s",
                          long(GetField<&MsgHeader::MsgNumber>(oldHeader)), long(r), long(offset),
                          base.Path(kMsgTextFile));
                ok = false;
                break;
            }
            copy.clear();
            std::string_view same;
            if (text.Offset() > INT32_MAX || !oldText.Copy(size_t(offset), opts.pidLine, copy, same)) {
                if (text.Offset() > INT32_MAX) PruneLogF("%s would grow beyond 2 GB", base.Path(kMsgTextFile));
                ok = false;
                break;
            }
            if (text.Offset() != offset) {
                if (!headerChanged) std::memcpy(h, oldHeader, sizeof h);
                headerChanged = true;
                SetField<&MsgHeader::TextOffset>(h, int32_t(text.Offset()));
            }
            const uint8_t* to = recipientsIn.Raw(r);
            ok = to != nullptr &&
                 (same.empty() ? text.Write(copy.data(), copy.size())
                               : text.CopyFrom(base.textFd, size_t(offset), same.data(), same.size())) &&
                 recipients.CopyFrom(base.recipientFd, r * MsgToIndexRecord::kSize, to, MsgToIndexRecord::kSize);
            ++copied;
        }
        // A record the run leaves as it was is copied from its old place:
        // runs of them go over inside the kernel.
        if (ok && hasIndex) ok = WriteRecord(index, base.indexFd, r, indexIn.Raw(r), ix);
        if (ok && hasHeader)
            ok = headerChanged ? WriteRecord(headers, base.headerFd, r, oldHeader, h)
                               : headers.CopyFrom(base.headerFd, r * MsgHeader::kSize, oldHeader, MsgHeader::kSize);
    }
    if (pack) PruneLogF("Packing procedure: %ld record(s) copied", copied);
    for (NewBaseFile* f : files) ok = ok && f->Complete();
    // Mapped, the old files' pages could not be let go, nor the files
    // themselves once replaced.
    oldText.Release();
    indexIn.Release();
    recipientsIn.Release();
    headersIn.Release();
    // The old files are read to the end: their cached pages are let go
    // while the disk takes the new ones, not after the swap, when the
    // closing files would let them go with nothing else to do.
    if (ok && pack)
        for (int fd : {base.textFd, base.headerFd, base.indexFd, base.recipientFd})
            posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ok = ok && FinishAll(files);
    if (!ok) return -1;

    std::vector<HighestReadFix> fixes;
    if (renumber) {
        bool written = false;
        usersOk = RemapLastRead(map, lastRead, fixes, written);
        if (written) files.push_back(&lastRead);
    }
    // Until here the base is untouched; the new files go in together.
    if (!SwapInNewFiles(files, &fixes)) return -1;
    // Without backups none stays, not even an earlier run's.
    if (pack && !opts.keepBackups)
        for (const char* f : {kMsgHeaderFile, kMsgIndexFile, kMsgToIndexFile, kMsgTextFile})
            unlink((base.Path(f) + ".B").c_str());
    base.CloseFiles();
    if (!OpenMessageFiles(base)) return -1;
    return renumber ? long(map.size()) : 0;
}

bool PackMessageBase(OpenBase& base, const PruneOptions& opts) {
    bool usersOk = true;
    return RewriteBase(base, opts, true, false, usersOk) >= 0;
}

}  // namespace kv::prune

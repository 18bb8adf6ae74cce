// The message base as kvprune holds it for one run: the four parallel and
// text files open, read a chunk of records at a time, and the ways to
// write them back.  Nothing holds the whole base in memory: a run needs
// the same few megabytes at a thousand messages and at a million.
//
// Single records are rewritten in place (the purge marks a message at a
// time); whole files are written under temporary names and swapped in
// together through the journal only when every one of them was written, so
// that a failure or a crash on the way leaves the base as it was.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "common/msg_records.h"
#include "common/msgbase_swap.h"

namespace kv::prune {

struct OpenBase {
    OpenBase() = default;
    ~OpenBase();
    OpenBase(const OpenBase&) = delete;
    OpenBase& operator=(const OpenBase&) = delete;

    std::string dir;                        // MsgBaseDir
    int textFd = -1;                        // "msgtxt.bbs", read only
    int indexFd = -1, recipientFd = -1, headerFd = -1, infoFd = -1;
    // Whole records in each parallel file (a piece of one at the end is none).
    size_t indexCount = 0, recipientCount = 0, headerCount = 0;
    MsgInfoRecord info;

    std::string Path(const char* file) const { return dir + "/" + file; }
    void CloseFiles();
};

// Opens "msginfo.bbs" and reads its record; false after "Cannot open message
// info file" on standard error.  A record that cannot be read is logged
// ("Cannot read message info file") and starts from zeros.
bool OpenMessageInfo(OpenBase& base);

// Opens the text file and the three parallel files and counts their
// records; the first that fails prints its "Cannot open ..." line on
// standard error.
bool OpenMessageFiles(OpenBase& base);

// A file read from start to end through one window: a few megabytes of it
// mapped at a time, so that a pass looks at the cached pages themselves
// instead of copying every byte into a buffer first (at a million
// messages that copy was as much work as the pack's own).  A range inside
// the window costs nothing; one beyond it maps the window afresh from
// there.  Only the window is mapped, so a run holds the same few megabytes
// at any size of base.  The base lock keeps every writer away, so nobody
// shortens a file under the mapping; the run's own writes in place show
// through it.
class ChunkWindow {
public:
    ChunkWindow(int fd, std::string path, size_t window) : fd_(fd), window_(window), path_(std::move(path)) {}
    ~ChunkWindow() { Unmap(); }
    ChunkWindow(const ChunkWindow&) = delete;
    ChunkWindow& operator=(const ChunkWindow&) = delete;
    // The bytes [offset, offset + length) of the file; nullptr on failure
    // (logged with the path).
    const uint8_t* Read(size_t offset, size_t length) {
        if (offset >= start_ && offset + length <= start_ + have_) return data_ + (offset - start_);
        return Fill(offset, length);
    }
    // Lets the mapping go, so that a file the run replaced is not held.
    void Unmap();

private:
    const uint8_t* Fill(size_t offset, size_t length);
    int fd_;
    size_t window_;
    std::string path_;
    void* map_ = nullptr;
    size_t mapLength_ = 0;
    const uint8_t* data_ = nullptr;  // the byte at start_
    size_t start_ = 0, have_ = 0;
};

// The records of one file, for r rising from call to call.
template <class R>
class RecordReader {
public:
    RecordReader(int fd, std::string path, size_t count)
        : window_(fd, std::move(path), kWindowRecords * R::kSize), count_(count) {}

    // The record's bytes, for the fields a pass needs (GetField); nullptr
    // past the end or when they cannot be read.
    const uint8_t* Raw(size_t r) { return r < count_ ? window_.Read(r * R::kSize, R::kSize) : nullptr; }
    // Records [r, r + n) in one piece; nullptr past the end or when they
    // cannot be read.
    const uint8_t* Run(size_t r, size_t n) {
        return r + n <= count_ && n > 0 ? window_.Read(r * R::kSize, n * R::kSize) : nullptr;
    }
    void Release() { window_.Unmap(); }
    bool Get(size_t r, R& out) {
        const uint8_t* p = Raw(r);
        if (p == nullptr) return false;
        DecodeRecord(p, out);
        return true;
    }

private:
    static constexpr size_t kWindowRecords = 1024;
    ChunkWindow window_;
    size_t count_;
};

// The whole file; false (errno set) when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& into);

// Rewrites one record in place; a failure is logged with the path.
bool WriteIndexRecord(OpenBase& base, const MsgIndexRecord& r, size_t record);
bool WriteRecipientRecord(OpenBase& base, const MsgToIndexRecord& r, size_t record);
bool WriteHeaderRecord(OpenBase& base, const MsgHeader& r, size_t record);
bool WriteInfoRecord(OpenBase& base);
// Record `record` of a file of records of size bytes, from their bytes.
bool WriteRecordBytes(int fd, const std::string& path, const uint8_t* bytes, size_t size, size_t record);

// Changes to the records of one parallel file, made over a chunk of them
// and written back in place in runs: the records that change, with the
// short stretches of unchanged ones between them, go out in one write
// instead of one write for each record.  Records are changed in rising
// order within a chunk.
class RunWriter {
public:
    RunWriter(int fd, std::string path, size_t recordSize);
    // Starts a chunk whose old bytes, from record first on, are at old.
    void Begin(size_t first, const uint8_t* old);
    // Record r's bytes in the copy to be written, as they stand, for the
    // caller to change; r is at or after the last record changed.
    uint8_t* Change(size_t r);
    // Writes the runs (a run that cannot be written goes again a record at
    // a time); the records changed that could not be written.
    std::vector<size_t> Write();

private:
    struct Run {
        size_t first, count, at;  // records first.. at buf_[at]
    };
    int fd_;
    std::string path_;
    size_t size_, gap_;
    size_t first_ = 0;
    const uint8_t* old_ = nullptr;
    std::vector<Run> runs_;
    std::vector<uint8_t> buf_;
    std::vector<size_t> changed_;
};

// A new version of one file (the base's, or "lastread.bbs"), written under
// a temporary name from mkstemp beside it and swapped in with the others
// of its set through the journal (common/msgbase_swap.h).
class NewBaseFile {
public:
    NewBaseFile(const std::string& dir, const char* name);
    ~NewBaseFile();  // removes the file unless it was swapped in
    NewBaseFile(const NewBaseFile&) = delete;
    NewBaseFile& operator=(const NewBaseFile&) = delete;

    bool Create();                       // logged on failure
    bool Write(const void* data, size_t n);
    // Writes the n bytes that lie at offset in the file fd (bytes holds
    // them).  Bytes that go on where the last ones ended in the same file
    // are one run; a long run is copied inside the kernel, from file to
    // file, instead of through this process.
    bool CopyFrom(int fd, size_t offset, const void* bytes, size_t n);
    // Every byte handed to the system, which starts writing them out.
    bool Complete();
    bool Finish();                       // flushed, synced and closed
    long Offset() const { return long(written_); }  // bytes written so far
    const char* name() const { return name_; }
    const std::string& target() const { return target_; }
    // Keeps the old version as "<name>.B" when the swap puts this one in.
    void KeepOld() { keepOld_ = true; }
    // The step that puts it in place; from then on the journal owns it.
    SwapStep Step();

private:
    bool WriteOut(const char* p, size_t n);
    bool Flush();
    bool Buffer(const void* data, size_t n);
    bool EndRun();        // the buffer and a run held back, written out
    bool CopyOut(int fd, size_t offset, size_t n);
    std::string dir_, target_, path_;
    const char* name_;
    int fd_ = -1;
    bool created_ = false, failed_ = false, handedOver_ = false, keepOld_ = false;
    unsigned long written_ = 0, flushed_ = 0;
    std::vector<char> buf_;
    // The run of source bytes the file ends with: runLength_ bytes from
    // runStart_ in runFd_.  Its last runBuffered_ bytes stand in the
    // buffer; once the run is held back (runHeld_), what is held, from
    // heldStart_ on, goes out in one copy when the run ends.
    int runFd_ = -1;
    size_t runStart_ = 0, runLength_ = 0, runBuffered_ = 0, heldStart_ = 0;
    bool runHeld_ = false;
};

// Writes every record of the vector into a new file.
template <class R>
bool WriteRecords(NewBaseFile& out, const std::vector<R>& records) {
    std::vector<uint8_t> bytes(records.size() * R::kSize);
    for (size_t i = 0; i < records.size(); ++i) EncodeRecord(records[i], bytes.data() + i * R::kSize);
    return out.Write(bytes.data(), bytes.size()) && out.Finish();
}

// Finishes the files at once, so that the disk takes their last bytes and
// flushes its cache for them together; false when any failed.
bool FinishAll(const std::vector<NewBaseFile*>& files);

// Swaps finished new files in together (see common/msgbase_swap.h), with
// the users' highest-read fixes when given.  False when nothing changed.
bool SwapInNewFiles(const std::vector<NewBaseFile*>& files, const std::vector<HighestReadFix>* fixes = nullptr);

// Removes the temporary files that a run killed before its swap left in
// dir beside the files named.
void RemoveLeftoverFiles(const std::string& dir, const std::vector<const char*>& names);


}  // namespace kv::prune

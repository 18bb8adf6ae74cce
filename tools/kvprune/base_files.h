// The message base as kvprune holds it for one run: the four parallel and
// text files open, their records in memory, and the ways to write them back.
//
// Single records are rewritten in place (the purge marks a message at a
// time); whole files are written under temporary names and swapped in
// together through the journal only when every one of them was written, so
// that a failure or a crash on the way leaves the base as it was.
#pragma once

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
    std::vector<MsgIndexRecord> index;      // "msgidx.bbs" by record number
    std::vector<MsgToIndexRecord> recipients;
    std::vector<MsgHeader> headers;
    MsgInfoRecord info;

    std::string Path(const char* file) const { return dir + "/" + file; }
    void CloseFiles();
};

// Opens "msginfo.bbs" and reads its record; false after "Cannot open message
// info file" on standard error.  A record that cannot be read is logged
// ("Cannot read message info file") and starts from zeros.
bool OpenMessageInfo(OpenBase& base);

// Opens the text file and the three parallel files and reads their records;
// the first that fails prints its "Cannot open ..." line on standard error.
bool OpenMessageFiles(OpenBase& base);

// The whole file; false (errno set) when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& into);

// Rewrites one record in place; a failure is logged with the path.
bool WriteIndexRecord(OpenBase& base, size_t record);
bool WriteRecipientRecord(OpenBase& base, size_t record);
bool WriteHeaderRecord(OpenBase& base, size_t record);
bool WriteInfoRecord(OpenBase& base);

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
    bool Finish();                       // flushed, synced and closed
    long Offset() const { return long(written_); }  // bytes written so far
    const char* name() const { return name_; }
    const std::string& target() const { return target_; }
    // The step that puts it in place, the old version kept under backup
    // (a full path) when one is given; from then on the journal owns it.
    SwapStep Step(const std::string& backup = {});

private:
    bool WriteOut(const char* p, size_t n);
    bool Flush();
    std::string dir_, target_, path_;
    const char* name_;
    int fd_ = -1;
    bool created_ = false, failed_ = false, handedOver_ = false;
    unsigned long written_ = 0;
    std::vector<char> buf_;
};

// Writes every record of the vector into a new file.
template <class R>
bool WriteRecords(NewBaseFile& out, const std::vector<R>& records) {
    std::vector<uint8_t> bytes(records.size() * R::kSize);
    for (size_t i = 0; i < records.size(); ++i) EncodeRecord(records[i], bytes.data() + i * R::kSize);
    return out.Write(bytes.data(), bytes.size()) && out.Finish();
}

// Swaps finished new files in together (see common/msgbase_swap.h), with
// the users' highest-read fixes when given; the old versions are kept as
// "<name>.B" with keepBackups, else they go.  False when nothing changed.
bool SwapInNewFiles(const std::vector<NewBaseFile*>& files, bool keepBackups,
                    const std::vector<HighestReadFix>* fixes = nullptr);

// Removes the temporary files that a run killed before its swap left in
// dir beside the files named.
void RemoveLeftoverFiles(const std::string& dir, const std::vector<const char*>& names);

// Closes and reopens the four files after a swap (the records in memory
// are the caller's to set).
bool ReopenMessageFiles(OpenBase& base);

}  // namespace kv::prune

// The text of the message being written.
//
// Whatever fills a message (the line editor, the external editor, a text
// upload, the notice of an attached file, the watchdog message) fills one
// MessageBuffer, and the message-base append reads it.  The text is a run of
// line slots of 73 bytes:
//
//   offset 73 * (n - 1)   72 characters of line n, padded with blanks
//          + 72           a line feed
//
// and once Finish() is called the byte 0x1A follows the last slot: the
// append reads the lines up to each line feed, trims their blanks and stops
// there.  No slot ever holds more than 72 characters, a line feed or 0x1A
// of its own, so a text always ends where the buffer says.
//
// The capacity is counted in kilobytes, as the board's limits are: 8 KB at
// the start (4 KB when 8 cannot be had), 4 KB more whenever the slots would
// reach it.  When memory for a larger buffer cannot be had the buffer turns
// full: what is in it stays, nothing more is taken.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kv::caller {

class MessageBuffer {
public:
    static constexpr size_t kLineWidth = 72;  // characters of a line
    static constexpr size_t kSlotSize = 73;   // with its line feed
    static constexpr size_t kStartKB = 8;
    static constexpr size_t kFallbackKB = 4;
    static constexpr size_t kGrowKB = 4;

    // A buffer of kb kilobytes; none when the memory cannot be had.
    static std::optional<MessageBuffer> Make(size_t kb);
    // The line editor's start: 8 KB, else 4 KB, else none.
    static std::optional<MessageBuffer> MakeForEditor();
    // A finished text that is not laid out in slots (the notice of an
    // attached file): the bytes as given, then 0x1A.
    static MessageBuffer FromText(std::string_view text);

    int Lines() const { return int(used_ / kSlotSize); }
    size_t Used() const { return used_; }
    size_t CapacityKB() const { return capacityKB_; }
    // A larger buffer could not be had; nothing more is added.
    bool Full() const { return full_; }

    // Makes sure that `more` bytes beyond the slots stay below the capacity,
    // growing by 4 KB when they would reach it.  False (and the buffer full)
    // when it cannot grow.
    bool MakeRoom(size_t more);

    // Line n (1-based): its slot as stored, or its text without the
    // trailing blanks.  Out of range: empty.
    std::string_view Slot(int n) const;
    std::string LineText(int n) const;

    // Stores a line (cut to 72 characters) at the end, or before line n,
    // the later lines moving down one slot.  False when the buffer is full
    // (the line is not stored).
    bool AppendLine(std::string_view text);
    bool InsertLine(int n, std::string_view text);
    // Changes line n; nothing for a line that is not there.
    void ReplaceLine(int n, std::string_view text);
    // Removes lines first to last (1-based, inclusive), the later lines
    // moving up; nothing unless 1 <= first <= last <= Lines().
    void RemoveLines(int first, int last);

    // Puts 0x1A after the last line: the text is ready for the append.
    void Finish();
    // The bytes of the text: the slots, and 0x1A once finished.
    std::string_view Text() const { return bytes_; }

private:
    MessageBuffer() = default;
    bool Allocate(size_t kb);

    std::string bytes_;
    size_t used_ = 0;
    size_t capacityKB_ = 0;
    bool full_ = false;
};

// A line as it stands in its slot: the text (at most 72 characters) padded
// with blanks to column 72, then the line feed.  A line feed or 0x1A inside
// the text becomes a blank, so it cannot end the slot or the text early.
std::string PadEditorLine(std::string_view text);

}  // namespace kv::caller

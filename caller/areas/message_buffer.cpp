#include "caller/areas/message_buffer.h"

#include <algorithm>
#include <new>
#include <stdexcept>

#include "common/msg_records.h"

namespace kv::caller {

std::string PadEditorLine(std::string_view text) {
    std::string slot(text.substr(0, MessageBuffer::kLineWidth));
    for (char& c : slot)
        if (c == '\n' || c == kTextEndByte) c = ' ';
    slot.resize(MessageBuffer::kLineWidth, ' ');
    slot += '\n';
    return slot;
}

bool MessageBuffer::Allocate(size_t kb) {
    try {
        bytes_.reserve(kb * 1024);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    capacityKB_ = kb;
    return true;
}

std::optional<MessageBuffer> MessageBuffer::Make(size_t kb) {
    MessageBuffer b;
    if (!b.Allocate(kb)) return std::nullopt;
    return b;
}

std::optional<MessageBuffer> MessageBuffer::MakeForEditor() {
    if (auto b = Make(kStartKB)) return b;
    return Make(kFallbackKB);
}

MessageBuffer MessageBuffer::FromText(std::string_view text) {
    MessageBuffer b;
    b.bytes_.assign(text);
    b.used_ = b.bytes_.size();
    b.capacityKB_ = b.used_ / 1024 + 1;
    b.bytes_ += kTextEndByte;
    return b;
}

bool MessageBuffer::MakeRoom(size_t more) {
    if (full_) return false;
    if (used_ + more < capacityKB_ * 1024) return true;
    if (!Allocate(capacityKB_ + kGrowKB)) {
        full_ = true;
        return false;
    }
    return true;
}

std::string_view MessageBuffer::Slot(int n) const {
    if (n < 1 || n > Lines()) return {};
    return std::string_view(bytes_).substr(size_t(n - 1) * kSlotSize, kSlotSize);
}

std::string MessageBuffer::LineText(int n) const {
    std::string_view s = Slot(n).substr(0, kLineWidth);
    size_t end = s.find_last_not_of(' ');
    return std::string(end == std::string_view::npos ? std::string_view() : s.substr(0, end + 1));
}

bool MessageBuffer::AppendLine(std::string_view text) { return InsertLine(Lines() + 1, text); }

bool MessageBuffer::InsertLine(int n, std::string_view text) {
    if (!MakeRoom(kSlotSize)) return false;
    bytes_.resize(used_);  // a finished text loses its end byte until Finish again
    n = std::clamp(n, 1, Lines() + 1);
    bytes_.insert(size_t(n - 1) * kSlotSize, PadEditorLine(text));
    used_ += kSlotSize;
    return true;
}

void MessageBuffer::ReplaceLine(int n, std::string_view text) {
    if (n < 1 || n > Lines()) return;
    bytes_.replace(size_t(n - 1) * kSlotSize, kSlotSize, PadEditorLine(text));
}

void MessageBuffer::RemoveLines(int first, int last) {
    if (first < 1 || first > last || last > Lines()) return;
    bytes_.resize(used_);
    bytes_.erase(size_t(first - 1) * kSlotSize, size_t(last - first + 1) * kSlotSize);
    used_ = bytes_.size();
}

void MessageBuffer::Finish() {
    bytes_.resize(used_);
    bytes_ += kTextEndByte;
}

}  // namespace kv::caller

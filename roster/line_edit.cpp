#include "roster/line_edit.h"

#include <cctype>

#include "roster/screen.h"

namespace kv::roster {
namespace {

bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }
// Keys 128-255 are the letters and signs of the PC set, as the key reader
// decodes them from a UTF-8 terminal.
bool Printable(int key) { return (key >= 32 && key < 127) || (key >= 128 && key <= 255); }

}  // namespace

LineEdit::LineEdit(std::string text, int width, int type, bool escapeAborts, bool firstKeyReplaces)
    : text_(std::move(text)), width_(width), type_(type), escapeAborts_(escapeAborts) {
    if (int(text_.size()) > width_) text_.resize(size_t(width_));
    firstPending_ = firstKeyReplaces && !text_.empty();
    cursor_ = int(text_.size());
}

bool LineEdit::Fits(char c) const {
    if (type_ == kDigits) return c >= '0' && c <= '9';
    if (type_ == kDateText) {
        if (cursor_ == 2 || cursor_ == 5) return c == '/';
        return c >= '0' && c <= '9';
    }
    return true;
}

LineEdit::Outcome LineEdit::FirstKey(int key, bool& beep) {
    firstPending_ = false;
    if (Printable(key) || key == kEsc) {
        // The old text goes even when the key retypes it.
        text_.clear();
        cursor_ = 0;
        typed_ = true;
        if (key == kEsc) {
            if (escapeAborts_) {
                text_ = "\x1b";
                return kAborted;
            }
            return kGoOn;
        }
        return Apply(key, beep);
    }
    switch (key) {
    case kEnter: return kAccepted;
    case kDel:
        text_.pop_back();
        cursor_ = int(text_.size());
        return kGoOn;
    case KEY_LEFT: cursor_ = int(text_.size()) - 1; return kGoOn;
    case KEY_HOME: cursor_ = 0; return kGoOn;
    case KEY_IC: insert_ = true; return kGoOn;
    default: beep = true; return kGoOn;
    }
}

LineEdit::Outcome LineEdit::Feed(int key, bool& beep) {
    beep = false;
    const std::string before = text_;
    Outcome out = firstPending_ ? FirstKey(key, beep) : Apply(key, beep);
    if (out != kAborted && text_ != before) typed_ = true;
    return out;
}

LineEdit::Outcome LineEdit::Apply(int key, bool& beep) {
    const int len = int(text_.size());
    switch (key) {
    case Ctrl('A'):
        if (cursor_ == 0) { beep = true; break; }
        while (cursor_ > 0 && !IsWordChar(text_[size_t(cursor_ - 1)])) --cursor_;
        while (cursor_ > 0 && IsWordChar(text_[size_t(cursor_ - 1)])) --cursor_;
        break;
    case Ctrl('D'):
        if (cursor_ >= len) { beep = true; break; }
        while (cursor_ < len && IsWordChar(text_[size_t(cursor_)])) ++cursor_;
        while (cursor_ < len && !IsWordChar(text_[size_t(cursor_)])) ++cursor_;
        break;
    case Ctrl('G'):
    case KEY_DC:
        if (len == 0 || cursor_ >= len) { beep = true; break; }
        text_.erase(size_t(cursor_), 1);
        break;
    case kEnter: return kAccepted;
    case Ctrl('V'):
    case KEY_IC: insert_ = !insert_; break;
    case kEsc:
        if (!escapeAborts_ && !text_.empty()) {
            text_.clear();
            cursor_ = 0;
            break;
        }
        text_ = "\x1b";
        return kAborted;
    case kDel:
        if (cursor_ == 0) { beep = true; break; }
        --cursor_;
        if (insert_ || cursor_ == len - 1) text_.erase(size_t(cursor_), 1);
        else text_[size_t(cursor_)] = ' ';
        break;
    case KEY_LEFT:
        if (cursor_ == 0) beep = true;
        else --cursor_;
        break;
    case KEY_RIGHT:
        if (cursor_ >= len) beep = true;
        else ++cursor_;
        break;
    case KEY_HOME:
        if (cursor_ == 0) beep = true;
        cursor_ = 0;
        break;
    case KEY_END: cursor_ = len; break;
    default:
        if (!Printable(key)) { beep = true; break; }
        if (len >= width_ && (cursor_ >= len || insert_)) { beep = true; break; }
        if (!Fits(char(key))) { beep = true; break; }
        if (insert_) {
            text_.insert(size_t(cursor_), 1, char(key));
            if (int(text_.size()) > width_) text_.resize(size_t(width_));
        } else if (cursor_ < len) {
            text_[size_t(cursor_)] = char(key);
        } else {
            text_ += char(key);
        }
        ++cursor_;
        break;
    }
    return kGoOn;
}

}  // namespace kv::roster

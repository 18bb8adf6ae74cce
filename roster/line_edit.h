// The one-line editor's rules, apart from the screen: what each key does to
// the text, the cursor and the insert mode.  The curses editor (LineEditor,
// widgets.h) feeds it keys and draws the result.
#pragma once

#include <string>

namespace kv::roster {

enum LineType { kAnyText = 0, kDigits = 1, kDateText = 2 };

class LineEdit {
public:
    enum Outcome { kGoOn, kAccepted, kAborted };

    LineEdit(std::string text, int width, int type, bool escapeAborts, bool firstKeyReplaces);

    // Applies one key (as the key reader decodes it); beep tells whether the
    // key was refused.
    Outcome Feed(int key, bool& beep);

    const std::string& text() const { return text_; }
    int cursor() const { return cursor_; }
    bool insert() const { return insert_; }
    // Whether a key has changed the text since the editor began.  The text
    // it began with may be cut to the width, so comparing the end result
    // with what was stored cannot tell an untouched field from a typed one.
    bool typed() const { return typed_; }

private:
    Outcome Apply(int key, bool& beep);
    Outcome FirstKey(int key, bool& beep);
    bool Fits(char c) const;

    std::string text_;
    int width_;
    int type_;
    bool escapeAborts_;
    bool firstPending_;
    int cursor_ = 0;
    bool insert_ = false;
    bool typed_ = false;
};

}  // namespace kv::roster

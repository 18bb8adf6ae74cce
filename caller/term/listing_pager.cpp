#include "caller/term/listing_pager.h"

#include <algorithm>

#include "caller/term/call_state.h"
#include "caller/term/prompts.h"
#include "caller/term/screen.h"
#include "caller/term/terminal.h"

namespace kv::caller {

ListingPager::ListingPager(int lines, bool nonstop)
    : keys_(GetText(200)), lines_(lines), nonstop_(nonstop), paging_((Call().User.Options & USER_PAGE_BREAK) != 0) {
    SetNonBlocking(true);
}

ListingPager::~ListingPager() { SetNonBlocking(false); }

void ListingPager::LookForKey() {
    int index = 0;
    if (!HotKeyPressed(index, 2, keys_)) return;
    if (index == 0) {
        if (!nonstop_) stopped_ = true;
        return;
    }
    SetNonBlocking(false);
    GetKey();
    SetNonBlocking(true);
}

bool ListingPager::Put(uint8_t c) {
    if (stopped_) return false;
    PutChar(c);
    LookForKey();
    return !stopped_;
}

bool ListingPager::Put(std::string_view text) {
    const bool paced = Call().OutputDelay != 0;
    while (!text.empty()) {
        if (stopped_) return false;
        // While nothing waits to be looked at, the characters below 128 up
        // to the next sending of the buffer go out in one piece, with one
        // look after them: a look after each would find nothing sooner.
        size_t quiet = 0;
        if (!paced && !KeyLookPending()) {
            const size_t most = std::min(text.size(), OutputRoom());
            while (quiet < most && uint8_t(text[quiet]) < 128) ++quiet;
        }
        if (quiet == 0) {
            if (!Put(uint8_t(text[0]))) return false;
            text.remove_prefix(1);
            continue;
        }
        PutString(text.substr(0, quiet));
        text.remove_prefix(quiet);
        LookForKey();
    }
    return !stopped_;
}

bool ListingPager::Put(std::string_view codes, std::string_view text) {
    if (stopped_) return false;
    // Codes and a quiet stretch that fit before the buffer goes out leave
    // with the one look after them that the stretch ends with.
    if (!text.empty() && Call().OutputDelay == 0 && !KeyLookPending() && codes.size() + text.size() <= OutputRoom() &&
        std::all_of(text.begin(), text.end(), [](char c) { return uint8_t(c) < 128; })) {
        PutString(codes);
        PutString(text);
        LookForKey();
        return !stopped_;
    }
    PutString(codes);
    return Put(text);
}

bool ListingPager::LineEnd() {
    if (stopped_) return false;
    PutLine();
    return CountLine();
}

bool ListingPager::CountLine() {
    if (stopped_) return false;
    ++lines_;
    if (!paging_ || lines_ < ScreenLength() - 1) return true;
    SetNonBlocking(false);
    int key = PausePrompt();
    SetNonBlocking(true);
    lines_ = 0;
    if (key == Call().NoKey && !nonstop_) stopped_ = true;
    else if (key == '=') paging_ = false;
    return !stopped_;
}

}  // namespace kv::caller

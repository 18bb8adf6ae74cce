// The output of a listing: typed character by character, so that the
// caller can stop or pause it at any moment, with a page pause at every
// screenful.
//
// The two keys of text 200 act while a listing runs: the first stops it,
// the second pauses it until any key.  With the caller's page pause on, a
// full screen (the screen length less one line) waits at the pause prompt:
// NoKey stops the listing, "=" turns pausing off for its rest, any other
// key goes on.  A non-stop listing ignores the stop key and NoKey (the
// pause key still pauses).
//
// Input is non-blocking while a pager lives, so that looking for a key
// never waits; the pager puts blocking input back when it goes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kv::caller {

class ListingPager {
public:
    // lines: the lines already on the screen (headings) for the first page.
    explicit ListingPager(int lines = 0, bool nonstop = false);
    ~ListingPager();
    ListingPager(const ListingPager&) = delete;
    ListingPager& operator=(const ListingPager&) = delete;

    // Writes one character, then looks for a key; false once stopped.
    bool Put(uint8_t c);
    // Writes text the same way; false once stopped.
    bool Put(std::string_view text);
    // Writes codes whole (no key is looked for inside them), then text as
    // above; false once stopped.
    bool Put(std::string_view codes, std::string_view text);
    // Ends a line and counts it, pausing at a full page; false once stopped.
    bool LineEnd();
    // Counts a line written some other way; false once stopped.
    bool CountLine();

    bool Stopped() const { return stopped_; }
    bool Paging() const { return paging_; }
    int Lines() const { return lines_; }

private:
    void LookForKey();

    std::string keys_;
    int lines_;
    bool nonstop_;
    bool paging_;
    bool stopped_ = false;
};

}  // namespace kv::caller

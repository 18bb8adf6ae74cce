// The listings of a file area: menu commands 30 (the files by a pattern,
// with date and size) and 31 (the whole file list with sizes, new marks and
// descriptions).
#pragma once

#include <string>

#include "caller/areas/file_areas.h"
#include "caller/term/listing_pager.h"

namespace kv::caller {

// mode 0: the plain list, 1: the described list.  The argument names the
// directory ("/F", "$F" and a number, or a path).
void ListFiles(const std::string& argument, int mode);

// Prints an entry laid out by FormatFileEntry in the colours of the
// described list; false when the caller stopped the listing.
bool PrintFileEntry(const EntryLayout& entry, int style, ListingPager& pager);

// The end of a listing: text 420 and a wait for any key.
void WaitAfterListing();

}  // namespace kv::caller

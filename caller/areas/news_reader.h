// The news reader proper: the subscribed groups one by one, a group's
// article list with its marks, and the articles themselves.
//
// An article is the file "<NewsSpool>/<group path>/<number>".  Its header
// and body were written by strangers: every field is bounded where it is
// read, and no control byte of an article ever reaches the caller's
// terminal.  The last article read in a group moves on as articles are
// shown and is written back with the group's subscription.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/news_records.h"

namespace kv::caller {

// Menu command 63: the caller's subscribed groups read, after the alias
// dialogue and, for a caller who has none yet, the subscription screen.
void ReadNews();

// The group-by-group loop over the caller's news file.
void NewsReadingLoop(const std::string& infoPath, const NewsInfoHeader& header);

// One group's article list: mode 1 selection (marking and reading), 0 the
// summary.  1 leave normally, -1 the caller typed "Q" (leave the reader),
// 0 the articles cannot be listed.  subscription.LastRead moves on as
// articles are read.
int ArticleList(const NewsGroupRecord& group, NewsSubscription& subscription, int mode);

// The article files of a directory, numbered names only, in numeric order.
std::vector<std::string> ArticleNames(const std::string& dir);

// What the article list shows of an article, taken from its header.
struct ArticleSummary {
    std::string author;   // ShortenAuthor of "From:"
    std::string date;     // the configured date text of "Date:"
    std::string lines;    // "Lines:"
    std::string subject;  // "Subject:", at most 45 characters
};
// Reads the header lines of an article (up to its first empty line).
ArticleSummary SummarizeArticle(const std::vector<std::string>& headerLines);

// The author's name for a 15-column field.
std::string ShortenAuthor(std::string_view from);

// The header rule of NewsHeaders for a header line that is shown; -1 when
// the line has no rule or its rule hides it.
int HeaderRuleIndex(std::string_view line);


}  // namespace kv::caller

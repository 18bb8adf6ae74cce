// The news reader's way in: the subscription command, the caller's news
// alias and news file, the screen where groups are subscribed, and the
// pieces of the news screens that the reader proper (news_reader.h) uses.
//
// The groups are the records of "master.bbs" in NewsDir (news_records.h);
// a caller's news file "<alias>.bbs" beside it lists the subscribed groups
// with the last article read in each.  The alias names that file, so it is
// held to 2-8 characters of [a-z0-9._-]: nothing a caller types can name
// another file of NewsDir or leave it.  The news screens print fixed texts
// of their own; only their help screens are display files (texts 666, 670).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/news_records.h"

namespace kv::caller {

void SubscribeNewsGroups(int mode);     // 64

// Whether alias (already in lower case) may name a news file.
bool IsValidNewsAlias(std::string_view alias);
// Whether alias, in any case, would name a file that NewsDir keeps for the
// whole board (the group list): such an alias is taken.
bool NewsAliasNamesBoardFile(std::string_view alias);
// The first letter and up to 7 characters after the first blank of the
// name (or its first 8 characters), lower case, without characters an
// alias may not hold.
std::string SuggestNewsAlias(std::string_view name);
// Why the alias dialogue refuses alias (already in lower case): its text,
// or nullptr when the alias may be taken.
const char* NewsAliasRefusal(std::string_view alias);
// The alias offered to a caller without one: SuggestNewsAlias of the name
// when the dialogue takes it, else the first of it with a digit 2-9 at its
// end that the dialogue takes, else nothing.  Never one it refuses.
std::string OfferedNewsAlias(std::string_view name);

// The caller's news file path into path, choosing an alias and making the
// file when needed; 0 when the caller has no usable alias.
int NewsInfoPath(std::string& path);
// The alias dialogue: 1 with an alias stored in the caller's record, 0 not.
int ChooseNewsAlias();

int ReadNewsHeader(NewsInfoHeader& header, const std::string& path);
int WriteNewsHeader(const std::string& path, const NewsInfoHeader& header);
int CreateNewsInfo(const std::string& path);

// Subscribes group as subscription number index (the count so far) of the
// news file: its record written, then the count.  Refuses a group that does
// not exist or is hidden from the caller.  1 or 0.
int SubscribeGroup(NewsFile& master, const std::string& infoPath, uint32_t group, int index);
// Runs the selection screen on "master.bbs"; the number of groups added.
int SelectGroups(const std::string& infoPath, int subscribed, int mode);

// Whether the caller may see the group (hidden ones only at level 64000).
bool GroupVisible(const NewsGroupRecord& group);
// A stranger's text made fit for the terminal: control bytes, tabs and DEL
// become blanks.
std::string CleanArticleText(std::string_view text);
// The group's name with its "/" shown as "." and its control bytes as
// blanks.
std::string GroupDisplayName(const NewsGroupRecord& group);
// The search of the selection screen: ">N" a group of more than N articles;
// a pattern with a wildcard matches the whole dotted name, a plain one any
// part of it.
bool GroupMatches(const NewsGroupRecord& group, std::string_view pattern);
// From group first on, the first visible group that matches; -1 for none.
int FindGroup(NewsFile& master, int first, std::string_view pattern);

// The groups of a list of total groups that an answer such as "1-3, 5"
// names (numbers from 1; groups returned from 0), in order.  Numbers below
// 1 count as 1, a number beyond total names no group, a range that runs
// backwards names nothing, and one that spans more than maxGroups + 1
// groups is cut to its first maxGroups + 1.
std::vector<uint32_t> ParseGroupItems(std::string_view answer, int maxGroups, int total);

// Rows of a news page: the caller's screen length less 5, at least one and
// at most rows (the article list names its rows "a" to "z").
int NewsPageSize(int rows);
// The top row of the last page of total rows: never an empty page.
int LastPageTop(int total, int page);

// "master.bbs" in NewsDir, and the word when it cannot be opened (logged,
// shown, a pause of 2 seconds).
std::string NewsMasterPath();
void ReportMasterUnreadable(const std::string& path);

// Clears the screen when the caller wants screens cleared.
void ClearScreenIfWanted();
// The title of the news screens: mode 0 the selection, 1 the reading.
void NewsTitleLine(int count, int mode);

}  // namespace kv::caller

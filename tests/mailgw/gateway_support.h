// A board with users to address, mailboxes written by the test and the
// server's log read back, for the gateway's tests in this folder.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/board.h"

namespace kv::test {

// The users every mail test addresses.  Record 0 has no alias: a mail to an
// empty alias must not reach it.
struct MailUser {
    const char* name;
    const char* alias;
};
inline constexpr MailUser kMailUsers[] = {{"Sysop Without Alias", ""}, {"Alice Martin", "alice"},
                                          {"Bob Tremblay", "bob"}};

// Writes "users.bbs" with kMailUsers.
void WriteMailUsers(const TempBoard& board);

// The lines of "server.log" after its banner, without date and time.
std::vector<std::string> ServerLogLines(const TempBoard& board);
bool LogHas(const std::vector<std::string>& lines, const std::string& line);

// A shell script at path that appends its argument and the argument's
// lines to record, then exits with status.
void WriteRecordingSender(const std::filesystem::path& path, const std::filesystem::path& record, int status);

}  // namespace kv::test

#include "tests/mailgw/gateway_support.h"

#include <sys/stat.h>

#include <algorithm>
#include <sstream>

#include "common/record_io.h"
#include "common/user_record.h"
#include "common/users.h"

namespace kv::test {

void WriteMailUsers(const TempBoard& board) {
    std::string bytes;
    for (const MailUser& m : kMailUsers) {
        UserRecord u;
        ClearUserRecord(u);
        u.Name = m.name;
        u.Alias = m.alias;
        auto rec = EncodeRecord(u);
        bytes.append(reinterpret_cast<const char*>(rec.data()), rec.size());
    }
    board.WriteFile(board.DataDir() / "users.bbs", bytes);
}

std::vector<std::string> ServerLogLines(const TempBoard& board) {
    std::istringstream in(board.ReadFile(board.DataDir() / "server.log"));
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        // "* dd/dd/dd hh:mm:ss message"
        if (line.size() < 20 || line.compare(0, 2, "* ") != 0 || line[4] != '/' || line[13] != ':') continue;
        lines.push_back(line.substr(20));
    }
    return lines;
}

bool LogHas(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

void WriteRecordingSender(const std::filesystem::path& path, const std::filesystem::path& record, int status) {
    std::ostringstream s;
    s << "#!/bin/sh\n"
      << "{ echo \"ARG $1\"; cat \"$1\"; } >> '" << record.string() << "'\n"
      << "exit " << status << "\n";
    std::filesystem::create_directories(path.parent_path());
    FILE* f = std::fopen(path.c_str(), "w");
    std::fputs(s.str().c_str(), f);
    std::fclose(f);
    chmod(path.c_str(), 0755);
}

}  // namespace kv::test

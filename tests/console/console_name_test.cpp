// SysopConsole taken and given back in a board's "kvconfig.bbs": the rest
// of the file as it was, its mode kept, and a reload request in the
// server's pipe each time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "common/config_record.h"
#include "common/record_io.h"
#include "common/segment.h"
#include "common/whole_file.h"
#include "tests/support/board.h"
#include "tools/kvconsole/console_name.h"

namespace fs = std::filesystem;
using namespace kv;
using namespace kv::console;

namespace {

class ConsoleName : public ::testing::Test {
protected:
    void SetUp() override {
        here_ = fs::current_path();
        fs::current_path(board_.root());
        // A foreign writer's bytes past the record: nobody reads them, and
        // a rewrite keeps them.
        std::string bytes = Config();
        bytes += "tail of the file";
        board_.WriteFile("kvconfig.bbs", bytes);
        fs::permissions("kvconfig.bbs", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    }
    void TearDown() override {
        if (pipe_ >= 0) close(pipe_);
        fs::current_path(here_);
    }

    std::string Config() const { return board_.ReadFile("kvconfig.bbs"); }
    std::string Console() const {
        std::string bytes = Config();
        return GetField<&ConfigRecord::SysopConsole>(reinterpret_cast<const uint8_t*>(bytes.data()));
    }
    // The server's pipe, as a server holds it open.
    void ListenAsServer() {
        fs::path fifo = board_.DataDir() / kCommandPipeName;
        ASSERT_EQ(0, mkfifo(fifo.c_str(), 0660));
        pipe_ = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(pipe_, 0);
    }
    // The requests that came through the pipe.
    std::vector<int16_t> Requests() {
        std::vector<int16_t> codes;
        uint8_t rec[ServerCommand::kSize];
        while (read(pipe_, rec, sizeof rec) == ssize_t(sizeof rec)) {
            ServerCommand c;
            DecodeRecord(rec, c);
            codes.push_back(c.Code);
        }
        return codes;
    }

    test::TempBoard board_;
    fs::path here_;
    int pipe_ = -1;
};

TEST_F(ConsoleName, TakenAndGivenBack) {
    ListenAsServer();
    const std::string before = Config();
    ConsoleClaim claim;
    Reload reload;
    std::string why;
    ASSERT_TRUE(TakeConsole("pts/77", claim, reload, why)) << why;
    EXPECT_EQ(Reload::kDone, reload);
    EXPECT_EQ("console", claim.Previous);
    EXPECT_EQ("pts/77", Console());
    EXPECT_EQ(std::vector<int16_t>{CMD_RELOAD}, Requests());

    // Only the field changed; the mode is the file's own.
    const size_t at = kPlaceOf<&ConfigRecord::SysopConsole>.offset;
    std::string after = Config();
    ASSERT_EQ(before.size(), after.size());
    EXPECT_EQ(before.substr(0, at), after.substr(0, at));
    EXPECT_EQ(before.substr(at + 74), after.substr(at + 74));
    EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read,
              fs::status("kvconfig.bbs").permissions());

    ASSERT_TRUE(GiveBackConsole(claim, why)) << why;
    EXPECT_EQ(before, Config());
    EXPECT_EQ(std::vector<int16_t>{CMD_RELOAD}, Requests());
    EXPECT_TRUE(TempFilesBeside(".", {"kvconfig.bbs"}).empty());
}

// A console started since keeps its name; with no server running the
// name is taken all the same, for the server to load when it starts.
TEST_F(ConsoleName, ALaterConsoleKeepsItsNameAndNoServerIsNoFailure) {
    ConsoleClaim claim;
    Reload reload;
    std::string why;
    ASSERT_TRUE(TakeConsole("pts/77", claim, reload, why)) << why;
    EXPECT_EQ(Reload::kNoServer, reload);
    ConsoleClaim later;
    ASSERT_TRUE(TakeConsole("pts/88", later, reload, why)) << why;
    EXPECT_EQ("pts/77", later.Previous);
    ASSERT_TRUE(GiveBackConsole(claim, why)) << why;
    EXPECT_EQ("pts/88", Console());
}

TEST_F(ConsoleName, NoConfigurationNoConsole) {
    fs::remove("kvconfig.bbs");
    ConsoleClaim claim;
    Reload reload;
    std::string why;
    EXPECT_FALSE(TakeConsole("pts/77", claim, reload, why));
    EXPECT_NE(std::string::npos, why.find("Cannot load the BBS configuration")) << why;
}

}  // namespace

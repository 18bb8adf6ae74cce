// Records read from the command pipe: texts that fill their width without a
// NUL are taken as cut at the width, and a short piece is no request.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "common/runtime.h"
#include "server/command_pipe.h"
#include "tests/support/server_process.h"

using namespace kv;
using namespace kv::server;

TEST(CommandPipe, ReadsWholeRecordsOnly) {
    test::TempBoard b;
    SetConfig(b.config());
    ASSERT_EQ(CreateFifo(), 1);
    int fd = open(FifoPath().c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0);

    uint8_t rec[ServerCommand::kSize];
    std::memset(rec, 'A', sizeof rec);
    PutLE16(rec, uint16_t(CMD_MAIL_QUEUE));
    std::memset(rec + 63, 'B', 13);
    PutLE32(rec + 76, 42);
    PutLE32(rec + 80, 268 * 3);
    ASSERT_EQ(write(fd, rec, sizeof rec), ssize_t(sizeof rec));

    ServerCommand cmd;
    ASSERT_EQ(ReadServerCommand(cmd), 1);
    EXPECT_EQ(cmd.Code, CMD_MAIL_QUEUE);
    EXPECT_EQ(cmd.Name, std::string(61, 'A'));
    EXPECT_EQ(cmd.Alias, std::string(13, 'B'));
    EXPECT_EQ(cmd.MessageNumber, 42);
    EXPECT_EQ(cmd.HeaderOffset, 268 * 3);

    ASSERT_EQ(write(fd, rec, 10), 10);
    EXPECT_EQ(ReadServerCommand(cmd), 0);
    EXPECT_NE(b.ReadFile(b.DataDir() / "server.log").find("Short command record of 10 bytes ignored"),
              std::string::npos);
    EXPECT_EQ(ReadServerCommand(cmd), 0);  // nothing waits
    close(fd);

    RemoveFifo();
    struct stat st;
    EXPECT_NE(stat(FifoPath().c_str(), &st), 0);
}

// Test names are what CTest lists and what every line of its output shows:
// they must be the same from build to build, so a parameterised case is
// named and printed by its name, never by a dump of its bytes (which holds
// pointer values that change with every run).
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/board.h"

namespace fs = std::filesystem;

namespace kv::test {
namespace {

TEST(TestNames, EveryProgramListsTheSameNamesTwiceAndNoBytes) {
    int programs = 0;
    for (const auto& e : fs::directory_iterator(KV_TESTBIN_DIR)) {
        if (e.path().filename().string().rfind("test_", 0) != 0) continue;
        ++programs;
        auto list = [&] { return RunProgram({e.path().string(), "--gtest_list_tests"}, KV_TESTBIN_DIR); };
        RunResult first = list(), second = list();
        ASSERT_EQ(first.status, 0) << e.path() << first.err;
        EXPECT_EQ(first.out, second.out) << e.path();
        EXPECT_EQ(first.out.find("-byte object"), std::string::npos) << e.path() << first.out;
    }
    EXPECT_GT(programs, 1);
}

}  // namespace
}  // namespace kv::test

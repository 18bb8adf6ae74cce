// A fixture of the file-area unit tests: a directory of the test's own,
// removed afterwards, and a configuration whose dates are month/day/year.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "common/runtime.h"

namespace kv::test {

class ScratchDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("kv_files_" + std::to_string(getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        ConfigRecord c;
        c.DateOrder = 1;
        SetConfig(c);
    }
    void TearDown() override {
        std::filesystem::remove_all(dir);
        SetConfig(ConfigRecord{});
    }

    std::filesystem::path dir;
};

}  // namespace kv::test

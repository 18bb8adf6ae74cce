// Every test process runs in a private System V IPC namespace: a test that
// starts kvhubd or kivo gets segment key 1138 of its own and never meets a
// real server or another test.
#include <gtest/gtest.h>
#include <sched.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (unshare(CLONE_NEWIPC) != 0) {
        std::fprintf(stderr, "warning: no private IPC namespace (%s); tests may meet a running server\n",
                     std::strerror(errno));
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

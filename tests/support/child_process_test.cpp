#include "tests/support/child_process.h"

#include <chrono>
#include <csignal>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

// A test that dies must not leave its helper holding ctest's output: here a process starts a
// helper and ends abruptly; the helper, handed to this test as its subreaper, must be killed.
TEST(child_process, a_helper_dies_with_the_process_that_started_it) {
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    const pid_t parent = fork();
    if (parent == 0) {
        child_process helper({"/bin/sleep", "60"});
        const pid_t pid = helper.pid();
        write(report[1], &pid, sizeof pid);
        _exit(0); // no destructor kills it: only the kernel can
    }
    pid_t helper = -1;
    ASSERT_EQ(read(report[0], &helper, sizeof helper), ssize_t(sizeof helper));
    waitpid(parent, nullptr, 0);
    int status = 0;
    for (int i = 0; i < 200 && waitpid(helper, &status, WNOHANG) != helper; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    // Killed, or, when its parent was gone before it asked to die with it, ended at once.
    EXPECT_TRUE((WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) ||
                (WIFEXITED(status) && WEXITSTATUS(status) == 127))
        << status;
    kill(helper, SIGKILL);
    prctl(PR_SET_CHILD_SUBREAPER, 0);
}

TEST(child_process, output_comes_line_by_line_and_ends) {
    child_process echo({"/bin/sh", "-c", "echo first; echo listening on 127.0.0.1:99; echo x"});
    EXPECT_EQ(echo.line(), "first");
    EXPECT_EQ(echo.line_after("listening on 127.0.0.1:"), "99");
    EXPECT_EQ(echo.line(), "x");
    EXPECT_EQ(echo.line(), std::nullopt);
    EXPECT_EQ(echo.wait(), 0);
}

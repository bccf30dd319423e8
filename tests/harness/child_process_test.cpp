#include "harness/child_process.h"

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

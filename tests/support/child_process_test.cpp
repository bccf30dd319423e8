#include "tests/support/child_process.h"

#include <chrono>
#include <csignal>
#include <optional>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

// Orphans of the test are handed to the test process itself, so that it can reap a helper whose
// parent it is not.
class child_process_test : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0); }
    void TearDown() override { prctl(PR_SET_CHILD_SUBREAPER, 0); }

    // Forks a parent that forks a helper, reports the helper's pid and ends. The helper calls
    // die_with_parent (after its parent has ended if late, before otherwise), then waits for ever.
    static pid_t helper_of_ended_parent(bool late) {
        int report[2];
        if (pipe(report) != 0)
            return -1;
        const pid_t parent = fork();
        if (parent == 0)
            run_parent(report[1], late);
        close(report[1]);
        pid_t helper = -1;
        if (read(report[0], &helper, sizeof helper) != sizeof helper)
            helper = -1;
        close(report[0]);
        waitpid(parent, nullptr, 0);
        return helper;
    }

    // The parent of helper_of_ended_parent.
    [[noreturn]] static void run_parent(int report, bool late) {
        const pid_t self = getpid();
        int asked[2];
        if (pipe(asked) != 0)
            _exit(1);
        const pid_t helper = fork();
        if (helper == 0) {
            close(asked[0]);
            while (late && getppid() == self)
                usleep(1000);
            die_with_parent(self);
            close(asked[1]);
            for (;;)
                pause();
        }
        close(asked[1]);
        char none;
        if (!late)
            read(asked[0], &none, 1); // returns once the helper has closed its end
        write(report, &helper, sizeof helper);
        _exit(0);
    }

    // The helper's wait status; none if it still runs after two seconds (then it is killed).
    static std::optional<int> status_of(pid_t helper) {
        for (int i = 0; i < 200; ++i) {
            int status = 0;
            if (waitpid(helper, &status, WNOHANG) == helper)
                return status;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill(helper, SIGKILL);
        waitpid(helper, nullptr, 0);
        return std::nullopt;
    }
};

TEST_F(child_process_test, a_helper_is_killed_when_its_parent_ends) {
    const pid_t helper = helper_of_ended_parent(false);
    ASSERT_GT(helper, 0);
    const std::optional<int> status = status_of(helper);
    ASSERT_TRUE(status) << "the helper outlived its parent";
    ASSERT_TRUE(WIFSIGNALED(*status)) << *status;
    EXPECT_EQ(WTERMSIG(*status), SIGKILL);
}

TEST_F(child_process_test, a_helper_whose_parent_ended_before_it_asked_exits_at_once) {
    const pid_t helper = helper_of_ended_parent(true);
    ASSERT_GT(helper, 0);
    const std::optional<int> status = status_of(helper);
    ASSERT_TRUE(status) << "the helper outlived its parent";
    ASSERT_TRUE(WIFEXITED(*status)) << *status;
    EXPECT_EQ(WEXITSTATUS(*status), 127);
}

} // namespace

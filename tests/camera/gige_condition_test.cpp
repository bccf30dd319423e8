#include <chrono>
#include <future>
#include <thread>

#include <gtest/gtest.h>

#include "camera/jai_sdk.h"

namespace {

using std::chrono::milliseconds;

class condition_test : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(J_Event_CreateCondition(&condition), J_ST_SUCCESS); }
    void TearDown() override { J_Event_CloseCondition(condition); }

    std::uint32_t wait(std::uint32_t timeout_ms) {
        std::uint32_t result = 12345;
        EXPECT_EQ(J_Event_WaitForCondition(condition, timeout_ms, &result), J_ST_SUCCESS);
        return result;
    }

    CONDITION_HANDLE condition = nullptr;
};

TEST_F(condition_test, a_wait_with_nothing_to_report_times_out) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(wait(50), J_COND_WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(45));
}

// The exit request stays, so one made before the waiter gets to its wait is not lost.
TEST_F(condition_test, an_exit_wakes_the_waiting_thread_and_ends_every_later_wait) {
    auto waiter = std::async(std::launch::async, [this] { return wait(10000); });
    std::this_thread::sleep_for(milliseconds(100));
    ASSERT_EQ(J_Event_ExitCondition(condition), J_ST_SUCCESS);
    ASSERT_EQ(waiter.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(waiter.get(), J_COND_WAIT_EXIT);
    EXPECT_EQ(wait(10000), J_COND_WAIT_EXIT);
}

} // namespace

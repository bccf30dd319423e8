#include <chrono>
#include <future>
#include <thread>

#include <gtest/gtest.h>

#include "camera/jai_sdk.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

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

TEST_F(condition_test, wait_without_buffers_times_out) {
    const auto start = steady_clock::now();
    EXPECT_EQ(wait(50), J_COND_WAIT_TIMEOUT);
    EXPECT_GE(steady_clock::now() - start, milliseconds(45));
}

TEST_F(condition_test, exit_wakes_a_thread_that_waits) {
    auto waiter = std::async(std::launch::async, [this] {
        const auto start = steady_clock::now();
        const std::uint32_t result = wait(10000);
        return std::make_pair(result, steady_clock::now() - start);
    });
    std::this_thread::sleep_for(milliseconds(100));
    ASSERT_EQ(J_Event_ExitCondition(condition), J_ST_SUCCESS);
    ASSERT_EQ(waiter.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    const auto [result, waited] = waiter.get();
    EXPECT_EQ(result, J_COND_WAIT_EXIT);
    EXPECT_LT(waited, std::chrono::seconds(5));
}

TEST_F(condition_test, exit_requested_before_the_wait_is_not_lost) {
    ASSERT_EQ(J_Event_ExitCondition(condition), J_ST_SUCCESS);
    EXPECT_EQ(wait(10000), J_COND_WAIT_EXIT);
    EXPECT_EQ(wait(10000), J_COND_WAIT_EXIT);
}

} // namespace

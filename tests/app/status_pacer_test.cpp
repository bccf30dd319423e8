#include "app/status_pacer.h"

#include <gtest/gtest.h>

namespace {
using texts = std::vector<std::pair<std::size_t, std::wstring>>;
using std::chrono::milliseconds;
} // namespace

// The first text shows at once; within the interval texts wait, a newer one replacing the one
// before; at its end every changed field shows its last text in one take; an unchanged text is
// not shown again.
TEST(status_pacer, shows_each_field_at_most_once_an_interval_and_always_its_last_text) {
    status_pacer pacer;
    const status_pacer::clock::time_point start{std::chrono::seconds(1)};
    EXPECT_FALSE(pacer.due());
    pacer.offer(2, L"a");
    EXPECT_EQ(pacer.take(start), (texts{{2, L"a"}}));
    pacer.offer(2, L"b");
    pacer.offer(0, L"x");
    pacer.offer(2, L"c");
    EXPECT_EQ(pacer.take(start + milliseconds(99)), texts{});
    EXPECT_EQ(pacer.due(), start + status_pacer::interval);
    EXPECT_EQ(pacer.take(start + milliseconds(100)), (texts{{0, L"x"}, {2, L"c"}}));
    pacer.offer(2, L"c");
    EXPECT_FALSE(pacer.due());
    EXPECT_EQ(pacer.take(start + milliseconds(500)), texts{});
}

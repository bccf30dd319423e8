#include "log/repeat_limiter.h"

namespace {
// More distinct texts than a worker ever has; beyond it the stale ones are dropped.
constexpr std::size_t remembered_texts = 64;
} // namespace

repeat_limiter::repeat_limiter(clock::duration interval) : interval_(interval) {}

bool repeat_limiter::admit(const std::string& text, clock::time_point now) {
    const auto found = last_admitted_.find(text);
    if (found != last_admitted_.end() && now - found->second < interval_)
        return false;
    if (last_admitted_.size() >= remembered_texts)
        forget_older_than(now - interval_);
    last_admitted_[text] = now;
    return true;
}

void repeat_limiter::forget_older_than(clock::time_point limit) {
    for (auto it = last_admitted_.begin(); it != last_admitted_.end();)
        it = it->second <= limit ? last_admitted_.erase(it) : std::next(it);
}

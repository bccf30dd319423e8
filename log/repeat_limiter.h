#pragma once

#include <chrono>
#include <map>
#include <string>

// Keeps a peer that fails the same way over and over from flooding the log: a text is let through
// when it was not let through within the last interval (a minute by default). Different texts are
// judged apart, so a failure that alternates with a recovery row still shows both once a minute.
// Pure; not thread-safe: one limiter per worker, used on that worker's thread.
class repeat_limiter {
public:
    using clock = std::chrono::steady_clock;

    explicit repeat_limiter(clock::duration interval = std::chrono::minutes(1));

    // True when the text should be written now; remembers that it was.
    bool admit(const std::string& text, clock::time_point now);

private:
    void forget_older_than(clock::time_point limit);

    clock::duration interval_;
    std::map<std::string, clock::time_point> last_admitted_;
};

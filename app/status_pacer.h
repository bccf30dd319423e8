#pragma once

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The status bar's texts as the window shows them while reports pour in: a thousand counts and
// fifty frames a second would otherwise cost as many relayouts of a bar nobody can read at that
// pace. Texts are taken out together, at most once per interval and only those that changed, so
// the last text of each field always shows once the interval is over. Pure logic, one thread.
class status_pacer {
public:
    using clock = std::chrono::steady_clock;
    static constexpr std::size_t field_count = 4;
    static constexpr std::chrono::milliseconds interval{100};

    // The field's newest text; an earlier one not yet taken is dropped.
    void offer(std::size_t field, std::wstring text);
    // The fields whose newest text differs from the one last taken, with that text, unless texts
    // were taken within the interval before now.
    std::vector<std::pair<std::size_t, std::wstring>> take(clock::time_point now);
    // When take will give something: nothing while no text waits.
    std::optional<clock::time_point> due() const;

private:
    struct field_texts {
        std::wstring shown;
        std::wstring newest;
    };
    bool waiting() const;

    std::array<field_texts, field_count> fields_;
    std::optional<clock::time_point> taken_;
};

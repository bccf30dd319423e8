#include "app/status_pacer.h"

#include <algorithm>

void status_pacer::offer(std::size_t field, std::wstring text) {
    fields_.at(field).newest = std::move(text);
}

std::vector<std::pair<std::size_t, std::wstring>> status_pacer::take(clock::time_point now) {
    std::vector<std::pair<std::size_t, std::wstring>> due_texts;
    if (!waiting() || (taken_ && now < *taken_ + interval))
        return due_texts;
    for (std::size_t field = 0; field < field_count; ++field)
        if (fields_[field].newest != fields_[field].shown) {
            fields_[field].shown = fields_[field].newest;
            due_texts.emplace_back(field, fields_[field].shown);
        }
    taken_ = now;
    return due_texts;
}

std::optional<status_pacer::clock::time_point> status_pacer::due() const {
    if (!waiting())
        return std::nullopt;
    return taken_ ? *taken_ + interval : clock::time_point{};
}

bool status_pacer::waiting() const {
    return std::any_of(fields_.begin(), fields_.end(),
                       [](const field_texts& texts) { return texts.newest != texts.shown; });
}

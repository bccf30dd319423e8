#include "tools/camsim/scene.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <vector>

namespace {

constexpr std::int64_t sleeper_pitch = 120;
constexpr std::int64_t sleeper_width = 46;
constexpr std::int64_t sleeper_jitter = 12;
constexpr std::int64_t rail_joint_pitch = 2500;
constexpr std::int64_t stone_cell = 12;

std::uint64_t mix(std::uint64_t v) {
    v += 0x9E3779B97F4A7C15ull;
    v = (v ^ (v >> 30)) * 0xBF58476D1CE4E5B9ull;
    v = (v ^ (v >> 27)) * 0x94D049BB133111EBull;
    return v ^ (v >> 31);
}

std::uint64_t hash2(std::uint64_t a, std::uint64_t b) {
    return mix(mix(a) ^ (b * 0x2545F4914F6CDD1Dull));
}

// Where the rails, sleeper ends and bolts lie across a frame of a given height.
struct rows {
    std::int64_t rail[2];
    std::int64_t rail_half;
    std::int64_t sleeper_top, sleeper_bottom;
    std::int64_t bolt_radius;
};

rows rows_of(std::uint32_t height) {
    const std::int64_t h = height;
    return {{h * 3 / 10, h * 7 / 10},
            std::max<std::int64_t>(2, h / 28),
            h * 6 / 100,
            h * 94 / 100,
            std::max<std::int64_t>(2, h / 60)};
}

// The sleeper under one column: its number and the column's place across it (-1: none).
struct column {
    std::uint64_t along;
    std::uint64_t sleeper;
    std::int64_t inside;
};

column column_at(std::uint64_t along) {
    const std::int64_t first = static_cast<std::int64_t>(along / sleeper_pitch) - 1;
    for (std::int64_t k = std::max<std::int64_t>(first, 0); k <= first + 2; ++k) {
        const std::int64_t jitter =
            static_cast<std::int64_t>(mix(k) % (2 * sleeper_jitter + 1)) - sleeper_jitter;
        const std::int64_t left =
            k * sleeper_pitch + sleeper_pitch / 2 + jitter - sleeper_width / 2;
        const std::int64_t inside = static_cast<std::int64_t>(along) - left;
        if (inside >= 0 && inside < sleeper_width)
            return {along, static_cast<std::uint64_t>(k), inside};
    }
    return {along, 0, -1};
}

int ballast_level(std::uint64_t along, std::int64_t y) {
    const std::uint64_t cx = along / stone_cell, cy = static_cast<std::uint64_t>(y) / stone_cell;
    const std::uint64_t stone = hash2(cx, cy);
    const std::int64_t dx = static_cast<std::int64_t>(along % stone_cell) - 6 -
                            static_cast<std::int64_t>(stone % 5) + 2;
    const std::int64_t dy = y % stone_cell - 6 - static_cast<std::int64_t>((stone >> 8) % 5) + 2;
    const std::int64_t radius = 4 + static_cast<std::int64_t>((stone >> 16) % 3);
    if (dx * dx + dy * dy > radius * radius)
        return 28;
    return 60 + static_cast<int>((stone >> 24) % 80) - static_cast<int>(dx + dy);
}

int wood_level(const column& c, std::int64_t y, const rows& r) {
    int level = 115 + static_cast<int>(mix(c.sleeper) % 40);
    level += static_cast<int>(hash2(c.sleeper * 64 + static_cast<std::uint64_t>(c.inside), y / 31) %
                              10) *
             3;
    if (c.inside < 2 || c.inside >= sleeper_width - 2)
        level -= 45;
    for (std::int64_t rail : r.rail)
        if (std::llabs(y - rail) <= r.rail_half * 5 / 2 && c.inside >= 3 &&
            c.inside < sleeper_width - 3)
            level = 80 + static_cast<int>(hash2(c.sleeper, rail) % 20);
    return level;
}

// A bolt beside each rail on both sides, near each sleeper's middle; -1 where there is none.
int bolt_level(const column& c, std::int64_t y, const rows& r) {
    const std::int64_t dx = c.inside - sleeper_width / 2;
    for (std::int64_t rail : r.rail)
        for (std::int64_t side : {-1, 1}) {
            const std::int64_t dy = y - (rail + side * (r.rail_half + r.bolt_radius * 2));
            const std::int64_t d2 = dx * dx + dy * dy, r2 = r.bolt_radius * r.bolt_radius;
            if (d2 <= r2)
                return d2 * 3 <= r2 ? 215 : 40;
        }
    return -1;
}

int rail_level(std::uint64_t along, std::int64_t y, const rows& r) {
    for (std::int64_t rail : r.rail) {
        const std::int64_t dy = std::llabs(y - rail);
        if (dy > r.rail_half)
            continue;
        if (static_cast<std::int64_t>(along % rail_joint_pitch) < 2)
            return 20;
        return 175 + static_cast<int>(50 * (r.rail_half - dy) / r.rail_half);
    }
    return -1;
}

int level_at(const column& c, std::int64_t y, const rows& r) {
    int level = rail_level(c.along, y, r);
    if (level < 0 && c.inside >= 0 && y >= r.sleeper_top && y < r.sleeper_bottom) {
        level = bolt_level(c, y, r);
        if (level < 0)
            level = wood_level(c, y, r);
    }
    if (level < 0)
        level = ballast_level(c.along, y);
    return level + static_cast<int>(hash2(c.along, static_cast<std::uint64_t>(y) + 1) % 13) - 6;
}

// Level to output value for one brightness: the same clipped product for every pixel, so a table
// of the 256 levels replaces the multiplication.
template <typename pixel> std::array<pixel, 256> brightness_table(double scale, int top) {
    std::array<pixel, 256> table{};
    for (int level = 0; level < 256; ++level)
        table[level] = static_cast<pixel>(std::clamp(level * scale, 0.0, static_cast<double>(top)));
    return table;
}

// A null table copies 8-bit levels as they are.
template <typename pixel>
void copy_levels(pixel* out, const std::uint8_t* levels, std::uint32_t count, const pixel* table) {
    if constexpr (std::is_same_v<pixel, std::uint8_t>)
        if (table == nullptr) {
            std::memcpy(out, levels, count);
            return;
        }
    for (std::uint32_t x = 0; x < count; ++x)
        out[x] = table[levels[x]];
}

} // namespace

std::uint8_t scene_level(std::uint64_t along, std::uint32_t y, std::uint32_t height) {
    return static_cast<std::uint8_t>(
        std::clamp(level_at(column_at(along), y, rows_of(height)), 0, 255));
}

scene_renderer::scene_renderer(std::uint32_t width, std::uint32_t height)
    : width_(width), height_(height), ring_width_(2 * width),
      ring_(std::size_t{ring_width_} * height) {}

void scene_renderer::draw_mono8(std::uint8_t* pixels, std::uint64_t start, double brightness) {
    bring_into_view(start);
    const auto table = brightness_table<std::uint8_t>(brightness, 255);
    copy_view(pixels, start, brightness == 1.0 ? nullptr : table.data());
}

void scene_renderer::draw_mono16(std::uint16_t* pixels, std::uint64_t start, double brightness) {
    bring_into_view(start);
    const auto table = brightness_table<std::uint16_t>(brightness * 257.0, 65535);
    copy_view(pixels, start, table.data());
}

// Keeps the kept columns only when the frame continues them without a gap; otherwise starts over.
void scene_renderer::bring_into_view(std::uint64_t start) {
    const std::uint64_t end = start + width_;
    if (start < kept_begin_ || start > kept_end_)
        kept_begin_ = kept_end_ = start;
    if (end > kept_end_) {
        draw_columns(kept_end_, end);
        kept_end_ = end;
        kept_begin_ = std::max(kept_begin_, end > ring_width_ ? end - ring_width_ : 0);
    }
}

void scene_renderer::draw_columns(std::uint64_t first, std::uint64_t end) {
    const rows r = rows_of(height_);
    std::vector<column> columns;
    columns.reserve(end - first);
    for (std::uint64_t along = first; along < end; ++along)
        columns.push_back(column_at(along));
    for (std::uint32_t y = 0; y < height_; ++y) {
        std::uint8_t* row = ring_.data() + std::size_t{y} * ring_width_;
        for (const column& c : columns)
            row[c.along % ring_width_] =
                static_cast<std::uint8_t>(std::clamp(level_at(c, y, r), 0, 255));
    }
}

template <typename pixel>
void scene_renderer::copy_view(pixel* pixels, std::uint64_t start, const pixel* table) {
    const auto offset = static_cast<std::uint32_t>(start % ring_width_);
    const std::uint32_t first_part = std::min(width_, ring_width_ - offset);
    for (std::uint32_t y = 0; y < height_; ++y, pixels += width_) {
        const std::uint8_t* row = ring_.data() + std::size_t{y} * ring_width_;
        copy_levels(pixels, row + offset, first_part, table);
        copy_levels(pixels + first_part, row, width_ - first_part, table);
    }
}

double exposure_brightness(std::uint32_t exposure_mode) {
    if (exposure_mode == 0 || exposure_mode > 9)
        return 1.0;
    return 0.5 + 0.1 * exposure_mode;
}

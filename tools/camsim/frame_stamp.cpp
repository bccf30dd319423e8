#include "tools/camsim/frame_stamp.h"

#include <array>

#include <opencv2/core.hpp>

namespace {

constexpr int marker_cells = 4;
constexpr std::array<bool, marker_cells> marker = {true, false, true, false};
// A cell and its inverted partner must differ by this much after compression.
constexpr double least_contrast = 64.0;

bool fits(const cv::Mat& image) {
    return image.channels() == 1 && image.cols >= frame_stamp_width &&
           image.rows >= frame_stamp_height;
}

// White or black of each top-row cell: the marker, then the bits of the number.
std::array<bool, marker_cells + 32> top_row(std::uint32_t number) {
    std::array<bool, marker_cells + 32> cells{};
    for (int i = 0; i < marker_cells; ++i)
        cells[i] = marker[i];
    for (int bit = 0; bit < 32; ++bit)
        cells[marker_cells + bit] = (number >> (31 - bit)) & 1u;
    return cells;
}

cv::Rect cell_rect(int column, int row) {
    return {column * frame_stamp_cell, row * frame_stamp_cell, frame_stamp_cell, frame_stamp_cell};
}

// The mean of the cell's middle half, away from the ringing JPEG leaves along its edges.
double cell_level(const cv::Mat& grey, int column, int row) {
    constexpr int margin = frame_stamp_cell / 4;
    const cv::Rect inner(column * frame_stamp_cell + margin, row * frame_stamp_cell + margin,
                         frame_stamp_cell - 2 * margin, frame_stamp_cell - 2 * margin);
    return cv::mean(grey(inner))[0];
}

} // namespace

bool draw_frame_stamp(cv::Mat& image, std::uint32_t number) {
    if (!fits(image) || (image.depth() != CV_8U && image.depth() != CV_16U))
        return false;
    const double white = image.depth() == CV_8U ? 255.0 : 65535.0;
    const auto cells = top_row(number);
    for (int column = 0; column < static_cast<int>(cells.size()); ++column) {
        image(cell_rect(column, 0)).setTo(cells[column] ? white : 0.0);
        image(cell_rect(column, 1)).setTo(cells[column] ? 0.0 : white);
    }
    return true;
}

std::optional<std::uint32_t> read_frame_stamp(const cv::Mat& grey) {
    if (!fits(grey) || grey.depth() != CV_8U)
        return std::nullopt;
    std::uint32_t number = 0;
    for (int column = 0; column < marker_cells + 32; ++column) {
        const double difference = cell_level(grey, column, 0) - cell_level(grey, column, 1);
        if (difference > -least_contrast && difference < least_contrast)
            return std::nullopt;
        const bool white = difference > 0;
        if (column < marker_cells) {
            if (white != marker[column])
                return std::nullopt;
            continue;
        }
        number = (number << 1) | (white ? 1u : 0u);
    }
    return number;
}

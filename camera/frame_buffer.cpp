#include <algorithm>
#include <cstring>
#include <ctime>
#include <mutex>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "camera/grab_modes.h"

namespace {
// GigE Vision's 12-bit packed formats (Mono10Packed, Mono12Packed, Bayer..10Packed,
// Bayer..12Packed): two pixels in three bytes, bytes 0 and 2 holding the high 8 bits of each.
bool is_gige_packed(std::int64_t format, int bits) {
    const auto id = format & 0xFFFF;
    return bits == 12 && (id == 0x0004 || id == 0x0006 || (id >= 0x0026 && id <= 0x002D));
}

// Unpacked 10-, 12- and 14-bit formats fill only the low bits of their 16-bit container, so their
// high 8 bits sit lower than the container's high byte.
int significant_bits(std::int64_t format, int bits) {
    if (bits != 16)
        return bits;
    const auto id = format & 0xFFFF;
    if (id == 0x0003 || (id >= 0x000C && id <= 0x000F))
        return 10;
    if (id == 0x0005 || (id >= 0x0010 && id <= 0x0013))
        return 12;
    if (id == 0x0025)
        return 14;
    return 16;
}

// OpenCV's conversion to grey of the 8-bit Bayer and RGB formats; 0 for the others. OpenCV names
// a Bayer pattern by its second line, so GenICam's BayerRG is OpenCV's BayerBG.
int colour_conversion(std::int64_t format) {
    switch (format) {
    case 0x01080008: // BayerGR8
        return cv::COLOR_BayerGB2GRAY;
    case 0x01080009: // BayerRG8
        return cv::COLOR_BayerBG2GRAY;
    case 0x0108000A: // BayerGB8
        return cv::COLOR_BayerGR2GRAY;
    case 0x0108000B: // BayerBG8
        return cv::COLOR_BayerRG2GRAY;
    case 0x02180014: // RGB8
        return cv::COLOR_RGB2GRAY;
    case 0x02180015: // BGR8
        return cv::COLOR_BGR2GRAY;
    default:
        return 0;
    }
}

// One line of `pixels` from the bit `first_bit` of source on.
void convert_line(const std::uint8_t* source, std::size_t first_bit, std::size_t pixels,
                  std::int64_t format, int bits, std::uint8_t* target) {
    source += first_bit / 8;
    const int significant = significant_bits(format, bits);
    if (bits == 8) {
        std::memcpy(target, source, pixels);
    } else if (bits == 16) {
        for (std::size_t i = 0; i < pixels; ++i)
            target[i] = static_cast<std::uint8_t>((source[2 * i] | source[2 * i + 1] << 8) >>
                                                  (significant - 8));
    } else if (is_gige_packed(format, bits)) {
        for (std::size_t i = 0; i < pixels; ++i)
            target[i] = source[i / 2 * 3 + (i % 2) * 2];
    } else { // a little-endian bit stream, as the PFNC "p" packings lay pixels
        for (std::size_t i = 0; i < pixels; ++i) {
            const std::size_t bit = first_bit % 8 + i * bits + significant - 8;
            const unsigned value = source[bit / 8] | (bit % 8 ? source[bit / 8 + 1] << 8 : 0);
            target[i] = static_cast<std::uint8_t>(value >> (bit % 8));
        }
    }
}

// Bits from one line's start to the next: packed lines without padding go on where the previous
// one ended; padded lines are whole bytes and their padding.
std::size_t line_stride_bits(const camera_frame& frame, int bits) {
    const auto line_bits = static_cast<std::size_t>(frame.width) * bits;
    if (frame.padding_x == 0)
        return line_bits;
    return ((line_bits + 7) / 8 + static_cast<std::size_t>(frame.padding_x)) * 8;
}

bool covers_its_geometry(const camera_frame& frame, int bits) {
    if (!frame.complete || frame.width <= 0 || frame.height <= 0 || frame.padding_x < 0)
        return false;
    const std::size_t last_bit = (frame.height - 1) * line_stride_bits(frame, bits) +
                                 static_cast<std::size_t>(frame.width) * bits;
    return frame.data != nullptr && (last_bit + 7) / 8 <= frame.size;
}
} // namespace

int bits_per_pixel_of(std::int64_t pixel_format) {
    return std::max(8, static_cast<int>((pixel_format >> 16) & 0xFF));
}

std::int64_t system_seconds() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

frame_buffer::frame_buffer(const frame_geometry& geometry)
    : width(geometry.width), height(geometry.height), pixel_format(geometry.pixel_format),
      bits_per_pixel(geometry.bits_per_pixel) {
    buffers_.push_back(std::make_unique<pixel_buffer>());
    current_ = buffers_.back().get();
    current_->image =
        cv::Mat(static_cast<int>(height), static_cast<int>(width), CV_8UC1, cv::Scalar(0));
    image = current_->image;
}

std::int64_t frame_buffer::frame_bytes() const {
    return std::int64_t{bits_per_pixel} * height * width / 8;
}

bool frame_buffer::store(const camera_frame& frame, bool rotate180) {
    const int bits = bits_per_pixel_of(frame.pixel_format);
    if (!covers_its_geometry(frame, bits))
        return false;
    const cv::Rect covered(0, 0, static_cast<int>(std::min(frame.width, width)),
                           static_cast<int>(std::min(frame.height, height)));
    std::unique_lock<std::shared_mutex> writer(lock);
    take_unheld_pixels(covered.size() != image.size());
    convert(frame, image(covered));
    if (rotate180)
        cv::flip(image, image, -1);
    timestamp = frame.timestamp;
    return true;
}

// Colour formats are turned grey whole, as demosaicing looks at each pixel's neighbours; the
// others line by line, straight into the target.
void frame_buffer::convert(const camera_frame& frame, cv::Mat target) const {
    const int bits = bits_per_pixel_of(frame.pixel_format);
    const std::size_t stride = line_stride_bits(frame, bits);
    if (const int code = colour_conversion(frame.pixel_format)) {
        const cv::Mat source(static_cast<int>(frame.height), static_cast<int>(frame.width),
                             bits == 8 ? CV_8UC1 : CV_8UC3, const_cast<std::uint8_t*>(frame.data),
                             stride / 8);
        cv::Mat grey;
        cv::cvtColor(source, grey, code);
        grey(cv::Rect(0, 0, target.cols, target.rows)).copyTo(target);
        return;
    }
    for (int y = 0; y < target.rows; ++y)
        convert_line(frame.data, y * stride, static_cast<std::size_t>(target.cols),
                     frame.pixel_format, bits, target.ptr<std::uint8_t>(y));
}

// Under the exclusive lock, so no holder can come meanwhile. A frame that covers only part of the
// image starts from the previous one's pixels, as if written over it.
void frame_buffer::take_unheld_pixels(bool keep_old_values) {
    if (current_->holders.load(std::memory_order_acquire) == 0)
        return;
    const auto unheld = std::find_if(buffers_.begin(), buffers_.end(), [](const auto& buffer) {
        return buffer->holders.load(std::memory_order_acquire) == 0;
    });
    pixel_buffer* next = unheld != buffers_.end() ? unheld->get() : nullptr;
    if (!next) {
        buffers_.push_back(std::make_unique<pixel_buffer>());
        next = buffers_.back().get();
        next->image.create(image.size(), image.type());
    }
    if (keep_old_values)
        image.copyTo(next->image);
    current_ = next;
    image = next->image;
}

std::uint64_t frame_buffer::copy_out(cv::Mat& copy) const {
    std::shared_lock<std::shared_mutex> reader(lock);
    image.copyTo(copy);
    return timestamp;
}

std::uint64_t frame_buffer::share_if_new(std::shared_ptr<const cv::Mat>& frame,
                                         std::uint64_t known) const {
    std::shared_lock<std::shared_mutex> reader(lock);
    if (timestamp == known)
        return timestamp;
    pixel_buffer* held = current_;
    held->holders.fetch_add(1, std::memory_order_relaxed);
    frame = std::shared_ptr<const cv::Mat>(&held->image, [held](const cv::Mat*) {
        held->holders.fetch_sub(1, std::memory_order_release);
    });
    return timestamp;
}

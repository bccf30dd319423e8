#include <algorithm>
#include <cstring>
#include <ctime>
#include <mutex>

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

void convert_gige_packed(const std::uint8_t* source, std::size_t pixels, std::uint8_t* target) {
    for (std::size_t i = 0; i < pixels; ++i)
        target[i] = source[i / 2 * 3 + (i % 2) * 2];
}

// The common wide case, kept to a loop the compiler vectorises.
void convert_sixteen(const std::uint8_t* source, std::size_t pixels, int significant,
                     std::uint8_t* target) {
    const int shift = significant - 8;
    for (std::size_t i = 0; i < pixels; ++i) {
        const unsigned value = source[2 * i] | unsigned{source[2 * i + 1]} << 8;
        target[i] = static_cast<std::uint8_t>(value >> shift);
    }
}

// Pixels laid one after another in a little-endian bit stream (8-bit multiples and the PFNC "p"
// packings alike): pixel i's high bits end at bit i x bits + significant.
void convert_bit_stream(const std::uint8_t* source, std::size_t source_size, std::size_t pixels,
                        int bits, int significant, std::uint8_t* target) {
    for (std::size_t i = 0; i < pixels; ++i) {
        const std::size_t bit = i * bits + significant - 8;
        const std::size_t byte = bit / 8;
        unsigned value = source[byte];
        if (byte + 1 < source_size)
            value |= unsigned{source[byte + 1]} << 8;
        target[i] = static_cast<std::uint8_t>(value >> (bit % 8));
    }
}
void convert(const std::uint8_t* source, std::size_t source_size, std::size_t pixels,
             std::int64_t format, int bits, std::uint8_t* target) {
    if (pixels == 0)
        return;
    if (bits == 8)
        std::memcpy(target, source, pixels);
    else if (bits == 16)
        convert_sixteen(source, pixels, significant_bits(format, bits), target);
    else if (is_gige_packed(format, bits))
        convert_gige_packed(source, pixels, target);
    else
        convert_bit_stream(source, source_size, pixels, bits, significant_bits(format, bits),
                           target);
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

// Without padding the image is one run of pixels, so that packed lines ending inside a byte go on
// where the previous one ended; with padding each line is a run of whole bytes. Each run reads
// only its own bytes, so neither the padding nor anything after the image comes in.
void frame_buffer::store(const std::uint8_t* source, std::size_t source_size,
                         std::uint64_t frame_timestamp, std::size_t line_padding) {
    const auto bits = static_cast<std::size_t>(bits_per_pixel);
    const std::size_t runs = line_padding == 0 || image.rows == 0 ? 1 : image.rows;
    const std::size_t run_pixels = image.total() / runs;
    const std::size_t run_bytes = (run_pixels * bits + 7) / 8;
    const std::size_t stride = run_bytes + line_padding;
    std::unique_lock<std::shared_mutex> writer(lock);
    take_unheld_pixels(source_size < (runs - 1) * stride + run_bytes);
    for (std::size_t run = 0; run < runs && run * stride < source_size; ++run) {
        const std::size_t bytes = std::min(run_bytes, source_size - run * stride);
        const std::size_t pixels = std::min(run_pixels, bytes * 8 / bits);
        convert(source + run * stride, bytes, pixels, pixel_format, bits_per_pixel,
                image.data + run * run_pixels);
    }
    timestamp = frame_timestamp;
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

#include "service/png_encoder.h"

#include <array>
#include <cstdint>
#include <memory>
#include <stdexcept>

#include <libdeflate.h>

namespace {
constexpr std::array<unsigned char, 8> png_signature = {0x89, 'P',  'N',  'G',
                                                        '\r', '\n', 0x1A, '\n'};
constexpr unsigned char colour_grey = 0;
constexpr unsigned char colour_rgb = 2;
constexpr unsigned char filter_up = 2;
// libdeflate's quickest level: on camera frames it beats zlib's level 5 in size as well.
constexpr int compression_level = 1;

struct compressor_free {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

libdeflate_compressor& thread_compressor() {
    thread_local std::unique_ptr<libdeflate_compressor, compressor_free> compressor(
        libdeflate_alloc_compressor(compression_level));
    if (!compressor)
        throw std::bad_alloc();
    return *compressor;
}

void put_u32(std::vector<unsigned char>& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<unsigned char>(value >> shift));
}

void put_chunk(std::vector<unsigned char>& out, const char* type, const unsigned char* data,
               std::size_t size) {
    put_u32(out, static_cast<std::uint32_t>(size));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    if (size > 0)
        out.insert(out.end(), data, data + size);
    put_u32(out, static_cast<std::uint32_t>(
                     libdeflate_crc32(0, out.data() + start, out.size() - start)));
}

// Each row: the filter byte, then every byte minus the byte above it (the row above the first is
// zero). write_row(row, above, out) writes one row's differences for its colour layout.
template <typename RowWriter>
std::vector<unsigned char> filtered_rows(const cv::Mat& image, std::size_t row_size,
                                         RowWriter write_row) {
    std::vector<unsigned char> raw((1 + row_size) * image.rows);
    const std::vector<unsigned char> zeros(image.cols * image.elemSize(), 0);
    for (int y = 0; y < image.rows; ++y) {
        unsigned char* out = raw.data() + (1 + row_size) * y;
        *out++ = filter_up;
        write_row(image.ptr<unsigned char>(y), y ? image.ptr<unsigned char>(y - 1) : zeros.data(),
                  image.cols, out);
    }
    return raw;
}

void write_png(int rows, int cols, unsigned char colour_type, const std::vector<unsigned char>& raw,
               std::vector<unsigned char>& out) {
    libdeflate_compressor& compressor = thread_compressor();
    std::vector<unsigned char> packed(libdeflate_zlib_compress_bound(&compressor, raw.size()));
    packed.resize(libdeflate_zlib_compress(&compressor, raw.data(), raw.size(), packed.data(),
                                           packed.size()));
    std::array<unsigned char, 13> header{};
    for (int i = 0; i < 4; ++i) {
        header[i] = static_cast<unsigned char>(static_cast<std::uint32_t>(cols) >> (24 - 8 * i));
        header[4 + i] =
            static_cast<unsigned char>(static_cast<std::uint32_t>(rows) >> (24 - 8 * i));
    }
    header[8] = 8; // bits per channel
    header[9] = colour_type;
    out.insert(out.end(), png_signature.begin(), png_signature.end());
    put_chunk(out, "IHDR", header.data(), header.size());
    put_chunk(out, "IDAT", packed.data(), packed.size());
    put_chunk(out, "IEND", nullptr, 0);
}
} // namespace

void append_png(const cv::Mat& image, std::vector<unsigned char>& out) {
    if (image.type() == CV_8UC1) {
        const auto raw =
            filtered_rows(image, image.cols, [](auto row, auto above, int cols, auto out) {
                for (int x = 0; x < cols; ++x)
                    out[x] = static_cast<unsigned char>(row[x] - above[x]);
            });
        return write_png(image.rows, image.cols, colour_grey, raw, out);
    }
    if (image.type() != CV_8UC3)
        throw std::invalid_argument("PNG encoding needs an 8-bit image of one or three channels.");
    // BGR in memory, RGB in the file.
    const auto raw =
        filtered_rows(image, 3 * image.cols, [](auto row, auto above, int cols, auto out) {
            for (int x = 0; x < 3 * cols; x += 3)
                for (int c = 0; c < 3; ++c)
                    out[x + c] = static_cast<unsigned char>(row[x + 2 - c] - above[x + 2 - c]);
        });
    write_png(image.rows, image.cols, colour_rgb, raw, out);
}

void append_png_grey_as_rgb(const cv::Mat& grey, std::vector<unsigned char>& out) {
    if (grey.type() != CV_8UC1)
        throw std::invalid_argument("PNG encoding needs an 8-bit grey image.");
    const auto raw =
        filtered_rows(grey, 3 * grey.cols, [](auto row, auto above, int cols, auto out) {
            for (int x = 0; x < cols; ++x) {
                const auto difference = static_cast<unsigned char>(row[x] - above[x]);
                out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = difference;
            }
        });
    write_png(grey.rows, grey.cols, colour_rgb, raw, out);
}

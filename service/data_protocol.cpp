#include "service/data_protocol.h"

#include <algorithm>
#include <cstdio>

#include "base/encoding.h"

namespace {
constexpr std::size_t first_text_size = 20;
constexpr std::size_t second_text_size = 16;
constexpr std::size_t long_dpp_offset = first_text_size + second_text_size;

frame_request short_form(const unsigned char* bytes) {
    const auto first = read_little_endian<std::uint64_t>(bytes);
    const auto second = read_little_endian<std::uint32_t>(bytes + 8);
    frame_request request;
    request.live = second == 0;
    if (!request.live)
        request.session_code = hex_code_part(first) + " : " + hex_code_part(second);
    request.dpp = read_little_endian<std::uint32_t>(bytes + 12);
    return request;
}

frame_request long_form(const unsigned char* bytes) {
    const std::string first = read_padded_text(bytes, first_text_size);
    const std::string second = read_padded_text(bytes + first_text_size, second_text_size);
    frame_request request;
    request.live = second.empty();
    if (!request.live)
        request.session_code = first + " : " + second;
    request.dpp = read_little_endian<std::uint32_t>(bytes + long_dpp_offset);
    return request;
}

// The size of each of the whole requests that many bytes make, all of one form; 0 when they make
// none.
std::size_t form_of(std::size_t size) {
    if (size != 0 && size % long_request_size == 0)
        return long_request_size;
    if (size != 0 && size % short_request_size == 0)
        return short_request_size;
    return 0;
}
} // namespace

std::optional<frame_request> parse_frame_request(const unsigned char* bytes, std::size_t size) {
    if (size == short_request_size)
        return short_form(bytes);
    if (size == long_request_size)
        return long_form(bytes);
    return std::nullopt;
}

std::size_t request_reader::room() const {
    return form_ != 0 || finished_ ? 0 : capacity - bytes_.size();
}

std::size_t request_reader::add(const unsigned char* bytes, std::size_t size,
                                clock::time_point now) {
    const std::size_t taken = std::min(size, room());
    if (taken == 0)
        return 0;
    if (bytes_.empty())
        first_byte_ = now;
    last_byte_ = now;
    bytes_.insert(bytes_.end(), bytes, bytes + taken);
    if (bytes_.size() == short_request_size || bytes_.size() == long_request_size)
        form_ = bytes_.size();
    return taken;
}

std::optional<frame_request> request_reader::next(clock::time_point now) {
    if (form_ == 0 && (finished_ || now - last_byte_ >= timing_.settle))
        form_ = form_of(bytes_.size());
    if (form_ == 0)
        return std::nullopt;
    const std::optional<frame_request> request =
        parse_frame_request(bytes_.data() + offset_, form_);
    offset_ += form_;
    if (offset_ == bytes_.size()) {
        bytes_.clear();
        form_ = offset_ = 0;
    }
    return request;
}

bool request_reader::failed(clock::time_point now) const {
    return form_ == 0 && form_of(bytes_.size()) == 0 && !bytes_.empty() &&
           (finished_ || now - first_byte_ >= timing_.give_up);
}

std::optional<request_reader::clock::time_point> request_reader::deadline() const {
    if (form_ != 0 || bytes_.empty())
        return std::nullopt;
    if (form_of(bytes_.size()) != 0)
        return last_byte_ + timing_.settle;
    return first_byte_ + timing_.give_up;
}

std::string hex_code_part(std::uint64_t value) {
    if (value == 0)
        return "0";
    std::string digits;
    for (; value != 0; value >>= 4)
        digits.insert(digits.begin(), "0123456789abcdef"[value & 0xF]);
    return "0x" + digits;
}

std::array<unsigned char, short_request_size>
short_request(std::uint64_t first, std::uint32_t second, std::uint32_t dpp) {
    std::array<unsigned char, short_request_size> bytes{};
    write_little_endian(bytes.data(), first);
    write_little_endian(bytes.data() + 8, second);
    write_little_endian(bytes.data() + 12, dpp);
    return bytes;
}

std::vector<unsigned char> long_request(const std::string& first, const std::string& second,
                                        std::uint32_t dpp) {
    std::vector<unsigned char> bytes(long_request_size, 0);
    write_padded_text(bytes.data(), first_text_size, first);
    write_padded_text(bytes.data() + first_text_size, second_text_size, second);
    write_little_endian(bytes.data() + long_dpp_offset, dpp);
    return bytes;
}

std::optional<std::uint16_t> parse_service_port(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    unsigned long port = 0;
    for (const char digit : text)
        if ((port = port * 10 + (digit - '0')) > 65535)
            return std::nullopt;
    return port == 0 ? std::nullopt : std::optional<std::uint16_t>(port);
}

std::string visible_text(const std::string& text) {
    std::string shown;
    for (const unsigned char c : text) {
        char escaped[5] = {static_cast<char>(c), 0};
        if (c < 0x20 || c == 0x7f)
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
        shown += escaped;
    }
    return shown;
}

void seal_response(std::vector<unsigned char>& response) {
    write_little_endian(response.data(),
                        static_cast<std::uint32_t>(response.size() - response_header_size));
}

std::uint32_t announced_length(const unsigned char* header) {
    return read_little_endian<std::uint32_t>(header);
}

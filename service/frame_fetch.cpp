#include "service/frame_fetch.h"

#include <mutex>
#include <shared_mutex>

#include <opencv2/imgcodecs.hpp>

#include "recording/session_db.h"
#include "recording/session_format.h"
#include "service/png_encoder.h"

namespace {
std::optional<std::string> stored_bytes(const frame_request& request) {
    if (request.live)
        return current_session.current_frame_bytes(request.dpp);
    std::shared_lock lock(session_index_lock);
    return indexed_frame_bytes(wide_text(request.session_code), request.dpp);
}

cv::Mat not_found_picture(const frame_request& request) {
    return request.live ? not_found_image(request.dpp)
                        : not_found_image(wide_text(request.session_code), request.dpp);
}

// Stored frames are grey JPEGs; read as grey they decode in a third of the time, and their PNG is
// made of three equal channels, byte for byte what decoding in colour would have given. Anything
// else is decoded in colour as before.
void append_frame_png(const std::string& bytes, std::vector<unsigned char>& out) {
    const cv::Mat raw(1, static_cast<int>(bytes.size()), CV_8UC1, const_cast<char*>(bytes.data()));
    cv::Mat image;
    try {
        image = cv::imdecode(raw, cv::IMREAD_ANYCOLOR);
        if (!image.empty() && image.type() != CV_8UC1 && image.type() != CV_8UC3)
            image = cv::imdecode(raw, cv::IMREAD_COLOR);
    } catch (const cv::Exception&) {
        image.release(); // a malformed stream the decoder rejects by throwing
    }
    if (image.empty())
        return; // no picture of its own: the caller sends the not-found one
    if (image.type() == CV_8UC1)
        append_png_grey_as_rgb(image, out);
    else
        append_png(image, out);
}
} // namespace

std::vector<unsigned char> fetch_response(const frame_request& request,
                                          const std::function<void(const std::string&)>& report) {
    std::vector<unsigned char> response(response_header_size, 0);
    try {
        const std::optional<std::string> bytes = stored_bytes(request);
        if (bytes)
            append_frame_png(*bytes, response);
        if (response.size() == response_header_size)
            append_png(not_found_picture(request), response);
    } catch (const std::exception& e) {
        report(e.what());
        response.assign(response_header_size, 0);
        return response;
    }
    seal_response(response);
    return response;
}

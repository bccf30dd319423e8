#include "service/frame_fetch.h"

#include <opencv2/imgcodecs.hpp>

#include "base/encoding.h"
#include "recording/session_format.h"
#include "recording/session_store.h"
#include "service/png_encoder.h"

namespace {
std::optional<std::string> stored_bytes(session_store& sessions, const frame_request& request) {
    if (request.live)
        return sessions.current_session().read_current_frame(request.dpp);
    return sessions.read_indexed_frame(wide_text(request.session_code), request.dpp);
}

cv::Mat not_found_picture(const frame_request& request) {
    return request.live ? not_found_image(request.dpp)
                        : not_found_image(wide_text(request.session_code), request.dpp);
}

// Stored frames are grey JPEGs; read as grey they decode in a third of the time, and their PNG is
// made of three equal channels, byte for byte what decoding in colour would have given. Anything
// else is decoded in colour as before. Gives the reason when the frame was not decoded at all.
std::string append_frame_png(const std::string& bytes, std::vector<unsigned char>& out) {
    decoded_frame frame = decode_stored_frame(bytes, cv::IMREAD_ANYCOLOR);
    const int type = frame.image.type();
    if (!frame.image.empty() && type != CV_8UC1 && type != CV_8UC3)
        frame = decode_stored_frame(bytes, cv::IMREAD_COLOR);
    const cv::Mat& image = frame.image;
    if (image.empty())
        return frame.refused; // no picture of its own: the caller sends the not-found one
    if (image.type() == CV_8UC1)
        append_png_grey_as_rgb(image, out);
    else
        append_png(image, out);
    return {};
}

std::string session_name(const frame_request& request) {
    return request.live ? "the session being recorded" : "session " + request.session_code;
}
} // namespace

std::vector<unsigned char> fetch_response(session_store& sessions, const frame_request& request,
                                          const std::function<void(const std::string&)>& report) {
    std::vector<unsigned char> response(response_header_size, 0);
    try {
        const std::optional<std::string> bytes = stored_bytes(sessions, request);
        const std::string refused = bytes ? append_frame_png(*bytes, response) : std::string();
        if (!refused.empty())
            report("The frame at or after DPP " + std::to_string(request.dpp) + " of " +
                   session_name(request) + " is not decoded: " + refused);
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

#include "recording/session_store.h"

#include <opencv2/imgproc.hpp>

#include "base/encoding.h"
#include "recording/session_format.h"

namespace {
cv::Mat image_with_text(const std::string& text) {
    cv::Mat image(480, 640, CV_8UC1, cv::Scalar(0));
    cv::putText(image, text, cv::Point(15, 15), cv::FONT_HERSHEY_SIMPLEX, 0.5, cv::Scalar(255), 1,
                cv::LINE_8);
    return image;
}
} // namespace

cv::Mat not_found_image(std::uint32_t dpp) {
    return image_with_text("Requested frame not found [" + std::to_string(dpp) + "]");
}

cv::Mat not_found_image(const std::wstring& code, std::uint32_t dpp) {
    return image_with_text("Requested frame not found [" + narrow_text(code) + ":" +
                           std::to_string(dpp) + "]");
}

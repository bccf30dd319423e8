#include "browser/frame_stitching.h"

#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/stitching.hpp>

#include "recording/session_store.h"

namespace {
constexpr std::uint64_t stitch_seed = 0xffffffff; // the generator's own default start

// Previous, current and next, those of them that exist (none when no frame is stored at the DPP);
// the current one is decoded first, as the recorder always did.
std::vector<cv::Mat> frames_around(const session_reader& reader, std::uint32_t dpp) {
    frame_cursor before = reader.frames(), after = reader.frames();
    if (!after.seek(dpp) || after.dpp() != dpp)
        return {};
    const cv::Mat current = after.frame();
    before.seek(dpp);
    before.previous();
    after.next();
    std::vector<cv::Mat> frames;
    for (cv::Mat frame : {before.frame(), current, after.frame()}) {
        if (frame.empty())
            continue;
        equalize_frame(frame);
        frames.push_back(frame);
    }
    return frames;
}
} // namespace

void equalize_frame(cv::Mat& image) {
    if (image.empty())
        return;
    cv::Mat grey;
    cv::cvtColor(image, grey, cv::COLOR_RGB2GRAY);
    cv::equalizeHist(grey, grey);
    cv::cvtColor(grey, image, cv::COLOR_GRAY2BGR);
}

stitch_outcome stitch_and_save(const session_reader& reader, std::uint32_t dpp,
                               const std::string& path) {
    const std::vector<cv::Mat> frames = frames_around(reader, dpp);
    // The stitcher draws from the calling thread's random generator; a fixed start makes the same
    // frames give the same image on any thread, whatever was stitched before.
    cv::theRNG().state = stitch_seed;
    cv::Mat stitched;
    const cv::Ptr<cv::Stitcher> stitcher = cv::Stitcher::create(cv::Stitcher::SCANS);
    stitch_outcome outcome;
    outcome.status = stitcher->stitch(frames, stitched);
    if (outcome.status == cv::Stitcher::OK && !path.empty())
        outcome.written = cv::imwrite(path, stitched);
    return outcome;
}

std::optional<std::string> stitch_error_text(const stitch_outcome& outcome,
                                             const std::string& path) {
    if (outcome.status != cv::Stitcher::OK)
        return "Can't stitch images, error code = " + std::to_string(outcome.status);
    if (!path.empty() && !outcome.written)
        return "Can't write the stitched image " + path;
    return std::nullopt;
}

#include "browser/frame_stitching.h"

#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/stitching.hpp>

#include "recording/session_db.h"
#include "recording/session_engine.h"
#include "recording/session_format.h"

namespace {
constexpr std::uint64_t stitch_seed = 0xffffffff; // the generator's own default start

// The frame under the cursor; empty when it stands on no frame key or its value is no image.
cv::Mat frame_under(const leveldb::Iterator& cursor) {
    if (!cursor.Valid() || !is_frame_key(as_view(cursor.key())))
        return {};
    return decode_frame(as_view(cursor.value()));
}

// Previous, current and next, those of them that exist (none when the key is not stored); the
// current one is decoded first, as the recorder always did.
std::vector<cv::Mat> frames_around(leveldb::DB& handle, const std::string& key) {
    const auto before = new_cursor(handle);
    const auto after = new_cursor(handle);
    before->Seek(key);
    after->Seek(key);
    if (!after->Valid() || after->key() != leveldb::Slice(key))
        return {};
    const cv::Mat current = frame_under(*after);
    frame_walk walk;
    walk.previous(*before);
    walk.next(*after);
    std::vector<cv::Mat> frames;
    for (cv::Mat frame : {frame_under(*before), current, frame_under(*after)}) {
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

stitch_outcome stitch_and_save(leveldb::DB& handle, const std::string& key,
                               const std::string& path) {
    const std::vector<cv::Mat> frames = frames_around(handle, key);
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

stitch_outcome stitch_and_save(const session_reader& reader, const std::string& path) {
    const leveldb::Iterator& cursor = reader.current_cursor();
    return stitch_and_save(reader.handle(), cursor.Valid() ? cursor.key().ToString() : "", path);
}

std::optional<std::string> stitch_error_text(const stitch_outcome& outcome,
                                             const std::string& path) {
    if (outcome.status != cv::Stitcher::OK)
        return "Can't stitch images, error code = " + std::to_string(outcome.status);
    if (!path.empty() && !outcome.written)
        return "Can't write the stitched image " + path;
    return std::nullopt;
}

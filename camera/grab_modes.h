#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <wx/event.h>
#include <wx/string.h>

#include "camera/camera_device.h"

class capture_thread;

// What one frame of the open camera looks like, read before each capture.
struct frame_geometry {
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::int64_t pixel_format = 0;
    int bits_per_pixel = 8; // the pixel format's third byte, at least 8
};

// The pixel format's bits 16 to 23, never less than 8.
int bits_per_pixel_of(std::int64_t pixel_format);

// Reads Width, Height and PixelFormat in this order. Throws std::runtime_error("Error getting frame
// width.", "Error getting frame height." or "Error getting pixel format.").
frame_geometry read_frame_geometry(camera_device& camera);

// The newest camera frame, one byte per pixel, with its camera timestamp. Shared by the capture
// thread (the only writer: `store` takes the lock exclusively) and the readers (the live image
// takes it shared for each copy-out, the recorder to share the newest frame; neither does anything
// else under it). Owned by a grab mode, which destroys it after its threads have ended and after
// every frame it shared has been let go.
class frame_buffer {
public:
    // Reads the geometry of the open camera (its errors propagate), then allocates the image.
    explicit frame_buffer(camera_device& camera);
    explicit frame_buffer(const frame_geometry& geometry);
    frame_buffer(const frame_buffer&) = delete;
    frame_buffer& operator=(const frame_buffer&) = delete;

    // Bytes of the pixels of one camera frame: bits per pixel x height x width / 8, without the
    // line padding and chunk data a camera may add.
    std::int64_t frame_bytes() const;

    // Capture thread: converts a complete camera frame to one grey byte per pixel, turned by 180
    // degrees if asked, and stores it with its timestamp under the exclusive lock. Monochrome
    // formats wider than 8 bits keep the high 8 of their significant bits; Bayer and RGB formats
    // become grey. Line padding is skipped; pixels outside the frame keep their old values. False,
    // and nothing stored, for an incomplete frame or one whose data is shorter than its geometry.
    bool store(const camera_frame& frame, bool rotate180 = false);

    // Readers: a private copy of the newest image, and its timestamp, taken under the shared lock.
    std::uint64_t copy_out(cv::Mat& copy) const;
    // The newest image itself, without a copy, unless its timestamp equals `known` (`frame` is
    // then left as it is). While any holder keeps a shared frame, store writes into another
    // buffer, so the pixels never change under it. Any thread may let it go.
    std::uint64_t share_if_new(std::shared_ptr<const cv::Mat>& frame, std::uint64_t known) const;

    cv::Mat image; // height x width, 8-bit, one channel: the pixels of the current buffer
    std::uint64_t timestamp = 0;
    mutable std::shared_mutex lock;
    const std::int64_t width;
    const std::int64_t height;
    const std::int64_t pixel_format;
    const int bits_per_pixel;

private:
    // A buffer and the count of shared frames that hold it: released with release order and
    // checked with acquire order, so that a holder's last reads come before store's next writes.
    struct pixel_buffer {
        cv::Mat image;
        std::atomic<int> holders{0};
    };
    void take_unheld_pixels(bool keep_old_values);
    void convert(const camera_frame& frame, cv::Mat target) const;

    // Two in steady state: the recorder holds one while store fills the other. More are made only
    // while every one is held.
    std::vector<std::unique_ptr<pixel_buffer>> buffers_;
    pixel_buffer* current_;
};

// Calendar time in whole seconds; the capture thread's only clock (tests replace it).
using seconds_clock = std::function<std::int64_t()>;
std::int64_t system_seconds();

// What a capture takes from the settings; read by the window, handed over as values.
struct capture_settings {
    std::wstring side; // drawn over the live view
    bool rotate180 = false;
    // Called once on the capture thread when the camera stops answering; the thread then ends.
    std::function<void()> on_lost = nullptr;
};

// A grab mode as the recorder holds it. Every mode is made and destroyed on the recorder's
// thread; the live image reads the buffer and the overlay from the GUI thread meanwhile.
class frame_source {
public:
    virtual ~frame_source() = default;
    virtual frame_buffer& buffer() = 0;
    // Drawn by the main window over the live image.
    virtual wxString overlay_text() = 0;
};

// The capture part every grab mode shares: the frame buffer made from the open camera and the
// capture thread filling it, started at the highest priority. The camera must stay open for its
// whole life. The destructor asks the thread to exit (safe at any moment, even before the thread
// has its condition), waits for it, deletes it, and then the frame buffer goes, so no reader
// outlives the writer's stop. A recording mode holds one of these before its write thread, so that
// the write thread (declared later) is destroyed first.
class capture_session {
public:
    // Throws the geometry errors, or std::runtime_error("Error starting capture thread").
    capture_session(wxEvtHandler* owner, const capture_settings& settings, camera_device& camera,
                    seconds_clock clock = system_seconds);
    ~capture_session();
    capture_session(const capture_session&) = delete;
    capture_session& operator=(const capture_session&) = delete;

    frame_buffer& buffer() { return buffer_; }

private:
    frame_buffer buffer_;
    std::unique_ptr<capture_thread> thread_;
};

// Live view: captures until destroyed and shows the configured side over the image.
class continuous_grab : public frame_source {
public:
    // owner receives the capture thread's events.
    continuous_grab(wxEvtHandler* owner, const capture_settings& settings, camera_device& camera,
                    seconds_clock clock = system_seconds);

    frame_buffer& buffer() override { return capture_.buffer(); }
    wxString overlay_text() override { return overlay_; }

private:
    capture_session capture_;
    const wxString overlay_;
};

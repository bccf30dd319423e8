#include "recording/session_db.h"

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gmock/gmock.h>

#include "tests/recording/raw_session.h"
#include "tests/support/temp_home.h"

// The write thread records while data-service threads read the live session and the session is
// closed and reopened under them; the handle must never be released under a reader.
TEST(current_session, recording_reading_and_reopening_run_concurrently) {
    temp_dir root;
    const std::string path = root.path() + "/2021.03.04 12.05.33";
    std::atomic<bool> stop{false};
    std::atomic<int> recorded{0}, served{0}, odd_images{0}, seen_open{0};
    current_session.open(path);
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        for (std::uint32_t dpp = 1; !stop; ++dpp) {
            try {
                current_session.record_frame(test_frame(1), dpp);
                ++recorded;
            } catch (const std::runtime_error&) {
                // closed between two frames: the next open resumes recording
            }
        }
    });
    for (std::uint32_t first = 0; first < 3; ++first)
        threads.emplace_back([&, first] {
            for (std::uint32_t dpp = first; !stop; dpp += 7, ++served) {
                cv::Mat image;
                current_session.read_current_frame(dpp % 500, image);
                // a recorded frame in colour, or the grey not-found picture
                const bool frame = image.type() == CV_8UC3 && image.size() == cv::Size(160, 120);
                odd_images += frame || same_image(image, not_found_image(dpp % 500)) ? 0 : 1;
            }
        });
    threads.emplace_back([&] {
        while (!stop)
            seen_open += current_session.is_open() ? 1 : 0;
    });
    for (int cycle = 0; cycle < 20; ++cycle) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        current_session.close();
        current_session.open(path);
    }
    stop = true;
    for (std::thread& thread : threads)
        thread.join();
    current_session.close();
    EXPECT_THAT((std::vector{recorded.load(), served.load(), seen_open.load()}),
                testing::Each(testing::Gt(0)));
    EXPECT_EQ(odd_images.load(), 0);
    EXPECT_EQ(read_raw_session(path).at("version"), "1");
}

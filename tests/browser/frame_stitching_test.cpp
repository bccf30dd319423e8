#include "browser/frame_saver.h"
#include "browser/frame_stitching.h"

#include <thread>

#include <gtest/gtest.h>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>

#include "recording/session_format.h"
#include "recording/session_store.h"
#include "tests/recording/raw_session.h"
#include "tests/support/event_recorder.h"
#include "tests/support/temp_home.h"
#include "tools/camsim/scene.h"

namespace {
#ifdef __SANITIZE_THREAD__
// The imaging library hands its stitching stages to TBB's pool, which is not built with the
// sanitizer and synchronises in ways it cannot see; without the pool the reports are about our
// own threads only.
const bool imaging_on_the_calling_thread = (cv::setNumThreads(0), true);
#endif

struct stitching : testing::Test {
    temp_dir dir;
    session_store sessions;
    std::string out(const std::string& name) const { return dir.path() + "/" + name; }
    // Frames at DPP 10, 20, ... of the simulated track passing 80 pixels a frame, or of a plain
    // surface, with a key that is no frame key after the first; small, as stitching is slow under
    // the sanitizers.
    std::unique_ptr<session_reader> session(int frames, bool featureless = false) {
        raw_entries entries{{"dpp_start", frame_key(10)},
                            {"dpp_end", frame_key(10 * frames)},
                            {frame_key(10) + "0", "no frame key: passed over"}};
        for (int i = 1; i <= frames; ++i) {
            cv::Mat frame(240, 320, CV_8UC1, cv::Scalar(128));
            if (!featureless)
                scene_renderer(320, 240).draw_mono8(frame.data, 80 * i, 1.0);
            entries[frame_key(10 * i)] = jpeg_of(frame);
        }
        const std::string path = out(std::to_string(frames) + (featureless ? " plain" : ""));
        write_raw_session(path, entries);
        return sessions.open_reader(path);
    }
};
} // namespace

// The first and the last frame are joined with their one neighbour; a frame alone, or frames of a
// surface without features, give the error row; a path that cannot be written, too.
TEST_F(stitching, a_frame_is_joined_with_the_neighbours_that_exist_or_an_error_row_says_why) {
    const auto three = session(3), one = session(1), plain = session(3, true);
    const std::string unstitched = "Can't stitch images, error code = ";
    const struct {
        const session_reader& reader;
        std::uint32_t dpp;
        std::string name, error;
    } cases[] = {
        {*three, 20, "middle.png", ""},
        {*three, 10, "first.png", ""},
        {*three, 30, "last.png", ""},
        {*three, 20, "", ""},
        {*one, 10, "alone.png", unstitched + "1"},
        {*plain, 20, "plain.png", unstitched + "1"},
        {*three, 20, "missing/x.png", "Can't write the stitched image " + out("missing/x.png")}};
    for (const auto& c : cases) {
        const std::string path = c.name.empty() ? "" : out(c.name);
        const auto error = stitch_error_text(stitch_and_save(c.reader, c.dpp, path), path);
        EXPECT_EQ(error.value_or(""), c.error) << c.name;
        EXPECT_EQ(read_file(path).rfind("\x89PNG", 0) == 0, !c.name.empty() && c.error.empty())
            << c.name;
    }
    EXPECT_GT(cv::imread(out("middle.png")).cols, 320 + 80) << "three frames, not two";
    std::thread([&] {
        cv::theRNG().state = 12345; // as if other stitches had drawn from it
        stitch_and_save(*three, 20, out("again.png"));
    }).join();
    EXPECT_EQ(read_file(out("again.png")), read_file(out("middle.png")))
        << "the same image on any thread, whatever was stitched there before";
    // Stitches take seconds: a cancel lets the one under way end and begins no other.
    event_recorder owner;
    int done = -1; // files done when the saver ended
    owner.Bind(wxEVT_THREAD, [&](wxThreadEvent& event) {
        if (event.GetId() == id_save_end)
            done = event.GetInt();
    });
    frame_saver saver(&owner, *three, std::vector<save_item>(3, {20, out("middle.png")}));
    saver.cancel();
    ASSERT_TRUE(owner.pump_until([&] { return done >= 0; }));
    EXPECT_LE(done, 1);
}

TEST(equalize_frame, spreads_a_dark_frame_over_the_whole_range) {
    cv::Mat frame(64, 64, CV_8UC3);
    for (int y = 0; y < 64; ++y)
        frame.row(y).setTo(cv::Scalar::all(10 + y / 2));
    equalize_frame(frame);
    double low = 0, high = 0;
    cv::minMaxLoc(frame.reshape(1), &low, &high);
    EXPECT_EQ(std::pair(low, high), std::pair(0.0, 255.0));
    const cv::Mat pixels = frame.reshape(1, static_cast<int>(frame.total())); // one row a pixel
    EXPECT_EQ(cv::norm(pixels.col(0), pixels.col(2), cv::NORM_INF), 0);
}

TEST_F(stitching, a_save_plan_covers_100_files_and_leaves_the_cursor_as_a_sequential_save_would) {
    raw_entries entries{{"dpp_start", frame_key(0)}, {"dpp_end", frame_key(149)}};
    for (std::uint32_t dpp = 0; dpp < 150; ++dpp)
        entries[frame_key(dpp)] = "x";
    entries[frame_key(50) + "0"] = "no frame key: passed over";
    write_raw_session(out("s"), entries);
    const auto reader = sessions.open_reader(out("s"));
    const struct {
        std::uint32_t from;
        std::size_t files;
        std::uint32_t cursor;
    } cases[] = {{0, 100, 100}, {49, 100, 149}, {140, 10, 149}, {149, 1, 149}};
    for (const auto& c : cases) {
        reader->current().seek(c.from);
        const save_plan plan = plan_save(*reader);
        EXPECT_EQ(plan.files(), c.files) << c.from;
        EXPECT_EQ(plan.cursor_after(plan.files()), c.cursor) << c.from;
        EXPECT_EQ(plan.cursor_after(0), c.from) << "cancelled before the first file";
    }
    // Two sessions in one folder: the range ends before the first frame, which is still saved.
    write_raw_session(out("odd"), {{frame_key(7), "x"},
                                   {frame_key(120), "x"},
                                   {"dpp_start", frame_key(120)},
                                   {"dpp_end", frame_key(7)}});
    const auto odd = sessions.open_reader(out("odd"));
    odd->current().seek(120);
    EXPECT_EQ(plan_save(*odd).dpps, std::vector<std::uint32_t>{120});
    // Names keep the folder and an extension that can be written.
    for (const char* name : {"/d/x.png", "/d/x", "/d/x.txt"})
        EXPECT_EQ(saved_frame_path(name, 7), "/d/0000000007.png") << name;
    EXPECT_EQ(saved_frame_path("/d/x.jpg", 7), "/d/0000000007.jpg");
}

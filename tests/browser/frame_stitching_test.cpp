#include "browser/frame_saver.h"
#include "browser/frame_stitching.h"

#include <filesystem>

#include <gtest/gtest.h>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>

#include "recording/session_db.h"
#include "recording/session_format.h"
#include "tests/recording/raw_session.h"
#include "tests/support/event_recorder.h"
#include "tests/support/temp_home.h"
#include "tools/camsim/scene.h"

namespace {
namespace fs = std::filesystem;

#ifdef __SANITIZE_THREAD__
// The imaging library hands its stitching stages to TBB's pool, which is not built with the
// sanitizer and synchronises in ways it cannot see; without the pool the reports are about our
// own threads only.
const bool imaging_on_the_calling_thread = (cv::setNumThreads(0), true);
#endif

// Frames at DPP 10, 20, ... of the simulated track passing 80 pixels a frame, or of a plain
// surface; small, as stitching is slow under the sanitizers.
raw_entries session_of(int frames, bool featureless = false) {
    raw_entries entries{{"dpp_start", frame_key(10)}, {"dpp_end", frame_key(10 * frames)}};
    for (int i = 1; i <= frames; ++i) {
        cv::Mat frame(240, 320, CV_8UC1, cv::Scalar(128));
        if (!featureless)
            scene_renderer(320, 240).draw_mono8(frame.data, 80 * i, 1.0);
        entries[frame_key(10 * i)] = jpeg_of(frame);
    }
    return entries;
}

struct stitching : testing::Test {
    temp_dir dir;
    std::string folder(const std::string& name, const raw_entries& entries) {
        write_raw_session(dir.path() + "/" + name, entries);
        return dir.path() + "/" + name;
    }
    std::string out(const std::string& name) const { return dir.path() + "/" + name; }
};

bool is_png(const std::string& path) {
    return read_file(path).rfind("\x89PNG", 0) == 0;
}

// Keeps what a saver queues: (id, files done) and the error rows.
struct saver_owner : event_recorder {
    std::vector<std::pair<int, int>> events;
    std::vector<wxString> errors;
    saver_owner() {
        Bind(wxEVT_THREAD, [this](wxThreadEvent& event) {
            events.emplace_back(event.GetId(), event.GetInt());
            if (!event.GetString().empty())
                errors.push_back(event.GetString());
        });
    }
    bool ended() {
        return pump_until([&] { return !events.empty() && events.back().first == id_save_end; });
    }
};
} // namespace

TEST_F(stitching, a_frame_is_joined_with_the_neighbours_that_exist) {
    const session_reader three(folder("three", session_of(3))), one(folder("one", session_of(1)));
    const struct {
        const session_reader& reader;
        std::uint32_t dpp;
        int status;
    } cases[] = {{three, 20, 0}, {three, 10, 0}, {three, 30, 0}, {one, 10, 1}};
    for (const auto& c : cases) {
        const std::string path =
            out(std::to_string(c.dpp) + "-" + std::to_string(c.status) + ".png");
        const stitch_outcome outcome = stitch_and_save(c.reader.handle(), frame_key(c.dpp), path);
        EXPECT_EQ(outcome.status, c.status) << c.dpp;
        EXPECT_EQ(is_png(path), c.status == 0) << c.dpp;
        if (c.status) {
            EXPECT_EQ(stitch_error_text(outcome, path), "Can't stitch images, error code = 1");
        }
    }
    EXPECT_GT(cv::imread(out("20-0.png")).cols, 320 + 80) << "three frames, not two";
}

TEST_F(stitching, failures_write_no_file_and_an_empty_path_writes_nothing) {
    session_reader plain(folder("plain", session_of(3, true)));
    plain.seek_frame(20);
    const stitch_outcome featureless = stitch_and_save(plain, out("plain.png"));
    EXPECT_NE(featureless.status, 0);
    EXPECT_EQ(stitch_error_text(featureless, out("plain.png")),
              "Can't stitch images, error code = " + std::to_string(featureless.status));
    const session_reader scene(folder("scene", session_of(3)));
    const stitch_outcome unnamed = stitch_and_save(scene.handle(), frame_key(20), "");
    EXPECT_EQ(unnamed.status, 0);
    EXPECT_FALSE(stitch_error_text(unnamed, ""));
    const std::string nowhere = out("missing/folder.png");
    const auto unwritable =
        stitch_error_text(stitch_and_save(scene.handle(), frame_key(20), nowhere), nowhere);
    EXPECT_EQ(unwritable, "Can't write the stitched image " + nowhere);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 2) << "the two sessions only";
}

TEST(equalize_frame, spreads_a_dark_frame_over_the_whole_range) {
    cv::Mat frame(64, 64, CV_8UC3);
    for (int y = 0; y < 64; ++y)
        frame.row(y).setTo(cv::Scalar::all(10 + y / 2));
    equalize_frame(frame);
    double low = 0, high = 0;
    cv::minMaxLoc(frame.reshape(1), &low, &high);
    EXPECT_EQ(low, 0);
    EXPECT_EQ(high, 255);
    std::vector<cv::Mat> channels;
    cv::split(frame, channels);
    EXPECT_EQ(cv::norm(channels[0], channels[2], cv::NORM_INF), 0);
}

TEST_F(stitching, the_saver_writes_each_file_in_order_and_a_cancel_stops_it) {
    const session_reader reader(folder("four", session_of(4)));
    std::vector<save_item> items;
    for (std::uint32_t dpp : {10, 20, 30, 40})
        items.push_back({frame_key(dpp), out(frame_key(dpp) + ".png")});
    items.push_back({frame_key(40), out("missing/x.png")});
    saver_owner owner;
    {
        const frame_saver saver(&owner, reader.handle(), items);
        ASSERT_TRUE(owner.ended());
    }
    const std::vector<std::pair<int, int>> steps{{20, 1}, {20, 2}, {20, 3},
                                                 {20, 4}, {20, 5}, {21, 5}};
    EXPECT_EQ(owner.events, steps);
    ASSERT_EQ(owner.errors.size(), 1u);
    EXPECT_TRUE(owner.errors[0].Contains("missing/x.png"));
    for (const save_item& item : std::vector(items.begin(), items.end() - 1))
        EXPECT_TRUE(is_png(item.path)) << item.path;
    saver_owner cancelled;
    frame_saver saver(&cancelled, reader.handle(), items);
    saver.cancel();
    ASSERT_TRUE(cancelled.ended());
    EXPECT_LE(cancelled.events.back().second, 1) << "at most the stitch under way";
}

TEST(save_plan, covers_100_files_and_leaves_the_cursor_where_a_sequential_save_would) {
    temp_dir dir;
    raw_entries entries{{"dpp_start", frame_key(0)}, {"dpp_end", frame_key(149)}};
    for (std::uint32_t dpp = 0; dpp < 150; ++dpp)
        entries[frame_key(dpp)] = "x";
    write_raw_session(dir.path() + "/s", entries);
    session_reader reader(dir.path() + "/s");
    const struct {
        std::uint32_t from;
        std::size_t files;
        std::uint32_t cursor;
    } cases[] = {{0, 100, 100}, {49, 100, 149}, {140, 10, 149}, {149, 1, 149}};
    for (const auto& c : cases) {
        reader.seek_frame(c.from);
        const save_plan plan = plan_save(reader);
        EXPECT_EQ(plan.files(), c.files) << c.from;
        EXPECT_EQ(plan.cursor_after(plan.files()), frame_key(c.cursor)) << c.from;
        EXPECT_EQ(plan.cursor_after(0), frame_key(c.from)) << "cancelled before the first file";
    }
}

TEST(save_plan, names_keep_the_folder_and_an_extension_that_can_be_written) {
    const char* const cases[][2] = {{"/d/x.png", "/d/0000000007.png"},
                                    {"/d/x.jpg", "/d/0000000007.jpg"},
                                    {"/d/x", "/d/0000000007.png"},
                                    {"/d/x.txt", "/d/0000000007.png"}};
    for (const auto& c : cases)
        EXPECT_EQ(saved_frame_path(c[0], frame_key(7)), c[1]);
}

#include "browser/viewer_dialog.h"

#include <chrono>
#include <cmath>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <wx/app.h>
#include <wx/dcmemory.h>
#include <wx/frame.h>

#include "recording/session_format.h"
#include "tests/browser/scripted_prompts.h"
#include "tests/browser/whole_frame_drawing.h"
#include "tests/recording/raw_session.h"
#include "tests/support/temp_home.h"

namespace {
namespace fs = std::filesystem;

// A panel in a window, and what it paints next to what the whole-frame drawing paints.
struct panel_fixture : testing::Test {
    wxFrame* window = new wxFrame(nullptr, wxID_ANY, "test");
    VImagePanel* panel = new VImagePanel(window);
    ~panel_fixture() override { window->Destroy(); }

    template <typename Draw> static wxImage drawn(wxSize size, Draw draw) {
        wxBitmap bitmap(size);
        wxMemoryDC dc(bitmap);
        draw(dc);
        dc.SelectObject(wxNullBitmap);
        return bitmap.ConvertToImage();
    }
    void send(wxEventType type, int x, int y, int rotation = 0, bool left = false) {
        wxMouseEvent event(type);
        event.m_x = x;
        event.m_y = y;
        event.m_wheelRotation = rotation;
        event.m_wheelDelta = 120;
        event.m_leftDown = left;
        panel->GetEventHandler()->ProcessEvent(event);
    }
};

// Pixels of a that b does not hold at the same place. The toolkit's fixed-point scaling puts
// some boundaries between frame pixels one window pixel off at a fractional zoom; unless exact, a
// pixel that b holds at one of the eight places around counts as alike.
int mismatches(const wxImage& a, const wxImage& b, bool exact) {
    const cv::Mat one(a.GetHeight(), a.GetWidth(), CV_8UC3, a.GetData());
    const cv::Mat other(b.GetHeight(), b.GetWidth(), CV_8UC3, b.GetData());
    cv::Mat unlike = cv::Mat::ones(one.size(), CV_8U);
    const int shifts[][2] = {{0, 0}, {1, 0},  {-1, 0}, {0, 1},  {0, -1},
                             {1, 1}, {1, -1}, {-1, 1}, {-1, -1}};
    for (int i = 0; i < (exact ? 1 : 9); ++i) {
        const cv::Matx23d move(1, 0, shifts[i][0], 0, 1, shifts[i][1]);
        cv::Mat moved, difference, equal;
        cv::warpAffine(other, moved, move, other.size(), cv::INTER_NEAREST, cv::BORDER_REPLICATE);
        cv::absdiff(one, moved, difference);
        cv::inRange(difference, cv::Scalar::all(0), cv::Scalar::all(0), equal);
        unlike.setTo(0, equal);
    }
    return cv::countNonZero(unlike);
}

struct viewer_fixture : testing::Test {
    temp_dir dir;
    scripted_prompts prompts;
    std::vector<wxString> errors;
    wxFrame* window = new wxFrame(nullptr, wxID_ANY, "test");
    viewer_dialog* viewer = nullptr;

    // Frames of noise, which do not stitch; saving writes an error row for each.
    void open(std::initializer_list<std::uint32_t> dpps) {
        raw_entries entries{{"dpp_start", frame_key(*dpps.begin())},
                            {"dpp_end", frame_key(*(dpps.end() - 1))}};
        for (std::uint32_t dpp : dpps)
            entries[frame_key(dpp)] = jpeg_of(test_frame(dpp));
        write_raw_session(dir.path() + "/s", entries);
        viewer =
            new viewer_dialog(window, std::make_unique<session_reader>(dir.path() + "/s"), prompts,
                              [this](const wxString& text) { errors.push_back(text); });
    }
    ~viewer_fixture() override {
        delete viewer;
        window->Destroy();
    }
    void go_to(double dpp) {
        wxSpinDoubleEvent event(wxEVT_SPINCTRLDOUBLE, 17, dpp);
        viewer->GetEventHandler()->ProcessEvent(event);
    }
    bool shows(std::uint32_t dpp) const {
        return same_image(viewer->frame(), decoded(jpeg_of(test_frame(dpp))));
    }
    void save() {
        wxCommandEvent press(wxEVT_BUTTON, 18);
        viewer->GetEventHandler()->ProcessEvent(press);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (viewer->saving() && std::chrono::steady_clock::now() < deadline) {
            wxTheApp->ProcessPendingEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    std::string cursor_key() const { return viewer->reader().current_cursor().key().ToString(); }
};
} // namespace

// Frame, ruler and black around them land on the same window pixels as the whole frame drawn
// through the context's scale, after each wheel turn, drag and pointer movement.
TEST_F(panel_fixture, paints_what_the_whole_frame_drawing_paints) {
    window->SetClientSize(200, 150);
    panel->SetSize(200, 150);
    cv::Mat frame(48, 64, CV_8UC3);
    cv::randu(frame, 0, 256);
    panel->set_frame(frame);
    const struct {
        wxEventType type;
        int x, y, rotation;
        bool left;
    } steps[] = {{wxEVT_MOTION, 120, 100, 0, false},  {wxEVT_MOUSEWHEEL, 0, 0, 120, false},
                 {wxEVT_LEFT_DOWN, 10, 10, 0, true},  {wxEVT_MOTION, 3, 17, 0, true},
                 {wxEVT_MOUSEWHEEL, 0, 0, 60, false}, {wxEVT_MOTION, -20, -9, 0, true},
                 {wxEVT_MOUSEWHEEL, 0, 0, 840, false}};
    for (const auto& step : steps) {
        send(step.type, step.x, step.y, step.rotation, step.left);
        const wxImage painted = drawn({200, 150}, [&](wxDC& dc) { panel->paint(dc); });
        const wxImage reference = drawn({200, 150}, [&](wxDC& dc) {
            draw_whole_frame(dc, frame, panel->view(), panel->ruler_scale(), true);
        });
        const double zoom = panel->view().zoom;
        EXPECT_EQ(mismatches(painted, reference, zoom == std::floor(zoom)), 0) << "zoom " << zoom;
    }
    EXPECT_EQ(panel->view().zoom, 9.5);
}

TEST_F(viewer_fixture, opens_at_the_first_frame_over_the_range_in_steps_of_5) {
    open({1000, 1003, 1005, 1010, 1012});
    EXPECT_EQ(viewer->dpp_control().GetMin(), 1000);
    EXPECT_EQ(viewer->dpp_control().GetMax(), 1012);
    EXPECT_EQ(viewer->dpp_control().GetIncrement(), 5);
    EXPECT_EQ(viewer->dpp_control().GetValue(), 1000);
    EXPECT_TRUE(shows(1000));
    for (auto [chosen, shown] : {std::pair{1001.0, 1003u}, {1006.9, 1010u}, {1012.0, 1012u}}) {
        go_to(chosen);
        EXPECT_TRUE(shows(shown)) << chosen;
    }
}

TEST_F(viewer_fixture, saving_near_the_end_stops_the_cursor_on_the_last_frame) {
    open({1000, 1003, 1005, 1010, 1012});
    go_to(1010);
    fs::create_directory(dir.path() + "/out");
    prompts.save_path = dir.path() + "/out/any.png";
    save();
    const auto written = std::distance(fs::directory_iterator(dir.path() + "/out"), {});
    EXPECT_EQ(written + errors.size(), 2u) << "each file is written or reported";
    save();
    const std::vector<wxString> asked{L"Сохранить файл: 0000001010.png Файлы png (*.png)|*.png",
                                      L"Сохранить файл: 0000001012.png Файлы png (*.png)|*.png"};
    EXPECT_EQ(prompts.asked, asked);
    EXPECT_EQ(prompts.progress[0], L"Сохранить кадр: Файл 1 из 2");
    EXPECT_EQ(prompts.progress[1], L"Файл 2 из 2");
    EXPECT_EQ(cursor_key(), "0000001012");
    EXPECT_TRUE(shows(1010)) << "the shown frame stays";
}

TEST_F(viewer_fixture, a_cancelled_save_leaves_the_cursor_after_the_files_done) {
    open({1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007});
    prompts.save_path = dir.path() + "/any.png";
    prompts.on_progress = [&](int) { prompts.cancel(); };
    save();
    const std::size_t done = prompts.progress.size() - 1;
    EXPECT_LE(done, 2u) << "the stitch under way ends, no other begins";
    EXPECT_EQ(cursor_key(), frame_key(1000 + static_cast<std::uint32_t>(done)));
}

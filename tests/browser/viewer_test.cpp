#include "browser/viewer_dialog.h"

#include <filesystem>
#include <thread>

#include <gtest/gtest.h>
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

struct viewer_fixture : testing::Test {
    temp_dir dir;
    session_store sessions;
    scripted_prompts prompts;
    std::vector<wxString> errors;
    wxFrame* window = new wxFrame(nullptr, wxID_ANY, "test");
    viewer_dialog* viewer = nullptr;
    ~viewer_fixture() override {
        delete viewer;
        window->Destroy();
    }
    void send(wxEvent&& event) { viewer->GetEventHandler()->ProcessEvent(event); }
    void go_to(double dpp) { send(wxSpinDoubleEvent(wxEVT_SPINCTRLDOUBLE, 17, dpp)); }
    bool shows(std::uint32_t dpp) const {
        return same_image(viewer->frame(), decoded(jpeg_of(test_frame(dpp))));
    }
    void save() {
        send(wxCommandEvent(wxEVT_BUTTON, 18));
        for (int wait = 0; viewer->saving() && wait < 30000; ++wait) {
            wxTheApp->ProcessPendingEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
};

cv::Mat drawn(const std::function<void(wxDC&)>& draw) {
    wxBitmap bitmap(200, 150);
    wxMemoryDC dc(bitmap);
    draw(dc);
    dc.SelectObject(wxNullBitmap);
    return cv::Mat(150, 200, CV_8UC3, bitmap.ConvertToImage().GetData()).clone();
}

// Pixels of one that the other holds neither at the same place nor, with reach 1, at one of the
// eight around: at a fractional zoom the toolkit's fixed-point scaling puts some boundaries between
// frame pixels one window pixel off.
int mismatches(const cv::Mat& one, const cv::Mat& other, int reach) {
    cv::Mat unlike = cv::Mat::ones(one.size(), CV_8U), moved, difference, equal;
    for (int dy = -reach; dy <= reach; ++dy)
        for (int dx = -reach; dx <= reach; ++dx) {
            cv::warpAffine(other, moved, cv::Matx23d(1, 0, dx, 0, 1, dy), other.size(),
                           cv::INTER_NEAREST, cv::BORDER_REPLICATE);
            cv::absdiff(one, moved, difference);
            cv::inRange(difference, cv::Scalar::all(0), cv::Scalar::all(0), equal);
            unlike.setTo(0, equal);
        }
    return cv::countNonZero(unlike);
}
} // namespace

// Frame, ruler and black around them land on the same window pixels as the whole frame drawn
// through the context's scale, after each wheel turn, drag and pointer movement. A notch changes
// the zoom by one, down to one at the least; a drag that began on the panel moves the frame by
// window pixels, one begun elsewhere moves nothing; the ruler follows the pointer.
TEST_F(viewer_fixture, the_panel_paints_what_the_whole_frame_drawing_paints) {
    auto* panel = new VImagePanel(window);
    panel->SetSize(200, 150);
    cv::Mat frame(48, 64, CV_8UC3);
    cv::randu(frame, 0, 256);
    panel->set_frame(frame);
    // At a fractional zoom the ruler stays off the frame: its text blends with the pixels under
    // it, which may lie one window pixel off.
    const struct {
        wxEventType type;
        int x, y, rotation, delta;
        bool left;
        double zoom;
        view_point offset;
    } steps[] = {{wxEVT_MOTION, 30, 40, 0, 0, true, 1.0, {0, 0}},
                 {wxEVT_MOUSEWHEEL, 0, 0, 120, 120, false, 2.0, {0, 0}},
                 {wxEVT_LEFT_DOWN, 10, 10, 0, 0, true, 2.0, {0, 0}},
                 {wxEVT_MOTION, 15, 7, 0, 0, true, 2.0, {5, -3}},
                 {wxEVT_MOTION, 16, 7, 0, 0, true, 2.0, {6, -3}},
                 {wxEVT_MOUSEWHEEL, 0, 0, 60, 120, false, 2.5, {6, -3}},
                 {wxEVT_MOTION, -20, -9, 0, 0, true, 2.5, {-30, -19}},
                 {wxEVT_LEFT_UP, 0, 0, 0, 0, false, 2.5, {-30, -19}},
                 {wxEVT_MOTION, -50, -40, 0, 0, false, 2.5, {-30, -19}},
                 {wxEVT_MOUSEWHEEL, 0, 0, 120, 0, false, 2.5, {-30, -19}},
                 {wxEVT_MOUSEWHEEL, 0, 0, -600, 120, false, 1.0, {-30, -19}},
                 {wxEVT_MOUSEWHEEL, 0, 0, 840, 120, false, 8.0, {-30, -19}}};
    for (const auto& step : steps) {
        wxMouseEvent event(step.type);
        event.m_x = step.x, event.m_y = step.y, event.m_leftDown = step.left;
        event.m_wheelRotation = step.rotation, event.m_wheelDelta = step.delta;
        panel->GetEventHandler()->ProcessEvent(event);
        const panel_view& view = panel->view();
        EXPECT_EQ(std::pair(view.zoom, view.offset), std::pair(step.zoom, step.offset));
        EXPECT_TRUE(step.type != wxEVT_MOTION || view.origin == (view_point{step.x, step.y}))
            << "the ruler follows the pointer";
        const cv::Mat reference =
            drawn([&](wxDC& dc) { draw_whole_frame(dc, frame, view, 0.8, true); });
        const cv::Mat painted = drawn([&](wxDC& dc) { panel->paint(dc); });
        EXPECT_EQ(mismatches(painted, reference, view.zoom == int(view.zoom) ? 0 : 1), 0)
            << "zoom " << view.zoom;
    }
}

// Frames of noise, which do not stitch: a save writes an error row for each. Saving near the end
// stops the cursor on the last frame and leaves the shown frame.
TEST_F(viewer_fixture, opens_at_the_first_frame_over_the_range_in_steps_of_5_and_saves) {
    raw_entries entries{{"dpp_start", frame_key(1000)}, {"dpp_end", frame_key(1012)}};
    for (std::uint32_t dpp : {1000, 1003, 1005, 1010, 1012})
        entries[frame_key(dpp)] = jpeg_of(test_frame(dpp));
    write_raw_session(dir.path() + "/s", entries);
    viewer = new viewer_dialog(window, sessions.open_reader(dir.path() + "/s"), prompts,
                               [this](const wxString& text) { errors.push_back(text); });
    const wxSpinCtrlDouble& dpp = viewer->dpp_control();
    EXPECT_EQ(std::vector({dpp.GetMin(), dpp.GetMax(), dpp.GetIncrement(), dpp.GetValue()}),
              std::vector({1000.0, 1012.0, 5.0, 1000.0}));
    EXPECT_TRUE(shows(1000));
    for (auto [chosen, shown] : {std::pair{1001.0, 1003u}, {1006.9, 1010u}, {1012.0, 1012u}}) {
        go_to(chosen);
        EXPECT_TRUE(shows(shown)) << chosen;
    }
    go_to(1010);
    fs::create_directory(dir.path() + "/out");
    prompts.save_path = dir.path() + "/out/any.png";
    save();
    const auto written = std::distance(fs::directory_iterator(dir.path() + "/out"), {});
    EXPECT_EQ(written + errors.size(), 2u) << "each file is written or reported";
    save();
    EXPECT_EQ(prompts.asked, std::vector<wxString>({
                                 L"Сохранить файл: 0000001010.png Файлы png (*.png)|*.png",
                                 L"Сохранить файл: 0000001012.png Файлы png (*.png)|*.png",
                             }));
    EXPECT_EQ(prompts.progress[0], L"Сохранить кадр: Файл 1 из 2");
    EXPECT_EQ(prompts.progress[1], L"Файл 2 из 2");
    EXPECT_EQ(viewer->reader().current().dpp(), 1012u);
    EXPECT_TRUE(shows(1010));
}

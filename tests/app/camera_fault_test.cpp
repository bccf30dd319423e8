// The main window over the real camera layer and tresvik-camsim. Runs inside the loopback-only
// namespace (scripts/isolated.sh) and moves into a namespace of its own, so that no other test's
// simulator is seen.

#include <chrono>
#include <memory>

#include <gmock/gmock.h>
#include <wx/app.h>
#include <wx/timer.h>

#include "app/tresvik_frame.h"
#include "harness/child_process.h"
#include "log/log_viewer.h"
#include "tests/support/private_network.h"
#include "tests/support/temp_home.h"

namespace {
using namespace std::chrono_literals;
using steady = std::chrono::steady_clock;

// The GUI thread's event loop as the operator meets it: a timer every 20 ms, and the longest time
// between two of its ticks since the window showed (the toolkit's first window takes its time).
struct answering_loop : wxTimer {
    steady::time_point last_tick = steady::now();
    steady::duration longest{};
    int ticks = 0;

    answering_loop() { Start(20); }
    void Notify() override {
        longest = std::max(longest, steady::now() - last_tick);
        last_tick = steady::now();
        ++ticks;
    }
    // Runs the loop until the condition holds and the timer has ticked twice since the call, so
    // that the time the caller spent outside the loop counts too; false after 30 s.
    bool run_until(const std::function<bool()>& condition) {
        const int seen = ticks;
        const auto deadline = steady::now() + 30s;
        while ((!condition() || ticks < seen + 2) && steady::now() < deadline) {
            wxTheApp->Yield(true);
            wxMilliSleep(1);
        }
        return condition();
    }
};
} // namespace

// A camera that vanishes while it captures (its simulator killed) costs the window nothing: its
// event loop answers within 100 ms all along, while the camera is found and opened, the exposure
// mode fails on the lost camera, the loss is logged within 2 s, and the camera, back, is opened
// again and captures as before.
TEST(camera_fault, a_camera_that_vanishes_while_capturing_never_holds_up_the_window) {
    ASSERT_TRUE(enter_private_network());
    temp_home home;
    const auto start_camsim = [] {
        auto camsim = std::make_unique<child_process>(std::vector<std::string>{
            built_program("tresvik-camsim"), "--width=320", "--height=240", "--fps=50"});
        return camsim->line_after("tresvik-camsim ready") ? std::move(camsim) : nullptr;
    };
    auto camsim = start_camsim();
    ASSERT_TRUE(camsim);
    auto* frame = new tresvik_frame(nullptr, id_main_window, "camera fault", wxDefaultPosition,
                                    wxDefaultSize, {0, false});
    std::vector<wxString> boxes;
    frame->show_failures_with(nullptr, [&](const wxString& text) { boxes.push_back(text); });
    frame->Show();
    answering_loop loop;
    ASSERT_TRUE(loop.run_until([&] {
        const command_state state = frame->current_command_state();
        return state.camera_open && !state.recorder_busy;
    }));
    const auto command = [&](int id, wxEventType type = wxEVT_MENU) {
        wxCommandEvent event(type, id);
        event.SetString("ContinuousPreset1"); // the exposure list's choice
        frame->GetEventHandler()->ProcessEvent(event);
    };
    command(id_capture);
    wxStatusBar& status = *frame->GetStatusBar();
    ASSERT_TRUE(loop.run_until([&] { return status.GetStatusText(1).StartsWith("timestamp: "); }));
    camsim.reset();
    const auto killed = steady::now();
    command(id_exposure_list, wxEVT_COMBOBOX);
    const wxString& log =
        wxDynamicCast(frame->FindWindow(id_log_pane), log_viewer)->received_text();
    ASSERT_TRUE(loop.run_until([&] { return log.Contains("Camera lost"); }));
    EXPECT_LT(steady::now() - killed, 2s);
    ASSERT_TRUE(loop.run_until([&] { return !frame->current_command_state().camera_open; }));
    ASSERT_TRUE(camsim = start_camsim());
    status.SetStatusText("", 1);
    ASSERT_TRUE(loop.run_until([&] { return status.GetStatusText(1).StartsWith("timestamp: "); }));
    EXPECT_TRUE(frame->current_command_state().capturing);
    command(id_stop);
    EXPECT_TRUE(loop.run_until([&] { return !frame->current_command_state().recorder_busy; }));
    EXPECT_THAT(boxes, testing::ElementsAre("Error setting exposure mode."));
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(loop.longest).count(), 100);
    delete frame;
}

// The viewer on 1920 x 1200 frames of the simulated track: (1) the redraw after a pointer movement
// at zoom 1, 2, 4 and 8, the image panel against the whole frame converted and drawn scaled each
// time (goal: p95 <= 16 ms at every zoom); (2) a move to another DPP until the frame is drawn
// (goal: p95 <= 30 ms); (3) saving stitched frames on the worker against the same files saved one
// after the other on the GUI thread (goal: no longer), with the progress updates counted, the
// longest wait of the GUI thread and both sets of files compared. Each drawing is waited for by the
// display server. Runs on a display:
// scripts/with-display.sh build/bin/bench-viewer [files to save, default 20; the viewer saves 100
// where the session has them, but a hundred stitches take minutes on each side]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <opencv2/core/utility.hpp>
#include <wx/app.h>
#include <wx/dcclient.h>
#include <wx/init.h>
#include <wx/utils.h>

#include "bench/session_bench_support.h"
#include "browser/frame_stitching.h"
#include "browser/viewer_dialog.h"
#include "recording/session_format.h"
#include "tests/browser/scripted_prompts.h"
#include "tests/browser/whole_frame_drawing.h"
#include "tools/camsim/scene.h"

// Last: its macros (Status, None, ...) would break the headers above.
#include <X11/Xlib.h>

namespace {
constexpr int frames = 40;
constexpr int pointer_moves = 200;
constexpr int dpp_moves = 60;
constexpr std::uint32_t first_dpp = 1000, dpp_step = 10;

using clock_type = std::chrono::steady_clock;

std::string spread(const std::vector<double>& ms) {
    char text[64];
    std::snprintf(text, sizeof text, "p50 %6.2f  p95 %6.2f", percentile(ms, 0.5),
                  percentile(ms, 0.95));
    return text;
}

// Milliseconds of one drawing, until the display server has it.
template <typename Draw> double timed(Draw draw) {
    const auto start = clock_type::now();
    draw();
    XSync(wxGetX11Display(), False);
    return seconds_since(start) * 1e3;
}

// The track passing 480 pixels a frame: consecutive frames overlap by three quarters.
void record_session(const std::string& path) {
    scene_renderer scene(1920, 1200);
    cv::Mat frame(1200, 1920, CV_8UC1);
    session_writer writer;
    writer.open(path);
    for (int i = 0; i < frames; ++i) {
        scene.draw_mono8(frame.data, 480u * i, 1.0);
        writer.record_frame(frame, first_dpp + dpp_step * i);
    }
}

void send_mouse(VImagePanel& panel, wxEventType type, int x, int y, bool left, int rotation = 0) {
    wxMouseEvent event(type);
    event.m_x = x, event.m_y = y, event.m_leftDown = left;
    event.m_wheelRotation = rotation, event.m_wheelDelta = 120;
    panel.GetEventHandler()->ProcessEvent(event);
}

// One row: the whole frame drawn through a client context after each movement, then the panel
// painting after movements of the pointer alone and of drags.
void compare_pointer_redraws(VImagePanel& panel, const cv::Mat& frame, int zoom) {
    send_mouse(panel, wxEVT_MOUSEWHEEL, 0, 0, false, 120 * (zoom - int(panel.view().zoom)));
    std::vector<double> whole, moves, drags;
    send_mouse(panel, wxEVT_LEFT_UP, 0, 0, false);
    for (int i = 0; i < pointer_moves; ++i) {
        send_mouse(panel, wxEVT_MOTION, 100 + i % 400, 100 + i % 300, false);
        whole.push_back(timed([&] {
            wxClientDC dc(&panel);
            draw_whole_frame(dc, frame, panel.view(), panel.ruler_scale(), true);
        }));
        moves.push_back(timed([&] { panel.Update(); }));
    }
    send_mouse(panel, wxEVT_LEFT_DOWN, 300, 200, true);
    for (int i = 0; i < pointer_moves; ++i) {
        send_mouse(panel, wxEVT_MOTION, 300 - i % 2, 200, true);
        drags.push_back(timed([&] { panel.Update(); }));
    }
    send_mouse(panel, wxEVT_LEFT_UP, 0, 0, false);
    std::printf("zoom %d   whole frame: %s   panel, pointer: %s   panel, drag: %s\n", zoom,
                spread(whole).c_str(), spread(moves).c_str(), spread(drags).c_str());
}

void measure_dpp_moves(viewer_dialog& viewer) {
    std::vector<double> ms;
    cv::RNG rng(7);
    for (int i = 0; i < dpp_moves; ++i) {
        const double dpp = first_dpp + dpp_step * rng.uniform(0, frames) + rng.uniform(0, 5);
        ms.push_back(timed([&] {
            viewer.dpp_control().SetValue(dpp);
            wxSpinDoubleEvent event(wxEVT_SPINCTRLDOUBLE, viewer.dpp_control().GetId(), dpp);
            viewer.GetEventHandler()->ProcessEvent(event);
            viewer.panel().Update();
        }));
    }
    std::printf("move to another DPP until drawn (%d moves): %s ms (goal p95 <= 30)\n", dpp_moves,
                spread(ms).c_str());
}

std::uint32_t first_saved_dpp(int files) {
    return first_dpp + dpp_step * static_cast<std::uint32_t>(frames - files);
}

void print_error(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
}

// The recorder's loop on the GUI thread over the same files: after each file the reader's cursor
// steps on unless it stands on the last frame.
double sequential_save(const session_reader& reader, const std::string& folder, int files) {
    stitch_and_save(reader, first_dpp, ""); // sets the imaging library up: neither side pays for it
    frame_cursor cursor = reader.frames();
    cursor.seek(first_saved_dpp(files));
    const auto start = clock_type::now();
    for (int i = 0; i < files; ++i) {
        const std::uint32_t dpp = cursor.dpp();
        const std::string path = folder + "/" + frame_key(dpp) + ".png";
        if (const auto error = stitch_error_text(stitch_and_save(reader, dpp, path), path))
            print_error(*error);
        if (dpp < reader.dpp_end())
            cursor.next();
    }
    return seconds_since(start);
}

struct worker_run {
    double seconds = 0;
    int updates = 0;
    double longest_turn_ms = 0; // the longest the GUI thread was busy between two looks at events
};

worker_run worker_save(viewer_dialog& viewer, scripted_prompts& prompts, const std::string& folder,
                       int files) {
    wxSpinDoubleEvent go(wxEVT_SPINCTRLDOUBLE, viewer.dpp_control().GetId(),
                         first_saved_dpp(files));
    viewer.GetEventHandler()->ProcessEvent(go);
    worker_run run;
    prompts.save_path = folder + "/any.png";
    const std::size_t shown = prompts.progress.size();
    const auto start = clock_type::now();
    wxCommandEvent save(wxEVT_BUTTON, 18);
    viewer.GetEventHandler()->ProcessEvent(save);
    while (viewer.saving()) {
        const auto turn = clock_type::now();
        wxTheApp->ProcessPendingEvents();
        run.longest_turn_ms = std::max(run.longest_turn_ms, seconds_since(turn) * 1e3);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    run.seconds = seconds_since(start);
    run.updates = static_cast<int>(prompts.progress.size() - shown) - 1; // less the first text
    return run;
}

// How many files of the first folder the second holds under the same name with the same bytes.
int same_files(const std::string& one, const std::string& other) {
    int same = 0;
    for (const auto& entry : std::filesystem::directory_iterator(one)) {
        const std::string name = entry.path().filename().string();
        same += read_file(entry.path().string()) == read_file(other + "/" + name);
    }
    return same;
}
} // namespace

int main(int argc, char** argv) {
    const int files = std::clamp(argc > 1 ? std::atoi(argv[1]) : 20, 1, frames);
    wxApp::SetInstance(new wxApp);
    if (!wxEntryStart(argc, argv))
        return 2;
    const temp_dir scratch;
    const std::string session = scratch.path() + "/session";
    record_session(session);
    std::filesystem::create_directory(scratch.path() + "/sequential");
    std::filesystem::create_directory(scratch.path() + "/worker");
    session_store sessions;
    const double sequential =
        sequential_save(*sessions.open_reader(session), scratch.path() + "/sequential", files);
    scripted_prompts prompts;
    auto* viewer = new viewer_dialog(nullptr, sessions.open_reader(session), prompts,
                                     [](const wxString& text) { print_error(text.ToStdString()); });
    viewer->Show();
    for (int i = 0; i < 20; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10)))
        wxTheApp->Yield();
    double load[1] = {0};
    getloadavg(load, 1);
    std::printf("load average before: %.2f on %u cores\n", load[0],
                std::thread::hardware_concurrency());
    std::printf("redraw after a pointer movement over a 1920 x 1200 frame in the %d x %d panel, ms "
                "(goal p95 <= 16):\n",
                viewer->panel().GetClientSize().x, viewer->panel().GetClientSize().y);
    const cv::Mat frame = viewer->frame().clone();
    for (int zoom : {1, 2, 4, 8})
        compare_pointer_redraws(viewer->panel(), frame, zoom);
    measure_dpp_moves(*viewer);
    const worker_run worker = worker_save(*viewer, prompts, scratch.path() + "/worker", files);
    std::printf("saving %d stitched files of 1920 x 1200 frames: one after the other on the GUI "
                "thread %.1f s, on the worker %.1f s (ratio %.3f, goal <= 1); progress updates %d "
                "for %d files; longest GUI-thread turn during the worker's save %.1f ms (one "
                "stitch on the GUI thread: %.0f ms on average)\n",
                files, sequential, worker.seconds, worker.seconds / sequential, worker.updates,
                files, worker.longest_turn_ms, sequential * 1e3 / files);
    std::printf("files alike (name and bytes): %d of %d\n",
                same_files(scratch.path() + "/sequential", scratch.path() + "/worker"), files);
    viewer->Destroy();
    wxTheApp->ProcessIdle();
    wxEntryCleanup();
    return 0;
}

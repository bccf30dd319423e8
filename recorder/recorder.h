#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <opencv2/core/mat.hpp>
#include <wx/event.h>
#include <wx/string.h>
#include <wx/thread.h>

#include "base/constants.h"
#include "camera/camera_access.h"
#include "camera/grab_modes.h"
#include "log/thread_events.h"
#include "recorder/archive_runner.h"
#include "recording/recording_step.h"

class session_store;
class service_thread;
class telemetry_thread;

// The part of the running capture's newest frame that the live image shows, and the text drawn over
// it. The pixels are the window's own copy.
struct live_frame {
    cv::Mat image;
    std::uint64_t timestamp = 0; // the camera's; 0 before the first frame
    wxString overlay;
};

// Where the network threads listen: on a car the telemetry's fixed port and the data service's
// port from the settings. Tests that build several windows at once ask for free ports instead.
struct network_ports {
    std::uint16_t telemetry = telemetry_port;
    bool data_service_from_settings = true; // false: any free port
};

// The recording machinery without windows: the camera layer with the cameras it finds, the open
// camera and its exposure mode, the grab modes (live view, live view with recording) with their
// capture and write threads, the data service and the telemetry responder. The main window makes
// one, turns the operator's commands into its calls and its reports into widgets.
//
// Every call is made on the GUI thread and none waits for a camera: what may (finding, opening and
// closing cameras, the exposure mode, reading the geometry, starting and stopping a capture) is
// queued to the recorder's own thread, which runs the commands one at a time in the order given.
// A camera that stops answering while it captures is closed, looked for every second, and opened
// again, capturing as before, once it is back.
// Results come back to the owner as thread events (log/thread_events.h): log rows, a failure to
// show in a box, and after each command an EVT_THREAD_RECORDER_STATE; the archive's reports as
// EVT_THREAD_ARCHIVE. Not copyable.
class recorder {
public:
    // Opens the camera layer (throws std::runtime_error("Error opening JAI factory.")) and starts
    // the recorder's thread. The owner receives every report of the recorder and of the threads it
    // runs; the owner and the store must outlive the recorder.
    recorder(wxEvtHandler* owner, session_store& sessions);
    // Stops the network threads; then, on the recorder's thread, drops the commands not yet begun
    // and stops a capture (the write thread before the capture thread) and closes the camera; then
    // closes the camera layer. Waits for all of it.
    ~recorder();
    recorder(const recorder&) = delete;
    recorder& operator=(const recorder&) = delete;

    // Starts the data service on the port of data_service_port (the setting's text) and the
    // telemetry responder with the side. The telemetry socket is bound here, and its failure
    // thrown (boost::system::system_error naming "open" or "bind"); the data service reports its
    // own as EVT_THREAD_SERVICE_DOWN and the rest goes on without it.
    void start_network(const network_ports& ports, const wxString& data_service_port,
                       const wxString& side);
    // Telemetry first, then the data service, whose connections end before the store goes.
    void stop_network();

    // At start-up: lists the cameras and opens the first whose description holds the driver's
    // name, else the first listed.
    void find_cameras(const std::wstring& driver);
    // Closes the camera, lists the cameras anew and opens the one described as shown, if listed.
    // A listing that fails leaves the list as it was.
    void update_camera_list(const std::wstring& shown);
    // Closes the camera and opens the one described, if listed.
    void select_camera(const std::wstring& description);
    // Sent to the open camera; nothing without one.
    void set_exposure_mode(const std::wstring& mode);
    // Nothing while a capture runs or no camera is open.
    void start_capture(const capture_settings& settings);
    void start_recording(const capture_settings& capture, recording_settings recording);
    void stop_capture();

    // Starts the archive and retention with these settings, or goes on with new ones; until the
    // first call neither runs. Recordings started from now on make room before each new session.
    void configure_archive(const archive_settings& settings) { archive_.configure(settings); }

    // The state after the last command; busy while commands are queued or running.
    recorder_state state() const;
    // Whether a capture runs: from its start until its stop has taken it away.
    bool capturing() const;
    // The newest frame's top-left part of at most `size` pixels, with its timestamp and the text
    // drawn over it, copied into `frame` unless it already holds that frame: a frame met again
    // costs no copy. False, and `frame` left as it is, when no capture runs.
    bool copy_live_frame(live_frame& frame, cv::Size size) const;

private:
    using command = std::function<void()>;
    void queue(command next);
    void run_commands();
    void report();
    void list_cameras();
    void open_camera(const std::wstring& description);
    void close_camera();
    using mode_maker = std::function<std::unique_ptr<frame_source>(camera_device&)>;
    void start(mode_maker make_mode);
    void release_capture();
    capture_settings watched(capture_settings settings);
    void lose_camera();
    void look_for_lost_camera();

    wxEvtHandler* const owner_;
    session_store& sessions_;
    // The recorder's thread alone uses these after construction.
    std::unique_ptr<camera_layer> layer_;
    camera_list cameras_;
    std::unique_ptr<JAI_Camera> camera_;
    std::wstring shown_camera_;
    // Set while a camera that stopped answering is looked for, once a second, to be opened again
    // and, if it captured, to capture as before.
    bool camera_lost_ = false;
    mode_maker lost_capture_;
    // The GUI thread only.
    std::unique_ptr<service_thread> service_thread_;
    std::unique_ptr<telemetry_thread> telemetry_thread_;
    // Under the lock: the recorder's thread changes them, the GUI thread reads them.
    mutable std::mutex lock_;
    std::condition_variable wake_;
    std::deque<command> commands_;
    int unfinished_ = 0; // commands queued or running
    bool finishing_ = false;
    recorder_state state_;
    std::unique_ptr<frame_source> grab_mode_; // written only by the recorder's thread
    // Before the thread, so that it outlives every write thread, which calls it.
    archive_runner archive_;
    std::unique_ptr<wxThread> thread_;
};

#pragma once

// The viewer's "Сохранить кадр" off the GUI thread (wxBase only): a hundred stitches take
// minutes, so a worker does them while the window stays responsive and the operator may cancel.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include <wx/event.h>
#include <wx/string.h>

#include "base/constants.h"

class session_reader;

// How many files one save writes at the most.
inline constexpr std::size_t saved_files = 100;

// The frames that one save stands for: consecutive frames from the reader's current cursor up to
// the session's end DPP (at least the current one, also where a damaged session ends before it),
// one more than the files written where there are that many, because after the last file the
// cursor steps on once more.
struct save_plan {
    std::vector<std::uint32_t> dpps;

    std::size_t files() const { return dpps.size() < saved_files ? dpps.size() : saved_files; }
    // Where the current cursor stands once this many files are done: on the next frame, or on the
    // last frame, which it never passes.
    std::uint32_t cursor_after(std::size_t done) const {
        return dpps[done < dpps.size() ? done : dpps.size() - 1];
    }
};
save_plan plan_save(const session_reader& reader);

// The chosen path with the frame key as its file name; folder and extension stay, except that an
// extension the imaging library cannot write (or none) becomes ".png", the type offered.
wxString saved_frame_path(const wxString& chosen, std::uint32_t dpp);

struct save_item {
    std::uint32_t dpp;
    std::string path; // narrow, in the current locale
};

// Stitches and saves each item in order on its own thread, which touches no window: it queues to
// the owner a wxEVT_THREAD id_save_step per file (GetInt: files done; GetString: the last one's
// error row, empty when it went well), then id_save_end (files done, fewer when cancelled). Owner
// and reader must outlive the saver; the worker uses cursors of its own. GUI thread:
// construction, cancel, destruction.
class frame_saver {
public:
    frame_saver(wxEvtHandler* owner, const session_reader& reader, std::vector<save_item> items);
    // Cancels and waits, at most for the stitch under way.
    ~frame_saver();
    frame_saver(const frame_saver&) = delete;
    frame_saver& operator=(const frame_saver&) = delete;

    // No further item is begun; thread-safe.
    void cancel() { cancelled_ = true; }

private:
    void run();
    void post(int id, std::size_t done, const wxString& text);

    wxEvtHandler* owner_;
    const session_reader& reader_;
    std::vector<save_item> items_;
    std::atomic<bool> cancelled_{false};
    std::thread worker_; // last: starts once everything above is in place
};

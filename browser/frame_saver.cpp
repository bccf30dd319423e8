#include "browser/frame_saver.h"

#include <algorithm>
#include <exception>

#include <opencv2/imgcodecs.hpp>
#include <wx/filename.h>

#include "base/encoding.h"
#include "base/thread_name.h"
#include "browser/frame_stitching.h"
#include "log/thread_events.h"
#include "recording/session_format.h"
#include "recording/session_store.h"

namespace {
// The row of one file: the stitcher's or the writer's failure, or what the library threw.
wxString save_one(const session_reader& reader, const save_item& item) {
    try {
        const auto error =
            stitch_error_text(stitch_and_save(reader, item.dpp, item.path), item.path);
        return error ? wxString(readable_text(*error)) : wxString();
    } catch (const std::exception& e) {
        return readable_text(frame_key(item.dpp) + ": " + e.what());
    }
}
} // namespace

save_plan plan_save(const session_reader& reader) {
    save_plan plan;
    if (!reader.current().valid())
        return plan;
    // The cursor steps on only while it stands before the end, and the current frame counts even
    // where a damaged session ends before it.
    const std::uint32_t current = reader.current().dpp();
    frame_cursor cursor = reader.frames(std::max(current, reader.dpp_end()));
    for (bool more = cursor.seek(current); more && plan.dpps.size() <= saved_files;
         more = cursor.next())
        plan.dpps.push_back(cursor.dpp());
    return plan;
}

wxString saved_frame_path(const wxString& chosen, std::uint32_t dpp) {
    wxFileName name(chosen);
    name.SetName(frame_key(dpp));
    if (!cv::haveImageWriter(narrow_text(name.GetFullPath().ToStdWstring())))
        name.SetExt("png");
    return name.GetFullPath();
}

frame_saver::frame_saver(wxEvtHandler* owner, const session_reader& reader,
                         std::vector<save_item> items)
    : owner_(owner), reader_(reader), items_(std::move(items)), worker_([this] { run(); }) {}

frame_saver::~frame_saver() {
    cancel();
    worker_.join();
}

void frame_saver::run() {
    name_lent_thread("frame saver");
    std::size_t done = 0;
    while (done < items_.size() && !cancelled_) {
        const wxString error = save_one(reader_, items_[done]);
        post(id_save_step, ++done, error);
    }
    post(id_save_end, done, wxString());
}

void frame_saver::post(int id, std::size_t done, const wxString& text) {
    auto* event = new wxThreadEvent(wxEVT_THREAD, id);
    event->SetInt(static_cast<int>(done));
    event->SetString(text.Clone());
    wxQueueEvent(owner_, event);
}

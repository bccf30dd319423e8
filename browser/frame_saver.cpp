#include "browser/frame_saver.h"

#include <algorithm>
#include <exception>

#include <opencv2/imgcodecs.hpp>
#include <wx/filename.h>

#include "base/encoding.h"
#include "browser/frame_stitching.h"
#include "log/thread_events.h"
#include "recording/session_db.h"
#include "recording/session_engine.h"
#include "recording/session_format.h"

namespace {
// The row of one file: the stitcher's or the writer's failure, or what the library threw.
wxString save_one(leveldb::DB& handle, const save_item& item) {
    try {
        const auto error =
            stitch_error_text(stitch_and_save(handle, item.key, item.path), item.path);
        return error ? wxString(readable_text(*error)) : wxString();
    } catch (const std::exception& e) {
        return readable_text(item.key + ": " + e.what());
    }
}
} // namespace

save_plan plan_save(const session_reader& reader) {
    save_plan plan;
    if (!reader.current_cursor().Valid() || !reader.end_cursor().Valid())
        return plan;
    // The cursor steps on only while it stands before the end cursor, and the current frame
    // counts even where a damaged session's end cursor stands before it.
    const std::string current = reader.current_cursor().key().ToString();
    frame_walk walk{std::max(current, reader.end_cursor().key().ToString())};
    const auto cursor = new_cursor(reader.handle());
    cursor->Seek(current);
    for (bool more = walk.settle(*cursor); more && plan.keys.size() <= saved_files;
         more = walk.next(*cursor))
        plan.keys.push_back(cursor->key().ToString());
    return plan;
}

wxString saved_frame_path(const wxString& chosen, const std::string& key) {
    wxFileName name(chosen);
    name.SetName(key);
    if (!cv::haveImageWriter(narrow_text(name.GetFullPath().ToStdWstring())))
        name.SetExt("png");
    return name.GetFullPath();
}

frame_saver::frame_saver(wxEvtHandler* owner, leveldb::DB& handle, std::vector<save_item> items)
    : owner_(owner), handle_(handle), items_(std::move(items)), worker_([this] { run(); }) {}

frame_saver::~frame_saver() {
    cancel();
    worker_.join();
}

void frame_saver::run() {
    std::size_t done = 0;
    while (done < items_.size() && !cancelled_) {
        const wxString error = save_one(handle_, items_[done]);
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

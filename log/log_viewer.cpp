#include "log/log_viewer.h"

#include <algorithm>
#include <ctime>
#include <iostream>

#include <wx/dcclient.h>
#include <wx/html/winpars.h>
#include <wx/stopwatch.h>

#include "base/constants.h"
#include "base/encoding.h"
#include "log/log_format.h"
#include "log/thread_events.h"

namespace {
constexpr long min_render_delay_ms = 20;
constexpr long max_render_delay_ms = 2000;
// The first line of every row; the redirectors hand the text over line by line.
const wxString row_start = L"<tr>\n";

void write_row(std::wostream& stream, log_level level, const wxString& message) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    stream << format_log_row(level, local, message.ToStdWstring()) << std::flush;
}
} // namespace

ui_redirector::ui_redirector(std::wostream& stream, log_viewer* owner)
    : stream_(stream), previous_(stream.rdbuf(this)), owner_(owner) {}

ui_redirector::~ui_redirector() {
    stream_.rdbuf(previous_);
}

ui_redirector::int_type ui_redirector::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    line_ += traits_type::to_char_type(c);
    if (c == L'\n') {
        owner_->write(line_);
        line_.clear();
    }
    return c;
}

int ui_redirector::sync() {
    if (!line_.empty()) {
        owner_->write(line_);
        line_.clear();
    }
    return 0;
}

ui_redirector_cout::ui_redirector_cout(log_viewer* owner) : ui_redirector(std::wcout, owner) {}

ui_redirector_cerr::ui_redirector_cerr(log_viewer* owner) : ui_redirector(std::wcerr, owner) {}

wxBEGIN_EVENT_TABLE(log_viewer, wxHtmlWindow)
    EVT_TIMER(id_log_render_timer, log_viewer::on_render_timer) wxEND_EVENT_TABLE()

        log_viewer::log_viewer(wxWindow* parent, const wxFileName& file, std::size_t shown_rows)
    : wxHtmlWindow(parent, id_log_pane, wxDefaultPosition, wxDefaultSize, wxHW_SCROLLBAR_AUTO,
                   "htmlWindow"),
      cout_redirector_(this), cerr_redirector_(this),
      file_(file.GetFullPath().fn_str(), std::ios::out | std::ios::trunc), shown_rows_(shown_rows),
      render_timer_(this, id_log_render_timer) {
    std::wcout << L"<html>" << std::endl;
    std::wcout << L"<table>" << std::endl;
    std::wcout << L"<tbody>" << std::endl;
    header_length_ = received_.length();
}

// The file closes before the redirectors give the streams back (member order); nothing more is
// written then.
log_viewer::~log_viewer() {
    render_timer_.Stop();
}

void log_viewer::write(const std::wstring& text) {
    if (file_.is_open()) {
        file_ << narrow_text(text);
        file_.flush();
    }
    received_ += text;
    if (text == row_start && ++rows_ > 2 * shown_rows_)
        drop_oldest_rows();
    schedule_render();
}

// Rows go in whole batches, so that the page is laid out anew once per shown_rows rows.
void log_viewer::drop_oldest_rows() {
    std::size_t kept_from = received_.find(row_start, header_length_);
    for (std::size_t dropped = shown_rows_; dropped < rows_; ++dropped)
        kept_from = received_.find(row_start, kept_from + 1);
    received_ = received_.Left(header_length_) + received_.Mid(kept_from);
    rows_ = shown_rows_;
    rendered_length_ = 0;
}

void log_viewer::schedule_render() {
    if (render_timer_.IsRunning())
        return;
    const long delay = std::clamp(3 * last_render_ms_, min_render_delay_ms, max_render_delay_ms);
    render_timer_.StartOnce(static_cast<int>(delay));
}

void log_viewer::on_render_timer(wxTimerEvent&) {
    render_pending();
}

void log_viewer::render_pending() {
    render_timer_.Stop();
    if (rendered_length_ == received_.length())
        return;
    wxStopWatch watch;
    const wxString fresh = received_.Mid(rendered_length_);
    if (rendered_length_ == 0)
        SetPage(fresh);
    else
        append_cells(fresh);
    rendered_length_ = received_.length();
    scroll_to_end();
    last_render_ms_ = watch.Time();
}

// The newest rows are what the operator needs to see.
void log_viewer::scroll_to_end() {
    int unit_x = 0, unit_y = 0;
    GetScrollPixelsPerUnit(&unit_x, &unit_y);
    if (unit_y > 0)
        Scroll(0, GetVirtualSize().GetHeight() / unit_y);
}

// Everything after the three header lines belongs to the page's never-closed table, so a batch
// is parsed inside a table of its own; rows of equal structure line up as they would in one.
void log_viewer::append_cells(const wxString& text) {
    wxClientDC dc(this);
    dc.SetMapMode(wxMM_TEXT);
    wxHtmlWinParser* parser = GetParser();
    parser->SetDC(&dc);
    wxObject* cells = parser->Parse("<table>\n<tbody>\n" + text);
    parser->SetDC(nullptr);
    GetInternalRepresentation()->InsertCell(static_cast<wxHtmlCell*>(cells));
    CreateLayout();
    Refresh();
}

void log_error(const char* text) {
    log_error(readable_text(text));
}

void log_error(const wxString& text) {
    write_row(std::wcerr, log_level::error, text);
}

void log_info(const wxString& text) {
    write_row(std::wcout, log_level::info, text);
}

#pragma once

#include <fstream>
#include <streambuf>
#include <string>

#include <wx/filename.h>
#include <wx/html/htmlwin.h>
#include <wx/timer.h>

class log_viewer;

// Stream buffer that takes the place of a standard wide stream's buffer while the log pane
// exists and hands everything written to it, line by line, to the pane and the log file.
// Installed and restored on the GUI thread only.
class ui_redirector : public std::wstreambuf {
public:
    ui_redirector(std::wostream& stream, log_viewer* owner);
    ~ui_redirector() override;
    ui_redirector(const ui_redirector&) = delete;
    ui_redirector& operator=(const ui_redirector&) = delete;

protected:
    int_type overflow(int_type c) override;
    int sync() override;

private:
    std::wostream& stream_;
    std::wstreambuf* previous_;
    log_viewer* owner_;
    std::wstring line_;
};

class ui_redirector_cout : public ui_redirector {
public:
    explicit ui_redirector_cout(log_viewer* owner);
};

class ui_redirector_cerr : public ui_redirector {
public:
    explicit ui_redirector_cerr(log_viewer* owner);
};

// The event log pane (window id 1). While it exists, std::wcout and std::wcerr land in it and in
// this run's HTML log file. Every line reaches the file at once (written and flushed), so an
// abruptly ended process leaves every completed row on disk. The pane shows new text shortly
// after it arrives, a batch at a time: each batch is parsed on its own, as a continuation of the
// page's open table, and its cells are appended to those already laid out, so the cost of showing
// a row does not grow with the length of the log. The pane keeps the newest rows only (between
// shown_rows and twice as many), so a run of months holds no more memory than a run of hours; the
// file keeps them all. GUI thread only.
class log_viewer : public wxHtmlWindow {
public:
    log_viewer(wxWindow* parent, const wxFileName& file, std::size_t shown_rows = 1000);
    ~log_viewer() override;

    // Called by the redirectors with finished text.
    void write(const std::wstring& text);

    // Renders text that has not reached the pane yet; the pane does this by itself shortly.
    void render_pending();

    // The text the pane holds, rendered or not: the header lines and the newest rows.
    const wxString& received_text() const { return received_; }

private:
    void on_render_timer(wxTimerEvent& event);
    void schedule_render();
    void append_cells(const wxString& text);
    void scroll_to_end();
    void drop_oldest_rows();

    ui_redirector_cout cout_redirector_;
    ui_redirector_cerr cerr_redirector_;
    std::ofstream file_;
    wxString received_;
    std::size_t header_length_ = 0;
    std::size_t shown_rows_;
    std::size_t rows_ = 0;
    size_t rendered_length_ = 0;
    wxTimer render_timer_;
    long last_render_ms_ = 0;

    wxDECLARE_EVENT_TABLE();
};

// Builds the folder of log files in the user's home directory, creating it when missing (throws
// std::runtime_error with the operator's text when it cannot), deletes log files older than seven
// days, and returns the name of this run's log file.
wxFileName prepare_log_file();

// One error row (red) through std::wcerr; a narrow text is read in the current locale.
void log_error(const char* text);
void log_error(const wxString& text);
// One information row (blue) through std::wcout.
void log_info(const wxString& text);

// Event log cost as the log grows.
//
// Prints the time to write rows 1-100 and rows 9,901-10,000 through the row writers into a real
// log pane (pane and file), their ratio, the cost of bringing the pane up to date at both sizes,
// the process's resident memory after 2,000 rows and after 10,000 (the pane keeps the newest rows
// only, so it should not grow), and, for comparison, the same measurement for a pane that
// re-renders on every character.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <wx/app.h>
#include <wx/frame.h>
#include <wx/init.h>

#include "harness/child_process.h"
#include "harness/temp_dir.h"
#include "log/log_viewer.h"

namespace {
// With "--hold N" the pane stays on screen N seconds after the rows, to be looked at.
int hold_seconds = 0;

using clock_type = std::chrono::steady_clock;

double ms_since(clock_type::time_point start) {
    return std::chrono::duration<double, std::milli>(clock_type::now() - start).count();
}

double write_rows(int first, int last) {
    const auto start = clock_type::now();
    for (int i = first; i <= last; ++i)
        log_info(wxString::Format(L"Строка журнала %d: delivered: %d lost: 0 corrupt: 0", i, i));
    return ms_since(start);
}

double render(log_viewer* pane) {
    const auto start = clock_type::now();
    pane->render_pending();
    return ms_since(start);
}

void bench_pane(wxFrame* frame) {
    auto* pane = new log_viewer(frame, wxFileName(wxFileName::GetHomeDir(), "bench.html"));
    frame->SendSizeEvent();
    const double first = write_rows(1, 100);
    const double first_render = render(pane);
    write_rows(101, 2000);
    render(pane);
    const long kib_at_2000 = process_memory_kib("self", "VmRSS");
    write_rows(2001, 9900);
    render(pane);
    const double last = write_rows(9901, 10000);
    const double last_render = render(pane);
    std::printf("rows 1-100:          %8.2f ms\n", first);
    std::printf("rows 9901-10000:     %8.2f ms\n", last);
    std::printf("ratio (goal <= 2):   %8.2f\n", last / first);
    std::printf("pane update at 100 rows:    %8.2f ms, at 10000 rows: %8.2f ms\n", first_render,
                last_render);
    std::printf("resident memory at 2000 rows: %.1f MB, at 10000 rows: %.1f MB (goal: flat)\n",
                kib_at_2000 / 1024.0, process_memory_kib("self", "VmRSS") / 1024.0);
    if (hold_seconds > 0) {
        log_error("<b>last row</b>, shown in bold");
        pane->render_pending();
        const auto until = clock_type::now() + std::chrono::seconds(hold_seconds);
        while (clock_type::now() < until)
            wxTheApp->Yield();
    }
    pane->Destroy();
}

// The same page growth with one full re-render per character, as a character-wise pane does.
double naive_rows(wxHtmlWindow* pane, wxString& page, int rows) {
    const auto start = clock_type::now();
    for (int i = 0; i < rows; ++i) {
        const wxString row = wxString::Format("<tr>\n<td>06.12.2026 10:00:00</td>\n<td> <font "
                                              "color='blue'>row %d</font></td>\n</tr>\n",
                                              i);
        for (wxUniChar c : row) {
            page += c;
            pane->SetPage(page);
        }
    }
    return ms_since(start);
}

void bench_naive(wxFrame* frame) {
    auto* pane = new wxHtmlWindow(frame);
    frame->SendSizeEvent();
    wxString page = "<html>\n<table>\n<tbody>\n";
    const double first = naive_rows(pane, page, 10);
    naive_rows(pane, page, 180);
    const double last = naive_rows(pane, page, 10);
    std::printf("character-wise pane for comparison: rows 1-10 %.1f ms, rows 191-200 %.1f ms, "
                "ratio %.1f\n",
                first, last, last / first);
    pane->Destroy();
}
} // namespace

int main(int argc, char** argv) {
    const temp_dir home("tresvik-bench");
    setenv("HOME", home.path().c_str(), 1);
    if (argc == 3 && std::string(argv[1]) == "--hold")
        hold_seconds = std::atoi(argv[2]);
    wxApp::SetInstance(new wxApp);
    if (!wxEntryStart(argc, argv))
        return 2;
    auto* frame = new wxFrame(nullptr, wxID_ANY, "bench", wxDefaultPosition, wxSize(1200, 800));
    frame->Show();
    bench_pane(frame);
    bench_naive(frame);
    delete frame;
    wxEntryCleanup();
    return 0;
}

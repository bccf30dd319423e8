// The database list: (1) the cost of formatting every visible cell with 100 entries against 10,000
// entries (a virtual list formats only what shows: goal a ratio near 1); (2) a refresh over 1,000
// session folders against the bare leveldb loop of bench-session-index, in alternating rounds
// (goal: at most 1.2). Runs on a display: scripts/with-display.sh build/bin/bench-database-list
#include <cstdio>

#include <wx/app.h>
#include <wx/frame.h>
#include <wx/init.h>
#include <wx/utils.h>

#include "bench/session_bench_support.h"
#include "browser/database_list.h"

namespace {
constexpr int repaints = 200;
constexpr int sessions = 1000;
constexpr int rounds = 5;

session_index_entries synthetic_entries(int count) {
    session_index_entries entries;
    for (int i = 0; i < count; ++i) {
        session_index_entry entry;
        entry.info.session_code = L"A" + std::to_wstring(i) + L" : 1";
        entry.info.orientation = L"0";
        entry.info.side = L"левый";
        entry.info.start_time = entry.info.end_time = L"2026-12-06 12:00:00";
        entry.info.dpp_start = static_cast<std::uint32_t>(i);
        entry.info.dpp_end = static_cast<std::uint32_t>(i + 1000);
        entry.info.size = 1u << 20;
        entry.path = "/sessions/" + std::to_string(i);
        entries.push_back(entry);
    }
    return entries;
}

// Microseconds to format every visible cell, as the control asks for them when it paints.
double visible_cells_us(database_list& list, int entries) {
    list.show(synthetic_entries(entries));
    const long top = list.GetTopItem(), rows = list.GetCountPerPage();
    std::size_t characters = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < repaints; ++i)
        for (long row = top; row < top + rows; ++row)
            for (int column = 0; column < 8; ++column)
                characters += list.GetItemText(row, column).length();
    return characters > 0 ? seconds_since(start) * 1e6 / repaints : -1;
}

double refresh_round(session_store& store, database_list& list) {
    const auto start = std::chrono::steady_clock::now();
    store.refresh_session_index(
        [](const std::string& message) { std::fprintf(stderr, "%s\n", message.c_str()); });
    list.show(store.entries());
    return list.entry_count() == sessions ? seconds_since(start) : -1;
}

void compare_refresh(session_store& store, database_list& list) {
    const temp_dir root;
    make_sessions(root.path(), sessions, 10);
    store.set_root(root.path());
    store.refresh_session_index([](const std::string&) {}); // turns each log into a table
    std::vector<double> bare, refresh;
    for (int round = 0; round < rounds; ++round) {
        bare.push_back(bare_index_round(root.path()));
        refresh.push_back(refresh_round(store, list));
    }
    const double bare_median = percentile(bare, 0.5), refresh_median = percentile(refresh, 0.5);
    std::printf("refresh of %d session folders: bare leveldb loop %.3f s, database list %.3f s "
                "(medians of %d); ratio %.3f (goal <= 1.2)\n",
                sessions, bare_median, refresh_median, rounds, refresh_median / bare_median);
}
} // namespace

int main(int argc, char** argv) {
    wxApp::SetInstance(new wxApp);
    if (!wxEntryStart(argc, argv))
        return 2;
    auto* frame = new wxFrame(nullptr, wxID_ANY, "bench", wxDefaultPosition, wxSize(1400, 900));
    session_store store;
    auto* list = new database_list(frame);
    frame->Show();
    // The window manager sizes the frame in its own time; a list without its size shows no rows.
    for (int wait = 0; wait < 500 && frame->GetClientSize().GetHeight() < 400; ++wait) {
        wxTheApp->Yield();
        wxMilliSleep(10);
    }
    list->SetSize(frame->GetClientSize());
    const double few = visible_cells_us(*list, 100);
    const double many = visible_cells_us(*list, 10000);
    std::printf("formatting the visible cells (%d rows x 8 columns): 100 entries %.1f us, 10,000 "
                "entries %.1f us; ratio %.2f\n",
                list->GetCountPerPage(), few, many, many / few);
    compare_refresh(store, *list);
    frame->Destroy();
    wxEntryCleanup();
    return 0;
}

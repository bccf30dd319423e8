#include <gtest/gtest.h>
#include <iostream>
#include <sstream>

#include <wx/frame.h>

#include "log/log_viewer.h"
#include "tests/support/temp_home.h"

// Every completed row is on disk before its writer returns, and so is anything written to the
// standard wide streams; the file is the pane's text, a table never closed after the three header
// lines. The pane shows later batches after the earlier ones and scrolls the newest into view.
// The pane keeps its newest rows only, the file all of them. When the pane goes, the streams are
// given back and nothing more reaches the file.
TEST(log_viewer, rows_reach_pane_and_file_alike_and_at_once) {
    temp_home home;
    std::wstreambuf* cout_before = std::wcout.rdbuf();
    std::wstreambuf* cerr_before = std::wcerr.rdbuf();
    auto* frame = new wxFrame(nullptr, wxID_ANY, "log");
    const std::string file = home.path() + "/tresvik[1].html";
    auto* pane = new log_viewer(frame, wxFileName(file), 40);
    frame->SetClientSize(800, 200);
    frame->SendSizeEvent();
    EXPECT_EQ(read_file(file), "<html>\n<table>\n<tbody>\n");
    log_info(L"Начало работы. Версия: 650");
    log_error("session <A7> & \"co\"");
    log_error("open: \xFF\xFE");
    std::wcout << L"plain text" << std::endl;
    std::wcerr << L"partial" << std::flush;
    std::string content = read_file(file);
    EXPECT_EQ(wxString::FromUTF8(content), pane->received_text());
    EXPECT_NE(content.find("<font color='blue'>Начало работы. Версия: 650</font></td>\n</tr>\n"),
              std::string::npos);
    EXPECT_NE(content.find("'red'>session &lt;A7&gt; &amp; \"co\"</font>"), std::string::npos);
    EXPECT_EQ(content.substr(content.rfind("</tr>")), "</tr>\nplain text\npartial");
    pane->render_pending();
    EXPECT_NE(pane->ToText().Find("session <A7> & \"co\""), wxNOT_FOUND);
    EXPECT_NE(pane->ToText().Find(wxString(L"open: \u00FF\u00FE")), wxNOT_FOUND);
    for (int i = 0; i < 30; ++i)
        log_error(wxString::Format("second batch %d", i));
    pane->render_pending();
    const wxString shown = pane->ToText();
    EXPECT_LT(shown.Find("plain text"), shown.Find("second batch 0"));
    EXPECT_LT(shown.Find("second batch 0"), shown.Find("second batch 29"));
    EXPECT_GT(pane->GetViewStart().y, 0) << "the newest rows are scrolled into view";
    for (int i = 0; i < 50; ++i)
        log_info(wxString::Format("third batch %d", i));
    pane->render_pending();
    EXPECT_EQ(pane->ToText().Find("third batch 7\n"), wxNOT_FOUND) << "81 rows: the newest 40 kept";
    EXPECT_NE(pane->ToText().Find("third batch 8\n"), wxNOT_FOUND);
    EXPECT_TRUE(pane->received_text().StartsWith("<html>\n<table>\n<tbody>\n<tr>\n"));
    content = read_file(file);
    EXPECT_NE(content.find("second batch 0<"), std::string::npos);
    delete frame;
    EXPECT_EQ(std::wcout.rdbuf(), cout_before);
    EXPECT_EQ(std::wcerr.rdbuf(), cerr_before);
    std::wostringstream captured;
    std::wcout.rdbuf(captured.rdbuf());
    log_info("after");
    std::wcout.rdbuf(cout_before);
    EXPECT_NE(captured.str().find(L"after"), std::wstring::npos);
    EXPECT_EQ(read_file(file), content);
}

#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <sstream>
#include <sys/stat.h>
#include <utime.h>

#include <wx/frame.h>

#include "log/log_files.h"
#include "log/log_viewer.h"
#include "tests/support/temp_home.h"

namespace {
void touch(const std::string& path, std::time_t modified) {
    std::ofstream(path) << "x";
    utimbuf times{modified, modified};
    ASSERT_EQ(utime(path.c_str(), &times), 0);
}

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// A frame holding a log pane, as the main window does.
struct pane_fixture : testing::Test {
    temp_home home;
    wxFrame* frame = new wxFrame(nullptr, wxID_ANY, "log");
    wxFileName file{home.path(), "tresvik[1].html"};
    log_viewer* pane = new log_viewer(frame, file);

    ~pane_fixture() override { delete frame; }
};

const std::string header = "<html>\n<table>\n<tbody>\n";
} // namespace

// Every completed row is on disk before its writer returns; the file is the pane's text, an
// unterminated table after the three header lines; messages show as text.
TEST_F(pane_fixture, rows_reach_pane_and_file_alike_and_at_once) {
    EXPECT_EQ(read_file(file.GetFullPath().ToStdString()), header);
    log_info(L"Начало работы. Версия: 650");
    log_error("session <A7> & \"co\"");
    log_error("open: \xFF\xFE");
    const std::string content = read_file(file.GetFullPath().ToStdString());
    EXPECT_EQ(wxString::FromUTF8(content), pane->received_text());
    EXPECT_EQ(content.rfind(header, 0), 0u);
    EXPECT_NE(content.find("<font color='blue'>Начало работы. Версия: 650</font></td>\n</tr>\n"),
              std::string::npos);
    EXPECT_NE(content.find("'red'>session &lt;A7&gt; &amp; \"co\"</font>"), std::string::npos);
    EXPECT_EQ(content.substr(content.size() - 6), "</tr>\n") << "never closed";
    pane->render_pending();
    EXPECT_NE(pane->ToText().Find("session <A7> & \"co\""), wxNOT_FOUND);
    EXPECT_NE(pane->ToText().Find(wxString(L"open: \u00FF\u00FE")), wxNOT_FOUND);
}

TEST_F(pane_fixture, anything_written_to_the_standard_wide_streams_lands_in_both) {
    std::wcout << L"plain text" << std::endl;
    std::wcerr << L"partial" << std::flush;
    EXPECT_EQ(read_file(file.GetFullPath().ToStdString()), header + "plain text\npartial");
    EXPECT_TRUE(pane->received_text().EndsWith("plain text\npartial"));
}

TEST_F(pane_fixture, rows_shown_in_later_batches_follow_the_earlier_ones) {
    frame->SetClientSize(800, 200);
    frame->SendSizeEvent();
    log_info("first batch");
    pane->render_pending();
    const int height_before = pane->GetVirtualSize().GetHeight();
    for (int i = 0; i < 30; ++i)
        log_error(wxString::Format("second batch %d", i));
    pane->render_pending();
    const wxString shown = pane->ToText();
    EXPECT_LT(shown.Find("first batch"), shown.Find("second batch 0"));
    EXPECT_LT(shown.Find("second batch 0"), shown.Find("second batch 29"));
    EXPECT_GT(pane->GetVirtualSize().GetHeight(), height_before);
    EXPECT_GT(pane->GetViewStart().y, 0) << "the newest rows are scrolled into view";
}

TEST(log_viewer, streams_are_given_back_when_the_pane_goes) {
    temp_home home;
    std::wstreambuf* cout_before = std::wcout.rdbuf();
    std::wstreambuf* cerr_before = std::wcerr.rdbuf();
    const wxFileName file(home.path(), "tresvik[2].html");
    auto* frame = new wxFrame(nullptr, wxID_ANY, "log");
    new log_viewer(frame, file);
    EXPECT_NE(std::wcout.rdbuf(), cout_before);
    delete frame;
    EXPECT_EQ(std::wcout.rdbuf(), cout_before);
    EXPECT_EQ(std::wcerr.rdbuf(), cerr_before);
    std::wostringstream captured;
    std::wcout.rdbuf(captured.rdbuf());
    log_info("after");
    std::wcout.rdbuf(cout_before);
    EXPECT_NE(captured.str().find(L"after"), std::wstring::npos);
    EXPECT_EQ(read_file(file.GetFullPath().ToStdString()), header);
}

TEST(log_files, old_logs_go_and_everything_else_stays) {
    temp_dir folder;
    const std::time_t now = 1764912000;
    const std::string dir = folder.path() + "/";
    touch(dir + "tresvik[1].html", now - 604800);
    touch(dir + "tresvik[2].html", now - 604801);
    touch(dir + "tresvik[3].html", now - 10);
    touch(dir + "notes.html", now - 9999999);
    touch(dir + ".tresvik[4].html", now - 9999999);
    ASSERT_EQ(mkdir((dir + "tresvik[5].html").c_str(), 0777), 0);
    remove_expired_logs(folder.path(), now);
    EXPECT_TRUE(exists(dir + "tresvik[1].html"));
    EXPECT_FALSE(exists(dir + "tresvik[2].html"));
    EXPECT_TRUE(exists(dir + "tresvik[3].html"));
    EXPECT_TRUE(exists(dir + "notes.html"));
    EXPECT_TRUE(exists(dir + ".tresvik[4].html"));
    EXPECT_TRUE(exists(dir + "tresvik[5].html"));
}

TEST(log_files, the_log_file_lies_in_the_home_log_folder_or_its_folder_is_reported) {
    temp_home home;
    const wxFileName file = prepare_log_file();
    EXPECT_EQ(file.GetPath(), home.path() + "/Velmora3/log");
    EXPECT_TRUE(file.GetFullName().EndsWith(wxString::Format("%d].html", int(getpid()))));
    EXPECT_TRUE(wxFileName::DirExists(file.GetPath()));
    temp_home other;
    std::ofstream(other.path() + "/Velmora3") << "a file where the folder should be";
    try {
        prepare_log_file();
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Не удается создать папку с файлами журналов [" +
                                             other.path() + "/Velmora3/log]");
    }
}

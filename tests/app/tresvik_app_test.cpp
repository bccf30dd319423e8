#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <wx/init.h>
#include <wx/msgdlg.h>
#include <wx/utils.h>

#include "app/tresvik_app.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_home.h"

namespace {
struct shown_box {
    wxString text, caption;
    long style;
};

// The application with its seams replaced: boxes are recorded, the window can be made to throw
// and the process is not ended.
class test_tresvik : public tresvik {
public:
    std::vector<shown_box> boxes;
    std::function<wxFrame*()> make_window;
    int ended_with = -1;

    wxFrame* base_window() { return tresvik::create_main_window(); }

protected:
    void show_box(const wxString& text, const wxString& caption, long style) override {
        boxes.push_back({text, caption, style});
    }
    wxFrame* create_main_window() override {
        return make_window ? make_window() : tresvik::create_main_window();
    }
    void end_process(int exit_code) override { ended_with = exit_code; }
};

test_tresvik& app() {
    return *static_cast<test_tresvik*>(wxTheApp);
}

// Another process of the same user holding the single-instance lock in the same home folder.
class lock_holder {
public:
    explicit lock_holder(const std::string& home) {
        const std::string ready = home + "/holder-ready";
        const std::string name = (wxTheApp->GetAppName() + "-" + wxGetUserId()).ToStdString();
        const pid_t test = getpid();
        pid_ = fork();
        if (pid_ == 0) {
            die_with_parent(test);
            execl(TRESVIK_INSTANCE_HOLDER, TRESVIK_INSTANCE_HOLDER, name.c_str(), ready.c_str(),
                  nullptr);
            _exit(127);
        }
        for (int i = 0; i < 200 && !std::ifstream(ready).good(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ~lock_holder() {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }

private:
    pid_t pid_;
};
} // namespace

TEST(tresvik_app, second_instance_of_the_same_user_shows_the_box_and_ends) {
    temp_home home;
    lock_holder other(home.path());
    bool window_made = false;
    app().make_window = [&]() -> wxFrame* {
        window_made = true;
        return nullptr;
    };
    EXPECT_FALSE(app().OnInit());
    EXPECT_FALSE(window_made);
    ASSERT_EQ(app().boxes.size(), 1u);
    EXPECT_EQ(app().boxes[0].text, "Another program instance is already running, aborting.");
    EXPECT_EQ(app().boxes[0].caption, "Error");
    EXPECT_EQ(app().boxes[0].style, wxOK | wxICON_ERROR);
}

TEST(tresvik_app, first_instance_shows_the_maximised_main_window) {
    temp_home home;
    EXPECT_TRUE(app().OnInit());
    wxWindow* window = app().GetTopWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->GetLabel(), L"Подвагонные камеры");
    EXPECT_TRUE(window->GetWindowStyle() & wxMAXIMIZE);
    EXPECT_TRUE(window->IsShown());
    EXPECT_TRUE(app().boxes.empty());
    delete window;
}

TEST(tresvik_app, standard_error_while_building_the_window_is_shown_and_ends_start_up) {
    temp_home home;
    app().make_window = []() -> wxFrame* {
        throw std::runtime_error("Error opening JAI factory.");
    };
    EXPECT_FALSE(app().OnInit());
    ASSERT_EQ(app().boxes.size(), 1u);
    EXPECT_EQ(app().boxes[0].text, "Error opening JAI factory.");
    EXPECT_EQ(app().boxes[0].caption, "C++ exception");
    EXPECT_EQ(app().ended_with, -1);
}

TEST(tresvik_app, unknown_error_while_building_the_window_ends_the_process_with_1) {
    temp_home home;
    app().make_window = []() -> wxFrame* { throw 42; };
    app().OnInit();
    ASSERT_EQ(app().boxes.size(), 1u);
    EXPECT_EQ(app().boxes[0].text, "Unknown exception. Application will be closed");
    EXPECT_EQ(app().boxes[0].caption, "Fatal error");
    EXPECT_EQ(app().ended_with, 1);
}

TEST(tresvik_app, standard_error_in_a_handler_is_shown_and_the_loop_goes_on) {
    bool go_on = false;
    try {
        throw std::runtime_error("Error setting exposure mode.");
    } catch (...) {
        go_on = app().OnExceptionInMainLoop();
    }
    EXPECT_TRUE(go_on);
    ASSERT_EQ(app().boxes.size(), 1u);
    EXPECT_EQ(app().boxes[0].text, "Error setting exposure mode.");
    EXPECT_EQ(app().boxes[0].caption, "C++ exception");
}

TEST(tresvik_app, unknown_error_in_a_handler_is_shown_and_ends_the_loop) {
    bool go_on = true;
    try {
        throw 7;
    } catch (...) {
        go_on = app().OnExceptionInMainLoop();
    }
    EXPECT_FALSE(go_on);
    ASSERT_EQ(app().boxes.size(), 1u);
    EXPECT_EQ(app().boxes[0].text, L"Программа будет завершена.");
    EXPECT_EQ(app().boxes[0].caption, L"Неизвестное исключение.");
    EXPECT_EQ(app().boxes[0].style, wxOK | wxICON_ERROR);
}

TEST(tresvik_app, error_outside_the_loop_gets_the_plain_centred_box) {
    app().OnUnhandledException();
    ASSERT_EQ(app().boxes.size(), 1u);
    EXPECT_EQ(app().boxes[0].text, "Unhandled exception");
    EXPECT_EQ(app().boxes[0].caption, "Error");
    EXPECT_EQ(app().boxes[0].style, wxOK | wxCENTRE);
    EXPECT_EQ(app().OnExit(), 0);
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    wxApp::SetInstance(new test_tresvik);
    if (!wxEntryStart(argc, argv))
        return 2;
    const int result = RUN_ALL_TESTS();
    wxEntryCleanup();
    return result;
}

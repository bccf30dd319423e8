#include <filesystem>
#include <fstream>
#include <functional>
#include <gmock/gmock.h>
#include <stdexcept>
#include <unistd.h>
#include <vector>

#include <wx/utils.h>

#include "app/tresvik_app.h"
#include "log/thread_events.h"
#include "tests/support/temp_home.h"

namespace {
std::string box(const wxString& caption, const wxString& text, long style = wxOK | wxICON_ERROR) {
    return std::string(wxString::Format("%s: %s %ld", caption, text, style).utf8_str());
}

// The application with its seams replaced: boxes are recorded as "caption: text style", the
// window can be made to throw and the process is not ended.
class test_tresvik : public tresvik {
public:
    std::vector<std::string> boxes;
    std::function<wxFrame*()> make_window;
    int ended_with = -1;

protected:
    void show_box(const wxString& text, const wxString& caption, long style) override {
        boxes.push_back(box(caption, text, style));
    }
    wxFrame* create_main_window() override {
        return make_window ? make_window() : tresvik::create_main_window();
    }
    void end_process(int exit_code) override { ended_with = exit_code; }
};

test_tresvik& app() {
    return *static_cast<test_tresvik*>(wxTheApp);
}
} // namespace

// Another live process of the same user (the test's parent stands in) holds the lock in the same
// home folder.
TEST(tresvik_app, second_instance_of_the_same_user_shows_the_box_and_ends) {
    temp_home home;
    const std::string lock =
        (home.path() + "/" + app().GetAppName() + "-" + wxGetUserId()).ToStdString();
    std::ofstream(lock) << getppid();
    std::filesystem::permissions(lock, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::owner_write);
    app().make_window = []() -> wxFrame* { throw std::logic_error("no window was to be made"); };
    EXPECT_FALSE(app().OnInit());
    EXPECT_EQ(app().boxes, std::vector{box("Error", L"Another program instance is already "
                                                    "running, aborting.")});
}

// A standard or unknown error thrown from an event handler (it reaches OnExceptionInMainLoop), then
// while the window is made (OnInit catches its own): whether the program goes on, whether the
// process was ended, and the boxes in order.
TEST(tresvik_app, each_error_gets_its_box_and_ends_what_it_must) {
    temp_home home;
    EXPECT_TRUE(app().OnInit());
    wxWindow* window = app().GetTopWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->GetLabel(), L"Подвагонные камеры");
    EXPECT_TRUE(window->IsShown() && (window->GetWindowStyle() & wxMAXIMIZE));
    post_thread_event(window, EVT_THREAD_COMMAND_FAILED, "Error setting exposure mode.");
    post_thread_event(window, EVT_THREAD_SERVICE_DOWN, "bind: Address already in use");
    app().ProcessPendingEvents(); // the service's own port may be taken as well: a third box
    EXPECT_THAT(app().boxes,
                testing::IsSupersetOf({box("C++ exception", "Error setting exposure mode."),
                                       box("Error", "Unhandled exception", wxOK | wxCENTRE)}));
    app().boxes.clear();
    delete window;
    std::vector<std::string> outcomes; // "<goes on> <exit code, -1: not ended>"
    const auto outcome = [&](bool goes_on) {
        outcomes.push_back(std::to_string(goes_on) + " " + std::to_string(app().ended_with));
    };
    for (const bool standard : {true, false}) {
        app().make_window = [standard]() -> wxFrame* {
            if (standard)
                throw std::runtime_error("Error opening JAI factory.");
            throw 42;
        };
        try {
            app().make_window();
        } catch (...) {
            outcome(app().OnExceptionInMainLoop());
        }
        outcome(app().OnInit());
    }
    EXPECT_EQ(outcomes, (std::vector<std::string>{"1 -1", "0 -1", "0 -1", "0 1"}));
    app().OnUnhandledException();
    EXPECT_EQ(app().boxes,
              (std::vector{box("C++ exception", "Error opening JAI factory."),
                           box("C++ exception", "Error opening JAI factory."),
                           box(L"Неизвестное исключение.", L"Программа будет завершена."),
                           box("Fatal error", "Unknown exception. Application will be closed"),
                           box("Error", "Unhandled exception", wxOK | wxCENTRE)}));
    EXPECT_EQ(app().OnExit(), 0);
}

wxApp* make_test_app() {
    return new test_tresvik;
}

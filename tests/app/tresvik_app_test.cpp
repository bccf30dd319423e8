#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>
#include <vector>

#include <wx/init.h>
#include <wx/msgdlg.h>
#include <wx/utils.h>

#include "app/tresvik_app.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_home.h"

namespace {
const long error_box = wxOK | wxICON_ERROR;

std::string box(const wxString& caption, const wxString& text, long style = error_box) {
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

// Another process of the same user holds the lock in the same home folder.
TEST(tresvik_app, second_instance_of_the_same_user_shows_the_box_and_ends) {
    temp_home home;
    child_process other(
        {TRESVIK_INSTANCE_HOLDER, (app().GetAppName() + "-" + wxGetUserId()).ToStdString()});
    ASSERT_EQ(other.line(), "held");
    app().make_window = []() -> wxFrame* { throw std::logic_error("no window was to be made"); };
    EXPECT_FALSE(app().OnInit());
    EXPECT_EQ(app().boxes, std::vector{box("Error", L"Another program instance is already "
                                                    "running, aborting.")});
}

// What escapes the window's construction, an event handler or the loop: the box, whether the
// program goes on, and the code the process is ended with (-1: not ended).
TEST(tresvik_app, each_error_gets_its_box_and_ends_what_it_must) {
    temp_home home;
    EXPECT_TRUE(app().OnInit());
    wxWindow* window = app().GetTopWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->IsShown());
    EXPECT_TRUE(app().boxes.empty());
    delete window;
    const auto at_start = [](std::function<void()> fail) {
        app().make_window = [fail]() -> wxFrame* {
            fail();
            return nullptr;
        };
        return app().OnInit();
    };
    const auto in_loop = [](std::function<void()> fail) {
        try {
            fail();
        } catch (...) {
            return app().OnExceptionInMainLoop();
        }
        return false;
    };
    const auto standard = [] { throw std::runtime_error("Error opening JAI factory."); };
    const auto unknown = [] { throw 42; };
    const struct {
        std::function<bool(std::function<void()>)> where;
        std::function<void()> fail;
        std::string box;
        bool goes_on;
        int ended_with;
    } cases[] = {
        {at_start, standard, box("C++ exception", "Error opening JAI factory."), false, -1},
        {at_start, unknown, box("Fatal error", "Unknown exception. Application will be closed"),
         false, 1},
        {in_loop, standard, box("C++ exception", "Error opening JAI factory."), true, -1},
        {in_loop, unknown, box(L"Неизвестное исключение.", L"Программа будет завершена."), false,
         -1},
    };
    for (const auto& c : cases) {
        app().boxes.clear();
        app().ended_with = -1;
        EXPECT_EQ(c.where(c.fail), c.goes_on) << c.box;
        EXPECT_EQ(app().boxes, std::vector{c.box});
        EXPECT_EQ(app().ended_with, c.ended_with) << c.box;
    }
    app().boxes.clear();
    app().OnUnhandledException();
    EXPECT_EQ(app().boxes, std::vector{box("Error", "Unhandled exception", wxOK | wxCENTRE)});
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

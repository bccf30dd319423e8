#include <clocale>
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/init.h>

namespace {
// A bare application object: the tests build the real windows themselves and drive them.
class gui_test_app : public wxApp {
public:
    bool OnInit() override { return true; }
};
} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    wxApp::SetInstance(new gui_test_app);
    if (!wxEntryStart(argc, argv))
        return 2;
    std::setlocale(LC_ALL, "C.UTF-8");
    wxTheApp->CallOnInit();
    const int result = RUN_ALL_TESTS();
    wxTheApp->OnExit();
    wxEntryCleanup();
    return result;
}

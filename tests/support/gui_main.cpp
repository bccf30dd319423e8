#include <clocale>
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/init.h>

// A bare application object whose initialisation is not run: the tests build the real windows
// themselves and drive them. A test program that drives the application itself defines its own.
__attribute__((weak)) wxApp* make_test_app() {
    return new wxApp;
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    wxApp::SetInstance(make_test_app());
    if (!wxEntryStart(argc, argv))
        return 2;
    std::setlocale(LC_ALL, "C.UTF-8");
    const int result = RUN_ALL_TESTS();
    wxTheApp->OnExit();
    wxEntryCleanup();
    return result;
}

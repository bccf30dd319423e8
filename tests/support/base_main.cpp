#include <clocale>
#include <gtest/gtest.h>
#include <wx/init.h>

// Worker-thread code relies on wxBase (threads, strings, events) being initialised, as the
// application does before it starts any of them.
int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "C.UTF-8");
    testing::InitGoogleTest(&argc, argv);
    wxInitializer wx;
    if (!wx.IsOk())
        return 2;
    return RUN_ALL_TESTS();
}

#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <sstream>

#include "settings/settings.h"
#include "settings/settings_store.h"
#include "tests/support/temp_home.h"

// A first start makes the folder but writes no file until a key is stored, and the store is
// written when it goes. The defaults the options dialog shows are checked with it. Cyrillic
// values and home folder survive a save and reload as UTF-8.
TEST(settings, a_first_start_has_every_default_and_a_stored_key_reaches_the_file_as_utf8) {
    temp_home home;
    const std::string file = home.path() + "/Velmora3/config/.tresvik";
    auto config = open_settings();
    EXPECT_EQ(read_side_for_startup_row(*config), L"не определен");
    EXPECT_EQ(read_exposure_mode(*config), "Off");
    wxString path;
    EXPECT_FALSE(read_stored_write_path(*config, &path));
    write_exposure_mode(*config, "ContinuousPreset3");
    EXPECT_FALSE(std::ifstream(file).good());
    config.reset();
    EXPECT_EQ(read_file(file), "exposure_mode=ContinuousPreset3\n");
    EXPECT_EQ(read_exposure_mode(*open_settings()), "ContinuousPreset3");
    const std::string cyrillic_home = home.path() + "/оператор";
    ASSERT_TRUE(wxFileName::Mkdir(wxString::FromUTF8(cyrillic_home), 0777, wxPATH_MKDIR_FULL));
    setenv("HOME", cyrillic_home.c_str(), 1);
    const wxString folder = wxString::FromUTF8(cyrillic_home + "/записи");
    open_settings()->Write("side", L"правый");
    open_settings()->Write("write_path", folder);
    EXPECT_NE(read_file(cyrillic_home + "/Velmora3/config/.tresvik").find("side=правый"),
              std::string::npos);
    config = open_settings();
    EXPECT_EQ(read_side(*config), L"правый");
    EXPECT_TRUE(read_stored_write_path(*config, &path));
    EXPECT_EQ(path, folder);
}

TEST(settings, unmakeable_folder_gives_an_error_row_and_a_store_with_defaults) {
    temp_home home;
    std::ofstream(home.path() + "/Velmora3") << "a file where the folder should be";
    std::wostringstream captured;
    std::wstreambuf* saved = std::wcerr.rdbuf(captured.rdbuf());
    const auto config = open_settings();
    std::wcerr.rdbuf(saved);
    const wxString expected = wxString::FromUTF8("Не удается создать папку с файлами настройки [" +
                                                 home.path() + "/Velmora3/config]");
    EXPECT_NE(captured.str().find(expected.ToStdWstring()), std::wstring::npos);
    EXPECT_NE(captured.str().find(L"color='red'"), std::wstring::npos);
    EXPECT_EQ(read_side(*config), L"левый");
}

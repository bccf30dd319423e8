#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <sstream>

#include <wx/datetime.h>
#include <wx/utils.h>

#include "settings/settings.h"
#include "settings/settings_store.h"
#include "tests/support/temp_home.h"

// A first start makes the folder but writes no file until a key is stored, and the store is
// written when it goes. The defaults the options dialog shows are checked with it. Cyrillic
// values and home folder survive a save and reload as UTF-8.
TEST(settings, a_first_start_has_every_default_and_a_stored_key_reaches_the_file_as_utf8) {
    temp_home home;
    const std::string file = home.path() + "/Velmora3/config/.tresvik";
    auto config = open_settings().store;
    EXPECT_EQ(read_side_for_startup_row(*config), L"не определен");
    EXPECT_EQ(read_exposure_mode(*config), "Off");
    wxString path;
    EXPECT_FALSE(read_stored_write_path(*config, &path));
    write_exposure_mode(*config, "ContinuousPreset3");
    EXPECT_FALSE(std::ifstream(file).good());
    config.reset();
    EXPECT_EQ(read_file(file), "exposure_mode=ContinuousPreset3\n");
    EXPECT_EQ(read_exposure_mode(*open_settings().store), "ContinuousPreset3");
    const std::string cyrillic_home = home.path() + "/оператор";
    ASSERT_TRUE(wxFileName::Mkdir(wxString::FromUTF8(cyrillic_home), 0777, wxPATH_MKDIR_FULL));
    setenv("HOME", cyrillic_home.c_str(), 1);
    const wxString folder = wxString::FromUTF8(cyrillic_home + "/записи");
    open_settings().store->Write("side", L"правый");
    open_settings().store->Write("write_path", folder);
    EXPECT_NE(read_file(cyrillic_home + "/Velmora3/config/.tresvik").find("side=правый"),
              std::string::npos);
    config = open_settings().store;
    EXPECT_EQ(read_side(*config), L"правый");
    EXPECT_TRUE(read_stored_write_path(*config, &path));
    EXPECT_EQ(path, folder);
}

TEST(settings, unmakeable_folder_gives_an_error_row_and_a_store_with_defaults) {
    temp_home home;
    std::ofstream(home.path() + "/Velmora3") << "a file where the folder should be";
    std::wostringstream captured;
    std::wstreambuf* saved = std::wcerr.rdbuf(captured.rdbuf());
    const auto config = open_settings().store;
    std::wcerr.rdbuf(saved);
    const wxString expected = wxString::FromUTF8("Не удается создать папку с файлами настройки [" +
                                                 home.path() + "/Velmora3/config]");
    EXPECT_NE(captured.str().find(expected.ToStdWstring()), std::wstring::npos);
    EXPECT_NE(captured.str().find(L"color='red'"), std::wstring::npos);
    EXPECT_EQ(read_side(*config), L"левый");
}

namespace {
namespace fs = std::filesystem;

// "side=правый" and a comment in Windows-1251, as the older cars saved it.
const std::string cp1251_file =
    "; \xcd\xe0\xf1\xf2\xf0\xee\xe9\xea\xe8\nside=\xef\xf0\xe0\xe2\xfb\xe9\n";

struct damaged_file {
    const char* what;
    std::string bytes;   // the file's content; empty: a folder in its place
    bool copy_blocked;   // something already stands where the copy would go
    const wchar_t* side; // what the store reads
    const char* row;     // what the one problem row says besides the file's path
    bool saved;          // a key written afterwards reaches the file as UTF-8
};

std::vector<fs::path> copies_beside(const fs::path& file) {
    std::vector<fs::path> copies;
    for (const auto& entry : fs::directory_iterator(file.parent_path()))
        if (entry.path() != file)
            copies.push_back(entry.path());
    return copies;
}

// The copy is named after the second it is made in; the next few seconds are taken too.
void block_copies_of(const fs::path& file) {
    for (int second = 0; second < 3; ++second) {
        const wxDateTime when = wxDateTime::Now() + wxTimeSpan::Seconds(second);
        fs::create_directory(file.string() + when.Format(".%Y%m%d-%H%M%S").ToStdString() + ".bak");
    }
}
} // namespace

// The user's file is never lost: what can be read is read, the original is kept before anything
// is written, and the operator is told in one row that names the file.
TEST(settings, a_file_that_is_not_utf8_text_is_read_kept_and_reported) {
    const std::vector<damaged_file> files = {
        {"Windows-1251 text", cp1251_file, false, L"правый", "прочитан как Windows-1251", true},
        {"binary", std::string("\0\xff\xfe\x01side\0=\x98\n", 11), false, L"левый",
         "прочитан как Windows-1251", true},
        {"no copy possible", cp1251_file, true, L"правый", "сохранить не удалось", false},
        {"a folder", "", false, L"левый", "не удается прочитать", false},
    };
    for (const damaged_file& f : files) {
        SCOPED_TRACE(f.what);
        temp_home home;
        const fs::path file = home.path() + "/Velmora3/config/.tresvik";
        fs::create_directories(f.bytes.empty() ? file : file.parent_path());
        if (!f.bytes.empty())
            std::ofstream(file, std::ios::binary) << f.bytes;
        if (f.copy_blocked)
            block_copies_of(file);
        opened_settings opened = open_settings();
        ASSERT_EQ(opened.problems.size(), 1u);
        EXPECT_TRUE(opened.problems[0].Contains(wxString::FromUTF8(f.row)));
        EXPECT_TRUE(opened.problems[0].Contains(wxString::FromUTF8(file.string())));
        EXPECT_EQ(read_side(*opened.store), f.side);
        const std::vector<fs::path> copies = copies_beside(file);
        if (!f.bytes.empty() && !f.copy_blocked) {
            ASSERT_EQ(copies.size(), 1u);
            EXPECT_EQ(read_file(copies[0]), f.bytes);
        }
        opened.store->Write("exposure_mode", "ContinuousPreset2");
        opened.store.reset();
        if (f.saved) {
            EXPECT_NE(read_file(file).find("exposure_mode=ContinuousPreset2"), std::string::npos);
            EXPECT_EQ(read_side(*open_settings().store), f.side);
        } else {
            EXPECT_EQ(f.bytes.empty() ? fs::is_directory(file) : read_file(file) == f.bytes, true);
        }
        EXPECT_EQ(copies_beside(file), copies);
    }
}

// The archive's settings: a good text is taken, a bad one gives the default and one row naming the
// key and the text; rclone's own --bwlimit syntax is checked as rclone checks it.
TEST(settings, archive_values_are_checked_and_a_bad_one_is_named_with_its_key) {
    for (const char* valid : {"", "10M", "off", "0.5m", "1.5", "10M:100k", "off:1M", "08:00,1M:2M",
                              "08:00,512k 12:00,10M 23:00,off", "Mon-08:00,512k fri-18:00,off"})
        EXPECT_TRUE(valid_bandwidth_limit(valid)) << valid;
    for (const char* invalid : {"1MB", "-1M", "8:00,1M", "24:00,1M", "08:60,1M", "1M:2M:3M",
                                "12:00,", "08:00,1M  12:00,2M", "Mox-08:00,1M"})
        EXPECT_FALSE(valid_bandwidth_limit(invalid)) << invalid;
    constexpr std::uint64_t gib = 1ull << 30;
    const std::pair<const char*, std::uint64_t> goals[] = {
        {"10%", 10 * gib},      {"12.5%", 12.5 * gib}, {"0%", 0},      {"20G", 20 * gib},
        {"512m", 512ull << 20}, {"1.5T", 1536 * gib},  {"4096", 4096},
    };
    for (const auto& [text, wanted] : goals)
        EXPECT_EQ(parse_free_space(text)->wanted(100 * gib), wanted) << text;
    for (const char* refused : {"100%", "-1G", "10 %", "G", "", "1e3", "99999999999999999999T"})
        EXPECT_FALSE(parse_free_space(refused)) << refused;
    temp_home home;
    auto config = open_settings().store;
    EXPECT_EQ(read_archive_rclone_config(*config), home.path() + "/Velmora3/config/rclone.conf");
    config->Write("archive_rclone_config", "~/rclone.conf");
    EXPECT_EQ(read_archive_rclone_config(*config), home.path() + "/rclone.conf");
    const auto row = [](const char* key, const char* text, const wxString& used) {
        return wxString::Format(L"Настройка %s: значение \"%s\" не подходит, используется \"%s\".",
                                key, text, used);
    };
    for (const auto& [key, text] : {std::pair{"archive_car", "car/7"},
                                    {"archive_bwlimit", "fast"},
                                    {"min_free_space", "lots"},
                                    {"loop_recording", "yes"}})
        config->Write(key, text);
    EXPECT_EQ(read_archive_car(*config).problem, row("archive_car", "car/7", wxGetHostName()));
    EXPECT_EQ(read_archive_car(*config).value, wxGetHostName());
    EXPECT_EQ(read_archive_bwlimit(*config).problem, row("archive_bwlimit", "fast", ""));
    EXPECT_EQ(read_min_free_space(*config).problem, row("min_free_space", "lots", "10%"));
    EXPECT_EQ(read_min_free_space(*config).value.wanted(1000), 100u);
    EXPECT_EQ(read_loop_recording(*config).problem, row("loop_recording", "yes", "false"));
    config->Write("loop_recording", "1");
    config->Write("archive_bwlimit", "08:00,1M");
    EXPECT_TRUE(read_loop_recording(*config).value);
    EXPECT_EQ(read_archive_bwlimit(*config).value, "08:00,1M");
    EXPECT_TRUE(read_archive_bwlimit(*config).problem.empty());
}

#include "browser/database_commands.h"
#include "browser/database_list.h"

#include <fcntl.h>
#include <filesystem>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <wx/fileconf.h>
#include <wx/frame.h>
#include <wx/sstream.h>

#include "browser/viewer_dialog.h"
#include "tests/browser/scripted_prompts.h"
#include "tests/recording/raw_session.h"
#include "tests/support/temp_home.h"

namespace {
namespace fs = std::filesystem;

// Three sessions written with plain leveldb under a scratch root, listed in a window.
struct list_fixture : testing::Test {
    temp_dir root;
    session_store sessions{root.path()};
    wxStringInputStream no_file{""};
    wxFileConfig settings{no_file};
    scripted_prompts prompts;
    std::vector<wxString> errors;
    wxFrame* frame = new wxFrame(nullptr, wxID_ANY, "test");
    database_list* list = new database_list(frame);
    database_commands commands{*list, sessions, settings, prompts,
                               [this](const wxString& text) { errors.push_back(text); }};

    list_fixture() {
        for (const char* name : {"a", "b", "c"}) {
            raw_entries entries = recorded_session();
            entries["session"] = std::string("code-") + name;
            entries["side"] = "правый";
            write_raw_session(folder(name), entries);
        }
        commands.refresh();
    }
    ~list_fixture() override { frame->Destroy(); }
    std::string folder(const std::string& name) const { return root.path() + "/" + name; }
    // Selects the rows of the named folders, in list order.
    void select(std::initializer_list<const char*> names) {
        list->SetItemState(-1, 0, wxLIST_STATE_SELECTED); // -1: every row
        for (const char* name : names)
            list->SetItemState(row_of(name), wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    }
    long row_of(const std::string& name) const { return list->FindItem(-1, "code-" + name); }
};
} // namespace

// Only a yes removes; a session folder that is a link to data elsewhere, or a link inside a
// folder, loses the link, never the data. A removal that leaves files (where a file can be made
// immutable) is reported with them.
TEST_F(list_fixture, delete_asks_and_never_follows_a_link_out_of_the_folder) {
    temp_dir elsewhere;
    write_raw_session(elsewhere.path() + "/kept", {{"session", "code-linked"}, {"version", "1"}});
    fs::create_directory_symlink(elsewhere.path() + "/kept", folder("linked"));
    fs::create_directory_symlink(elsewhere.path(), folder("a") + "/outside");
    commands.refresh();
    select({"a"});
    prompts.answer_yes = false;
    commands.delete_selected();
    EXPECT_TRUE(fs::exists(folder("a")));
    EXPECT_EQ(prompts.asked.at(0), L"Удаление данных: Данные в папке " + folder("a") +
                                       L" будут удалены безвозвратно. Продолжить?");
    prompts.answer_yes = true;
    commands.delete_selected();
    select({"linked"});
    commands.delete_selected();
    EXPECT_FALSE(fs::exists(fs::symlink_status(folder("linked"))));
    EXPECT_FALSE(fs::exists(folder("a")));
    EXPECT_TRUE(fs::exists(elsewhere.path() + "/kept/CURRENT"));
    EXPECT_EQ(list->GetItemCount(), 2);
    EXPECT_TRUE(errors.empty());
    const std::string stuck = folder("b") + "/CURRENT";
    const int fd = open(stuck.c_str(), O_RDONLY);
    int flags = FS_IMMUTABLE_FL;
    if (ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0) {
        close(fd);
        GTEST_SKIP() << "files cannot be made immutable here";
    }
    select({"b"});
    commands.delete_selected();
    flags = 0;
    ioctl(fd, FS_IOC_SETFLAGS, &flags);
    close(fd);
    ASSERT_FALSE(errors.empty()); // the refresh then reports the folder that is left, too
    EXPECT_TRUE(errors[0].Contains("could not be removed whole")) << errors[0];
    EXPECT_TRUE(errors[0].Contains(stuck)) << errors[0];
}

// Rows follow the index; the first selected row is acted on.
TEST_F(list_fixture, side_comes_from_the_setting_and_the_code_from_the_operator) {
    ASSERT_EQ(list->GetItemCount(), 3);
    EXPECT_EQ(list->selected_path(), "");
    select({"c", "a"});
    EXPECT_EQ(list->selected_path(), folder(row_of("a") < row_of("c") ? "a" : "c"));
    settings.Write("side", L"левый");
    select({"a"});
    commands.assign_side();
    const std::pair<const char*, std::optional<wxString>> answers[] = {
        {"a", wxString(L"Новый код")}, {"b", std::nullopt}, {"c", wxString()}};
    for (const auto& [name, answer] : answers) {
        select({name});
        prompts.text_answer = answer;
        commands.change_session_code();
    }
    EXPECT_EQ(prompts.asked[0], L"Код сеанса: Введите новый код сеанса [code-a]");
    const raw_entries a = read_raw_session(folder("a"));
    EXPECT_EQ(a.at("side"), "левый");
    EXPECT_EQ(a.at("session"), "Новый код");
    EXPECT_EQ(read_raw_session(folder("b")).at("session"), "code-b") << "cancelled";
    EXPECT_EQ(read_raw_session(folder("c")).at("session"), "") << "an empty code confirmed";
    EXPECT_EQ(row_of("a"), -1) << "the list was refreshed after each command";
}

// Opening a folder gone since the refresh for writing would have made an empty database there: the
// store refuses, and that is a row. A folder held elsewhere goes to the box. Either way the list
// is refreshed and stays usable.
TEST_F(list_fixture, a_folder_gone_or_held_is_reported_and_left_alone) {
    select({"c"});
    fs::remove_all(folder("c"));
    commands.assign_side();
    EXPECT_FALSE(fs::exists(folder("c")));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].Contains(folder("c")));
    EXPECT_EQ(list->GetItemCount(), 2);
    session_writer holder;
    holder.open(folder("a"));
    select({"a"});
    EXPECT_THROW(commands.assign_side(), std::runtime_error);
    EXPECT_EQ(list->GetItemCount(), 1) << "the held folder is reported and left out";
    holder.close();
    commands.refresh();
    EXPECT_EQ(list->GetItemCount(), 2);
}

// A ruler scale that cannot be drawn (or is absurd) is reported each time the viewer opens, and
// the default is used.
TEST_F(list_fixture, the_viewer_gets_a_usable_ruler_scale_or_the_default_and_a_row) {
    std::vector<double> shown;
    prompts.modal = [&](wxDialog& dialog) {
        shown.push_back(dynamic_cast<viewer_dialog&>(dialog).panel().ruler_scale());
        return true;
    };
    select({"a"});
    const std::pair<const char*, double> cases[] = {{"1000", 1000}, {"0.5", 0.5}, {"nan", 0.8},
                                                    {"inf", 0.8},   {"0", 0.8},   {"abc", 0.8}};
    for (const auto& [text, scale] : cases) {
        errors.clear();
        settings.Write("scale", text);
        commands.view_selected();
        EXPECT_EQ(shown.back(), scale) << text;
        EXPECT_EQ(errors.size(), scale == 0.8 ? 1u : 0u) << text;
    }
    EXPECT_EQ(errors.at(0), "The setting scale=abc is not a number of pixels per millimetre above "
                            "0 and up to 1000; the ruler uses 0.8.");
}

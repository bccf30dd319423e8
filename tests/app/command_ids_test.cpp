#include <gtest/gtest.h>

#include "app/command_ids.h"

namespace {
struct expectation {
    int id;
    bool idle_no_camera;
    bool idle_with_camera;
    bool capturing;
};
} // namespace

TEST(command_ids, enabling_follows_capture_and_camera) {
    const expectation table[] = {
        {id_options, true, true, false},      {id_exit, true, true, true},
        {id_capture, false, true, false},     {id_capture_record, false, true, false},
        {id_stop, false, false, true},        {id_update_cameras, true, true, false},
        {id_camera_list, true, true, false},  {id_update_databases, true, true, false},
        {id_replace_side, true, true, true},  {id_replace_session_code, true, true, true},
        {id_exposure_list, true, true, true},
    };
    for (const auto& row : table) {
        command_state state;
        EXPECT_EQ(is_command_enabled(row.id, state), row.idle_no_camera) << row.id;
        state.camera_open = true;
        EXPECT_EQ(is_command_enabled(row.id, state), row.idle_with_camera) << row.id;
        state.capturing = true;
        EXPECT_EQ(is_command_enabled(row.id, state), row.capturing) << row.id;
    }
}

TEST(command_ids, view_and_delete_need_an_entry_a_selection_and_no_capture) {
    for (int id : {id_view_database, id_delete_database}) {
        command_state state;
        state.database_listed = true;
        EXPECT_FALSE(is_command_enabled(id, state));
        state.database_selected = true;
        EXPECT_TRUE(is_command_enabled(id, state));
        state.capturing = true;
        EXPECT_FALSE(is_command_enabled(id, state));
        state = command_state{};
        state.database_selected = true;
        EXPECT_FALSE(is_command_enabled(id, state));
    }
}

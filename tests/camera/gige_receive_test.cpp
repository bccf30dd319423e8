#include <cstdio>
#include <fstream>

#include <gtest/gtest.h>

#include "camera/gige_receive.h"
#include "tests/support/temp_home.h"

namespace {

TEST(receive_buffer_warning, is_empty_when_the_limit_holds_a_frame) {
    EXPECT_EQ(receive_buffer_warning(4194304, 4194304), "");
    EXPECT_EQ(receive_buffer_warning(8388608, 2457600), "");
}

TEST(receive_buffer_warning, names_both_sizes_and_the_remedy_when_a_frame_does_not_fit) {
    const std::string warning = receive_buffer_warning(212992, 2457600);
    EXPECT_NE(warning.find("212992"), std::string::npos);
    EXPECT_NE(warning.find("2457600"), std::string::npos);
    EXPECT_NE(warning.find("sysctl -w net.core.rmem_max=3145728"), std::string::npos);
    EXPECT_NE(warning.find("line \"net.core.rmem_max=3145728\" to a file in /etc/sysctl.d/"),
              std::string::npos);
}

TEST(receive_buffer_warning, is_empty_when_the_limit_is_unknown) {
    EXPECT_EQ(receive_buffer_warning(0, 2457600), "");
}

class rmem_file : public testing::Test {
protected:
    std::string write(const std::string& text) {
        const std::string path = folder.path() + "/rmem_max";
        std::ofstream(path) << text;
        return path;
    }
    temp_dir folder;
};

TEST_F(rmem_file, gives_the_number_in_the_file) {
    EXPECT_EQ(read_rmem_max_from(write("4194304\n")), 4194304u);
}

TEST_F(rmem_file, gives_0_for_a_file_without_a_number) {
    EXPECT_EQ(read_rmem_max_from(write("unlimited\n")), 0u);
}

TEST_F(rmem_file, gives_0_for_a_missing_file) {
    EXPECT_EQ(read_rmem_max_from(folder.path() + "/none"), 0u);
}

} // namespace

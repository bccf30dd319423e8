#include <fstream>

#include <gtest/gtest.h>

#include "camera/gige_receive.h"
#include "tests/support/temp_home.h"

namespace {

TEST(receive_buffer_warning, is_empty_while_the_limit_holds_a_frame_or_is_unknown) {
    EXPECT_EQ(receive_buffer_warning(4194304, 4194304), "");
    EXPECT_EQ(receive_buffer_warning(8388608, 2457600), "");
    EXPECT_EQ(receive_buffer_warning(0, 2457600), "");
}

TEST(receive_buffer_warning, names_both_sizes_and_the_remedy_when_a_frame_does_not_fit) {
    const std::string warning = receive_buffer_warning(212992, 2457600);
    EXPECT_NE(warning.find("212992"), std::string::npos);
    EXPECT_NE(warning.find("2457600"), std::string::npos);
    EXPECT_NE(warning.find("sysctl -w net.core.rmem_max=3145728"), std::string::npos);
    EXPECT_NE(warning.find("line \"net.core.rmem_max=3145728\" to a file in /etc/sysctl.d/"),
              std::string::npos);
}

TEST(read_rmem_max_from, gives_the_number_in_the_file_or_0) {
    temp_dir folder;
    const std::string path = folder.path() + "/rmem_max";
    std::ofstream(path) << "4194304\n";
    EXPECT_EQ(read_rmem_max_from(path), 4194304u);
    std::ofstream(path) << "unlimited\n";
    EXPECT_EQ(read_rmem_max_from(path), 0u);
    EXPECT_EQ(read_rmem_max_from(folder.path() + "/none"), 0u);
}

} // namespace

#include "harness/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

temp_dir::temp_dir(const std::string& prefix)
    : path_((std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string()) {
    if (!mkdtemp(path_.data()))
        throw std::runtime_error("mkdtemp failed");
}

temp_dir::~temp_dir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

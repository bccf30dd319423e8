#include "harness/temp_dir.h"

#include <cstdlib>
#include <filesystem>
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

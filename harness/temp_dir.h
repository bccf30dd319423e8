#pragma once

#include <string>

// A fresh folder under the temporary directory, removed with everything in it on destruction.
class temp_dir {
public:
    explicit temp_dir(const std::string& prefix = "tresvik");
    ~temp_dir();
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// The whole content of a file; empty when it cannot be read.
std::string read_file(const std::string& path);

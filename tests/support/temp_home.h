#pragma once

#include <optional>
#include <string>

// A fresh temporary folder, removed with everything in it on destruction.
class temp_dir {
public:
    explicit temp_dir(const std::string& prefix = "tresvik-test");
    ~temp_dir();
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// A temporary folder that stands in for the user's home directory for the life of the object:
// HOME points at it, and is restored on destruction.
class temp_home : public temp_dir {
public:
    temp_home();
    ~temp_home();

private:
    std::optional<std::string> saved_home_;
};

// The whole content of a file; empty when it cannot be read.
std::string read_file(const std::string& path);

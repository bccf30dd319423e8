#pragma once

#include <optional>
#include <string>

#include "harness/temp_dir.h"

// A temporary folder that stands in for the user's home directory for the life of the object:
// HOME points at it, and is restored on destruction.
class temp_home : public temp_dir {
public:
    temp_home();
    ~temp_home();

private:
    std::optional<std::string> saved_home_;
};

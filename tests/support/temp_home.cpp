#include "tests/support/temp_home.h"

#include <cstdlib>

temp_home::temp_home() : temp_dir("tresvik-home") {
    if (const char* home = std::getenv("HOME"))
        saved_home_ = home;
    setenv("HOME", path().c_str(), 1);
}

temp_home::~temp_home() {
    if (saved_home_)
        setenv("HOME", saved_home_->c_str(), 1);
    else
        unsetenv("HOME");
}

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "harness/child_process.h"

std::string built_program(const std::string& name) {
    const char* bin = std::getenv("TRESVIK_BIN");
    const std::filesystem::path folder =
        bin ? std::filesystem::path(bin)
            : std::filesystem::read_symlink("/proc/self/exe").parent_path();
    return (folder / name).string();
}

long process_memory_kib(const std::string& pid, const std::string& field) {
    std::ifstream status("/proc/" + pid + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field + ":", 0) == 0)
            return std::stol(line.substr(field.size() + 1));
    return 0;
}

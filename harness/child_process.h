#pragma once

// Child programs for the benchmarks and the tests: the simulators and the tools built beside the
// caller, and the memory they hold.

#include <string>

#include "process/child_process.h"

// A program built beside the caller (TRESVIK_BIN, else the running program's own folder).
std::string built_program(const std::string& name);

// A memory figure of /proc/<pid>/status in KiB ("VmRSS", "VmHWM"; pid "self" for this process);
// 0 when the process or the field is gone.
long process_memory_kib(const std::string& pid, const std::string& field);

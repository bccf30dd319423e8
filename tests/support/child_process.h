#pragma once

#include <sys/types.h>

// For a helper process just forked from a test, before it execs: the kernel kills it with SIGKILL
// when the test process ends, so that a test that fails or crashes never leaves a helper behind
// holding ctest's output. parent is the test's pid, taken before fork; a helper whose test ended
// before the request was made exits at once. The signal comes when the forking thread ends, so
// fork from a thread that lives as long as the helper should. Async-signal-safe.
void die_with_parent(pid_t parent);

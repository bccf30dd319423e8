#include "tests/support/child_process.h"

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

void die_with_parent(pid_t parent) {
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent)
        _exit(127);
}

#pragma once

#include <sched.h>

#include <cstdlib>

// Moves the calling process into a network namespace of its own with only loopback up, so that
// the cameras a test starts or searches for meet nobody else's. Needs the privileges that
// scripts/isolated.sh gives; false without them.
inline bool enter_private_network() {
    return unshare(CLONE_NEWNET) == 0 && std::system("ip link set lo up") == 0;
}

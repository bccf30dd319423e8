#include "base/thread_name.h"

#include <pthread.h>

void name_lent_thread(const char* name) {
    thread_local bool named = false;
    if (named)
        return;
    named = true;
    pthread_setname_np(pthread_self(), name);
}

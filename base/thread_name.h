#pragma once

// Names the calling thread, as `top -H` and /proc/<pid>/task/<tid>/comm show it (at most 15
// bytes on Linux), the first time a thread calls it; later calls on that thread cost a flag. For
// threads a library starts and lends to this program's work (a thread pool, the session engine's
// background thread), which would otherwise carry the name of the thread that started them.
void name_lent_thread(const char* name);

// Helper of the crash test: records frames into the folder given as the only argument and writes
// each DPP to standard output once its record_frame has returned. It runs until it is killed, or
// until the test that reads its reports has gone (the write then fails).
#include <clocale>
#include <cstdio>
#include <unistd.h>

#include "recording/session_db.h"
#include "tests/recording/raw_session.h"

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    std::setlocale(LC_ALL, "C.UTF-8");
    session_writer writer;
    writer.open(argv[1]);
    for (std::uint32_t dpp = 1; dpp < 100000; ++dpp) {
        writer.record_frame(test_frame(dpp, 480, 640), dpp);
        char line[16];
        const int size = std::snprintf(line, sizeof line, "%u\n", dpp);
        if (write(STDOUT_FILENO, line, static_cast<std::size_t>(size)) != size)
            return 1;
    }
    return 0;
}

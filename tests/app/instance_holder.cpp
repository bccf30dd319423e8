#include <fstream>
#include <unistd.h>

#include <wx/init.h>
#include <wx/snglinst.h>

// Holds the single-instance lock of the given name, as a running program would, until killed.
// Arguments: lock name, file to create once the lock is held.
int main(int argc, char** argv) {
    if (argc != 3)
        return 2;
    wxInitializer wx;
    wxSingleInstanceChecker checker(argv[1]);
    if (checker.IsAnotherRunning())
        return 1;
    std::ofstream(argv[2]) << "held";
    for (;;)
        pause();
}

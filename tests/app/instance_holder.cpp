#include <iostream>
#include <unistd.h>

#include <wx/init.h>
#include <wx/snglinst.h>

// Holds the single-instance lock of the given name, as a running program would, until killed;
// prints "held" once it does.
int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    wxInitializer wx;
    wxSingleInstanceChecker checker(argv[1]);
    if (checker.IsAnotherRunning())
        return 1;
    std::cout << "held" << std::endl;
    for (;;)
        pause();
}

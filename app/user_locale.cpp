#include "app/user_locale.h"

#include <clocale>
#include <cstring>
#include <langinfo.h>

void adopt_user_locale() {
    std::setlocale(LC_ALL, "");
    if (std::strcmp(nl_langinfo(CODESET), "ANSI_X3.4-1968") == 0)
        std::setlocale(LC_CTYPE, "C.UTF-8");
}

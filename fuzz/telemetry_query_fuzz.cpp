// Telemetry datagrams from anyone on the car's network: any bytes give a reply or none without
// fault, and a reply is always one of the two forms the supervising program knows.
#include <clocale>
#include <string>

#include <wx/init.h>

#include "fuzz/fuzz_check.h"
#include "service/telemetry_reply.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::setlocale(LC_ALL, "C.UTF-8");
    static wxInitializer wx;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::optional<std::string> reply =
        telemetry_reply(reinterpret_cast<const char*>(data), size, L"левый", size % 2 == 0);
    if (!reply)
        return 0;
    const bool document = reply->rfind("<?xml", 0) == 0;
    const bool line = reply->rfind("Подвагонное видео (левый борт) - ", 0) == 0;
    fuzz_require(document != line, "a reply of neither known form");
    return 0;
}

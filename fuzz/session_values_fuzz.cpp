// Values of session databases that any program may have written: every stored number and time
// reads or is refused without fault, what reads writes back to the same value, every time shows as
// a text, and every stored text survives the trip through the program's wide text unchanged.
#include <clocale>
#include <stdexcept>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "recording/session_format.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::setlocale(LC_ALL, "C.UTF-8");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const std::uint32_t dpp = parse_dpp(text);
        fuzz_require(parse_dpp(frame_key(dpp)) == dpp, "a DPP does not read back from its key");
    } catch (const std::invalid_argument&) {
    }
    try {
        const std::int64_t seconds = parse_unix_seconds(text);
        fuzz_require(parse_unix_seconds(format_unix_seconds(seconds)) == seconds,
                     "a time does not read back");
        fuzz_require(!format_local_time(seconds).empty(), "a time without a text");
    } catch (const std::invalid_argument&) {
    }
    fuzz_require(narrow_text(wide_text(text)) == text, "a stored text changes on its way through");
    return 0;
}

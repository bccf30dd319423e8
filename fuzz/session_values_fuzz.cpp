// Values of session databases that any program may have written: every stored number and time
// reads or is refused without fault, what reads writes back to the same value, every time shows as
// a text, every stored text survives the trip through the program's wide text unchanged, and no
// frame value is decoded beyond the size a camera gives.
#include <clocale>
#include <stdexcept>
#include <string_view>

#include <opencv2/imgcodecs.hpp>

#include "base/encoding.h"
#include "fuzz/fuzz_check.h"
#include "recording/session_format.h"
#include "recording/session_store.h"

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
        const std::optional<std::string> shown = format_local_time(seconds);
        fuzz_require(!shown || !shown->empty(), "a time shown as no text");
    } catch (const std::invalid_argument&) {
    }
    fuzz_require(narrow_text(wide_text(text)) == text, "a stored text changes on its way through");
    const decoded_frame frame = decode_stored_frame(text, cv::IMREAD_GRAYSCALE);
    fuzz_require(frame.image.cols <= max_frame_side && frame.image.rows <= max_frame_side,
                 "a frame decoded beyond what any camera gives");
    fuzz_require(frame.refused.empty() || frame.image.empty(), "a refused frame decoded");
    return 0;
}

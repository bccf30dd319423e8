// A data-service connection's byte stream as any client may send it, in chunks with pauses between
// them: the reader never takes more than it has room for, never gives more requests than the bytes
// it took can hold, answers a lone whole request at once with what that request says, and ends
// every stream with its requests taken or a bad request once the client stops.

#include "fuzz/fuzz_check.h"
#include "service/data_protocol.h"

namespace {
using clock = request_reader::clock;

bool same_request(const frame_request& a, const frame_request& b) {
    return a.live == b.live && a.session_code == b.session_code && a.dpp == b.dpp;
}

// How many requests are ready as of now; each stands for at least a short request's bytes.
std::size_t take_ready(request_reader& reader, clock::time_point now) {
    std::size_t taken = 0;
    while (reader.next(now))
        ++taken;
    return taken;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    request_reader reader;
    clock::time_point now{};
    std::size_t added = 0, requests = 0;
    // Each chunk: a pause in units of 10 ms, a length, then that many bytes (or what is left).
    for (std::size_t at = 0; at + 2 <= size;) {
        now += std::chrono::milliseconds(10 * data[at]);
        const std::size_t length = std::min<std::size_t>(data[at + 1] * 8u, size - at - 2);
        const unsigned char* chunk = data + at + 2;
        at += 2 + length;
        const bool alone = reader.empty();
        const std::size_t room = reader.room();
        const std::size_t taken = reader.add(chunk, length, now);
        fuzz_require(taken <= room && taken <= length, "more bytes taken than there was room for");
        added += taken;
        if (alone && taken == length &&
            (length == short_request_size || length == long_request_size)) {
            const std::optional<frame_request> request = reader.next(now);
            fuzz_require(request && same_request(*request, *parse_frame_request(chunk, length)),
                         "a lone whole request is not answered at once as it reads");
            ++requests;
        }
        requests += take_ready(reader, now);
        fuzz_require(requests * short_request_size <= added,
                     "requests made of more bytes than arrived");
    }
    reader.finish();
    take_ready(reader, now);
    fuzz_require(reader.empty() || reader.failed(now),
                 "a finished stream neither taken nor refused");
    return 0;
}

// The data service under load, side by side with the bare path it replaces (decode the stored
// JPEG in colour, encode PNG level 5, one frame after another on one thread):
// - throughput: 4 clients over loopback fetch 60 distinct 1920 x 1200 frames of an indexed
//   session, each once; every response must decode to the bare path's pixels and be at most
//   1.25 times its size (goal: at least 8 times the bare path's responses per second);
// - latency: a fifth client asks for an unknown session while the four fetch, and a telemetry
//   query is sent meanwhile (p50 and p99);
// - a pipeline: one client sends sixteen large-frame requests at a time while another asks for
//   small responses; the small ones' latency (p50, p99) beside the time one large frame takes to
//   fetch and encode alone (goal: the p99 no longer than that);
// - many clients: 200 connections at once, each making requests; resident memory before and
//   during.
// Runs inside a loopback-only network namespace: scripts/isolated.sh build/bin/bench-data-service
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <opencv2/imgcodecs.hpp>
#include <wx/init.h>

#include "bench/session_bench_support.h"
#include "harness/child_process.h"
#include "recording/session_store.h"
#include "service/data_client.h"
#include "service/data_protocol.h"
#include "service/data_service.h"
#include "service/frame_fetch.h"
#include "service/telemetry.h"

namespace {
using namespace std::chrono_literals;
constexpr int frame_count = 60;
constexpr int clients = 4;

struct stored_session {
    std::vector<std::string> jpegs; // by frame, as stored
    std::vector<std::uint32_t> dpps;
};

stored_session record_session(const std::string& folder) {
    session_writer writer;
    writer.open(folder);
    writer.set_session_code(L"A7 : 12");
    stored_session stored;
    for (int i = 0; i < frame_count; ++i) {
        const auto dpp = static_cast<std::uint32_t>(1000 + 10 * i);
        writer.record_frame(scene_frame(1200, 1920, 40 * i), dpp);
        stored.dpps.push_back(dpp);
    }
    for (std::uint32_t dpp : stored.dpps)
        stored.jpegs.push_back(*writer.read_current_frame(dpp));
    writer.close();
    return stored;
}

// A frame's decoded pixels, remembered as a digest so that sixty of them cost no memory.
std::size_t digest(const cv::Mat& image) {
    return std::hash<std::string_view>()(
        {reinterpret_cast<const char*>(image.data), image.total() * image.elemSize()});
}

struct bare_figures {
    double per_second = 0;
    std::vector<std::size_t> pixels;
    std::vector<std::size_t> sizes;
};

bare_figures bare_path(const stored_session& stored) {
    bare_figures bare;
    const auto start = std::chrono::steady_clock::now();
    for (const std::string& jpeg : stored.jpegs) {
        const cv::Mat colour =
            cv::imdecode(std::vector<unsigned char>(jpeg.begin(), jpeg.end()), cv::IMREAD_COLOR);
        std::vector<unsigned char> png;
        cv::imencode("*.png", colour, png, {cv::IMWRITE_PNG_COMPRESSION, 5});
        bare.pixels.push_back(digest(colour));
        bare.sizes.push_back(png.size());
    }
    bare.per_second = frame_count / seconds_since(start);
    return bare;
}

struct checked {
    int exact = 0, within_size = 0, answered = 0;
};

using responses = std::vector<std::optional<std::vector<unsigned char>>>;

// Checked after the clock has stopped, so that the clients' decoding takes no time from the
// service on a machine of two cores.
checked check(const responses& got, const bare_figures& bare) {
    checked result;
    for (std::size_t frame = 0; frame < got.size(); ++frame) {
        if (!got[frame])
            continue;
        ++result.answered;
        const std::vector<unsigned char> png(got[frame]->begin() + 4, got[frame]->end());
        result.exact += digest(cv::imdecode(png, cv::IMREAD_COLOR)) == bare.pixels[frame];
        result.within_size += png.size() <= bare.sizes[frame] * 5 / 4;
    }
    return result;
}

// Each client fetches its share of the frames once; returns the wall time.
double fetch_all(std::uint16_t port, const stored_session& stored, responses& got) {
    got.assign(frame_count, std::nullopt);
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c)
        threads.emplace_back([&, c] {
            data_client client(port);
            for (int frame = c; frame < frame_count; frame += clients) {
                client.send(long_request("A7", "12", stored.dpps[frame]));
                got[frame] = client.response(60s);
            }
        });
    for (auto& thread : threads)
        thread.join();
    return seconds_since(start);
}

std::vector<double> unknown_session_latencies(std::uint16_t port, const std::atomic<bool>& busy) {
    std::vector<double> ms;
    data_client client(port);
    while (busy) {
        const auto start = std::chrono::steady_clock::now();
        client.send(long_request("no such", "session", 1));
        if (client.response(60s))
            ms.push_back(seconds_since(start) * 1e3);
    }
    return ms;
}

std::vector<double> telemetry_latencies(std::uint16_t port, const std::atomic<bool>& busy) {
    using boost::asio::ip::udp;
    boost::asio::io_context events;
    udp::socket socket(events, udp::endpoint(udp::v4(), 0));
    const udp::endpoint server(boost::asio::ip::make_address("127.0.0.1"), port);
    std::vector<double> ms;
    char reply[1024];
    while (busy) {
        const auto start = std::chrono::steady_clock::now();
        socket.send_to(boost::asio::buffer(std::string("<q command=\"status\"/>")), server);
        socket.receive(boost::asio::buffer(reply));
        ms.push_back(seconds_since(start) * 1e3);
        std::this_thread::sleep_for(5ms);
    }
    return ms;
}

void latency_under_load(std::uint16_t port, std::uint16_t telemetry, const stored_session& stored) {
    responses got;
    std::atomic<bool> busy{true};
    std::vector<double> unknown, status;
    std::thread small([&] { unknown = unknown_session_latencies(port, busy); });
    std::thread query([&] { status = telemetry_latencies(telemetry, busy); });
    for (int round = 0; round < 2; ++round)
        fetch_all(port, stored, got);
    busy = false;
    small.join();
    query.join();
    std::printf("latency while 4 clients fetch: unknown session p50 %.1f ms, p99 %.1f ms (%zu "
                "requests); telemetry p99 %.1f ms (%zu queries)\n",
                percentile(unknown, 0.5), percentile(unknown, 0.99), unknown.size(),
                percentile(status, 0.99), status.size());
}

// The median time of fetching and encoding one large frame on this thread, nothing else running.
double one_frame_encode_ms(session_store& sessions, const stored_session& stored) {
    std::vector<double> ms;
    for (int frame = 0; frame < 9; ++frame) {
        const auto start = std::chrono::steady_clock::now();
        fetch_response(sessions, {false, "A7 : 12", stored.dpps[frame]}, [](const std::string&) {});
        ms.push_back(seconds_since(start) * 1e3);
    }
    return percentile(ms, 0.5);
}

void small_beside_pipeline(std::uint16_t port, session_store& sessions,
                           const stored_session& stored) {
    constexpr int depth = 16;
    std::vector<unsigned char> pipeline;
    for (int frame = 0; frame < depth; ++frame) {
        const auto request = long_request("A7", "12", stored.dpps[frame]);
        pipeline.insert(pipeline.end(), request.begin(), request.end());
    }
    std::atomic<bool> busy{true};
    std::vector<double> small;
    std::thread asker([&] { small = unknown_session_latencies(port, busy); });
    data_client pipeliner(port);
    int answered = 0;
    for (int round = 0; round < 3; ++round) {
        pipeliner.send(pipeline);
        for (int i = 0; i < depth; ++i)
            answered += pipeliner.response(60s).has_value();
    }
    busy = false;
    asker.join();
    std::printf("while one client pipelines %d large-frame requests per send (%d of %d answered): "
                "small request p50 %.1f ms, p99 %.1f ms (%zu requests); one large frame fetched "
                "and encoded alone %.1f ms\n",
                depth, answered, 3 * depth, percentile(small, 0.5), percentile(small, 0.99),
                small.size(), one_frame_encode_ms(sessions, stored));
}

void many_clients(std::uint16_t port) {
    const long before = process_memory_kib("self", "VmRSS");
    std::vector<std::unique_ptr<data_client>> open;
    for (int i = 0; i < 200; ++i)
        open.push_back(std::make_unique<data_client>(port));
    int answered = 0;
    long during = 0;
    for (int round = 0; round < 3; ++round) {
        for (auto& client : open)
            client->send(long_request("no such", "session", static_cast<std::uint32_t>(round)));
        for (auto& client : open)
            answered += client->response(60s).has_value();
        during = std::max(during, process_memory_kib("self", "VmRSS"));
    }
    std::printf(
        "200 connections at once, 3 requests each: %d of 600 answered; resident memory of "
        "this process (the service included) %.1f MiB before, %.1f MiB during (%+.1f MiB)\n",
        answered, before / 1024.0, during / 1024.0, (during - before) / 1024.0);
}
} // namespace

int main() {
    wxInitializer wx;
    const temp_dir root;
    const stored_session stored = record_session(root.path() + "/2021.03.04 12.05.33");
    session_store sessions(root.path());
    sessions.refresh_session_index(
        [](const std::string& e) { std::fprintf(stderr, "%s\n", e.c_str()); });
    const bare_figures bare = bare_path(stored);
    wxEvtHandler sink; // the rows are not the point here
    service_thread service(&sink, sessions, any_free_port);
    service.Run();
    telemetry_thread telemetry(&sink, sessions, L"левый", 0);
    telemetry.Run();
    while (service.port() == 0)
        std::this_thread::sleep_for(1ms);
    responses got;
    const double seconds = fetch_all(service.port(), stored, got);
    const checked result = check(got, bare);
    std::printf("frames: %d distinct 1920x1200 grey, stored as JPEG q85, each fetched once by one "
                "of %d clients\n",
                frame_count, clients);
    std::printf("bare path (decode in colour + PNG level 5, one thread): %.2f responses/s\n",
                bare.per_second);
    std::printf("data service: %.2f responses/s; ratio %.1f (goal >= 8)\n", frame_count / seconds,
                frame_count / seconds / bare.per_second);
    std::printf("responses: %d answered, %d with the bare path's exact pixels, %d at most 1.25x "
                "its size\n",
                result.answered, result.exact, result.within_size);
    latency_under_load(service.port(), telemetry.port(), stored);
    small_beside_pipeline(service.port(), sessions, stored);
    many_clients(service.port());
    telemetry.stop();
    telemetry.Wait();
    service.stop();
    service.Wait();
    sink.DeletePendingEvents();
    return 0;
}

// One update of the camera list ("Обновить список камер") with two tresvik-camsim cameras, on
// 127.0.0.1 and 127.0.0.2: enumerate_cameras, which runs the network discovery once, beside the
// pattern it replaced, which ran it before every camera and once more. Discovery dominates both,
// so the old pattern is measured as that many enumerations. Updates alternate until the time has
// passed. Runs only inside a loopback-only network namespace:
// scripts/isolated.sh build/bin/bench-camera-list [--seconds N] (default 60).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <thread>
#include <vector>

#include "bench/camera_bench_support.h"
#include "camera/camera_access.h"

namespace {

using namespace std::chrono_literals;
using std::chrono::steady_clock;

constexpr std::size_t simulated_cameras = 2;

using enumeration = camera_list (*)(FACTORY_HANDLE&);

// n + 1 discoveries for n cameras, as the enumeration made them before.
camera_list per_camera_discovery(FACTORY_HANDLE& factory) {
    camera_list cameras = enumerate_cameras(factory);
    for (std::size_t camera = 0; camera < cameras.size(); ++camera)
        cameras = enumerate_cameras(factory);
    return cameras;
}

// Seconds of each update.
struct timings {
    std::vector<double> seconds;

    double mean() const {
        double sum = 0;
        for (double s : seconds)
            sum += s;
        return sum / static_cast<double>(seconds.size());
    }
    double least() const { return *std::min_element(seconds.begin(), seconds.end()); }
};

void time_update(FACTORY_HANDLE& factory, enumeration enumerate, timings& into) {
    const auto start = steady_clock::now();
    const std::size_t found = enumerate(factory).size();
    into.seconds.push_back(std::chrono::duration<double>(steady_clock::now() - start).count());
    if (found != simulated_cameras)
        throw std::runtime_error("an update listed " + std::to_string(found) + " cameras");
}

// Aravis may need a few discoveries before a camera that has just started answers.
void wait_for_both_cameras(FACTORY_HANDLE& factory, std::chrono::seconds within) {
    const auto deadline = steady_clock::now() + within;
    while (enumerate_cameras(factory).size() < simulated_cameras) {
        if (stop_requested || steady_clock::now() > deadline)
            throw std::runtime_error("the two tresvik-camsim cameras were not both found");
        std::this_thread::sleep_for(200ms);
    }
}

void print(const char* pattern, const timings& t) {
    std::printf("%-44s %2zu updates, mean %.3f s, least %.3f s\n", pattern, t.seconds.size(),
                t.mean(), t.least());
}

int run(int seconds) {
    // The second camera's address; inside the private namespace nothing else sees it. It may be
    // there already, and a missing one shows as a simulator that does not start.
    std::system("ip addr add 127.0.0.2/8 dev lo 2>/dev/null");
    const std::string camsim = built_program("tresvik-camsim");
    child_process first({camsim, "--serial", "CS01"});
    child_process second({camsim, "--address", "127.0.0.2", "--serial", "CS02"});
    if (!first.line_after("tresvik-camsim ready") || !second.line_after("tresvik-camsim ready"))
        throw std::runtime_error("tresvik-camsim did not start on 127.0.0.1 and 127.0.0.2");
    factory_guard factory{open_factory()};
    wait_for_both_cameras(factory.handle, 15s);
    timings once, per_camera;
    const auto end = steady_clock::now() + std::chrono::seconds(seconds);
    do {
        time_update(factory.handle, enumerate_cameras, once);
        time_update(factory.handle, per_camera_discovery, per_camera);
    } while (!stop_requested && steady_clock::now() < end);
    std::printf("camera list update, %zu simulated cameras\n", simulated_cameras);
    print("one discovery (enumerate_cameras):", once);
    print("one discovery per camera and one more (old):", per_camera);
    std::printf("old / new, mean: %.2f\n", per_camera.mean() / once.mean());
    return stop_requested ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
    return camera_bench_main(argc, argv, "bench-camera-list", run);
}

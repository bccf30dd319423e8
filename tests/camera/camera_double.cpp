#include "tests/camera/camera_double.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <tuple>
#include <utility>

namespace {
using namespace camera_double;

class double_stream;

struct camera_state {
    camera_setup setup;
    std::map<std::string, std::int64_t> ints;
    std::string exposure = "Off";
    bool acquiring = false, present = true;
    stream_counters counters;
    double_stream* stream = nullptr; // the open one
};

struct layer_state {
    std::vector<std::unique_ptr<camera_state>> cameras;
    std::map<std::string, unsigned> failures; // call to the successes left before it fails once
    std::vector<std::string> calls;
    std::string hold;
    bool holding = false;
    resources open;
} state;
std::mutex state_mutex;
std::condition_variable state_changed;

// One call of the layer under its mutex: recorded, held while a hold is set on it; `failing` when
// scripted to fail.
struct call {
    explicit call(const std::string& text) : guard(state_mutex) {
        state.calls.push_back(text);
        if (state.hold == text) {
            state.hold.clear();
            state.holding = true;
            state_changed.wait(guard, [] { return !state.holding; });
        }
        auto found = state.failures.find(text);
        failing = found != state.failures.end() && found->second-- == 0;
        if (failing)
            state.failures.erase(found);
    }
    std::unique_lock<std::mutex> guard;
    bool failing;
};

camera_state& camera_by_id(const std::string& id) {
    for (auto& camera : state.cameras)
        if (camera->setup.id == id)
            return *camera;
    throw std::logic_error("no scripted camera " + id);
}

class double_stream : public camera_stream {
public:
    double_stream(camera_state& camera, int count, std::size_t bytes)
        : camera_(camera), buffers_(count, std::vector<std::uint8_t>(bytes)) {
        for (int i = 0; i < count; ++i)
            free_.push_back(i);
        camera.stream = this;
        ++state.open.streams;
        state.open.buffer_bytes += count * bytes;
    }
    ~double_stream() override {
        std::lock_guard<std::mutex> hold(state_mutex);
        camera_.stream = nullptr;
        --state.open.streams;
        state.open.buffer_bytes -= buffers_.size() * buffers_.front().size();
    }

    const camera_frame* next_frame(std::chrono::milliseconds timeout) override {
        std::unique_lock<std::mutex> hold(state_mutex);
        if (current_ >= 0)
            free_.push_back(std::exchange(current_, -1));
        if (!state_changed.wait_for(hold, timeout, [this] { return !ready_.empty(); }))
            return nullptr;
        std::tie(current_, frame_) = ready_.front();
        ready_.pop_front();
        return &frame_;
    }
    stream_counters counters() override {
        std::lock_guard<std::mutex> hold(state_mutex);
        return camera_.counters;
    }

    // Under the mutex.
    bool fill(const std::vector<std::uint8_t>& pixels, camera_frame frame) {
        if (free_.empty())
            return false;
        const int index = free_.front();
        free_.pop_front();
        std::vector<std::uint8_t>& buffer = buffers_[index];
        frame.size = std::min(pixels.size(), buffer.size());
        std::copy_n(pixels.begin(), frame.size, buffer.begin());
        frame.data = buffer.data();
        frame.queued_buffers = static_cast<std::uint32_t>(free_.size());
        ready_.emplace_back(index, frame);
        state_changed.notify_all();
        return true;
    }
    std::size_t free_buffers() const { return free_.size(); }

private:
    camera_state& camera_;
    std::vector<std::vector<std::uint8_t>> buffers_;
    std::deque<int> free_;
    std::deque<std::pair<int, camera_frame>> ready_;
    int current_ = -1;
    camera_frame frame_;
};

class double_device : public camera_device {
public:
    explicit double_device(camera_state& camera) : camera_(camera) { ++state.open.cameras; }
    ~double_device() override {
        std::lock_guard<std::mutex> hold(state_mutex);
        --state.open.cameras;
    }

    std::optional<std::int64_t> integer(const std::string& feature) override {
        call c("integer " + feature);
        const auto found = camera_.ints.find(feature);
        if (c.failing || !camera_.present || found == camera_.ints.end())
            return std::nullopt;
        return found->second;
    }
    bool set_text(const std::string& feature, const std::string& value) override {
        call c("set_text " + feature);
        if (c.failing || !camera_.present || feature != "ExposureMode")
            return false;
        camera_.exposure = value;
        return true;
    }
    bool execute(const std::string& command) override {
        call c("execute " + command);
        if (c.failing || !camera_.present)
            return false;
        camera_.acquiring = command == "AcquisitionStart";
        return true;
    }
    std::optional<double> exposure_time() override { return integer("ExposureTime"); }
    std::optional<double> gain() override { return integer("Gain"); }
    std::unique_ptr<camera_stream> open_stream(int count, std::size_t bytes) override {
        call c("open_stream");
        if (c.failing || !camera_.present || camera_.stream)
            return nullptr;
        return std::make_unique<double_stream>(camera_, count, bytes);
    }
    bool answers() override {
        call c("answers");
        return !c.failing && camera_.present;
    }

private:
    camera_state& camera_;
};

class double_layer : public camera_layer {
public:
    double_layer() { ++state.open.layers; }
    ~double_layer() override {
        std::lock_guard<std::mutex> hold(state_mutex);
        --state.open.layers;
    }
    std::vector<camera_entry> discover() override {
        call c("discover");
        if (c.failing)
            throw std::runtime_error("discovery failed");
        std::vector<camera_entry> found;
        for (const auto& camera : state.cameras)
            if (camera->present)
                found.push_back({camera->setup.id, camera->setup.model, camera->setup.address});
        return found;
    }
    std::unique_ptr<camera_device> open(const std::string& camera_id) override {
        call c("open");
        camera_state& camera = camera_by_id(camera_id);
        if (c.failing || !camera.present)
            return nullptr;
        return std::make_unique<double_device>(camera);
    }
};

// Runs the change on the named camera under the mutex.
template <typename Change> auto with_camera(const std::string& id, Change change) {
    std::lock_guard<std::mutex> hold(state_mutex);
    return change(camera_by_id(id));
}
} // namespace

std::unique_ptr<camera_layer> open_camera_layer() {
    call c("open_layer");
    return c.failing ? nullptr : std::make_unique<double_layer>();
}

std::string camera_layer_version() {
    return "camera double";
}

namespace camera_double {

bool scripted_camera::deliver(const std::vector<std::uint8_t>& pixels, std::uint64_t timestamp,
                              bool complete, std::uint32_t missing_packets) const {
    return with_camera(id, [&](camera_state& camera) {
        const camera_setup& s = camera.setup;
        camera_frame frame;
        frame.width = s.width, frame.height = s.height, frame.padding_x = s.padding_x;
        frame.pixel_format = s.pixel_format;
        frame.timestamp = timestamp;
        frame.block_id = camera.counters.completed + camera.counters.failed + 1;
        frame.missing_packets = missing_packets;
        frame.complete = complete;
        if (!camera.acquiring || !camera.stream || !camera.stream->fill(pixels, frame))
            return false;
        ++(complete ? camera.counters.completed : camera.counters.failed);
        camera.counters.missing_packets += missing_packets;
        return true;
    });
}

void scripted_camera::set_int(const std::string& feature, std::int64_t value) const {
    with_camera(id, [&](camera_state& camera) { camera.ints[feature] = value; });
}

void scripted_camera::add_counters(const stream_counters& more) const {
    with_camera(id, [&](camera_state& camera) {
        stream_counters& c = camera.counters;
        c.completed += more.completed, c.failed += more.failed, c.underruns += more.underruns;
        c.missing_packets += more.missing_packets, c.resent_packets += more.resent_packets;
    });
}

void scripted_camera::set_present(bool present) const {
    with_camera(id, [&](camera_state& camera) { camera.present = present; });
}

std::string scripted_camera::exposure_mode() const {
    return with_camera(id, [](camera_state& camera) { return camera.exposure; });
}

bool scripted_camera::acquiring() const {
    return with_camera(id, [](camera_state& camera) { return camera.acquiring; });
}

std::size_t scripted_camera::free_buffers() const {
    return with_camera(
        id, [](camera_state& camera) { return camera.stream ? camera.stream->free_buffers() : 0; });
}

void reset() {
    std::lock_guard<std::mutex> hold(state_mutex);
    state = layer_state{};
}

scripted_camera add_camera(const camera_setup& setup) {
    std::lock_guard<std::mutex> hold(state_mutex);
    auto camera = std::make_unique<camera_state>();
    camera->setup = setup;
    camera->ints = {
        {"Width", setup.width}, {"Height", setup.height}, {"PixelFormat", setup.pixel_format}};
    state.cameras.push_back(std::move(camera));
    return {setup.id};
}

void fail(const std::string& call, unsigned skip) {
    std::lock_guard<std::mutex> hold(state_mutex);
    state.failures[call] = skip;
}

void hold(const std::string& call) {
    std::lock_guard<std::mutex> hold(state_mutex);
    state.hold = call;
}

void release_hold() {
    {
        std::lock_guard<std::mutex> hold(state_mutex);
        state.holding = false;
    }
    state_changed.notify_all();
}

std::size_t count_calls(const std::string& call) {
    std::lock_guard<std::mutex> hold(state_mutex);
    return std::count(state.calls.begin(), state.calls.end(), call);
}

resources open_resources() {
    std::lock_guard<std::mutex> hold(state_mutex);
    return state.open;
}

} // namespace camera_double

#include "tests/camera/fake_jai_sdk.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>

#include <gtest/gtest.h>

#include "camera/gige_layer_util.h"

namespace {
// Handles are the addresses of the objects owned here, so a stale handle is found missing instead
// of dereferenced.
template <typename T> using handle_map = std::map<void*, std::unique_ptr<T>>;

struct camera_state {
    fake_sdk::camera_setup setup;
    std::map<std::string, std::int64_t> ints;
    std::map<int, std::uint64_t> stream_info;
    std::string exposure = "Off";
    bool acquiring = false;
};

struct buffer_state {
    void* memory;
    std::uint32_t size;
    std::uint32_t filled = 0;
    std::uint64_t timestamp = 0;
    std::uint32_t missing = 0;
};

struct condition_state {
    unsigned signals = 0;
    bool exit = false;
};

struct stream_state {
    void* camera_handle;
    camera_state* camera;
    handle_map<buffer_state> buffers = {};
    std::deque<buffer_state*> input = {};
    std::deque<buffer_state*> output = {};
    bool running = false;
    condition_state* condition = nullptr;
};

struct layer {
    std::vector<std::unique_ptr<camera_state>> cameras;
    handle_map<int> factories;
    handle_map<camera_state*> open_cameras;
    handle_map<stream_state> streams;
    handle_map<condition_state> conditions;
    handle_map<stream_state*> events;         // its stream, null once that is closed
    std::map<std::string, unsigned> failures; // call to the successes left before it fails
    std::deque<std::pair<J_STATUS_TYPE, std::uint32_t>> scripted_waits;
    std::vector<std::string> calls;
    std::string hold;
    bool holding = false;
};

std::mutex layer_mutex;
std::condition_variable layer_changed;

layer& state() {
    static layer instance;
    return instance;
}

using lock = std::unique_lock<std::mutex>;

// One J_ call under the layer's mutex: recorded, and held while a hold is set on it.
class call {
public:
    explicit call(std::string text) : guard_(layer_mutex), text_(std::move(text)) {
        state().calls.push_back(text_);
        if (state().hold != text_)
            return;
        state().hold.clear();
        state().holding = true;
        layer_changed.wait(guard_, [] { return !state().holding; });
    }

    bool fails() {
        auto found = state().failures.find(text_);
        if (found == state().failures.end() || found->second-- > 0)
            return false;
        state().failures.erase(found);
        return true;
    }

    J_STATUS_TYPE misuse(const std::string& what) {
        ADD_FAILURE() << "camera layer misused: " << text_ << ": " << what;
        return J_ST_ERROR;
    }

    template <typename T> T* find(handle_map<T>& handles, void* handle) {
        auto found = handles.find(handle);
        if (found != handles.end())
            return found->second.get();
        misuse("unknown handle");
        return nullptr;
    }

    // The action's status, or success when it has none, on the object of a known handle; an error
    // when the call is scripted to fail.
    template <typename T, typename Action>
    J_STATUS_TYPE on(handle_map<T>& handles, void* handle, Action action) {
        T* found = find(handles, handle);
        if (!found || fails())
            return J_ST_ERROR;
        if constexpr (std::is_void_v<decltype(action(*found))>) {
            action(*found);
            return J_ST_SUCCESS;
        } else {
            return action(*found);
        }
    }

    // As `on`, for a buffer of a known stream.
    template <typename Action> J_STATUS_TYPE on_buffer(void* stream, void* buffer, Action action) {
        stream_state* found = find(state().streams, stream);
        return found
                   ? on(found->buffers, buffer, [&](buffer_state& b) { return action(*found, b); })
                   : J_ST_ERROR;
    }

    template <typename T> J_STATUS_TYPE close(handle_map<T>& handles, void* handle) {
        return handles.erase(handle) == 1 ? J_ST_SUCCESS : misuse("unknown handle");
    }

    lock& guard() { return guard_; }

private:
    lock guard_;
    std::string text_;
};

template <typename T> void* add(handle_map<T>& handles, std::unique_ptr<T> object) {
    void* handle = object.get();
    handles.emplace(handle, std::move(object));
    return handle;
}

camera_state* camera_by_id(const std::string& id) {
    for (auto& camera : state().cameras)
        if (camera->setup.id == id)
            return camera.get();
    return nullptr;
}

stream_state* stream_of(const camera_state* camera) {
    for (auto& [handle, stream] : state().streams)
        if (stream->camera == camera)
            return stream.get();
    return nullptr;
}

bool queued(const stream_state& stream, const buffer_state* buffer) {
    return std::find(stream.input.begin(), stream.input.end(), buffer) != stream.input.end();
}

void drop(std::deque<buffer_state*>& queue, const buffer_state* buffer) {
    queue.erase(std::remove(queue.begin(), queue.end(), buffer), queue.end());
}

// The value in the width the camera layer documents for the item; another size is an error.
J_STATUS_TYPE put(void* value, std::uint32_t* size, std::uint64_t content, std::uint32_t width) {
    if (*size != width)
        return J_ST_ERROR;
    std::memcpy(value, &content, width); // little-endian: the low bytes
    return J_ST_SUCCESS;
}

J_STATUS_TYPE buffer_item(const stream_state& stream, const buffer_state& buffer, int item,
                          void* value, std::uint32_t* size) {
    const fake_sdk::camera_setup& camera = stream.camera->setup;
    const std::map<int, std::pair<std::uint64_t, std::uint32_t>> items = {
        {BUFFER_INFO_BASE, {reinterpret_cast<std::uintptr_t>(buffer.memory), 8}},
        {BUFFER_INFO_SIZE, {buffer.filled, 4}},
        {BUFFER_INFO_TIMESTAMP, {buffer.timestamp, 8}},
        {BUFFER_INFO_NUMBER_OF_QUEUED, {stream.input.size(), 8}},
        {BUFFER_INFO_WIDTH, {camera.width, 4}},
        {BUFFER_INFO_HEIGHT, {camera.height, 4}},
        {BUFFER_INFO_XOFFSET, {0, 4}},
        {BUFFER_INFO_YOFFSET, {0, 4}},
        {BUFFER_INFO_XPADDING, {camera.line_padding, 4}},
        {BUFFER_INFO_BLOCKID, {0, 8}},
        {BUFFER_INFO_PIXELTYPE, {camera.pixel_format, 8}},
        {BUFFER_INFO_NUM_PACKETS_MISSING, {buffer.missing, 4}},
    };
    auto found = items.find(item);
    return found == items.end() ? J_ST_ERROR
                                : put(value, size, found->second.first, found->second.second);
}

// The wait's outcome once there is one to report.
bool wait_outcome(condition_state& condition, J_STATUS_TYPE* status, std::uint32_t* result) {
    auto& scripted = state().scripted_waits;
    if (!scripted.empty()) {
        std::tie(*status, *result) = scripted.front();
        scripted.pop_front();
    } else if (condition.exit) {
        *result = J_COND_WAIT_EXIT;
    } else if (condition.signals > 0) {
        --condition.signals;
        *result = J_COND_WAIT_SIGNAL;
    } else {
        return false;
    }
    return true;
}
} // namespace

J_STATUS_TYPE J_Factory_Open(const char*, FACTORY_HANDLE* factory) {
    call c("J_Factory_Open");
    if (c.fails())
        return J_ST_ERROR;
    *factory = add(state().factories, std::make_unique<int>());
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_Factory_Close(FACTORY_HANDLE factory) {
    return call("J_Factory_Close").close(state().factories, factory);
}

J_STATUS_TYPE J_Factory_GetInfo(int, char* buffer, std::uint32_t* size) {
    call c("J_Factory_GetInfo");
    return copy_text("fake camera layer", buffer, size);
}

J_STATUS_TYPE J_Factory_UpdateCameraList(FACTORY_HANDLE factory, bool*) {
    return call("J_Factory_UpdateCameraList").on(state().factories, factory, [](int&) {});
}

J_STATUS_TYPE J_Factory_GetNumOfCameras(FACTORY_HANDLE factory, std::uint32_t* count) {
    return call("J_Factory_GetNumOfCameras").on(state().factories, factory, [&](int&) {
        *count = static_cast<std::uint32_t>(state().cameras.size());
    });
}

J_STATUS_TYPE J_Factory_GetCameraIDByIndex(FACTORY_HANDLE factory, std::int32_t index, char* buffer,
                                           std::uint32_t* size) {
    return call("J_Factory_GetCameraIDByIndex").on(state().factories, factory, [&](int&) {
        const auto& cameras = state().cameras;
        return index >= 0 && static_cast<std::size_t>(index) < cameras.size()
                   ? copy_text(cameras[static_cast<std::size_t>(index)]->setup.id, buffer, size)
                   : J_ST_ERROR;
    });
}

J_STATUS_TYPE J_Factory_GetCameraInfo(FACTORY_HANDLE factory, const char* camera_id, int item,
                                      char* buffer, std::uint32_t* size) {
    camera_state* camera = camera_by_id(camera_id);
    return call("J_Factory_GetCameraInfo " + std::to_string(item))
        .on(state().factories, factory, [&](int&) {
            if (!camera || (item != CAM_INFO_MODELNAME && item != CAM_INFO_IP))
                return J_ST_ERROR;
            return copy_text(item == CAM_INFO_IP ? camera->setup.address : camera->setup.model,
                             buffer, size);
        });
}

J_STATUS_TYPE J_Camera_Open(FACTORY_HANDLE factory, const char* camera_id, CAM_HANDLE* camera,
                            int) {
    camera_state* found = camera_by_id(camera_id);
    return call("J_Camera_Open").on(state().factories, factory, [&](int&) {
        if (!found)
            return J_ST_ERROR;
        *camera = add(state().open_cameras, std::make_unique<camera_state*>(found));
        return J_ST_SUCCESS;
    });
}

J_STATUS_TYPE J_Camera_Close(CAM_HANDLE camera) {
    call c("J_Camera_Close");
    for (auto& [handle, stream] : state().streams)
        if (stream->camera_handle == camera)
            return c.misuse("its stream is still open");
    return c.close(state().open_cameras, camera);
}

J_STATUS_TYPE J_Camera_GetValueInt64(CAM_HANDLE camera, const char* node, std::int64_t* value) {
    return call("J_Camera_GetValueInt64 " + std::string(node))
        .on(state().open_cameras, camera, [&](camera_state* open) {
            if (open->ints.count(node) == 0)
                return J_ST_ERROR;
            *value = open->ints[node];
            return J_ST_SUCCESS;
        });
}

J_STATUS_TYPE J_Camera_SetValueString(CAM_HANDLE camera, const char* node, const char* value) {
    return call("J_Camera_SetValueString " + std::string(node))
        .on(state().open_cameras, camera, [&](camera_state* open) {
            if (std::string(node) != "ExposureMode")
                return J_ST_ERROR;
            open->exposure = value;
            return J_ST_SUCCESS;
        });
}

J_STATUS_TYPE J_Camera_ExecuteCommand(CAM_HANDLE camera, const char* node) {
    const std::string command = node;
    return call("J_Camera_ExecuteCommand " + command)
        .on(state().open_cameras, camera, [&](camera_state* open) {
            if (command != "AcquisitionStart" && command != "AcquisitionStop")
                return J_ST_ERROR;
            open->acquiring = command == "AcquisitionStart";
            return J_ST_SUCCESS;
        });
}

J_STATUS_TYPE J_Camera_GetNumOfDataStreams(CAM_HANDLE camera, std::uint32_t* count) {
    return call("J_Camera_GetNumOfDataStreams")
        .on(state().open_cameras, camera, [&](camera_state*) { *count = 1; });
}

J_STATUS_TYPE J_Camera_CreateDataStream(CAM_HANDLE camera, std::uint32_t, STREAM_HANDLE* stream) {
    call c("J_Camera_CreateDataStream");
    return c.on(state().open_cameras, camera, [&](camera_state* open) {
        if (stream_of(open))
            return c.misuse("the camera's stream is already open");
        *stream = add(state().streams, std::make_unique<stream_state>(stream_state{camera, open}));
        return J_ST_SUCCESS;
    });
}

J_STATUS_TYPE J_DataStream_SetParam(STREAM_HANDLE stream, int param, const void*, std::uint32_t*) {
    return call("J_DataStream_SetParam " + std::to_string(param))
        .on(state().streams, stream, [](stream_state&) {});
}

J_STATUS_TYPE J_DataStream_AnnounceBuffer(STREAM_HANDLE stream, void* memory, std::uint32_t size,
                                          void*, BUF_HANDLE* buffer) {
    return call("J_DataStream_AnnounceBuffer").on(state().streams, stream, [&](stream_state& s) {
        *buffer = add(s.buffers, std::make_unique<buffer_state>(buffer_state{memory, size}));
    });
}

J_STATUS_TYPE J_DataStream_QueueBuffer(STREAM_HANDLE stream, BUF_HANDLE buffer) {
    call c("J_DataStream_QueueBuffer");
    return c.on_buffer(stream, buffer, [&](stream_state& s, buffer_state& b) {
        if (queued(s, &b))
            return c.misuse("already queued");
        drop(s.output, &b);
        s.input.push_back(&b);
        return J_ST_SUCCESS;
    });
}

J_STATUS_TYPE J_DataStream_RegisterEvent(STREAM_HANDLE stream, int, CONDITION_HANDLE condition,
                                         EVENT_HANDLE* event) {
    call c("J_DataStream_RegisterEvent");
    stream_state* found = c.find(state().streams, stream);
    if (!found)
        return J_ST_ERROR;
    return c.on(state().conditions, condition, [&](condition_state& waited) {
        found->condition = &waited;
        *event = add(state().events, std::make_unique<stream_state*>(found));
    });
}

J_STATUS_TYPE J_DataStream_StartAcquisition(STREAM_HANDLE stream, int, std::uint64_t) {
    return call("J_DataStream_StartAcquisition").on(state().streams, stream, [](stream_state& s) {
        s.running = true;
    });
}

J_STATUS_TYPE J_DataStream_GetBufferInfo(STREAM_HANDLE stream, BUF_HANDLE buffer, int item,
                                         void* value, std::uint32_t* size) {
    call c("J_DataStream_GetBufferInfo " + std::to_string(item));
    return c.on_buffer(stream, buffer, [&](stream_state& s, buffer_state& b) {
        return buffer_item(s, b, item, value, size);
    });
}

J_STATUS_TYPE J_DataStream_GetStreamInfo(STREAM_HANDLE stream, int item, void* value,
                                         std::uint32_t* size) {
    return call("J_DataStream_GetStreamInfo " + std::to_string(item))
        .on(state().streams, stream,
            [&](stream_state& s) { return put(value, size, s.camera->stream_info[item], 8); });
}

J_STATUS_TYPE J_DataStream_UnRegisterEvent(STREAM_HANDLE stream, int) {
    return call("J_DataStream_UnRegisterEvent").on(state().streams, stream, [](stream_state& s) {
        return std::exchange(s.condition, nullptr) ? J_ST_SUCCESS : J_ST_ERROR;
    });
}

J_STATUS_TYPE J_DataStream_StopAcquisition(STREAM_HANDLE stream, int) {
    return call("J_DataStream_StopAcquisition").on(state().streams, stream, [](stream_state& s) {
        s.running = false;
    });
}

J_STATUS_TYPE J_DataStream_FlushQueue(STREAM_HANDLE stream, int queue) {
    return call("J_DataStream_FlushQueue " + std::to_string(queue))
        .on(state().streams, stream, [&](stream_state& s) {
            if (queue == ACQ_QUEUE_INPUT_TO_OUTPUT)
                s.output.insert(s.output.end(), s.input.begin(), s.input.end());
            (queue == ACQ_QUEUE_INPUT_TO_OUTPUT ? s.input : s.output).clear();
        });
}

J_STATUS_TYPE J_DataStream_RevokeBuffer(STREAM_HANDLE stream, BUF_HANDLE buffer, void** memory,
                                        void**) {
    call c("J_DataStream_RevokeBuffer");
    return c.on_buffer(stream, buffer, [&](stream_state& s, buffer_state& b) {
        if (s.running && queued(s, &b))
            return c.misuse("queued on a running stream");
        drop(s.input, &b);
        drop(s.output, &b);
        *memory = b.memory;
        s.buffers.erase(buffer);
        return J_ST_SUCCESS;
    });
}

J_STATUS_TYPE J_DataStream_Close(STREAM_HANDLE stream) {
    call c("J_DataStream_Close");
    return c.on(state().streams, stream, [&](stream_state& s) {
        for (auto& [handle, buffer] : s.buffers)
            for (std::uint32_t i = 0; i < buffer->size; ++i)
                static_cast<void>(static_cast<const volatile std::uint8_t*>(buffer->memory)[i]);
        for (auto& [handle, owner] : state().events)
            *owner = *owner == &s ? nullptr : *owner;
        state().streams.erase(stream);
    });
}

J_STATUS_TYPE J_Event_CreateCondition(CONDITION_HANDLE* condition) {
    call c("J_Event_CreateCondition");
    if (c.fails())
        return J_ST_ERROR;
    *condition = add(state().conditions, std::make_unique<condition_state>());
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_Event_WaitForCondition(CONDITION_HANDLE condition, std::uint32_t timeout_ms,
                                       std::uint32_t* result) {
    call c("J_Event_WaitForCondition " + std::to_string(timeout_ms));
    return c.on(state().conditions, condition, [&](condition_state& waited) {
        J_STATUS_TYPE status = J_ST_SUCCESS;
        if (!layer_changed.wait_for(c.guard(), std::chrono::seconds(20),
                                    [&] { return wait_outcome(waited, &status, result); }))
            return c.misuse("nothing ended the wait");
        return status;
    });
}

J_STATUS_TYPE J_Event_GetData(EVENT_HANDLE event, void* data, std::uint32_t*) {
    return call("J_Event_GetData").on(state().events, event, [&](stream_state* owner) {
        if (!owner || owner->output.empty())
            return J_ST_ERROR;
        const EVENT_NEW_BUFFER_DATA content{owner->output.front(), nullptr};
        owner->output.pop_front();
        std::memcpy(data, &content, sizeof content);
        return J_ST_SUCCESS;
    });
}

J_STATUS_TYPE J_Event_ExitCondition(CONDITION_HANDLE condition) {
    return call("J_Event_ExitCondition").on(state().conditions, condition, [](condition_state& c) {
        c.exit = true;
        layer_changed.notify_all();
    });
}

J_STATUS_TYPE J_Event_Close(EVENT_HANDLE event) {
    return call("J_Event_Close").close(state().events, event);
}

J_STATUS_TYPE J_Event_CloseCondition(CONDITION_HANDLE condition) {
    call c("J_Event_CloseCondition");
    for (auto& [handle, stream] : state().streams)
        if (stream->condition && stream->condition == condition)
            return c.misuse("still registered on a stream");
    return c.close(state().conditions, condition);
}

J_STATUS_TYPE J_Image_Rotate(J_tIMAGE_INFO* image, int kind) {
    call c("J_Image_Rotate");
    const int bits = std::max(8, static_cast<int>((image->iPixelType >> 16) & 0xFF));
    if (kind != J_ROTATE_180 || bits % 8 != 0)
        return J_ST_ERROR;
    reverse_pixels(image->pImageBuffer, std::size_t{image->iSizeX} * image->iSizeY, bits / 8);
    return J_ST_SUCCESS;
}

namespace fake_sdk {

bool fake_camera::deliver_frame(const std::vector<std::uint8_t>& pixels, std::uint64_t timestamp,
                                std::uint32_t missing_packets) const {
    lock guard(layer_mutex);
    camera_state* camera = camera_by_id(id_);
    stream_state* stream = camera->acquiring ? stream_of(camera) : nullptr;
    if (!stream || !stream->running || stream->input.empty())
        return false;
    buffer_state* buffer = stream->input.front();
    stream->input.pop_front();
    buffer->filled = static_cast<std::uint32_t>(std::min<std::size_t>(pixels.size(), buffer->size));
    std::memcpy(buffer->memory, pixels.data(), buffer->filled);
    buffer->timestamp = timestamp;
    buffer->missing = missing_packets;
    stream->output.push_back(buffer);
    if (stream->condition)
        ++stream->condition->signals;
    layer_changed.notify_all();
    return true;
}

void fake_camera::set_int(const std::string& node, std::int64_t value) const {
    lock guard(layer_mutex);
    camera_by_id(id_)->ints[node] = value;
}

void fake_camera::set_stream_info(int item, std::uint64_t value) const {
    lock guard(layer_mutex);
    camera_by_id(id_)->stream_info[item] = value;
}

std::string fake_camera::exposure_mode() const {
    lock guard(layer_mutex);
    return camera_by_id(id_)->exposure;
}

bool fake_camera::acquiring() const {
    lock guard(layer_mutex);
    return camera_by_id(id_)->acquiring;
}

std::size_t fake_camera::queued_buffers() const {
    lock guard(layer_mutex);
    const stream_state* stream = stream_of(camera_by_id(id_));
    return stream ? stream->input.size() : 0;
}

void reset() {
    lock guard(layer_mutex);
    state() = layer{};
}

fake_camera add_camera(const camera_setup& setup) {
    lock guard(layer_mutex);
    auto camera = std::make_unique<camera_state>();
    camera->setup = setup;
    camera->ints = {
        {"Width", setup.width}, {"Height", setup.height}, {"PixelFormat", setup.pixel_format}};
    state().cameras.push_back(std::move(camera));
    return fake_camera(setup.id);
}

void fail(const std::string& call, unsigned skip) {
    lock guard(layer_mutex);
    state().failures[call] = skip;
}

void hold(const std::string& call) {
    lock guard(layer_mutex);
    state().hold = call;
}

bool held() {
    lock guard(layer_mutex);
    return state().holding;
}

void release_hold() {
    lock guard(layer_mutex);
    state().holding = false;
    layer_changed.notify_all();
}

void script_wait(std::uint32_t result, J_STATUS_TYPE status) {
    lock guard(layer_mutex);
    state().scripted_waits.emplace_back(status, result);
    layer_changed.notify_all();
}

std::vector<std::string> calls() {
    lock guard(layer_mutex);
    return state().calls;
}

std::size_t count_calls(const std::string& call) {
    lock guard(layer_mutex);
    return static_cast<std::size_t>(std::count(state().calls.begin(), state().calls.end(), call));
}

resources open_resources() {
    lock guard(layer_mutex);
    const layer& s = state();
    resources open{s.factories.size(), s.open_cameras.size(), s.streams.size(), s.conditions.size(),
                   s.events.size()};
    for (auto& [handle, stream] : s.streams)
        for (auto& [buffer, announced] : stream->buffers)
            open.announced_bytes += announced->size;
    return open;
}

bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace fake_sdk

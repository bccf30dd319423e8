#include "tests/camera/fake_jai_sdk.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "camera/exposure_modes.h"

namespace {
struct camera_state {
    fake_sdk::camera_setup setup;
    std::map<std::string, std::int64_t> ints;
    std::string exposure = "Off";
    bool acquiring = false;
    std::map<int, std::uint64_t> info_overrides;
};

struct open_camera {
    camera_state* camera;
};

struct buffer_state {
    void* memory;
    std::uint32_t size;
    std::uint32_t filled = 0;
    std::uint64_t timestamp = 0;
    std::uint32_t missing = 0;
    std::uint64_t block_id = 0;
};

struct condition_state {
    unsigned signals = 0;
    bool exit = false;
};

struct stream_state {
    open_camera* camera;
    std::map<void*, std::unique_ptr<buffer_state>> buffers;
    std::deque<buffer_state*> input;
    std::deque<buffer_state*> output;
    bool running = false;
    condition_state* condition = nullptr;
    std::uint64_t delivered = 0;
    std::uint64_t lost = 0;
    std::uint64_t blocks = 0;
};

struct event_state {
    stream_state* stream;
};

struct failure {
    unsigned skip;
    unsigned times; // 0: for ever
};

struct scripted_wait {
    J_STATUS_TYPE status;
    std::uint32_t result;
};

// Handles are the addresses of the objects owned here, so a stale handle is found missing
// instead of dereferenced.
template <typename T> using handle_map = std::map<void*, std::unique_ptr<T>>;

struct fake_state {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::unique_ptr<camera_state>> cameras;
    handle_map<int> factories;
    handle_map<open_camera> open_cameras;
    handle_map<stream_state> streams;
    handle_map<condition_state> conditions;
    handle_map<event_state> events;
    std::map<fake_sdk::step, failure> failures;
    std::deque<scripted_wait> scripted;
    std::vector<std::string> calls;
    std::vector<std::string> misuses;
    bool real_timeouts = true;
    int waiters = 0;
    bool hold_armed = false;
    fake_sdk::step hold_step{};
    bool holding = false;
};

fake_state& state() {
    static fake_state instance;
    return instance;
}

using lock = std::unique_lock<std::mutex>;

// Records the call, then blocks it while a hold is set on its step.
lock enter(const std::string& call) {
    lock guard(state().mutex);
    state().calls.push_back(call);
    return guard;
}

void pass_hold(lock& guard, fake_sdk::step at) {
    auto& s = state();
    if (!s.hold_armed || s.hold_step != at)
        return;
    s.hold_armed = false;
    s.holding = true;
    s.changed.notify_all();
    s.changed.wait(guard, [&] { return !s.holding; });
}

bool failing(lock& guard, fake_sdk::step at) {
    pass_hold(guard, at);
    auto& failures = state().failures;
    auto found = failures.find(at);
    if (found == failures.end())
        return false;
    failure& f = found->second;
    if (f.skip > 0) {
        --f.skip;
        return false;
    }
    if (f.times > 0 && --f.times == 0)
        failures.erase(found);
    return true;
}

J_STATUS_TYPE misuse(const std::string& what) {
    state().misuses.push_back(what);
    return J_ST_ERROR;
}

template <typename T> T* find(handle_map<T>& handles, void* handle) {
    auto found = handles.find(handle);
    return found == handles.end() ? nullptr : found->second.get();
}

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
        if (stream->camera->camera == camera)
            return stream.get();
    return nullptr;
}

J_STATUS_TYPE copy_text(const std::string& text, char* buffer, std::uint32_t* size) {
    if (!buffer || !size || *size < text.size() + 1)
        return J_ST_ERROR;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    *size = static_cast<std::uint32_t>(text.size() + 1);
    return J_ST_SUCCESS;
}

template <typename T> J_STATUS_TYPE put(void* value, std::uint32_t* size, T content) {
    if (!value || !size || *size != sizeof content)
        return J_ST_ERROR;
    std::memcpy(value, &content, sizeof content);
    return J_ST_SUCCESS;
}

void signal(stream_state& stream) {
    if (stream.condition) {
        ++stream.condition->signals;
        state().changed.notify_all();
    }
}

bool deliver(stream_state& stream, const std::vector<std::uint8_t>& pixels, std::uint64_t timestamp,
             std::uint32_t missing) {
    if (stream.input.empty()) {
        ++stream.lost;
        return false;
    }
    buffer_state* buffer = stream.input.front();
    stream.input.pop_front();
    const std::size_t bytes = std::min<std::size_t>(pixels.size(), buffer->size);
    std::memcpy(buffer->memory, pixels.data(), bytes);
    buffer->filled = static_cast<std::uint32_t>(bytes);
    buffer->timestamp = timestamp;
    buffer->missing = missing;
    buffer->block_id = ++stream.blocks;
    stream.output.push_back(buffer);
    ++stream.delivered;
    signal(stream);
    return true;
}

J_STATUS_TYPE read_node(camera_state& camera, const std::string& node, lock& guard,
                        std::int64_t* value) {
    using fake_sdk::step;
    const std::map<std::string, step> steps = {
        {"Width", step::read_width},
        {"Height", step::read_height},
        {"PixelFormat", step::read_pixel_format},
    };
    auto known = steps.find(node);
    if (known != steps.end() && failing(guard, known->second))
        return J_ST_ERROR;
    auto found = camera.ints.find(node);
    if (found == camera.ints.end() || !value)
        return J_ST_ERROR;
    *value = found->second;
    return J_ST_SUCCESS;
}

J_STATUS_TYPE buffer_item(const stream_state& stream, const buffer_state& buffer, int item,
                          void* value, std::uint32_t* size) {
    switch (item) {
    case BUFFER_INFO_BASE:
        return put(value, size,
                   static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(buffer.memory)));
    case BUFFER_INFO_SIZE:
        return put(value, size, buffer.filled);
    case BUFFER_INFO_TIMESTAMP:
        return put(value, size, buffer.timestamp);
    case BUFFER_INFO_NUMBER_OF_QUEUED:
        return put(value, size, static_cast<std::uint64_t>(stream.input.size()));
    case BUFFER_INFO_WIDTH:
        return put(value, size, static_cast<std::uint32_t>(stream.camera->camera->setup.width));
    case BUFFER_INFO_HEIGHT:
        return put(value, size, static_cast<std::uint32_t>(stream.camera->camera->setup.height));
    case BUFFER_INFO_XOFFSET:
    case BUFFER_INFO_YOFFSET:
        return put(value, size, std::uint32_t{0});
    case BUFFER_INFO_XPADDING:
        return put(value, size, stream.camera->camera->setup.line_padding);
    case BUFFER_INFO_BLOCKID:
        return put(value, size, buffer.block_id);
    case BUFFER_INFO_PIXELTYPE:
        return put(value, size,
                   static_cast<std::uint64_t>(stream.camera->camera->setup.pixel_format));
    case BUFFER_INFO_NUM_PACKETS_MISSING:
        return put(value, size, buffer.missing);
    default:
        return J_ST_ERROR;
    }
}

std::uint64_t stream_counter(const stream_state& stream, int item, bool* known) {
    const auto& overrides = stream.camera->camera->info_overrides;
    auto found = overrides.find(item);
    *known = true;
    if (found != overrides.end())
        return found->second;
    switch (item) {
    case STREAM_INFO_NUM_DELIVERED:
        return stream.delivered;
    case STREAM_INFO_NUM_UNDERRUN:
        return stream.lost;
    case STREAM_INFO_NUM_AWAIT_DELIVERY:
        return stream.output.size();
    case STREAM_INFO_NUM_CORRUPT:
        return 0;
    default:
        *known = false;
        return 0;
    }
}

// A layer may write into an announced buffer until it is revoked or its stream is closed; reading
// all of it lets AddressSanitizer report memory freed before then.
void use_memory(const buffer_state& buffer) {
    const auto* bytes = static_cast<const volatile std::uint8_t*>(buffer.memory);
    for (std::uint32_t i = 0; i < buffer.size; ++i)
        static_cast<void>(bytes[i]);
}

bool queued(const stream_state& stream, const buffer_state* buffer) {
    return std::find(stream.input.begin(), stream.input.end(), buffer) != stream.input.end();
}

void drop(std::deque<buffer_state*>& queue, const buffer_state* buffer) {
    queue.erase(std::remove(queue.begin(), queue.end(), buffer), queue.end());
}

// The wait's outcome once something is there to report; false while it must go on waiting.
bool wait_outcome(condition_state& condition, J_STATUS_TYPE* status, std::uint32_t* result) {
    auto& scripted = state().scripted;
    if (!scripted.empty()) {
        *status = scripted.front().status;
        *result = scripted.front().result;
        scripted.pop_front();
        return true;
    }
    if (condition.exit)
        *result = J_COND_WAIT_EXIT;
    else if (condition.signals > 0) {
        --condition.signals;
        *result = J_COND_WAIT_SIGNAL;
    } else
        return false;
    return true;
}

void rotate_pixels(std::uint8_t* data, std::size_t pixels, std::size_t bytes) {
    for (std::size_t front = 0, back = pixels - 1; front < back; ++front, --back)
        std::swap_ranges(data + front * bytes, data + (front + 1) * bytes, data + back * bytes);
}
} // namespace

J_STATUS_TYPE J_Factory_Open(const char* private_data_path, FACTORY_HANDLE* factory) {
    lock guard = enter("J_Factory_Open");
    if (!private_data_path || !factory || failing(guard, fake_sdk::step::factory_open))
        return J_ST_ERROR;
    *factory = add(state().factories, std::make_unique<int>(0));
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_Factory_Close(FACTORY_HANDLE factory) {
    lock guard = enter("J_Factory_Close");
    if (state().factories.erase(factory) == 0)
        return misuse("J_Factory_Close: unknown factory");
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_Factory_GetInfo(int item, char* buffer, std::uint32_t* size) {
    lock guard = enter("J_Factory_GetInfo");
    if (item != FAC_INFO_VERSION)
        return J_ST_ERROR;
    return copy_text("fake camera layer 1.0", buffer, size);
}

J_STATUS_TYPE J_Factory_UpdateCameraList(FACTORY_HANDLE factory, bool* changed) {
    lock guard = enter("J_Factory_UpdateCameraList");
    if (!find(state().factories, factory))
        return misuse("J_Factory_UpdateCameraList: unknown factory");
    if (failing(guard, fake_sdk::step::update_list))
        return J_ST_ERROR;
    if (changed)
        *changed = true;
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_Factory_GetNumOfCameras(FACTORY_HANDLE factory, std::uint32_t* count) {
    lock guard = enter("J_Factory_GetNumOfCameras");
    if (!find(state().factories, factory))
        return misuse("J_Factory_GetNumOfCameras: unknown factory");
    if (!count || failing(guard, fake_sdk::step::camera_count))
        return J_ST_ERROR;
    *count = static_cast<std::uint32_t>(state().cameras.size());
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_Factory_GetCameraIDByIndex(FACTORY_HANDLE factory, std::int32_t index, char* buffer,
                                           std::uint32_t* size) {
    lock guard = enter("J_Factory_GetCameraIDByIndex");
    if (!find(state().factories, factory))
        return misuse("J_Factory_GetCameraIDByIndex: unknown factory");
    const auto& cameras = state().cameras;
    if (failing(guard, fake_sdk::step::camera_id) || index < 0 ||
        static_cast<std::size_t>(index) >= cameras.size())
        return J_ST_ERROR;
    return copy_text(cameras[static_cast<std::size_t>(index)]->setup.id, buffer, size);
}

J_STATUS_TYPE J_Factory_GetCameraInfo(FACTORY_HANDLE factory, const char* camera_id, int item,
                                      char* buffer, std::uint32_t* size) {
    lock guard = enter("J_Factory_GetCameraInfo " + std::to_string(item));
    if (!find(state().factories, factory))
        return misuse("J_Factory_GetCameraInfo: unknown factory");
    camera_state* camera = camera_id ? camera_by_id(camera_id) : nullptr;
    if (!camera)
        return J_ST_ERROR;
    if (item == CAM_INFO_MODELNAME && !failing(guard, fake_sdk::step::camera_model))
        return copy_text(camera->setup.model, buffer, size);
    if (item == CAM_INFO_IP && !failing(guard, fake_sdk::step::camera_ip))
        return copy_text(camera->setup.address, buffer, size);
    return J_ST_ERROR;
}

J_STATUS_TYPE J_Camera_Open(FACTORY_HANDLE factory, const char* camera_id, CAM_HANDLE* camera,
                            int) {
    lock guard = enter("J_Camera_Open");
    if (!find(state().factories, factory))
        return misuse("J_Camera_Open: unknown factory");
    camera_state* found = camera_id ? camera_by_id(camera_id) : nullptr;
    if (!found || !camera || failing(guard, fake_sdk::step::camera_open))
        return J_ST_ERROR;
    *camera = add(state().open_cameras, std::make_unique<open_camera>(open_camera{found}));
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_Camera_Close(CAM_HANDLE camera) {
    lock guard = enter("J_Camera_Close");
    open_camera* open = find(state().open_cameras, camera);
    if (!open)
        return misuse("J_Camera_Close: unknown camera");
    for (auto& [handle, stream] : state().streams)
        if (stream->camera == open)
            return misuse("J_Camera_Close: a stream is still open");
    state().open_cameras.erase(camera);
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_Camera_GetValueInt64(CAM_HANDLE camera, const char* node, std::int64_t* value) {
    lock guard = enter(std::string("J_Camera_GetValueInt64 ") + (node ? node : ""));
    open_camera* open = find(state().open_cameras, camera);
    if (!open)
        return misuse("J_Camera_GetValueInt64: unknown camera");
    return node ? read_node(*open->camera, node, guard, value) : J_ST_ERROR;
}

J_STATUS_TYPE J_Camera_SetValueString(CAM_HANDLE camera, const char* node, const char* value) {
    lock guard = enter(std::string("J_Camera_SetValueString ") + (node ? node : ""));
    open_camera* open = find(state().open_cameras, camera);
    if (!open)
        return misuse("J_Camera_SetValueString: unknown camera");
    if (!node || !value || std::string(node) != "ExposureMode" ||
        failing(guard, fake_sdk::step::set_exposure))
        return J_ST_ERROR;
    auto known = std::find_if(exposure_modes.begin(), exposure_modes.end(),
                              [&](const char* mode) { return std::string(mode) == value; });
    if (known == exposure_modes.end())
        return J_ST_ERROR;
    open->camera->exposure = value;
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_Camera_ExecuteCommand(CAM_HANDLE camera, const char* node) {
    const std::string command = node ? node : "";
    lock guard = enter("J_Camera_ExecuteCommand " + command);
    open_camera* open = find(state().open_cameras, camera);
    if (!open)
        return misuse("J_Camera_ExecuteCommand: unknown camera");
    if (command == "AcquisitionStart" && !failing(guard, fake_sdk::step::acquisition_start))
        open->camera->acquiring = true;
    else if (command == "AcquisitionStop")
        open->camera->acquiring = false;
    else
        return J_ST_ERROR;
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_Camera_GetNumOfDataStreams(CAM_HANDLE camera, std::uint32_t* count) {
    lock guard = enter("J_Camera_GetNumOfDataStreams");
    if (!find(state().open_cameras, camera))
        return misuse("J_Camera_GetNumOfDataStreams: unknown camera");
    if (!count || failing(guard, fake_sdk::step::stream_count))
        return J_ST_ERROR;
    *count = 1;
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_Camera_CreateDataStream(CAM_HANDLE camera, std::uint32_t index,
                                        STREAM_HANDLE* stream) {
    lock guard = enter("J_Camera_CreateDataStream");
    open_camera* open = find(state().open_cameras, camera);
    if (!open)
        return misuse("J_Camera_CreateDataStream: unknown camera");
    if (index != 0 || !stream || failing(guard, fake_sdk::step::create_stream))
        return J_ST_ERROR;
    if (stream_of(open->camera))
        return misuse("J_Camera_CreateDataStream: the camera's stream is already open");
    auto created = std::make_unique<stream_state>();
    created->camera = open;
    *stream = add(state().streams, std::move(created));
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_DataStream_SetParam(STREAM_HANDLE stream, int param, const void* value,
                                    std::uint32_t* size) {
    lock guard = enter("J_DataStream_SetParam " + std::to_string(param));
    if (!find(state().streams, stream))
        return misuse("J_DataStream_SetParam: unknown stream");
    if (!value || !size || failing(guard, fake_sdk::step::set_stream_param))
        return J_ST_ERROR;
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_DataStream_AnnounceBuffer(STREAM_HANDLE stream, void* memory, std::uint32_t size,
                                          void*, BUF_HANDLE* buffer) {
    lock guard = enter("J_DataStream_AnnounceBuffer");
    stream_state* found = find(state().streams, stream);
    if (!found)
        return misuse("J_DataStream_AnnounceBuffer: unknown stream");
    if (!memory || !buffer || failing(guard, fake_sdk::step::announce_buffer))
        return J_ST_ERROR;
    auto announced = std::make_unique<buffer_state>(buffer_state{memory, size});
    *buffer = announced.get();
    found->buffers.emplace(*buffer, std::move(announced));
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_DataStream_QueueBuffer(STREAM_HANDLE stream, BUF_HANDLE buffer) {
    lock guard = enter("J_DataStream_QueueBuffer");
    stream_state* found = find(state().streams, stream);
    if (!found)
        return misuse("J_DataStream_QueueBuffer: unknown stream");
    buffer_state* announced = find(found->buffers, buffer);
    if (!announced)
        return misuse("J_DataStream_QueueBuffer: unknown buffer");
    if (queued(*found, announced))
        return misuse("J_DataStream_QueueBuffer: buffer already queued");
    if (failing(guard, fake_sdk::step::queue_buffer))
        return J_ST_ERROR;
    drop(found->output, announced);
    found->input.push_back(announced);
    state().changed.notify_all();
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_DataStream_RegisterEvent(STREAM_HANDLE stream, int kind, CONDITION_HANDLE condition,
                                         EVENT_HANDLE* event) {
    lock guard = enter("J_DataStream_RegisterEvent");
    stream_state* found = find(state().streams, stream);
    condition_state* waited = find(state().conditions, condition);
    if (!found || !waited)
        return misuse("J_DataStream_RegisterEvent: unknown stream or condition");
    if (kind != EVENT_NEW_BUFFER || !event || failing(guard, fake_sdk::step::register_event))
        return J_ST_ERROR;
    found->condition = waited;
    *event = add(state().events, std::make_unique<event_state>(event_state{found}));
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_DataStream_StartAcquisition(STREAM_HANDLE stream, int flags, std::uint64_t) {
    lock guard = enter("J_DataStream_StartAcquisition");
    stream_state* found = find(state().streams, stream);
    if (!found)
        return misuse("J_DataStream_StartAcquisition: unknown stream");
    if (flags != ACQ_START_NEXT_IMAGE || failing(guard, fake_sdk::step::start_stream))
        return J_ST_ERROR;
    found->running = true;
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_DataStream_GetBufferInfo(STREAM_HANDLE stream, BUF_HANDLE buffer, int item,
                                         void* value, std::uint32_t* size) {
    lock guard = enter("J_DataStream_GetBufferInfo " + std::to_string(item));
    stream_state* found = find(state().streams, stream);
    if (!found)
        return misuse("J_DataStream_GetBufferInfo: unknown stream");
    buffer_state* announced = find(found->buffers, buffer);
    if (!announced)
        return misuse("J_DataStream_GetBufferInfo: unknown buffer");
    if (failing(guard, fake_sdk::step::buffer_info))
        return J_ST_ERROR;
    return buffer_item(*found, *announced, item, value, size);
}

J_STATUS_TYPE J_DataStream_GetStreamInfo(STREAM_HANDLE stream, int item, void* value,
                                         std::uint32_t* size) {
    lock guard = enter("J_DataStream_GetStreamInfo " + std::to_string(item));
    stream_state* found = find(state().streams, stream);
    if (!found)
        return misuse("J_DataStream_GetStreamInfo: unknown stream");
    if (failing(guard, fake_sdk::step::stream_info))
        return J_ST_ERROR;
    bool known = false;
    const std::uint64_t counter = stream_counter(*found, item, &known);
    return known ? put(value, size, counter) : J_ST_ERROR;
}

J_STATUS_TYPE J_DataStream_UnRegisterEvent(STREAM_HANDLE stream, int kind) {
    lock guard = enter("J_DataStream_UnRegisterEvent");
    stream_state* found = find(state().streams, stream);
    if (!found)
        return misuse("J_DataStream_UnRegisterEvent: unknown stream");
    if (kind != EVENT_NEW_BUFFER || !found->condition)
        return J_ST_ERROR;
    found->condition = nullptr;
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_DataStream_StopAcquisition(STREAM_HANDLE stream, int) {
    lock guard = enter("J_DataStream_StopAcquisition");
    stream_state* found = find(state().streams, stream);
    if (!found)
        return misuse("J_DataStream_StopAcquisition: unknown stream");
    found->running = false;
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_DataStream_FlushQueue(STREAM_HANDLE stream, int queue) {
    lock guard = enter("J_DataStream_FlushQueue " + std::to_string(queue));
    stream_state* found = find(state().streams, stream);
    if (!found)
        return misuse("J_DataStream_FlushQueue: unknown stream");
    if (queue == ACQ_QUEUE_INPUT_TO_OUTPUT) {
        found->output.insert(found->output.end(), found->input.begin(), found->input.end());
        found->input.clear();
    } else if (queue == ACQ_QUEUE_OUTPUT_DISCARD)
        found->output.clear();
    else
        return J_ST_ERROR;
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_DataStream_RevokeBuffer(STREAM_HANDLE stream, BUF_HANDLE buffer, void** memory,
                                        void** private_data) {
    lock guard = enter("J_DataStream_RevokeBuffer");
    stream_state* found = find(state().streams, stream);
    if (!found)
        return misuse("J_DataStream_RevokeBuffer: unknown stream");
    buffer_state* announced = find(found->buffers, buffer);
    if (!announced)
        return misuse("J_DataStream_RevokeBuffer: unknown buffer");
    if (found->running && queued(*found, announced))
        return misuse("J_DataStream_RevokeBuffer: buffer queued on a running stream");
    if (failing(guard, fake_sdk::step::revoke_buffer))
        return J_ST_ERROR;
    drop(found->input, announced);
    drop(found->output, announced);
    if (memory)
        *memory = announced->memory;
    if (private_data)
        *private_data = nullptr;
    found->buffers.erase(buffer);
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_DataStream_Close(STREAM_HANDLE stream) {
    lock guard = enter("J_DataStream_Close");
    stream_state* found = find(state().streams, stream);
    if (!found)
        return misuse("J_DataStream_Close: unknown stream");
    for (auto& [handle, buffer] : found->buffers)
        use_memory(*buffer);
    for (auto& [handle, event] : state().events)
        if (event->stream == found)
            event->stream = nullptr;
    state().streams.erase(stream);
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_Event_CreateCondition(CONDITION_HANDLE* condition) {
    lock guard = enter("J_Event_CreateCondition");
    if (!condition || failing(guard, fake_sdk::step::create_condition))
        return J_ST_ERROR;
    *condition = add(state().conditions, std::make_unique<condition_state>());
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_Event_WaitForCondition(CONDITION_HANDLE condition, std::uint32_t timeout_ms,
                                       std::uint32_t* result) {
    lock guard = enter("J_Event_WaitForCondition");
    auto& s = state();
    condition_state* waited = find(s.conditions, condition);
    if (!waited)
        return misuse("J_Event_WaitForCondition: unknown condition");
    if (!result || failing(guard, fake_sdk::step::wait))
        return J_ST_ERROR;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    J_STATUS_TYPE status = J_ST_SUCCESS;
    ++s.waiters;
    s.changed.notify_all();
    while (!wait_outcome(*waited, &status, result)) {
        if (!s.real_timeouts)
            s.changed.wait(guard);
        else if (s.changed.wait_until(guard, deadline) == std::cv_status::timeout &&
                 !wait_outcome(*waited, &status, result)) {
            *result = J_COND_WAIT_TIMEOUT;
            break;
        }
    }
    --s.waiters;
    return status;
}

J_STATUS_TYPE J_Event_GetData(EVENT_HANDLE event, void* data, std::uint32_t* size) {
    lock guard = enter("J_Event_GetData");
    event_state* found = find(state().events, event);
    if (!found)
        return misuse("J_Event_GetData: unknown event");
    if (!data || !size || *size < sizeof(EVENT_NEW_BUFFER_DATA) || !found->stream ||
        found->stream->output.empty())
        return J_ST_ERROR;
    EVENT_NEW_BUFFER_DATA content{found->stream->output.front(), nullptr};
    found->stream->output.pop_front();
    std::memcpy(data, &content, sizeof content);
    *size = sizeof content;
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_Event_ExitCondition(CONDITION_HANDLE condition) {
    lock guard = enter("J_Event_ExitCondition");
    condition_state* found = find(state().conditions, condition);
    if (!found)
        return misuse("J_Event_ExitCondition: unknown condition");
    found->exit = true;
    state().changed.notify_all();
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_Event_Close(EVENT_HANDLE event) {
    lock guard = enter("J_Event_Close");
    if (state().events.erase(event) == 0)
        return misuse("J_Event_Close: unknown event");
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_Event_CloseCondition(CONDITION_HANDLE condition) {
    lock guard = enter("J_Event_CloseCondition");
    auto& s = state();
    condition_state* found = find(s.conditions, condition);
    if (!found)
        return misuse("J_Event_CloseCondition: unknown condition");
    for (auto& [handle, stream] : s.streams)
        if (stream->condition == found) {
            misuse("J_Event_CloseCondition: still registered on a stream");
            stream->condition = nullptr;
        }
    s.conditions.erase(condition);
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_Image_Rotate(J_tIMAGE_INFO* image, int kind) {
    lock guard = enter("J_Image_Rotate");
    if (!image || !image->pImageBuffer || kind != J_ROTATE_180)
        return J_ST_ERROR;
    const int bits = static_cast<int>((image->iPixelType >> 16) & 0xFF);
    if (bits % 8 != 0)
        return J_ST_ERROR;
    const std::size_t pixels = std::size_t{image->iSizeX} * image->iSizeY;
    if (pixels > 0)
        rotate_pixels(image->pImageBuffer, pixels, static_cast<std::size_t>(std::max(1, bits / 8)));
    return J_ST_SUCCESS;
}

namespace fake_sdk {

bool fake_camera::deliver_frame(const std::vector<std::uint8_t>& pixels, std::uint64_t timestamp,
                                std::uint32_t missing_packets) const {
    lock guard(state().mutex);
    camera_state* camera = camera_by_id(id_);
    stream_state* stream = camera ? stream_of(camera) : nullptr;
    if (!camera || !camera->acquiring || !stream || !stream->running)
        return false;
    return deliver(*stream, pixels, timestamp, missing_packets);
}

void fake_camera::set_int(const std::string& node, std::int64_t value) const {
    lock guard(state().mutex);
    if (camera_state* camera = camera_by_id(id_))
        camera->ints[node] = value;
}

std::string fake_camera::exposure_mode() const {
    lock guard(state().mutex);
    camera_state* camera = camera_by_id(id_);
    return camera ? camera->exposure : std::string();
}

void fake_camera::set_stream_info(int item, std::uint64_t value) const {
    lock guard(state().mutex);
    if (camera_state* camera = camera_by_id(id_))
        camera->info_overrides[item] = value;
}

bool fake_camera::acquiring() const {
    lock guard(state().mutex);
    camera_state* camera = camera_by_id(id_);
    return camera && camera->acquiring;
}

std::size_t fake_camera::queued_buffers() const {
    lock guard(state().mutex);
    camera_state* camera = camera_by_id(id_);
    stream_state* stream = camera ? stream_of(camera) : nullptr;
    return stream ? stream->input.size() : 0;
}

void reset() {
    lock guard(state().mutex);
    auto& s = state();
    s.events.clear();
    s.conditions.clear();
    s.streams.clear();
    s.open_cameras.clear();
    s.factories.clear();
    s.cameras.clear();
    s.failures.clear();
    s.scripted.clear();
    s.calls.clear();
    s.misuses.clear();
    s.real_timeouts = true;
    s.hold_armed = false;
    s.holding = false;
}

fake_camera add_camera(const camera_setup& setup) {
    lock guard(state().mutex);
    auto camera = std::make_unique<camera_state>();
    camera->setup = setup;
    camera->ints = {
        {"Width", setup.width}, {"Height", setup.height}, {"PixelFormat", setup.pixel_format}};
    state().cameras.push_back(std::move(camera));
    return fake_camera(setup.id);
}

void fail(step at, unsigned skip, unsigned times) {
    lock guard(state().mutex);
    state().failures[at] = failure{skip, times};
}

void hold(step at) {
    lock guard(state().mutex);
    state().hold_armed = true;
    state().hold_step = at;
}

bool held() {
    lock guard(state().mutex);
    return state().holding;
}

void release_hold() {
    lock guard(state().mutex);
    state().hold_armed = false;
    state().holding = false;
    state().changed.notify_all();
}

void set_real_timeouts(bool on) {
    lock guard(state().mutex);
    state().real_timeouts = on;
    state().changed.notify_all();
}

void script_wait(std::uint32_t result, J_STATUS_TYPE status) {
    lock guard(state().mutex);
    state().scripted.push_back(scripted_wait{status, result});
    state().changed.notify_all();
}

int waiters() {
    lock guard(state().mutex);
    return state().waiters;
}

std::vector<std::string> calls() {
    lock guard(state().mutex);
    return state().calls;
}

std::size_t count_calls(const std::string& call) {
    lock guard(state().mutex);
    const auto& all = state().calls;
    return static_cast<std::size_t>(std::count(all.begin(), all.end(), call));
}

resources open_resources() {
    lock guard(state().mutex);
    auto& s = state();
    resources open;
    open.factories = s.factories.size();
    open.cameras = s.open_cameras.size();
    open.streams = s.streams.size();
    for (auto& [handle, stream] : s.streams) {
        open.announced_buffers += stream->buffers.size();
        for (auto& [buffer, announced] : stream->buffers)
            open.announced_bytes += announced->size;
        open.running_streams += stream->running ? 1 : 0;
    }
    open.conditions = s.conditions.size();
    open.events = s.events.size();
    return open;
}

std::vector<std::string> misuses() {
    lock guard(state().mutex);
    return state().misuses;
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

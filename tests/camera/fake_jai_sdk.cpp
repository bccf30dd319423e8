#include "tests/camera/fake_jai_sdk.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <type_traits>

#include <gtest/gtest.h>

#include "camera/gige_layer_util.h"

namespace {
struct camera_state {
    fake_sdk::camera_setup setup;
    std::map<std::string, std::int64_t> ints;
    std::map<int, std::uint64_t> stream_info;
    std::string exposure = "Off";
    bool acquiring = false;
    struct object* stream = nullptr; // the open one
};

enum class kind { factory, camera, stream, buffer, condition, event };

// What a handle points at; each kind uses its own fields.
struct object {
    kind type;
    camera_state* camera = nullptr; // camera, stream
    object* owner = nullptr;        // stream: its open camera; buffer, event: its stream
    void* memory = nullptr;         // buffer
    std::uint32_t size = 0, filled = 0, missing = 0;
    std::uint64_t timestamp = 0;
    std::deque<object*> input = {}, output = {}; // stream
    bool running = false;
    object* condition = nullptr; // stream: the registered one
    unsigned signals = 0;        // condition
    bool exit = false;
};

// Handles are the addresses of the objects, so a stale handle is found missing, not dereferenced.
struct layer {
    std::vector<std::unique_ptr<camera_state>> cameras;
    std::map<void*, std::unique_ptr<object>> objects;
    std::map<std::string, unsigned> failures; // call to the successes left before it fails once
    std::deque<std::uint32_t> scripted_waits;
    std::vector<std::string> calls;
    std::string hold;
    bool holding = false;
} fake;
std::mutex fake_mutex;
std::condition_variable fake_changed;

object* add(object added) {
    auto owned = std::make_unique<object>(std::move(added));
    return fake.objects.emplace(owned.get(), std::move(owned)).first->second.get();
}

std::vector<object*> objects_of(kind type) {
    std::vector<object*> found;
    for (auto& [handle, o] : fake.objects)
        if (o->type == type)
            found.push_back(o.get());
    return found;
}

camera_state* camera_by_id(const std::string& id) {
    for (auto& camera : fake.cameras)
        if (camera->setup.id == id)
            return camera.get();
    return nullptr;
}

// One J_ call under the layer's mutex: recorded, held while a hold is set on it, and failing when
// scripted to.
struct call {
    explicit call(const std::string& function, const std::string& detail = "")
        : guard(fake_mutex), text(detail.empty() ? function : function + " " + detail) {
        fake.calls.push_back(text);
        if (fake.hold == text) {
            fake.hold.clear();
            fake.holding = true;
            fake_changed.wait(guard, [] { return !fake.holding; });
        }
        auto found = fake.failures.find(text);
        failing = found != fake.failures.end() && found->second-- == 0; // then no more
    }

    J_STATUS_TYPE misuse(const std::string& what) {
        ADD_FAILURE() << "camera layer misused: " << text << ": " << what;
        return J_ST_ERROR;
    }

    // The action's status, or success when it has none, on the object of a known handle of that
    // kind; an error when the call is scripted to fail.
    template <typename Action = void (*)(object&)>
    J_STATUS_TYPE on(
        void* handle, kind type, Action action = [](object&) {}) {
        auto entry = fake.objects.find(handle);
        if (entry == fake.objects.end() || entry->second->type != type)
            return misuse("unknown handle");
        object* found = entry->second.get();
        if (failing)
            return J_ST_ERROR;
        if constexpr (std::is_void_v<decltype(action(*found))>) {
            action(*found);
            return J_ST_SUCCESS;
        } else {
            return action(*found);
        }
    }

    // As `on`, for a buffer of that stream.
    template <typename Action> J_STATUS_TYPE on_buffer(void* stream, void* buffer, Action action) {
        return on(buffer, kind::buffer, [&](object& b) {
            return b.owner == stream ? action(*b.owner, b) : misuse("not of this stream");
        });
    }

    // Closes the handle unless a stream still uses it as that field.
    J_STATUS_TYPE close(void* handle, kind type, object* object::*use = nullptr) {
        for (const object* stream : objects_of(kind::stream))
            if (use && stream->*use == handle)
                return misuse("a stream still uses it");
        return on(handle, type, [&](object&) { fake.objects.erase(handle); });
    }

    J_STATUS_TYPE create(kind type, void** handle) {
        if (failing)
            return J_ST_ERROR;
        *handle = add({type});
        return J_ST_SUCCESS;
    }

    std::unique_lock<std::mutex> guard;
    std::string text;
    bool failing;
};

// The value in the width the camera layer documents for the item; another size is an error.
J_STATUS_TYPE put(void* value, std::uint32_t* size, std::uint64_t content, std::uint32_t width) {
    if (*size != width)
        return J_ST_ERROR;
    std::memcpy(value, &content, width); // little-endian: the low bytes
    return J_ST_SUCCESS;
}

J_STATUS_TYPE buffer_item(const object& stream, const object& buffer, int item, void* value,
                          std::uint32_t* size) {
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
        {BUFFER_INFO_NUM_PACKETS_MISSING, {buffer.missing, 4}}};
    auto found = items.find(item);
    return found == items.end() ? J_ST_ERROR
                                : put(value, size, found->second.first, found->second.second);
}

// The wait's outcome once there is one to report.
bool wait_outcome(object& condition, std::uint32_t* result) {
    if (!fake.scripted_waits.empty()) {
        *result = fake.scripted_waits.front();
        fake.scripted_waits.pop_front();
        return true;
    }
    *result = condition.exit ? J_COND_WAIT_EXIT : J_COND_WAIT_SIGNAL;
    return condition.exit || (condition.signals > 0 && condition.signals-- > 0);
}
} // namespace

J_STATUS_TYPE J_Factory_Open(const char*, FACTORY_HANDLE* factory) {
    return call(__func__).create(kind::factory, factory);
}

J_STATUS_TYPE J_Factory_Close(FACTORY_HANDLE factory) {
    return call(__func__).close(factory, kind::factory);
}

J_STATUS_TYPE J_Factory_GetInfo(int, char* buffer, std::uint32_t* size) {
    call c(__func__);
    return copy_text("fake camera layer", buffer, size);
}

J_STATUS_TYPE J_Factory_UpdateCameraList(FACTORY_HANDLE factory, bool*) {
    return call(__func__).on(factory, kind::factory);
}

J_STATUS_TYPE J_Factory_GetNumOfCameras(FACTORY_HANDLE factory, std::uint32_t* count) {
    return call(__func__).on(factory, kind::factory, [&](object&) {
        *count = static_cast<std::uint32_t>(fake.cameras.size());
    });
}

J_STATUS_TYPE J_Factory_GetCameraIDByIndex(FACTORY_HANDLE factory, std::int32_t index, char* buffer,
                                           std::uint32_t* size) {
    return call(__func__).on(factory, kind::factory, [&](object&) {
        return copy_text(fake.cameras.at(static_cast<std::size_t>(index))->setup.id, buffer, size);
    });
}

J_STATUS_TYPE J_Factory_GetCameraInfo(FACTORY_HANDLE factory, const char* camera_id, int item,
                                      char* buffer, std::uint32_t* size) {
    return call(__func__, std::to_string(item)).on(factory, kind::factory, [&](object&) {
        const fake_sdk::camera_setup& setup = camera_by_id(camera_id)->setup;
        return copy_text(item == CAM_INFO_IP ? setup.address : setup.model, buffer, size);
    });
}

J_STATUS_TYPE J_Camera_Open(FACTORY_HANDLE factory, const char* camera_id, CAM_HANDLE* camera,
                            int) {
    return call(__func__).on(factory, kind::factory, [&](object&) {
        *camera = add({kind::camera, camera_by_id(camera_id)});
    });
}

J_STATUS_TYPE J_Camera_Close(CAM_HANDLE camera) {
    return call(__func__).close(camera, kind::camera, &object::owner);
}

J_STATUS_TYPE J_Camera_GetValueInt64(CAM_HANDLE camera, const char* node, std::int64_t* value) {
    return call(__func__, node).on(camera, kind::camera, [&](object& open) {
        const auto& ints = open.camera->ints;
        return ints.count(node) ? (*value = ints.at(node), J_ST_SUCCESS) : J_ST_ERROR;
    });
}

J_STATUS_TYPE J_Camera_SetValueString(CAM_HANDLE camera, const char* node, const char* value) {
    return call(__func__, node).on(camera, kind::camera, [&](object& open) {
        open.camera->exposure = value;
    });
}

J_STATUS_TYPE J_Camera_ExecuteCommand(CAM_HANDLE camera, const char* node) {
    return call(__func__, node).on(camera, kind::camera, [&](object& open) {
        open.camera->acquiring = std::string(node) == "AcquisitionStart";
    });
}

J_STATUS_TYPE J_Camera_GetNumOfDataStreams(CAM_HANDLE camera, std::uint32_t*) {
    return call(__func__).on(camera, kind::camera);
}

J_STATUS_TYPE J_Camera_CreateDataStream(CAM_HANDLE camera, std::uint32_t, STREAM_HANDLE* stream) {
    return call(__func__).on(camera, kind::camera, [&](object& open) {
        *stream = open.camera->stream = add({kind::stream, open.camera, &open});
    });
}

J_STATUS_TYPE J_DataStream_SetParam(STREAM_HANDLE stream, int param, const void*, std::uint32_t*) {
    return call(__func__, std::to_string(param)).on(stream, kind::stream);
}

J_STATUS_TYPE J_DataStream_AnnounceBuffer(STREAM_HANDLE stream, void* memory, std::uint32_t size,
                                          void*, BUF_HANDLE* buffer) {
    return call(__func__).on(stream, kind::stream, [&](object& s) {
        *buffer = add({kind::buffer, nullptr, &s, memory, size});
    });
}

J_STATUS_TYPE J_DataStream_QueueBuffer(STREAM_HANDLE stream, BUF_HANDLE buffer) {
    call c(__func__);
    return c.on_buffer(stream, buffer, [&](object& s, object& b) {
        if (std::count(s.input.begin(), s.input.end(), &b) > 0)
            return c.misuse("already queued");
        s.input.push_back(&b);
        return J_ST_SUCCESS;
    });
}

J_STATUS_TYPE J_DataStream_RegisterEvent(STREAM_HANDLE stream, int, CONDITION_HANDLE condition,
                                         EVENT_HANDLE* event) {
    call c(__func__);
    return c.on(condition, kind::condition, [&](object& waited) {
        return c.on(stream, kind::stream, [&](object& s) {
            s.condition = &waited;
            *event = add({kind::event, nullptr, &s});
        });
    });
}

J_STATUS_TYPE J_DataStream_StartAcquisition(STREAM_HANDLE stream, int, std::uint64_t) {
    return call(__func__).on(stream, kind::stream, [](object& s) { s.running = true; });
}

J_STATUS_TYPE J_DataStream_GetBufferInfo(STREAM_HANDLE stream, BUF_HANDLE buffer, int item,
                                         void* value, std::uint32_t* size) {
    return call(__func__, std::to_string(item))
        .on_buffer(stream, buffer,
                   [&](object& s, object& b) { return buffer_item(s, b, item, value, size); });
}

J_STATUS_TYPE J_DataStream_GetStreamInfo(STREAM_HANDLE stream, int item, void* value,
                                         std::uint32_t* size) {
    return call(__func__, std::to_string(item)).on(stream, kind::stream, [&](object& s) {
        return put(value, size, s.camera->stream_info[item], 8);
    });
}

J_STATUS_TYPE J_DataStream_UnRegisterEvent(STREAM_HANDLE stream, int) {
    return call(__func__).on(stream, kind::stream, [](object& s) { s.condition = nullptr; });
}

J_STATUS_TYPE J_DataStream_StopAcquisition(STREAM_HANDLE stream, int) {
    return call(__func__).on(stream, kind::stream, [](object& s) { s.running = false; });
}

J_STATUS_TYPE J_DataStream_FlushQueue(STREAM_HANDLE stream, int queue) {
    return call(__func__, std::to_string(queue)).on(stream, kind::stream, [&](object& s) {
        if (queue == ACQ_QUEUE_INPUT_TO_OUTPUT)
            s.output.insert(s.output.end(), s.input.begin(), s.input.end());
        (queue == ACQ_QUEUE_INPUT_TO_OUTPUT ? s.input : s.output).clear();
    });
}

J_STATUS_TYPE J_DataStream_RevokeBuffer(STREAM_HANDLE stream, BUF_HANDLE buffer, void** memory,
                                        void**) {
    call c(__func__);
    return c.on_buffer(stream, buffer, [&](object& s, object& b) {
        if (s.running && std::count(s.input.begin(), s.input.end(), &b) > 0)
            return c.misuse("queued on a running stream");
        *memory = b.memory;
        fake.objects.erase(buffer);
        return J_ST_SUCCESS;
    });
}

// Reads the memory of the buffers still announced, which the layer may use until now.
J_STATUS_TYPE J_DataStream_Close(STREAM_HANDLE stream) {
    return call(__func__).on(stream, kind::stream, [&](object& s) {
        for (object* buffer : objects_of(kind::buffer))
            if (buffer->owner == &s) {
                for (std::uint32_t i = 0; i < buffer->size; ++i)
                    static_cast<void>(static_cast<const volatile std::uint8_t*>(buffer->memory)[i]);
                fake.objects.erase(buffer);
            }
        s.camera->stream = nullptr;
        fake.objects.erase(stream);
    });
}

J_STATUS_TYPE J_Event_CreateCondition(CONDITION_HANDLE* condition) {
    return call(__func__).create(kind::condition, condition);
}

J_STATUS_TYPE J_Event_WaitForCondition(CONDITION_HANDLE condition, std::uint32_t timeout_ms,
                                       std::uint32_t* result) {
    call c(__func__, std::to_string(timeout_ms));
    return c.on(condition, kind::condition, [&](object& waited) {
        return fake_changed.wait_for(c.guard, std::chrono::seconds(20),
                                     [&] { return wait_outcome(waited, result); })
                   ? J_ST_SUCCESS
                   : c.misuse("nothing ended the wait");
    });
}

J_STATUS_TYPE J_Event_GetData(EVENT_HANDLE event, void* data, std::uint32_t*) {
    return call(__func__).on(event, kind::event, [&](object& e) {
        if (e.owner->output.empty())
            return J_ST_ERROR;
        static_cast<EVENT_NEW_BUFFER_DATA*>(data)->BufferHandle = e.owner->output.front();
        e.owner->output.pop_front();
        return J_ST_SUCCESS;
    });
}

J_STATUS_TYPE J_Event_ExitCondition(CONDITION_HANDLE condition) {
    return call(__func__).on(condition, kind::condition, [](object& c) {
        c.exit = true;
        fake_changed.notify_all();
    });
}

J_STATUS_TYPE J_Event_Close(EVENT_HANDLE event) {
    return call(__func__).close(event, kind::event);
}

J_STATUS_TYPE J_Event_CloseCondition(CONDITION_HANDLE condition) {
    return call(__func__).close(condition, kind::condition, &object::condition);
}

J_STATUS_TYPE J_Image_Rotate(J_tIMAGE_INFO* image, int) {
    call c(__func__);
    const std::size_t bits = std::max<std::size_t>(8, (image->iPixelType >> 16) & 0xFF);
    reverse_pixels(image->pImageBuffer, std::size_t{image->iSizeX} * image->iSizeY, bits / 8);
    return J_ST_SUCCESS;
}

namespace fake_sdk {
namespace {
// The read or change under the layer's mutex, on the camera of that id when the action takes one.
template <typename Action> auto locked(Action action, const std::string& id = "") {
    std::lock_guard<std::mutex> guard(fake_mutex);
    if constexpr (std::is_invocable_v<Action, camera_state&>)
        return action(*camera_by_id(id));
    else
        return action();
}
} // namespace

bool fake_camera::deliver_frame(const std::vector<std::uint8_t>& pixels, std::uint64_t timestamp,
                                std::uint32_t missing_packets) const {
    return locked(
        [&](camera_state& camera) {
            object* stream = camera.stream;
            if (!camera.acquiring || !stream || !stream->running || stream->input.empty())
                return false;
            object* buffer = stream->input.front();
            stream->input.pop_front();
            buffer->filled = std::min<std::uint32_t>(pixels.size(), buffer->size);
            std::memcpy(buffer->memory, pixels.data(), buffer->filled);
            buffer->timestamp = timestamp;
            buffer->missing = missing_packets;
            stream->output.push_back(buffer);
            if (stream->condition)
                ++stream->condition->signals;
            fake_changed.notify_all();
            return true;
        },
        id);
}

void fake_camera::set_int(const std::string& node, std::int64_t value) const {
    locked([&](camera_state& camera) { camera.ints[node] = value; }, id);
}

void fake_camera::set_stream_info(int item, std::uint64_t value) const {
    locked([&](camera_state& camera) { camera.stream_info[item] = value; }, id);
}

std::string fake_camera::exposure_mode() const {
    return locked([](camera_state& camera) { return camera.exposure; }, id);
}

bool fake_camera::acquiring() const {
    return locked([](camera_state& camera) { return camera.acquiring; }, id);
}

std::size_t fake_camera::queued_buffers() const {
    return locked(
        [](camera_state& camera) { return camera.stream ? camera.stream->input.size() : 0; }, id);
}

void reset() {
    locked([] { fake = layer{}; });
}

fake_camera add_camera(const camera_setup& setup) {
    auto camera = std::make_unique<camera_state>();
    camera->setup = setup;
    camera->ints = {
        {"Width", setup.width}, {"Height", setup.height}, {"PixelFormat", setup.pixel_format}};
    locked([&] { fake.cameras.push_back(std::move(camera)); });
    return fake_camera{setup.id};
}

void fail(const std::string& call, unsigned skip) {
    locked([&] { fake.failures[call] = skip; });
}

void hold(const std::string& call) {
    locked([&] { fake.hold = call; });
}

void release_hold() {
    locked([] { fake.holding = false; });
    fake_changed.notify_all();
}

void script_wait(std::uint32_t result) {
    locked([&] { fake.scripted_waits.push_back(result); });
    fake_changed.notify_all();
}

std::vector<std::string> calls() {
    return locked([] { return fake.calls; });
}

std::size_t count_calls(const std::string& call) {
    return locked(
        [&] { return std::size_t(std::count(fake.calls.begin(), fake.calls.end(), call)); });
}

resources open_resources() {
    return locked([] {
        resources open{objects_of(kind::factory).size(), objects_of(kind::camera).size(),
                       objects_of(kind::stream).size(), objects_of(kind::condition).size(),
                       objects_of(kind::event).size()};
        for (const object* buffer : objects_of(kind::buffer))
            open.announced_bytes += buffer->size;
        return open;
    });
}

} // namespace fake_sdk

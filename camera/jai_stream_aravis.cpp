// The camera layer over Aravis: data streams, their buffers, new-buffer events and conditions.
//
// A buffer that is queued while the stream's receiving thread runs is pushed to Aravis. The
// receiving thread reports finished buffers through the stream's "new-buffer" signal; complete
// ones go to the registered condition, incomplete ones are counted and pushed back at once, so a
// waiter only ever sees whole frames. Stopping acquisition stops the receiving thread and takes
// every buffer back from Aravis; starting it again pushes the queued ones anew.

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>

#include "camera/aravis_handles.h"
#include "camera/jai_sdk.h"

namespace {

using gige::buffer_entry;
using gige::buffer_place;
using gige::condition;
using gige::event;
using gige::stream;

buffer_entry* entry_of(ArvBuffer* buffer) {
    return static_cast<buffer_entry*>(const_cast<void*>(arv_buffer_get_user_data(buffer)));
}

buffer_entry* find_entry(stream& s, BUF_HANDLE buffer) {
    auto found = s.buffers.find(static_cast<buffer_entry*>(buffer));
    return found == s.buffers.end() ? nullptr : found->second.get();
}

// Needs s.lock.
void give_to_aravis(stream& s, buffer_entry& entry) {
    g_object_ref(entry.arv);
    arv_stream_push_buffer(s.arv, entry.arv);
    entry.in_aravis = true;
}

// Needs s.lock. Removes the registered event's ready buffers (only the given one, if any) from
// its condition; they stay in the output place.
void withdraw_ready(stream& s, buffer_entry* only) {
    condition& target = *s.registered->target;
    std::lock_guard<std::mutex> hold(target.lock);
    const auto first = std::remove_if(target.ready.begin(), target.ready.end(), [&](auto& ready) {
        return ready.source == s.registered && (only == nullptr || ready.buffer == only);
    });
    s.awaiting -= static_cast<std::uint64_t>(target.ready.end() - first);
    target.ready.erase(first, target.ready.end());
}

// Needs s.lock.
void unregister(stream& s) {
    if (s.registered == nullptr)
        return;
    withdraw_ready(s, nullptr);
    s.registered->registered = false;
    s.registered = nullptr;
}

// Needs s.lock and a registered event.
void deliver(stream& s, buffer_entry& entry) {
    entry.in_aravis = false;
    entry.place = buffer_place::output;
    ++s.delivered;
    ++s.awaiting;
    condition& target = *s.registered->target;
    {
        std::lock_guard<std::mutex> hold(target.lock);
        target.ready.push_back({s.registered, &entry});
    }
    target.wake.notify_all();
}

// Aravis reports a frame larger than its buffer as complete, with its end cut off.
bool fits_buffer(ArvBuffer* finished, const buffer_entry& entry) {
    if (arv_buffer_get_payload_type(finished) != ARV_BUFFER_PAYLOAD_TYPE_IMAGE)
        return true;
    const std::uint64_t bits =
        ARV_PIXEL_FORMAT_BIT_PER_PIXEL(arv_buffer_get_image_pixel_format(finished));
    const std::uint64_t pixels = std::uint64_t(arv_buffer_get_image_width(finished)) *
                                 std::uint64_t(arv_buffer_get_image_height(finished));
    return (pixels * bits + 7) / 8 <= entry.size;
}

// Needs s.lock and a registered event.
void collect_finished(stream& s) {
    while (ArvBuffer* finished = arv_stream_try_pop_buffer(s.arv)) {
        const ArvBufferStatus status = arv_buffer_get_status(finished);
        buffer_entry& entry = *entry_of(finished);
        if (status == ARV_BUFFER_STATUS_SUCCESS && fits_buffer(finished, entry)) {
            g_object_unref(finished);
            deliver(s, entry);
            continue;
        }
        // Aborted frames are the ones cut off by our own stop, not faults of the link.
        if (status != ARV_BUFFER_STATUS_ABORTED)
            ++s.corrupt;
        arv_stream_push_buffer(s.arv, finished);
    }
}

// Runs on Aravis's receiving thread. Without a registration the buffers wait in Aravis's output
// queue until one is made.
void on_new_buffer(ArvStream*, gpointer data) {
    stream& s = *static_cast<stream*>(data);
    std::lock_guard<std::mutex> hold(s.lock);
    if (s.registered != nullptr)
        collect_finished(s);
}

// Must not hold s.lock: stopping joins the receiving thread, which may be waiting for it.
void stop_receiving(stream& s) {
    if (!s.thread_running)
        return;
    arv_stream_stop_thread(s.arv, TRUE);
    std::lock_guard<std::mutex> hold(s.lock);
    for (auto& [handle, entry] : s.buffers)
        entry->in_aravis = false;
    s.thread_running = false;
}

void start_receiving(stream& s) {
    std::lock_guard<std::mutex> hold(s.lock);
    if (s.thread_running)
        return;
    for (auto& [handle, entry] : s.buffers)
        if (entry->place == buffer_place::queued && !entry->in_aravis)
            give_to_aravis(s, *entry);
    arv_stream_start_thread(s.arv);
    s.thread_running = true;
}

J_STATUS_TYPE put_value(void* value, std::uint32_t* size, std::uint64_t number,
                        std::uint32_t width) {
    if (value == nullptr || size == nullptr || *size < width)
        return J_ST_ERROR;
    if (width == 4) {
        const auto narrow = static_cast<std::uint32_t>(number);
        std::memcpy(value, &narrow, 4);
    } else {
        std::memcpy(value, &number, 8);
    }
    *size = width;
    return J_ST_SUCCESS;
}

std::uint64_t queued_count(const stream& s) {
    return static_cast<std::uint64_t>(
        std::count_if(s.buffers.begin(), s.buffers.end(),
                      [](auto& item) { return item.second->place == buffer_place::queued; }));
}

std::uint64_t frame_timestamp(ArvBuffer* buffer) {
    const guint64 camera_time = arv_buffer_get_timestamp(buffer);
    return camera_time != 0 ? camera_time : arv_buffer_get_system_timestamp(buffer);
}

struct image_region {
    gint x = 0, y = 0, width = 0, height = 0, padding_x = 0, padding_y = 0;
};

image_region region_of(ArvBuffer* buffer) {
    image_region region;
    if (arv_buffer_get_payload_type(buffer) != ARV_BUFFER_PAYLOAD_TYPE_IMAGE)
        return region;
    arv_buffer_get_image_region(buffer, &region.x, &region.y, &region.width, &region.height);
    arv_buffer_get_image_padding(buffer, &region.padding_x, &region.padding_y);
    return region;
}

std::uint64_t image_bytes(ArvBuffer* buffer) {
    if (arv_buffer_get_payload_type(buffer) != ARV_BUFFER_PAYLOAD_TYPE_IMAGE)
        return 0;
    size_t size = 0;
    arv_buffer_get_image_data(buffer, &size);
    return size;
}

struct item_value {
    std::uint64_t number;
    std::uint32_t width; // bytes
};

// Needs s.lock. Empty for an unknown item.
std::optional<item_value> buffer_item(const stream& s, const buffer_entry& entry, int item) {
    ArvBuffer* arv = entry.arv;
    const image_region region = region_of(arv);
    switch (item) {
    case BUFFER_INFO_BASE:
        return item_value{reinterpret_cast<std::uintptr_t>(entry.memory), 8};
    case BUFFER_INFO_SIZE:
        return item_value{image_bytes(arv), 4};
    case BUFFER_INFO_TIMESTAMP:
        return item_value{frame_timestamp(arv), 8};
    case BUFFER_INFO_NUMBER_OF_QUEUED:
        return item_value{queued_count(s), 8};
    case BUFFER_INFO_WIDTH:
        return item_value{static_cast<std::uint64_t>(region.width), 4};
    case BUFFER_INFO_HEIGHT:
        return item_value{static_cast<std::uint64_t>(region.height), 4};
    case BUFFER_INFO_XOFFSET:
        return item_value{static_cast<std::uint64_t>(region.x), 4};
    case BUFFER_INFO_YOFFSET:
        return item_value{static_cast<std::uint64_t>(region.y), 4};
    case BUFFER_INFO_XPADDING:
        return item_value{static_cast<std::uint64_t>(region.padding_x), 4};
    case BUFFER_INFO_BLOCKID:
        return item_value{arv_buffer_get_frame_id(arv), 8};
    case BUFFER_INFO_PIXELTYPE:
        return item_value{arv_buffer_get_image_pixel_format(arv), 8};
    // Only complete buffers are delivered, and Aravis keeps no count per buffer.
    case BUFFER_INFO_NUM_PACKETS_MISSING:
        return item_value{0, 4};
    default:
        return std::nullopt;
    }
}

// Aravis cannot test packet sizes with every camera; one that cannot keeps the size it has.
void negotiate_packet_size(gige::camera& camera) {
    GError* error = nullptr;
    arv_camera_gv_auto_packet_size(camera.arv, &error);
    gige::failed(camera, error);
}

// After this no "new-buffer" handler runs with s, and Aravis holds none of its buffers. Nor does
// the receiving thread hold the stream, as it would while emitting to a handler: finalizing the
// stream on that thread would join it to itself.
void detach(stream& s) {
    {
        std::lock_guard<std::mutex> hold(s.lock);
        unregister(s);
    }
    arv_stream_set_emit_signals(s.arv, FALSE);
    g_signal_handlers_disconnect_by_data(s.arv, &s);
    stop_receiving(s);
}

// Finalizing tells the device to stop sending, which an unreachable camera times out: then it
// happens in the background, holding the camera (and so its device) until the stream is gone.
void release_arv_stream(stream& s) {
    // Finalizing stops the receiving thread itself and complains when none runs; a thread
    // without buffers touches neither s nor the caller's memory.
    arv_stream_start_thread(s.arv);
    if (s.owner->unreachable())
        gige::release_in_background({s.arv, g_object_ref(s.owner->arv)});
    else
        g_object_unref(s.arv);
}

void tune_gige_stream(ArvStream* arv) {
    if (!ARV_IS_GV_STREAM(arv))
        return;
    g_object_set(arv, "socket-buffer", ARV_GV_STREAM_SOCKET_BUFFER_AUTO, "packet-resend",
                 ARV_GV_STREAM_PACKET_RESEND_ALWAYS, nullptr);
}

} // namespace

J_STATUS_TYPE J_Camera_CreateDataStream(CAM_HANDLE camera, std::uint32_t index,
                                        STREAM_HANDLE* stream_handle) {
    auto* owner = static_cast<gige::camera*>(camera);
    if (owner == nullptr || index != 0 || stream_handle == nullptr)
        return J_ST_ERROR;
    std::lock_guard<std::mutex> hold(owner->feature_lock);
    if (owner->unreachable())
        return J_ST_ERROR;
    if (arv_camera_is_gv_device(owner->arv))
        negotiate_packet_size(*owner);
    if (owner->unreachable())
        return J_ST_ERROR;
    GError* error = nullptr;
    ArvStream* arv = arv_camera_create_stream(owner->arv, nullptr, nullptr, &error);
    if (gige::failed(*owner, error) || arv == nullptr) {
        if (arv != nullptr)
            g_object_unref(arv);
        return J_ST_ERROR;
    }
    tune_gige_stream(arv);
    auto* created = new stream;
    created->owner = owner;
    created->arv = arv;
    created->thread_running = true;
    g_signal_connect(arv, "new-buffer", G_CALLBACK(on_new_buffer), created);
    arv_stream_set_emit_signals(arv, TRUE);
    *stream_handle = created;
    return J_ST_SUCCESS;
}

// Aravis has one way of handling buffers, in the order they are filled; the parameter is accepted
// so that callers written for other layers work unchanged.
J_STATUS_TYPE J_DataStream_SetParam(STREAM_HANDLE stream_handle, int param, const void* value,
                                    std::uint32_t* size) {
    if (stream_handle == nullptr || param != STREAM_PARAM_BUFFER_HANDLING || value == nullptr ||
        size == nullptr || *size < 8)
        return J_ST_ERROR;
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_DataStream_AnnounceBuffer(STREAM_HANDLE stream_handle, void* memory,
                                          std::uint32_t size, void* private_data,
                                          BUF_HANDLE* buffer) {
    auto* s = static_cast<stream*>(stream_handle);
    if (s == nullptr || memory == nullptr || size == 0 || buffer == nullptr)
        return J_ST_ERROR;
    auto entry = std::make_unique<buffer_entry>();
    entry->arv = arv_buffer_new_full(size, memory, entry.get(), nullptr);
    entry->memory = memory;
    entry->size = size;
    entry->private_data = private_data;
    *buffer = entry.get();
    std::lock_guard<std::mutex> hold(s->lock);
    s->buffers.emplace(entry.get(), std::move(entry));
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_DataStream_QueueBuffer(STREAM_HANDLE stream_handle, BUF_HANDLE buffer) {
    auto* s = static_cast<stream*>(stream_handle);
    if (s == nullptr)
        return J_ST_ERROR;
    std::lock_guard<std::mutex> hold(s->lock);
    buffer_entry* entry = find_entry(*s, buffer);
    if (entry == nullptr || entry->place == buffer_place::queued)
        return J_ST_ERROR;
    if (entry->place == buffer_place::output && s->registered != nullptr)
        withdraw_ready(*s, entry);
    entry->place = buffer_place::queued;
    if (s->thread_running)
        give_to_aravis(*s, *entry);
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_DataStream_RegisterEvent(STREAM_HANDLE stream_handle, int kind,
                                         CONDITION_HANDLE condition_handle,
                                         EVENT_HANDLE* event_handle) {
    auto* s = static_cast<stream*>(stream_handle);
    if (s == nullptr || kind != EVENT_NEW_BUFFER || condition_handle == nullptr ||
        event_handle == nullptr)
        return J_ST_ERROR;
    std::lock_guard<std::mutex> hold(s->lock);
    if (s->registered != nullptr)
        return J_ST_ERROR;
    auto* registration = new event;
    registration->source = s;
    registration->target = static_cast<condition*>(condition_handle);
    registration->registered = true;
    s->registered = registration;
    collect_finished(*s);
    *event_handle = registration;
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_DataStream_StartAcquisition(STREAM_HANDLE stream_handle, int, std::uint64_t) {
    auto* s = static_cast<stream*>(stream_handle);
    if (s == nullptr)
        return J_ST_ERROR;
    start_receiving(*s);
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_DataStream_GetBufferInfo(STREAM_HANDLE stream_handle, BUF_HANDLE buffer, int item,
                                         void* value, std::uint32_t* size) {
    auto* s = static_cast<stream*>(stream_handle);
    if (s == nullptr)
        return J_ST_ERROR;
    std::lock_guard<std::mutex> hold(s->lock);
    const buffer_entry* entry = find_entry(*s, buffer);
    if (entry == nullptr)
        return J_ST_ERROR;
    const std::optional<item_value> found = buffer_item(*s, *entry, item);
    if (!found)
        return J_ST_ERROR;
    return put_value(value, size, found->number, found->width);
}

J_STATUS_TYPE J_DataStream_GetStreamInfo(STREAM_HANDLE stream_handle, int item, void* value,
                                         std::uint32_t* size) {
    auto* s = static_cast<stream*>(stream_handle);
    if (s == nullptr)
        return J_ST_ERROR;
    guint64 completed = 0, failures = 0, underruns = 0;
    switch (item) {
    case STREAM_INFO_NUM_DELIVERED:
        return put_value(value, size, s->delivered, 8);
    case STREAM_INFO_NUM_UNDERRUN:
        arv_stream_get_statistics(s->arv, &completed, &failures, &underruns);
        return put_value(value, size, underruns, 8);
    case STREAM_INFO_NUM_AWAIT_DELIVERY:
        return put_value(value, size, s->awaiting, 8);
    case STREAM_INFO_NUM_CORRUPT:
        return put_value(value, size, s->corrupt, 8);
    default:
        return J_ST_ERROR;
    }
}

J_STATUS_TYPE J_DataStream_UnRegisterEvent(STREAM_HANDLE stream_handle, int kind) {
    auto* s = static_cast<stream*>(stream_handle);
    if (s == nullptr || kind != EVENT_NEW_BUFFER)
        return J_ST_ERROR;
    std::lock_guard<std::mutex> hold(s->lock);
    unregister(*s);
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_DataStream_StopAcquisition(STREAM_HANDLE stream_handle, int) {
    auto* s = static_cast<stream*>(stream_handle);
    if (s == nullptr)
        return J_ST_ERROR;
    stop_receiving(*s);
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_DataStream_FlushQueue(STREAM_HANDLE stream_handle, int queue) {
    auto* s = static_cast<stream*>(stream_handle);
    if (s == nullptr || (queue != ACQ_QUEUE_INPUT_TO_OUTPUT && queue != ACQ_QUEUE_OUTPUT_DISCARD))
        return J_ST_ERROR;
    const bool was_running = s->thread_running;
    if (queue == ACQ_QUEUE_INPUT_TO_OUTPUT)
        stop_receiving(*s);
    {
        std::lock_guard<std::mutex> hold(s->lock);
        const buffer_place from =
            queue == ACQ_QUEUE_INPUT_TO_OUTPUT ? buffer_place::queued : buffer_place::output;
        const buffer_place to =
            queue == ACQ_QUEUE_INPUT_TO_OUTPUT ? buffer_place::output : buffer_place::announced;
        if (queue == ACQ_QUEUE_OUTPUT_DISCARD && s->registered != nullptr)
            withdraw_ready(*s, nullptr);
        for (auto& [handle, entry] : s->buffers)
            if (entry->place == from)
                entry->place = to;
    }
    if (was_running)
        start_receiving(*s);
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_DataStream_RevokeBuffer(STREAM_HANDLE stream_handle, BUF_HANDLE buffer,
                                        void** memory, void** private_data) {
    auto* s = static_cast<stream*>(stream_handle);
    if (s == nullptr)
        return J_ST_ERROR;
    std::lock_guard<std::mutex> hold(s->lock);
    buffer_entry* entry = find_entry(*s, buffer);
    if (entry == nullptr || entry->in_aravis)
        return J_ST_ERROR;
    if (entry->place == buffer_place::output && s->registered != nullptr)
        withdraw_ready(*s, entry);
    if (memory != nullptr)
        *memory = entry->memory;
    if (private_data != nullptr)
        *private_data = entry->private_data;
    g_object_unref(entry->arv);
    s->buffers.erase(entry);
    return J_ST_SUCCESS;
}

// The memory of buffers still announced stays the caller's, as after a revoke: Aravis is done
// with it before this returns, even when the stream itself is released in the background.
J_STATUS_TYPE J_DataStream_Close(STREAM_HANDLE stream_handle) {
    auto* s = static_cast<stream*>(stream_handle);
    if (s == nullptr)
        return J_ST_ERROR;
    detach(*s);
    release_arv_stream(*s);
    for (auto& [handle, entry] : s->buffers)
        g_object_unref(entry->arv);
    delete s;
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_Event_CreateCondition(CONDITION_HANDLE* condition_handle) {
    if (condition_handle == nullptr)
        return J_ST_ERROR;
    *condition_handle = new condition;
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_Event_WaitForCondition(CONDITION_HANDLE condition_handle, std::uint32_t timeout_ms,
                                       std::uint32_t* result) {
    auto* c = static_cast<condition*>(condition_handle);
    if (c == nullptr || result == nullptr)
        return J_ST_ERROR;
    std::unique_lock<std::mutex> hold(c->lock);
    const auto woken = [c] { return c->exit_requested || !c->ready.empty(); };
    if (timeout_ms == 0xFFFFFFFFu)
        c->wake.wait(hold, woken);
    else
        c->wake.wait_for(hold, std::chrono::milliseconds(timeout_ms), woken);
    if (c->exit_requested) {
        *result = J_COND_WAIT_EXIT;
    } else if (!c->ready.empty()) {
        const gige::ready_buffer ready = c->ready.front();
        c->ready.pop_front();
        ready.source->current = ready.buffer;
        ready.source->current_private = ready.buffer->private_data;
        --ready.source->source->awaiting;
        *result = J_COND_WAIT_SIGNAL;
    } else {
        *result = J_COND_WAIT_TIMEOUT;
    }
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_Event_GetData(EVENT_HANDLE event_handle, void* data, std::uint32_t* size) {
    auto* e = static_cast<event*>(event_handle);
    if (e == nullptr || data == nullptr || size == nullptr || *size < sizeof(EVENT_NEW_BUFFER_DATA))
        return J_ST_ERROR;
    const EVENT_NEW_BUFFER_DATA delivered{e->current, e->current_private};
    std::memcpy(data, &delivered, sizeof delivered);
    *size = sizeof delivered;
    return J_ST_SUCCESS;
}

// Sticky: the pending wait and every later one return J_COND_WAIT_EXIT, so a request made before
// the waiter starts waiting is not lost.
J_STATUS_TYPE J_Event_ExitCondition(CONDITION_HANDLE condition_handle) {
    auto* c = static_cast<condition*>(condition_handle);
    if (c == nullptr)
        return J_ST_ERROR;
    {
        std::lock_guard<std::mutex> hold(c->lock);
        c->exit_requested = true;
    }
    c->wake.notify_all();
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_Event_Close(EVENT_HANDLE event_handle) {
    auto* e = static_cast<event*>(event_handle);
    if (e == nullptr)
        return J_ST_ERROR;
    if (e->registered) {
        std::lock_guard<std::mutex> hold(e->source->lock);
        unregister(*e->source);
    }
    delete e;
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_Event_CloseCondition(CONDITION_HANDLE condition_handle) {
    delete static_cast<condition*>(condition_handle);
    return J_ST_SUCCESS;
}

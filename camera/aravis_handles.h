#pragma once

#include <arv.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The objects behind the opaque handles of the GigE Vision camera layer (jai_sdk.h over Aravis).
// Internal to camera_sdk_aravis.

namespace gige {

struct device_info {
    std::string camera_id;
    std::string model;
    std::string address;
};

// The cameras as the last J_Factory_UpdateCameraList saw them. Used on one thread, like Aravis's
// own process-wide device list that fills it.
struct factory {
    std::vector<device_info> devices;
};

// One open camera. Aravis's GenICam node tree is not thread-safe, while the GUI thread (exposure
// mode) and the capture thread (commands, stream creation) use the same camera: every access to
// the device goes through feature_lock.
//
// The camera is unreachable once it no longer answers: a control transaction timed out (lost,
// set by the thread that saw it, never cleared), or Aravis's heartbeat thread found it gone or its
// control privilege taken, and cleared the device's controller flag. From then on control
// accesses fail at once and releases that would talk to the device run in the background.
//
// The heartbeat is read rather than listened to: while it emits "control-lost" to a handler,
// Aravis's heartbeat thread holds a reference to the device, and if every other one is dropped
// meanwhile, that thread finalizes the device and joins itself. With no handler, it holds none.
struct camera {
    ArvCamera* arv = nullptr; // owned
    bool controlled = false;  // the heartbeat watched the control privilege when it was opened
    std::atomic<bool> lost{false};
    std::mutex feature_lock;

    bool unreachable() const;
};

// Consumes error; true when there was one. A time-out marks the camera unreachable: Aravis has
// already retried the transaction, so every later one would wait as long again.
bool failed(camera& camera, GError* error);

// Drops one reference to each GObject, in order, on a detached thread: finalizing the objects of
// an unreachable camera waits for device time-outs. The thread holds nothing but these references
// and a never-destroyed counter, so a process may exit while it runs.
void release_in_background(std::vector<gpointer> objects);

// Where an announced buffer is, as the caller of the layer sees it.
enum class buffer_place {
    announced, // only announced: the caller may revoke it
    queued,    // waiting to be filled; in_aravis tells whether Aravis holds it now
    output,    // filled, or taken out of the input queue: ready for delivery or delivered
};

// One announced buffer: the caller's memory wrapped in an ArvBuffer that does not own it. The
// layer keeps one reference of its own to the ArvBuffer for the entry's whole life; while
// in_aravis, the stream holds a second one.
struct buffer_entry {
    ArvBuffer* arv = nullptr;
    void* memory = nullptr;
    std::uint32_t size = 0;
    void* private_data = nullptr;
    buffer_place place = buffer_place::announced;
    bool in_aravis = false;
};

struct event;

struct ready_buffer {
    event* source;
    buffer_entry* buffer;
};

// A condition: complete buffers of the events registered on it, in arrival order, and the sticky
// exit request. It must outlive the registrations made on it.
struct condition {
    std::mutex lock;
    std::condition_variable wake;
    std::deque<ready_buffer> ready;
    bool exit_requested = false;
};

struct stream;

// A new-buffer registration of one stream on one condition. current and current_private are
// written by the waiting thread and read by the same thread through J_Event_GetData.
struct event {
    stream* source = nullptr;
    condition* target = nullptr;
    bool registered = false;
    buffer_entry* current = nullptr;
    void* current_private = nullptr;
};

// One data stream. Aravis's receiving thread runs on_new_buffer, the caller's thread everything
// else; lock guards the buffer map, the places and the registration. Lock order: a stream's lock
// before a condition's lock; a waiter takes only the condition's.
struct stream {
    camera* owner = nullptr;
    ArvStream* arv = nullptr;    // owned
    bool thread_running = false; // changed only by the caller's thread, under lock
    std::mutex lock;
    std::map<buffer_entry*, std::unique_ptr<buffer_entry>> buffers;
    event* registered = nullptr;
    std::atomic<std::uint64_t> delivered{0};
    std::atomic<std::uint64_t> corrupt{0};
    std::atomic<std::uint64_t> awaiting{0};
};

} // namespace gige

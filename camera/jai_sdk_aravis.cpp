// The camera layer over Aravis: factory, camera discovery and control, and image rotation. Data
// streams and events are in jai_stream_aravis.cpp.

#include <algorithm>
#include <chrono>
#include <cstring>
#include <system_error>
#include <thread>

#include "camera/aravis_handles.h"
#include "camera/gige_layer_util.h"
#include "camera/jai_sdk.h"

namespace {

constexpr const char* gige_protocol = "GigEVision";

const char* text_or_empty(const char* text) {
    return text != nullptr ? text : "";
}

std::vector<gige::device_info> current_gige_devices() {
    std::vector<gige::device_info> devices;
    for (unsigned index = 0; index < arv_get_n_devices(); ++index) {
        if (std::strcmp(text_or_empty(arv_get_device_protocol(index)), gige_protocol) != 0)
            continue;
        devices.push_back({camera_id_for_device(text_or_empty(arv_get_device_id(index))),
                           text_or_empty(arv_get_device_model(index)),
                           text_or_empty(arv_get_device_address(index))});
    }
    return devices;
}

bool same_ids(const std::vector<gige::device_info>& a, const std::vector<gige::device_info>& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].camera_id != b[i].camera_id)
            return false;
    return true;
}

const gige::device_info* find_device(const gige::factory& factory, const char* camera_id) {
    for (const gige::device_info& device : factory.devices)
        if (device.camera_id == camera_id)
            return &device;
    return nullptr;
}

// Consumes error; true when there was one.
bool failed(GError* error) {
    if (error == nullptr)
        return false;
    g_error_free(error);
    return true;
}

ArvDevice* device_of(gige::camera* camera) {
    return arv_camera_get_device(camera->arv);
}

// Background releases still running. Allocated once and never destroyed, so that a release still
// running when the process exits never meets a destroyed mutex.
struct release_count {
    std::mutex lock;
    std::condition_variable done;
    int running = 0;
};

release_count& background_releases() {
    static auto* count = new release_count;
    return *count;
}

// A release still running may yet write to the camera (its stream channel, its control
// privilege), which must not meet a new session with a camera that is back: a camera is opened
// only after the releases end, or after this bound, above the 7.5 s measured for the slowest (a
// stream and its camera, each waiting behind the heartbeat's own timed-out transactions).
constexpr std::chrono::seconds release_wait_bound{8};

void wait_for_background_releases() {
    release_count& count = background_releases();
    std::unique_lock<std::mutex> hold(count.lock);
    count.done.wait_for(hold, release_wait_bound, [&count] { return count.running == 0; });
}

void release_objects(const std::vector<gpointer>& objects) {
    for (gpointer object : objects)
        g_object_unref(object);
}

// Whether the heartbeat still finds the control privilege ours; false for a device that has
// none. A plain read of a flag that Aravis's heartbeat thread clears; only taking control again,
// which this layer never does, would set it.
bool holds_control(ArvCamera* arv) {
    ArvDevice* device = arv_camera_get_device(arv);
    return ARV_IS_GV_DEVICE(device) && arv_gv_device_is_controller(ARV_GV_DEVICE(device));
}

} // namespace

bool gige::camera::unreachable() const {
    return lost.load() || (controlled && !holds_control(arv));
}

bool gige::failed(gige::camera& camera, GError* error) {
    if (error == nullptr)
        return false;
    if (g_error_matches(error, ARV_DEVICE_ERROR, ARV_DEVICE_ERROR_TIMEOUT))
        camera.lost.store(true);
    g_error_free(error);
    return true;
}

void gige::release_in_background(std::vector<gpointer> objects) {
    release_count& count = background_releases();
    {
        std::lock_guard<std::mutex> hold(count.lock);
        ++count.running;
    }
    auto release = [objects = std::move(objects), &count] {
        release_objects(objects);
        std::lock_guard<std::mutex> hold(count.lock);
        --count.running;
        count.done.notify_all();
    };
    try {
        std::thread(release).detach();
    } catch (const std::system_error&) {
        release(); // no thread to be had: pay the time-outs here rather than leak
    }
}

J_STATUS_TYPE J_Factory_Open(const char*, FACTORY_HANDLE* factory) {
    if (factory == nullptr)
        return J_ST_ERROR;
    *factory = new gige::factory;
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_Factory_Close(FACTORY_HANDLE factory) {
    delete static_cast<gige::factory*>(factory);
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_Factory_GetInfo(int item, char* buffer, std::uint32_t* size) {
    if (item != FAC_INFO_VERSION)
        return J_ST_ERROR;
    const std::string version = "Tresvik GigE layer 1.0 (Aravis " +
                                std::to_string(arv_get_major_version()) + "." +
                                std::to_string(arv_get_minor_version()) + "." +
                                std::to_string(arv_get_micro_version()) + ")";
    return copy_text(version, buffer, size);
}

J_STATUS_TYPE J_Factory_UpdateCameraList(FACTORY_HANDLE factory, bool* changed) {
    auto* self = static_cast<gige::factory*>(factory);
    if (self == nullptr)
        return J_ST_ERROR;
    arv_update_device_list();
    std::vector<gige::device_info> devices = current_gige_devices();
    if (changed != nullptr)
        *changed = !same_ids(devices, self->devices);
    self->devices = std::move(devices);
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_Factory_GetNumOfCameras(FACTORY_HANDLE factory, std::uint32_t* count) {
    auto* self = static_cast<gige::factory*>(factory);
    if (self == nullptr || count == nullptr)
        return J_ST_ERROR;
    *count = static_cast<std::uint32_t>(self->devices.size());
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_Factory_GetCameraIDByIndex(FACTORY_HANDLE factory, std::int32_t index, char* buffer,
                                           std::uint32_t* size) {
    auto* self = static_cast<gige::factory*>(factory);
    if (self == nullptr || index < 0 || static_cast<std::size_t>(index) >= self->devices.size())
        return J_ST_ERROR;
    return copy_text(self->devices[index].camera_id, buffer, size);
}

J_STATUS_TYPE J_Factory_GetCameraInfo(FACTORY_HANDLE factory, const char* camera_id, int item,
                                      char* buffer, std::uint32_t* size) {
    auto* self = static_cast<gige::factory*>(factory);
    if (self == nullptr || camera_id == nullptr)
        return J_ST_ERROR;
    const gige::device_info* device = find_device(*self, camera_id);
    if (device == nullptr)
        return J_ST_ERROR;
    if (item == CAM_INFO_MODELNAME)
        return copy_text(device->model, buffer, size);
    if (item == CAM_INFO_IP)
        return copy_text(device->address, buffer, size);
    return J_ST_ERROR;
}

J_STATUS_TYPE J_Camera_Open(FACTORY_HANDLE factory, const char* camera_id, CAM_HANDLE* camera,
                            int) {
    if (factory == nullptr || camera_id == nullptr || camera == nullptr)
        return J_ST_ERROR;
    const std::string device_id = device_id_of_camera(camera_id);
    if (device_id.empty())
        return J_ST_ERROR;
    wait_for_background_releases();
    GError* error = nullptr;
    ArvCamera* arv = arv_camera_new(device_id.c_str(), &error);
    if (failed(error) || arv == nullptr) {
        if (arv != nullptr)
            g_object_unref(arv);
        return J_ST_ERROR;
    }
    auto* opened = new gige::camera;
    opened->arv = arv;
    opened->controlled = holds_control(arv);
    *camera = opened;
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_Camera_Close(CAM_HANDLE camera) {
    auto* self = static_cast<gige::camera*>(camera);
    if (self == nullptr)
        return J_ST_ERROR;
    // Finalizing gives up the control privilege, a transaction that an absent camera times out.
    if (self->unreachable())
        gige::release_in_background({self->arv});
    else
        g_object_unref(self->arv);
    delete self;
    return J_ST_SUCCESS;
}

namespace {
// One feature access of an open camera, under its lock and only while it is reachable; a failure
// (a time-out marks the camera unreachable) gives J_ST_ERROR.
template <typename Call> J_STATUS_TYPE device_call(CAM_HANDLE camera, Call call) {
    auto* self = static_cast<gige::camera*>(camera);
    if (self == nullptr)
        return J_ST_ERROR;
    std::lock_guard<std::mutex> hold(self->feature_lock);
    if (self->unreachable())
        return J_ST_ERROR;
    GError* error = nullptr;
    call(device_of(self), &error);
    return gige::failed(*self, error) ? J_ST_ERROR : J_ST_SUCCESS;
}
} // namespace

J_STATUS_TYPE J_Camera_GetValueInt64(CAM_HANDLE camera, const char* node, std::int64_t* value) {
    if (node == nullptr || value == nullptr)
        return J_ST_ERROR;
    return device_call(camera, [&](ArvDevice* device, GError** error) {
        *value = arv_device_get_integer_feature_value(device, node, error);
    });
}

J_STATUS_TYPE J_Camera_SetValueString(CAM_HANDLE camera, const char* node, const char* value) {
    if (node == nullptr || value == nullptr)
        return J_ST_ERROR;
    return device_call(camera, [&](ArvDevice* device, GError** error) {
        arv_device_set_string_feature_value(device, node, value, error);
    });
}

J_STATUS_TYPE J_Camera_ExecuteCommand(CAM_HANDLE camera, const char* node) {
    if (node == nullptr)
        return J_ST_ERROR;
    return device_call(camera, [&](ArvDevice* device, GError** error) {
        arv_device_execute_command(device, node, error);
    });
}

J_STATUS_TYPE J_Camera_GetNumOfDataStreams(CAM_HANDLE camera, std::uint32_t* count) {
    auto* self = static_cast<gige::camera*>(camera);
    if (self == nullptr || count == nullptr)
        return J_ST_ERROR;
    std::lock_guard<std::mutex> hold(self->feature_lock);
    if (self->unreachable())
        return J_ST_ERROR;
    if (!arv_camera_is_gv_device(self->arv)) {
        *count = 1;
        return J_ST_SUCCESS;
    }
    GError* error = nullptr;
    const gint channels = arv_camera_gv_get_n_stream_channels(self->arv, &error);
    if (gige::failed(*self, error) || channels < 0)
        return J_ST_ERROR;
    *count = static_cast<std::uint32_t>(channels);
    return J_ST_SUCCESS;
}

J_STATUS_TYPE J_Image_Rotate(J_tIMAGE_INFO* image, int kind) {
    if (image == nullptr || image->pImageBuffer == nullptr || kind != J_ROTATE_180)
        return J_ST_ERROR;
    const std::uint64_t bits = std::max<std::uint64_t>((image->iPixelType >> 16) & 0xFF, 8);
    // Pixels narrower than whole bytes (packed formats) cannot be turned by moving bytes.
    if (bits % 8 != 0)
        return J_ST_ERROR;
    const std::uint64_t pixels = std::uint64_t{image->iSizeX} * image->iSizeY;
    if (pixels * (bits / 8) > image->iImageSize)
        return J_ST_ERROR;
    reverse_pixels(image->pImageBuffer, pixels, bits / 8);
    return J_ST_SUCCESS;
}

#include "camera/camera_access.h"

#include <cstring>
#include <stdexcept>

namespace {
constexpr std::uint32_t text_size = 512;

void check(J_STATUS_TYPE status, const char* error_text) {
    if (status != J_ST_SUCCESS)
        throw std::runtime_error(error_text);
}

std::string camera_id_at(FACTORY_HANDLE factory, std::int32_t index) {
    char buffer[text_size] = {};
    std::uint32_t size = text_size;
    check(J_Factory_GetCameraIDByIndex(factory, index, buffer, &size), "Error getting camera ID.");
    return std::string(buffer, strnlen(buffer, text_size));
}

std::string camera_info(FACTORY_HANDLE factory, const std::string& id, int item,
                        const char* error_text) {
    char buffer[text_size] = {};
    std::uint32_t size = text_size;
    check(J_Factory_GetCameraInfo(factory, id.c_str(), item, buffer, &size), error_text);
    return std::string(buffer, strnlen(buffer, text_size));
}

void reopen_factory(FACTORY_HANDLE& factory) {
    J_Factory_Close(factory);
    factory = nullptr;
    check(J_Factory_Open("", &factory), "Error opening JAI factory.");
}

// One network discovery: the slow step of an enumeration.
std::uint32_t discover_cameras(FACTORY_HANDLE& factory) {
    reopen_factory(factory);
    bool changed = false;
    check(J_Factory_UpdateCameraList(factory, &changed), "Error updating camera list.");
    std::uint32_t count = 0;
    check(J_Factory_GetNumOfCameras(factory, &count), "Error getting number of cameras.");
    return count;
}

std::string describe_camera(FACTORY_HANDLE factory, const std::string& id) {
    const std::string model =
        camera_info(factory, id, CAM_INFO_MODELNAME, "Error getting camera model info.");
    const std::string address =
        camera_info(factory, id, CAM_INFO_IP, "Error getting camera IP info.");
    return camera_description(model, address, id);
}
} // namespace

JAI_Camera::JAI_Camera(FACTORY_HANDLE factory, const std::string& camera_id) {
    check(J_Camera_Open(factory, camera_id.c_str(), &handle_, 0), "Error opening camera.");
}

JAI_Camera::~JAI_Camera() {
    J_Camera_Close(handle_);
}

FACTORY_HANDLE open_factory() {
    FACTORY_HANDLE factory = nullptr;
    check(J_Factory_Open("", &factory), "Error opening JAI factory.");
    return factory;
}

std::string camera_layer_version() {
    char buffer[text_size] = {};
    std::uint32_t size = text_size;
    J_Factory_GetInfo(FAC_INFO_VERSION, buffer, &size);
    return std::string(buffer, strnlen(buffer, text_size));
}

std::string driver_tag(const std::string& camera_id) {
    if (camera_id.find("INT=>FD") != std::string::npos)
        return "[FilterDriver]";
    if (camera_id.find("INT=>SD") != std::string::npos)
        return "[SocketDriver]";
    return "[UnknownDriver]";
}

std::string camera_description(const std::string& model, const std::string& address,
                               const std::string& camera_id) {
    return model + " " + address + " " + driver_tag(camera_id);
}

camera_list enumerate_cameras(FACTORY_HANDLE& factory) {
    const std::uint32_t count = discover_cameras(factory);
    camera_list cameras;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::string id = camera_id_at(factory, static_cast<std::int32_t>(i));
        cameras.emplace(describe_camera(factory, id), id);
    }
    return cameras;
}

std::string preferred_description(const camera_list& cameras, const std::string& driver) {
    for (const auto& [description, id] : cameras)
        if (description.find(driver) != std::string::npos)
            return description;
    return cameras.empty() ? std::string() : cameras.begin()->first;
}

void set_exposure_mode(CAM_HANDLE camera, const std::string& mode) {
    check(J_Camera_SetValueString(camera, "ExposureMode", mode.c_str()),
          "Error setting exposure mode.");
}

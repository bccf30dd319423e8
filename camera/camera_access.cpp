#include "camera/camera_access.h"

#include <stdexcept>

JAI_Camera::JAI_Camera(camera_layer& layer, const std::string& camera_id)
    : device_(layer.open(camera_id)) {
    if (!device_)
        throw std::runtime_error("Error opening camera.");
}

std::unique_ptr<camera_layer> open_factory() {
    std::unique_ptr<camera_layer> layer = open_camera_layer();
    if (!layer)
        throw std::runtime_error("Error opening JAI factory.");
    return layer;
}

std::string driver_tag(const std::string& camera_id) {
    if (camera_id.find("INT=>FD") != std::string::npos)
        return "[FilterDriver]";
    if (camera_id.find("INT=>SD") != std::string::npos)
        return "[SocketDriver]";
    return "[UnknownDriver]";
}

camera_list enumerate_cameras(camera_layer& layer) {
    std::vector<camera_entry> found;
    try {
        found = layer.discover();
    } catch (const std::runtime_error&) {
        throw std::runtime_error("Error updating camera list.");
    }
    camera_list cameras;
    for (const camera_entry& camera : found)
        cameras.emplace(camera.model + " " + camera.address + " " + driver_tag(camera.id),
                        camera.id);
    return cameras;
}

std::string preferred_description(const camera_list& cameras, const std::string& driver) {
    for (const auto& [description, id] : cameras)
        if (description.find(driver) != std::string::npos)
            return description;
    return cameras.empty() ? std::string() : cameras.begin()->first;
}

void set_exposure_mode(camera_device& camera, const std::string& mode) {
    if (!camera.set_text("ExposureMode", mode))
        throw std::runtime_error("Error setting exposure mode.");
}

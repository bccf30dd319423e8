#pragma once

#include <map>
#include <memory>
#include <string>

#include "camera/camera_device.h"

// Finding, describing and opening cameras, and setting their exposure mode. Each may wait for a
// camera on the network, so only the recorder's own thread calls them, one at a time; the camera
// layer never leaves it.

// One open camera. Closed when the object goes; the recorder shares it with the capture thread of
// a running capture, which never outlives it.
class JAI_Camera {
public:
    // Throws std::runtime_error("Error opening camera.").
    JAI_Camera(camera_layer& layer, const std::string& camera_id);

    camera_device& device() { return *device_; }

private:
    std::unique_ptr<camera_device> device_;
};

// Camera description ("<model> <address> [<driver>]") to camera id, ordered byte-wise.
using camera_list = std::map<std::string, std::string>;

// Throws std::runtime_error("Error opening JAI factory.").
std::unique_ptr<camera_layer> open_factory();

// "[FilterDriver]", "[SocketDriver]" or "[UnknownDriver]" by the transport marker in the id.
std::string driver_tag(const std::string& camera_id);

// One discovery; an id found twice under one description keeps the first. Throws
// std::runtime_error("Error updating camera list."); the caller keeps its previous list then.
camera_list enumerate_cameras(camera_layer& layer);

// The first description containing the driver text, else the first description; empty for an
// empty list.
std::string preferred_description(const camera_list& cameras, const std::string& driver);

// Throws std::runtime_error("Error setting exposure mode.").
void set_exposure_mode(camera_device& camera, const std::string& mode);

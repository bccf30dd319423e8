#pragma once

#include <map>
#include <string>

#include "camera/jai_sdk.h"

// Finding, describing and opening cameras, and setting their exposure mode. Each may wait for a
// camera on the network, so only the recorder's own thread calls them, one at a time; the factory
// handle never leaves it.

// One open camera. Closed when the object goes; the recorder shares it with the capture thread of
// a running capture, which never outlives it.
class JAI_Camera {
public:
    // Throws std::runtime_error("Error opening camera.").
    JAI_Camera(FACTORY_HANDLE factory, const std::string& camera_id);
    ~JAI_Camera();
    JAI_Camera(const JAI_Camera&) = delete;
    JAI_Camera& operator=(const JAI_Camera&) = delete;

    CAM_HANDLE handle() const { return handle_; }

private:
    CAM_HANDLE handle_ = nullptr;
};

// Camera description ("<model> <address> [<driver>]") to camera id, ordered byte-wise.
using camera_list = std::map<std::string, std::string>;

// Throws std::runtime_error("Error opening JAI factory.").
FACTORY_HANDLE open_factory();

// The camera layer's version text, for the start-up row.
std::string camera_layer_version();

// "[FilterDriver]", "[SocketDriver]" or "[UnknownDriver]" by the transport marker in the id.
std::string driver_tag(const std::string& camera_id);

std::string camera_description(const std::string& model, const std::string& address,
                               const std::string& camera_id);

// Reopens the factory (the new handle replaces the caller's) and runs the camera layer's discovery
// once, then reads every listed camera's id, model and address. Throws std::runtime_error with
// the text of the step that failed; the caller keeps its previous list then.
camera_list enumerate_cameras(FACTORY_HANDLE& factory);

// The first description containing the driver text, else the first description; empty for an
// empty list.
std::string preferred_description(const camera_list& cameras, const std::string& driver);

// Throws std::runtime_error("Error setting exposure mode.").
void set_exposure_mode(CAM_HANDLE camera, const std::string& mode);

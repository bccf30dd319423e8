#pragma once

// What the data service does with one request: find the frame, encode it as PNG and frame the
// response. Runs on the service's worker threads, any number at once, as the store allows.

#include <functional>
#include <string>
#include <vector>

#include "service/data_protocol.h"

class session_store;

// The whole response: length and PNG of the frame at or after the DPP (three channels for a
// stored frame), or of the not-found picture (one channel) when there is none. A failure to read
// (a folder that cannot be opened, for one) is given to report and gives the four zero bytes.
std::vector<unsigned char> fetch_response(session_store& sessions, const frame_request& request,
                                          const std::function<void(const std::string&)>& report);

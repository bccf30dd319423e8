#pragma once

#include <arv.h>
#include <netinet/in.h>

#include <cstdint>
#include <string>

#include "tools/camsim/gige_wire.h"
#include "tools/camsim/stream_history.h"

// Puts an ArvFakeCamera (registers, GenICam description, frames) on the network as a GigE Vision
// camera: answers discovery and register and memory access on the control port of its loopback
// address, streams frames to the address the controller set while acquisition runs, loses data
// packets on request and sends packets again when the receiver asks for them. Everything runs on
// the thread that calls run().

// Frames whose packets can still be sent again.
constexpr std::size_t held_blocks = 4;

struct stream_counters {
    std::uint64_t blocks = 0;       // frames sent
    std::uint64_t data_packets = 0; // image data packets of those frames, lost ones included
    std::uint64_t lost = 0;         // data packets never sent
    std::uint64_t requests = 0;     // packet resend requests received
    std::uint64_t resent = 0;       // packets sent again
    std::uint64_t unavailable = 0;  // requested from a block no longer held
};

class gv_camera {
public:
    // Binds the control port, the discovery port and the stream channel's socket on the address;
    // throws std::runtime_error when one cannot be bound. The camera must outlive this object.
    gv_camera(ArvFakeCamera* camera, const std::string& address, std::uint32_t lose_per_thousand);
    ~gv_camera();
    gv_camera(const gv_camera&) = delete;
    gv_camera& operator=(const gv_camera&) = delete;

    // Serves until stop_fd becomes readable.
    void run(int stop_fd);
    const stream_counters& counters() const { return counters_; }

private:
    bool streaming() const;
    void serve(int socket);
    void serve_pending();
    void answer(const gige::request& request, const sockaddr_in& from, bool may_write);
    std::vector<std::uint8_t> carry_out(const gige::request& request, bool may_write,
                                        gige::status& result);
    bool controller_may_write(const sockaddr_in& from);
    void follow_privilege(const sockaddr_in& from);
    void send_block();
    void keep_pace(std::int64_t start_us, std::uint64_t bytes);
    void send_packet(const sent_block& block, std::uint32_t packet_id);
    void resend(const gige::packet_resend& request);

    ArvFakeCamera* camera_;
    int control_ = -1;
    int discovery_ = -1;
    int stream_ = -1;
    bool has_controller_ = false;
    sockaddr_in controller_{};
    std::int64_t controller_time_us_ = 0;
    bool has_destination_ = false;
    sockaddr_in destination_{};
    ArvBuffer* frame_ = nullptr;
    std::size_t block_bytes_ = 0;
    block_history history_{held_blocks};
    packet_loss loss_;
    stream_counters counters_;
};

#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "tools/camsim/gige_wire.h"

// What the simulated camera's stream channel keeps between packets: the last few blocks it sent,
// so that it can send their packets again on request, and the choice of data packets it loses on
// the way. Pure logic; one owner, not thread-safe.

// One block of image data as sent: its id, what its leader says and its bytes.
struct sent_block {
    std::uint16_t block_id = 0;
    gige::image_info image;
    gige::block_layout layout;
    std::vector<std::uint8_t> bytes;
};

// The last `keep` blocks, the newest last; their byte buffers are reused for later blocks.
class block_history {
public:
    explicit block_history(std::size_t keep) : blocks_(keep) {}

    // The slot for the next block, which replaces the oldest; its id follows the block before,
    // from 1 to 65535 and round again (GVSP reserves block 0).
    sent_block& next();
    // The held block with this id; null once it has been replaced or before it was sent.
    const sent_block* held(std::uint64_t block_id) const;

private:
    std::vector<sent_block> blocks_;
    std::size_t newest_ = 0;
    std::size_t held_ = 0;
    std::uint16_t last_id_ = 0;
};

// Which data packets never leave the camera: per_thousand of each thousand in a row, at places
// drawn at random when the thousand begins, so the share lost never exceeds what was asked for.
class packet_loss {
public:
    packet_loss(std::uint32_t per_thousand, std::uint32_t seed);

    // Whether the next data packet is lost.
    bool drop_next();

private:
    std::uint32_t per_thousand_;
    std::mt19937 random_;
    std::vector<bool> dropped_;
    std::size_t at_ = 0;
};

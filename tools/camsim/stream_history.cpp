#include "tools/camsim/stream_history.h"

#include <algorithm>
#include <numeric>

sent_block& block_history::next() {
    newest_ = (newest_ + 1) % blocks_.size();
    held_ = std::min(held_ + 1, blocks_.size());
    last_id_ = last_id_ == 0xFFFF ? 1 : last_id_ + 1;
    sent_block& slot = blocks_[newest_];
    slot.block_id = last_id_;
    return slot;
}

const sent_block* block_history::held(std::uint64_t block_id) const {
    for (std::size_t back = 0; back < held_; ++back) {
        const sent_block& block = blocks_[(newest_ + blocks_.size() - back) % blocks_.size()];
        if (block.block_id == block_id)
            return &block;
    }
    return nullptr;
}

packet_loss::packet_loss(std::uint32_t per_thousand, std::uint32_t seed)
    : per_thousand_(std::min<std::uint32_t>(per_thousand, 1000)), random_(seed), dropped_(1000) {}

bool packet_loss::drop_next() {
    if (per_thousand_ == 0)
        return false;
    if (at_ == 0) {
        std::vector<std::size_t> places(dropped_.size());
        std::iota(places.begin(), places.end(), 0);
        std::shuffle(places.begin(), places.end(), random_);
        std::fill(dropped_.begin(), dropped_.end(), false);
        for (std::uint32_t i = 0; i < per_thousand_; ++i)
            dropped_[places[i]] = true;
    }
    const bool drop = dropped_[at_];
    at_ = (at_ + 1) % dropped_.size();
    return drop;
}

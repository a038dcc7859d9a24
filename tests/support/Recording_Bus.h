#pragma once

#include "I_MemMapped_AXI.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <vector>

namespace Selvan::MURA::test_support {

struct Bus_Write {
    uint32_t address;
    uint32_t value;
    bool operator==(const Bus_Write&) const = default;
};

// A register window for module tests: records every write and read in order and answers reads
// from queued values per address, then from a fixed value per address, then 0.
class Recording_Bus : public I_MemMapped_AXI {
public:
    void write_register(uint32_t address, uint32_t value) override { writes.push_back({address, value}); }
    uint32_t read_register(uint32_t address) override {
        reads.push_back(address);
        auto queued = queued_reads.find(address);
        if (queued != queued_reads.end() && !queued->second.empty()) {
            const uint32_t value = queued->second.front();
            queued->second.pop_front();
            return value;
        }
        auto fixed = fixed_reads.find(address);
        return fixed == fixed_reads.end() ? 0 : fixed->second;
    }
    void write_fifo_bytes(uint32_t address, uint8_t count, const uint8_t* bytes) override {
        for (uint8_t i = 0; i < count; ++i)
            writes.push_back({address, bytes[i]});
    }

    void queue_reads(uint32_t address, std::initializer_list<uint32_t> values) {
        for (uint32_t v : values)
            queued_reads[address].push_back(v);
    }

    std::vector<Bus_Write> writes;
    std::vector<uint32_t> reads;
    std::map<uint32_t, std::deque<uint32_t>> queued_reads;
    std::map<uint32_t, uint32_t> fixed_reads;
};

} // namespace Selvan::MURA::test_support

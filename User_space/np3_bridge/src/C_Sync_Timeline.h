#pragma once

#include "Export.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

namespace Selvan::MURA::npoe_adapter {

// The sync signal of one box along its sample clock (AP samples since the run's trigger), which
// every electrode sample carries in its SYNC status bit and labs align probes, behaviour and
// other devices with. The host routes one source: the box's sync input (a TTL input line, which
// the box carries in its RHD frames), a 50 % square wave made from the sample clock, or nothing.
//
// The RHD converter records the input line's level at each frame's sample; the electrode
// converters, on other threads, ask for the levels of their packets' samples. Frames usually
// arrive first; when a packet is ahead of them its converter waits for them as long as they keep
// coming, and not at all once none has come for FRAMES_STOPPED (the RHD frames are off, the
// stream ended) or the run ended; then it takes the last level known.
class MURA_EXPORT C_Sync_Timeline {
public:
    enum class Source { none, input, clock };
    struct Routing {
        Source source = Source::none;
        uint32_t input_line = 9;               // TTL input that is the box's sync input
        uint32_t clock_period_samples = 30000; // of the square wave (1 Hz)
    };
    static constexpr uint16_t SYNC_BIT = 1u << 6;
    static constexpr auto WAIT_STEP = std::chrono::milliseconds(10);
    // Frames that have not come for this long are taken to have stopped.
    static constexpr auto FRAMES_STOPPED = std::chrono::milliseconds(250);

    C_Sync_Timeline();
    explicit C_Sync_Timeline(Routing routing);

    void set_routing(const Routing& routing);
    Routing routing() const;

    // The RHD frame at `sample` carried these TTL inputs (one thread).
    void record(uint64_t sample, uint32_t ttl_in);
    // Sets SYNC in status[k] for sample first + k, k < count, as the routing says.
    void add_sync_bits(uint64_t first, uint16_t* status, uint32_t count);
    // No more frames will come: nobody waits for them (until the next run begins).
    void end();
    // A run begins: its samples count from 0 again, and frames are awaited from now on.
    void begin_run();

private:
    static constexpr uint64_t RING_SAMPLES = uint64_t{1} << 20; // 35 s of levels
    static constexpr uint64_t NOTHING = ~uint64_t{0};

    bool wait_for(uint64_t sample);
    bool level_at(uint64_t sample) const;
    void set_level(uint64_t sample, bool level);

    std::atomic<int> m_source;
    std::atomic<uint32_t> m_input_line;
    std::atomic<uint32_t> m_clock_period;
    // Levels of the input line by sample, one bit each, in a ring; valid up to m_known.
    std::unique_ptr<std::array<std::atomic<uint64_t>, RING_SAMPLES / 64>> m_levels;
    std::atomic<uint64_t> m_known{NOTHING};
    std::atomic<int64_t> m_last_record_ns{0};
    std::atomic<bool> m_ended{false};
    std::atomic<int> m_waiters{0};
    std::mutex m_mutex;
    std::condition_variable m_recorded;
};

} // namespace Selvan::MURA::npoe_adapter

#include "C_Sync_Timeline.h"

namespace Selvan::MURA::npoe_adapter {
namespace {

int64_t now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

C_Sync_Timeline::C_Sync_Timeline()
    : C_Sync_Timeline(Routing{}) {}

C_Sync_Timeline::C_Sync_Timeline(Routing routing)
    : m_levels(std::make_unique<std::array<std::atomic<uint64_t>, RING_SAMPLES / 64>>()) {
    set_routing(routing);
}

void C_Sync_Timeline::set_routing(const Routing& routing) {
    m_input_line = routing.input_line;
    m_clock_period = routing.clock_period_samples > 1 ? routing.clock_period_samples : 2;
    m_source = static_cast<int>(routing.source);
}

C_Sync_Timeline::Routing C_Sync_Timeline::routing() const {
    return {static_cast<Source>(m_source.load()), m_input_line.load(), m_clock_period.load()};
}

void C_Sync_Timeline::set_level(uint64_t sample, bool level) {
    std::atomic<uint64_t>& word = (*m_levels)[(sample % RING_SAMPLES) / 64];
    const uint64_t bit = uint64_t{1} << (sample % 64);
    const uint64_t old = word.load(std::memory_order_relaxed);
    word.store(level ? old | bit : old & ~bit, std::memory_order_relaxed);
}

bool C_Sync_Timeline::level_at(uint64_t sample) const {
    return ((*m_levels)[(sample % RING_SAMPLES) / 64].load(std::memory_order_relaxed) >> (sample % 64)) & 1;
}

// Frames the box did not deliver leave the level as it was; a sample number that goes back is
// a new run (the counters restart at the trigger).
void C_Sync_Timeline::record(uint64_t sample, uint32_t ttl_in) {
    const bool level = (ttl_in >> m_input_line.load(std::memory_order_relaxed)) & 1;
    const uint64_t known = m_known.load(std::memory_order_relaxed);
    if (known != NOTHING && sample > known && sample - known < RING_SAMPLES) {
        const bool previous = level_at(known);
        for (uint64_t missing = known + 1; missing < sample; ++missing)
            set_level(missing, previous);
    }
    set_level(sample, level);
    m_known.store(sample, std::memory_order_seq_cst);
    m_last_record_ns.store(now_ns(), std::memory_order_relaxed);
    if (m_waiters.load(std::memory_order_seq_cst) > 0) {
        std::lock_guard lock(m_mutex);
        m_recorded.notify_all();
    }
}

void C_Sync_Timeline::begin_run() {
    m_known.store(NOTHING, std::memory_order_seq_cst);
    m_last_record_ns.store(now_ns(), std::memory_order_relaxed);
    m_ended = false;
}

void C_Sync_Timeline::end() {
    m_ended = true;
    std::lock_guard lock(m_mutex);
    m_recorded.notify_all();
}

// True when `sample` is recorded by the time it returns.
bool C_Sync_Timeline::wait_for(uint64_t sample) {
    auto recorded = [&] {
        const uint64_t known = m_known.load(std::memory_order_seq_cst);
        return known != NOTHING && known >= sample;
    };
    auto frames_stopped = [&] {
        return now_ns() - m_last_record_ns.load(std::memory_order_relaxed) >
               std::chrono::nanoseconds(FRAMES_STOPPED).count();
    };
    while (!recorded()) {
        if (m_ended || frames_stopped())
            return false;
        m_waiters.fetch_add(1, std::memory_order_seq_cst);
        {
            std::unique_lock lock(m_mutex);
            m_recorded.wait_for(lock, WAIT_STEP, [&] { return recorded() || m_ended; });
        }
        m_waiters.fetch_sub(1, std::memory_order_seq_cst);
    }
    return true;
}

void C_Sync_Timeline::add_sync_bits(uint64_t first, uint16_t* status, uint32_t count) {
    const auto source = static_cast<Source>(m_source.load(std::memory_order_relaxed));
    if (source == Source::clock) {
        const uint32_t period = m_clock_period.load(std::memory_order_relaxed);
        for (uint32_t k = 0; k < count; ++k) {
            if ((first + k) % period < period / 2)
                status[k] |= SYNC_BIT;
        }
        return;
    }
    if (source != Source::input || count == 0)
        return;
    const bool all_recorded = wait_for(first + count - 1);
    const uint64_t known = m_known.load(std::memory_order_seq_cst);
    if (known == NOTHING)
        return;
    for (uint32_t k = 0; k < count; ++k) {
        const uint64_t sample = first + k;
        const bool in_ring = sample <= known && known - sample < RING_SAMPLES;
        const bool level = in_ring ? level_at(sample) : (!all_recorded && level_at(known));
        if (level)
            status[k] |= SYNC_BIT;
    }
}

} // namespace Selvan::MURA::npoe_adapter

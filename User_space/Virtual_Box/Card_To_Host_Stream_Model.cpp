#include "Card_To_Host_Stream_Model.h"

#include "C_Stream_Synthesizer.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace Selvan::MURA::box_model {
namespace {

constexpr size_t ROW_BYTES = 16;
constexpr size_t REFILL_BYTES = 64 * 1024;
constexpr uint8_t RHD_STREAM_ID = 4;

bool row_enabled(const uint8_t* row, Card_To_Host_Stream_Model::Enabled_Streams enabled) {
    const uint8_t id = row[0] & 0x0F;
    if (id < 4)
        return (enabled.np_port_mask >> id) & 1;
    if (id == RHD_STREAM_ID)
        return enabled.rhd;
    return enabled.np_port_mask != 0 || enabled.rhd; // unknown ids ride along with any stream
}

} // namespace

void Card_To_Host_Stream_Model::set_source(Source source) {
    std::lock_guard lock(m_mutex);
    m_source = std::move(source);
    m_pending.clear();
    m_pending_start = 0;
}

void Card_To_Host_Stream_Model::set_read_sizes(std::vector<uint32_t> sizes) {
    std::lock_guard lock(m_mutex);
    m_read_sizes = std::move(sizes);
    m_next_read_size = 0;
}

void Card_To_Host_Stream_Model::set_read_fails(bool fails) {
    std::lock_guard lock(m_mutex);
    m_read_fails = fails;
}

// Takes one chunk from the source and keeps the rows of enabled streams.
size_t Card_To_Host_Stream_Model::refill(Enabled_Streams enabled) {
    if (!m_source)
        return 0;
    m_scratch.resize(REFILL_BYTES);
    const size_t produced = m_source(m_scratch.data(), m_scratch.size()) / ROW_BYTES * ROW_BYTES;
    if (m_pending_start > 0) {
        m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<long>(m_pending_start));
        m_pending_start = 0;
    }
    for (size_t offset = 0; offset < produced; offset += ROW_BYTES) {
        const uint8_t* row = m_scratch.data() + offset;
        if (row_enabled(row, enabled))
            m_pending.insert(m_pending.end(), row, row + ROW_BYTES);
    }
    return produced;
}

uint32_t Card_To_Host_Stream_Model::read(uint8_t* destination, uint32_t capacity, Enabled_Streams enabled) {
    std::lock_guard lock(m_mutex);
    ++m_reads;
    if (m_read_fails)
        throw std::runtime_error("c2h transfer failed");
    // With every stream off the multiplexer sends nothing, and what its FIFOs held is gone.
    if (enabled.np_port_mask == 0 && !enabled.rhd) {
        m_pending.clear();
        m_pending_start = 0;
        return 0;
    }
    uint32_t wanted = capacity;
    if (!m_read_sizes.empty()) {
        wanted = std::min(wanted, m_read_sizes[m_next_read_size]);
        m_next_read_size = (m_next_read_size + 1) % m_read_sizes.size();
    }
    // With every stream enabled nothing is filtered: whole rows go straight to the destination.
    const bool everything_enabled = enabled.np_port_mask == 0xF && enabled.rhd;
    if (everything_enabled && m_pending_start == m_pending.size() && wanted % ROW_BYTES == 0 && m_source) {
        const auto delivered = static_cast<uint32_t>(m_source(destination, wanted) / ROW_BYTES * ROW_BYTES);
        m_bytes_delivered += delivered;
        return delivered;
    }
    // A few chunks may be needed when most rows belong to disabled streams.
    for (int attempt = 0; attempt < 64 && m_pending.size() - m_pending_start < wanted; ++attempt) {
        if (refill(enabled) == 0)
            break;
    }
    const auto available = static_cast<uint32_t>(m_pending.size() - m_pending_start);
    const uint32_t delivered = std::min(wanted, available);
    if (delivered > 0)
        std::memcpy(destination, m_pending.data() + m_pending_start, delivered);
    m_pending_start += delivered;
    m_bytes_delivered += delivered;
    return delivered;
}

uint64_t Card_To_Host_Stream_Model::bytes_delivered() const {
    std::lock_guard lock(m_mutex);
    return m_bytes_delivered;
}

uint64_t Card_To_Host_Stream_Model::reads() const {
    std::lock_guard lock(m_mutex);
    return m_reads;
}

Card_To_Host_Stream_Model::Source
Card_To_Host_Stream_Model::recording(std::shared_ptr<const std::vector<uint8_t>> bytes, bool loop) {
    auto position = std::make_shared<size_t>(0);
    return [bytes = std::move(bytes), loop, position](uint8_t* buffer, size_t capacity) -> size_t {
        if (*position >= bytes->size()) {
            if (!loop || bytes->empty())
                return 0;
            *position = 0;
        }
        const size_t count = std::min(capacity, bytes->size() - *position);
        std::memcpy(buffer, bytes->data() + *position, count);
        *position += count;
        return count;
    };
}

Card_To_Host_Stream_Model::Source
Card_To_Host_Stream_Model::synthesizer(const synth::Synth_Settings& settings) {
    auto generator = std::make_shared<synth::C_Stream_Synthesizer>(settings);
    return [generator](uint8_t* buffer, size_t capacity) { return generator->fill(buffer, capacity); };
}

} // namespace Selvan::MURA::box_model

#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace Selvan::MURA::synth {
struct Synth_Settings;
}

namespace Selvan::MURA::box_model {

// The card-to-host DMA stream of the box model. A source produces the multiplexed rows the
// FPGA would send; rows of streams the FPGA has not enabled are dropped, as the real
// multiplexer never sends them. Each device read delivers at most the next of the configured
// read sizes, so tests can split rows across reads or make the driver return nothing.
class Card_To_Host_Stream_Model {
public:
    // Fills up to `capacity` bytes of whole rows; returns the bytes written, 0 when it has none.
    using Source = std::function<size_t(uint8_t* buffer, size_t capacity)>;

    // Which streams the FPGA currently sends: NP ports by bit, RHD as one flag.
    struct Enabled_Streams {
        uint32_t np_port_mask = 0;
        bool rhd = false;
    };

    void set_source(Source source);
    void set_read_sizes(std::vector<uint32_t> sizes);
    void set_read_fails(bool fails);

    // One device read into `destination`; throws std::runtime_error("c2h transfer failed") when
    // the read fault is set. Returns 0 when nothing is available.
    uint32_t read(uint8_t* destination, uint32_t capacity, Enabled_Streams enabled);

    uint64_t bytes_delivered() const;
    uint64_t reads() const;

    // Sources: a recording replayed once or in a loop, and a live stream synthesizer.
    static Source recording(std::shared_ptr<const std::vector<uint8_t>> bytes, bool loop);
    static Source synthesizer(const synth::Synth_Settings& settings);

private:
    size_t refill(Enabled_Streams enabled);

    mutable std::mutex m_mutex;
    Source m_source;
    std::vector<uint32_t> m_read_sizes;
    size_t m_next_read_size = 0;
    bool m_read_fails = false;
    std::vector<uint8_t> m_pending; // filtered rows not yet delivered
    size_t m_pending_start = 0;
    std::vector<uint8_t> m_scratch;
    uint64_t m_bytes_delivered = 0;
    uint64_t m_reads = 0;
};

} // namespace Selvan::MURA::box_model

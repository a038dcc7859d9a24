#pragma once

#include "CP_L1_ADC_TO_Channel.h"
#include "C_Recycling_Queue.h"
#include "Export.h"
#include "Main_mux_transfer_buffer_wrapper.h"
#include "NP_PSB_Raw_Data_Demuxer.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace Selvan::MURA::demux {

// Decodes the accumulation buffers of one NP port on its own thread: PSB frames, channel
// blocks, and the port's channel listener, all synchronously in that order.
class MURA_EXPORT C_NP_Worker_Thread {
public:
    using Queue = C_Recycling_Queue<NP_Accumulation_Buffer>;
    // Two spare buffers cover the one being filled and the one being decoded.
    static constexpr size_t SPARE_BUFFERS = 2;
    // Made before the stream starts: the one that replaces the first full buffer handed over.
    static constexpr size_t PREPARED_BUFFERS = 1;

    C_NP_Worker_Thread();
    // Poisons and joins a running worker.
    ~C_NP_Worker_Thread();
    C_NP_Worker_Thread(const C_NP_Worker_Thread&) = delete;
    C_NP_Worker_Thread& operator=(const C_NP_Worker_Thread&) = delete;

    void start(const std::string& name);
    void poison_queue();
    bool joinable() const { return m_thread.joinable(); }
    void join();

    void set_l2_ch_result_listener(std::weak_ptr<I_L2_Demux_CH_Results> listener);
    std::weak_ptr<I_L2_Demux_CH_Results> get_l2_ch_result_listener() const;
    void resync();

    uint32_t get_sync_pattern_count() const { return m_psb_demuxer.get_sync_pattern_count(); }
    uint32_t get_decoded_super_frame_count() const { return m_psb_demuxer.get_decoded_super_frame_count(); }
    const std::string& name() const { return m_name; }

    Queue& queue() { return m_queue; }
    CP_L1_ADC_TO_Channel& adc_to_channel_stage() { return m_adc_to_channel; }

private:
    void worker_loop();
    void decode(const NP_Accumulation_Buffer& buffer);
    void end_batch();

    Queue m_queue;
    std::thread m_thread;
    CP_L1_ADC_TO_Channel m_adc_to_channel;
    NP_PSB_Raw_Data_Demuxer m_psb_demuxer;
    std::string m_name;
    std::atomic<bool> m_stop{false};
};

} // namespace Selvan::MURA::demux

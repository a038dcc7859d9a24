#include "C_NP_Worker_Thread.h"

#include "Console.h"
#include "Log.h"
#include "Thread_Name.h"

namespace Selvan::MURA::demux {

C_NP_Worker_Thread::C_NP_Worker_Thread()
    : m_queue(SPARE_BUFFERS)
    , m_psb_demuxer(m_adc_to_channel) {}

C_NP_Worker_Thread::~C_NP_Worker_Thread() {
    if (!m_thread.joinable())
        return;
    poison_queue();
    m_thread.join();
}

void C_NP_Worker_Thread::start(const std::string& name) {
    if (m_thread.joinable()) {
        logging::warning("NP worker thread %s already started", m_name);
        return;
    }
    m_name = name;
    m_queue.prepare_spares(PREPARED_BUFFERS);
    logging::info("Starting NP worker thread %s", m_name);
    m_thread = std::thread([this] {
        name_this_thread(("np3 " + m_name).c_str());
        worker_loop();
    });
}

void C_NP_Worker_Thread::poison_queue() {
    MURA_LOG_SCOPE(logging::Verbosity_INFO, "poison_queue");
    std::unique_ptr<NP_Accumulation_Buffer> poison = m_queue.acquire();
    poison->used = 0;
    m_queue.push(std::move(poison));
}

void C_NP_Worker_Thread::join() {
    if (m_thread.joinable())
        m_thread.join();
}

void C_NP_Worker_Thread::set_l2_ch_result_listener(std::weak_ptr<I_L2_Demux_CH_Results> listener) {
    m_adc_to_channel.set_l2_ch_result_listener(std::move(listener));
}

std::weak_ptr<I_L2_Demux_CH_Results> C_NP_Worker_Thread::get_l2_ch_result_listener() const {
    return m_adc_to_channel.get_l2_ch_result_listener();
}

void C_NP_Worker_Thread::resync() {
    m_psb_demuxer.reset_sync();
    m_adc_to_channel.reset_and_resync_counters();
}

void C_NP_Worker_Thread::worker_loop() {
    logging::info("NP Worker thread started");
    if (m_stop) {
        logging::info("NP Worker thread end");
        return;
    }
    uint8_t iteration = 0;
    while (true) {
        const NP_Accumulation_Buffer& buffer = m_queue.wait_front();
        if (buffer.used == 0) {
            console::out("Worker thread  received poision packet {}\n", m_name);
            m_stop = true;
        } else {
            decode(buffer);
        }
        m_queue.pop_front();
        if ((iteration & 0x1F) == 0)
            console::out("{} worker, queue element count : {}\n", m_name, m_queue.size());
        ++iteration;
        if (m_stop) {
            logging::info("NP Worker thread end");
            return;
        }
    }
}

// A listener that throws (a gain filter given an electrode out of range, say) loses the rest of
// that buffer; the worker goes on with the next one so the port keeps streaming and shutdown
// still reaches it.
void C_NP_Worker_Thread::decode(const NP_Accumulation_Buffer& buffer) {
    m_adc_to_channel.begin_batch();
    try {
        m_psb_demuxer.feed_psb_raw_data_block_buffer(buffer.payload, buffer.used);
    } catch (const std::exception& e) {
        console::err("{} worker : exception while decoding a block, rest of the block dropped : {}\n", m_name,
                     e.what());
    }
    end_batch();
}

// A listener that throws at the end of the batch must not end the worker either.
void C_NP_Worker_Thread::end_batch() {
    try {
        m_adc_to_channel.end_batch();
    } catch (const std::exception& e) {
        console::err("{} worker : exception at the end of a block : {}\n", m_name, e.what());
    }
}

} // namespace Selvan::MURA::demux

#include "A_XDMA_MURA_Controller.h"

namespace Selvan::MURA {

void A_XDMA_MURA_Controller::set_register_window(volatile uint32_t* window, uint32_t size_in_bytes) {
    m_register_window = window;
    m_register_window_size = window ? size_in_bytes : 0;
}

volatile uint32_t* A_XDMA_MURA_Controller::register_word(uint32_t byte_address) const {
    if (!m_register_window || byte_address / 4 >= m_register_window_size / 4)
        return nullptr;
    return m_register_window + byte_address / 4;
}

void A_XDMA_MURA_Controller::write_register(uint32_t byte_address, uint32_t value) {
    if (volatile uint32_t* word = register_word(byte_address))
        *word = value;
}

uint32_t A_XDMA_MURA_Controller::read_register(uint32_t byte_address) {
    if (volatile uint32_t* word = register_word(byte_address))
        return *word;
    return 0xFFFFFFFF;
}

void A_XDMA_MURA_Controller::write_fifo_bytes(uint32_t byte_address, uint8_t count, const uint8_t* bytes) {
    for (uint8_t i = 0; i < count; ++i)
        write_register(byte_address, bytes[i]);
}

bool A_XDMA_MURA_Controller::prepare_for_read(uint8_t* buffer, uint32_t length, bool flag,
                                              uint32_t timeout_ms) {
    m_stream_buffer = buffer;
    m_stream_length = length;
    m_stream_flag = flag;
    m_stream_timeout_ms = timeout_ms;
    return true;
}

uint32_t A_XDMA_MURA_Controller::read_stream(uint64_t, bool wait_for_full) {
    const uint32_t time_limit_ms = read_time_limit_ms(m_stream_timeout_ms);
    return read_stream_into(m_stream_buffer, m_stream_length, wait_for_full,
                            [&](uint8_t* destination, uint32_t length) {
                                return read_stream_once(destination, length, time_limit_ms);
                            });
}

} // namespace Selvan::MURA

#include "M_DataStream.h"

#include "Console.h"
#include "I_InputDataStream.h"
#include "L2_MURA_Configurator.h"

#include <atomic>
#include <chrono>

namespace Selvan::MURA {
namespace {

// Thins the read timing line out to the first read and every 256th after it.
std::atomic<uint8_t> g_read_counter{0};

} // namespace

M_DataStream::M_DataStream(I_MemMapped_XDMA* xdma, I_InputDataStream* stream, MURA_Configurator* configurator)
    : m_xdma(xdma)
    , m_configurator(configurator)
    , m_stream(stream) {}

M_DataStream::~M_DataStream() {
    console::out("Data stream module dtor\n");
}

bool M_DataStream::check_alignment(const uint8_t* buffer) {
    const auto address = reinterpret_cast<uintptr_t>(buffer);
    if (address % 4 != 0) {
        console::out("Buffer must be DW aligned\n");
        return false;
    }
    if (address % 4096 != 0)
        console::out("Buffer is not page aligned\n");
    return true;
}

void M_DataStream::prepare_buffer_for_hw_read(uint8_t* buffer, uint32_t length) {
    if (!check_alignment(buffer))
        return;
    m_configurator->set_tlast_generation_mode_for_Windows_os(false);
    m_configurator->set_tlast_generation_mode_for_Windows_os(true);
    m_stream->prepare_for_read(buffer, length, false, 1000);
    m_prepared_buffer = buffer;
    m_prepared_length = length;
}

uint32_t M_DataStream::read(uint8_t* buffer, uint32_t length, bool wait_for_full) {
    if (!check_alignment(buffer))
        return 0;
    if (buffer != m_prepared_buffer || length != m_prepared_length) {
        m_stream->prepare_for_read(buffer, length, false, 1000);
        m_prepared_buffer = buffer;
        m_prepared_length = length;
    }
    const auto start = std::chrono::steady_clock::now();
    const uint32_t delivered = m_stream->read_stream(0, wait_for_full);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (g_read_counter.fetch_add(1) == 0)
        console::out("Interrupt wait duration : {} ms \n",
                     std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
    return delivered;
}

void M_DataStream::disable_data_source() const {
    m_configurator->reset_configuration();
}

} // namespace Selvan::MURA

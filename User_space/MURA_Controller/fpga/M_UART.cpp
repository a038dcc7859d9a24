#include "M_UART.h"

#include "Console.h"
#include "Pause.h"

#include <atomic>
#include <stdexcept>

namespace Selvan::MURA {
namespace {

constexpr uint32_t NON_ERROR_STATUS_BITS =
    UART_Module::STATUS_RX_VALID | UART_Module::STATUS_TX_EMPTY | UART_Module::STATUS_INTERRUPT_ENABLED;

// Longest message sent so far in this process; only steers a diagnostic line.
std::atomic<uint32_t> g_max_send_length{0};

} // namespace

UART_Module::UART_Module(uint32_t base, I_MemMapped_AXI* bus)
    : A_Register_Module("UART_Module ctor at base adr : ", base, bus) {}

uint32_t UART_Module::check_status() const {
    const uint32_t status = read(STATUS);
    if (status & ~NON_ERROR_STATUS_BITS)
        console::err("UART_Module error exist in transfer. status_reg : {:x}\n", status);
    return status;
}

void UART_Module::send(const uint8_t* bytes, uint32_t length, uint32_t /*timeout*/) const {
    uint32_t longest = g_max_send_length.load();
    while (length > longest && !g_max_send_length.compare_exchange_weak(longest, length)) {
    }
    if (length > longest)
        console::out("max_send_length : {}\n", length);
    m_bus->write_fifo_bytes(m_base + TX_FIFO, static_cast<uint8_t>(length & 0xFF), bytes);
    check_status();
}

void UART_Module::recv(uint8_t* bytes, uint32_t count, uint32_t timeout_ms) const {
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t patience = timeout_ms;
        while (!(check_status() & STATUS_RX_VALID)) {
            pause_for(std::chrono::milliseconds(1));
            if (patience <= 1)
                throw std::runtime_error("UART_Module recv timeout");
            --patience;
        }
        bytes[i] = static_cast<uint8_t>(read(RX_FIFO) & 0xFF);
    }
}

} // namespace Selvan::MURA

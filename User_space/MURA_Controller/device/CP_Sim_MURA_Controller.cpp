#include "CP_Sim_MURA_Controller.h"

#include "Console.h"
#include "MURA_Register_Map.h"
#include "M_UART.h"

namespace Selvan::MURA {

CP_Sim_MURA_Controller::~CP_Sim_MURA_Controller() {
    console::out("CP_Sim_MURA_Controller dtor, closing driver connection\n");
}

void CP_Sim_MURA_Controller::write_register(uint32_t byte_address, uint32_t value) {
    console::out("CP_Sim_MemMapped_AXI write_register. {:x}:{:x}\n", byte_address, value);
}

uint32_t CP_Sim_MURA_Controller::read_register(uint32_t byte_address) {
    if (byte_address == SCRIPTED_RX_FIFO_ADDRESS)
        return ACKNOWLEDGE;
    if (byte_address == SCRIPTED_STATUS_ADDRESS)
        return UART_Module::STATUS_RX_VALID;
    console::out("CP_Sim_MemMapped_AXI read_register. {:x}\n", byte_address);
    return ACKNOWLEDGE;
}

void CP_Sim_MURA_Controller::write_fifo_bytes(uint32_t, uint8_t, const uint8_t*) {}

bool CP_Sim_MURA_Controller::prepare_for_read(uint8_t*, uint32_t, bool, uint32_t) {
    return false;
}

uint32_t CP_Sim_MURA_Controller::read_stream(uint64_t, bool) {
    return 0;
}

void CP_Sim_MURA_Controller::write_xdma_register(uint32_t, uint32_t) {}

uint32_t CP_Sim_MURA_Controller::read_xdma_register(uint32_t) {
    return 0;
}

bool CP_Sim_MURA_Controller::open_driver_connection(const char*, bool) {
    modules().uart = std::make_shared<UART_Module>(register_map::SIMULATED_UART_BASE, this);
    return true;
}

void CP_Sim_MURA_Controller::close_driver_connection() {
    console::out("CP_Sim_MURA_Controller::close_driver_connection\n");
}

bool CP_Sim_MURA_Controller::set_extended_property(uint32_t property, uint32_t value) {
    console::out("CP_Sim_MURA_Controller::set_extended_property {} : {}\n", property, value);
    return true;
}

} // namespace Selvan::MURA

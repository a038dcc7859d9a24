#include "CP_Box_Model_MURA_Controller.h"

#include <iostream>

namespace Selvan::MURA::testing {

CP_Box_Model_MURA_Controller::CP_Box_Model_MURA_Controller(std::shared_ptr<MURA_Box_Model> box)
    : m_box(std::move(box)) {}

CP_Box_Model_MURA_Controller::~CP_Box_Model_MURA_Controller() {
    std::cout << "CP_Box_Model_MURA_Controller dtor, closing driver connection\n";
    close_driver_connection();
}

void CP_Box_Model_MURA_Controller::write_register(uint32_t byte_address, uint32_t value) {
    m_box->write_register(byte_address, value);
}

uint32_t CP_Box_Model_MURA_Controller::read_register(uint32_t byte_address) {
    return m_box->read_register(byte_address);
}

void CP_Box_Model_MURA_Controller::write_fifo_bytes(uint32_t byte_address, uint8_t count,
                                                    const uint8_t* bytes) {
    for (uint8_t i = 0; i < count; ++i)
        write_register(byte_address, bytes[i]);
}

bool CP_Box_Model_MURA_Controller::prepare_for_read(uint8_t* buffer, uint32_t length, bool, uint32_t) {
    m_stream_buffer = buffer;
    m_stream_length = length;
    return true;
}

uint32_t CP_Box_Model_MURA_Controller::read_stream(uint64_t, bool) {
    return 0;
}

void CP_Box_Model_MURA_Controller::write_xdma_register(uint32_t, uint32_t) {}

uint32_t CP_Box_Model_MURA_Controller::read_xdma_register(uint32_t) {
    return 0;
}

bool CP_Box_Model_MURA_Controller::open_driver_connection(const char*, bool) {
    m_opened = m_box->open();
    return m_opened;
}

void CP_Box_Model_MURA_Controller::close_driver_connection() {
    if (m_opened)
        m_box->close();
    m_opened = false;
}

bool CP_Box_Model_MURA_Controller::set_extended_property(uint32_t, uint32_t) {
    return false;
}

Box_Model_Factory_Override::Box_Model_Factory_Override(std::shared_ptr<MURA_Box_Model> box) {
    A_MURA_Controller::set_instance_factory(
        [box](bool) { return std::make_shared<CP_Box_Model_MURA_Controller>(box); });
}

Box_Model_Factory_Override::~Box_Model_Factory_Override() {
    A_MURA_Controller::reset_instance_factory();
}

} // namespace Selvan::MURA::testing

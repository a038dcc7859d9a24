#include "CP_Box_Model_MURA_Controller.h"

#include "Pause.h"

#include <iostream>

namespace Selvan::MURA::box_model {

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

// Like the driver: one read, or with wait_for_full as many as it takes to fill the prepared
// buffer. A read that delivers nothing waits (as a driver read would block for data) for as
// long as wait_for_stream_data allows; then the partial count is returned.
uint32_t CP_Box_Model_MURA_Controller::read_stream(uint64_t, bool wait_for_full) {
    if (!m_stream_buffer || m_stream_length == 0)
        return 0;
    const auto start = std::chrono::steady_clock::now();
    uint32_t done = 0;
    uint32_t zero_reads = 0;
    do {
        const uint32_t delivered = m_box->read_stream(m_stream_buffer + done, m_stream_length - done);
        done += delivered;
        if (delivered == 0) {
            if (!wait_for_stream_data(++zero_reads, std::chrono::steady_clock::now() - start))
                break;
        } else {
            zero_reads = 0;
        }
    } while (wait_for_full && done < m_stream_length);
    return done;
}

bool CP_Box_Model_MURA_Controller::wait_for_stream_data(uint32_t zero_reads,
                                                        std::chrono::steady_clock::duration) {
    if (zero_reads >= ZERO_READ_LIMIT)
        return false;
    pause_for(std::chrono::milliseconds(1));
    return true;
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

} // namespace Selvan::MURA::box_model

#pragma once

#include "A_MURA_Controller.h"
#include "MURA_Box_Model.h"

#include <chrono>
#include <memory>

namespace Selvan::MURA::box_model {

// A device controller whose "hardware" is a MURA_Box_Model.
class CP_Box_Model_MURA_Controller : public A_MURA_Controller {
public:
    static constexpr uint32_t ZERO_READ_LIMIT = 20;

    explicit CP_Box_Model_MURA_Controller(std::shared_ptr<MURA_Box_Model> box);
    ~CP_Box_Model_MURA_Controller() override;

    void write_register(uint32_t byte_address, uint32_t value) override;
    uint32_t read_register(uint32_t byte_address) override;
    void write_fifo_bytes(uint32_t byte_address, uint8_t count, const uint8_t* bytes) override;
    bool prepare_for_read(uint8_t* buffer, uint32_t length, bool flag, uint32_t timeout_ms) override;
    uint32_t read_stream(uint64_t reserved, bool wait_for_full) override;
    void write_xdma_register(uint32_t byte_address, uint32_t value) override;
    uint32_t read_xdma_register(uint32_t byte_address) override;
    bool open_driver_connection(const char* driver_name, bool flag) override;
    void close_driver_connection() override;
    bool set_extended_property(uint32_t property, uint32_t value) override;

    MURA_Box_Model& box() { return *m_box; }

protected:
    // Called after a read that delivered nothing, with the count of such reads in a row and the
    // time since the stream read began: true to wait and read again. The box model of the tests
    // waits a millisecond through the pause seam, at most ZERO_READ_LIMIT times.
    virtual bool wait_for_stream_data(uint32_t zero_reads, std::chrono::steady_clock::duration waited);
    // The length of the buffer prepared for stream reads.
    uint32_t prepared_length() const { return m_stream_length; }

private:
    std::shared_ptr<MURA_Box_Model> m_box;
    bool m_opened = false;
    uint8_t* m_stream_buffer = nullptr;
    uint32_t m_stream_length = 0;
};

// While alive, every A_MURA_Controller::get_instance (hardware or simulation) builds a box
// model controller on `box`.
class Box_Model_Factory_Override {
public:
    explicit Box_Model_Factory_Override(std::shared_ptr<MURA_Box_Model> box);
    ~Box_Model_Factory_Override();
    Box_Model_Factory_Override(const Box_Model_Factory_Override&) = delete;
    Box_Model_Factory_Override& operator=(const Box_Model_Factory_Override&) = delete;
};

} // namespace Selvan::MURA::box_model

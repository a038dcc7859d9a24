#pragma once

#include "A_MURA_Controller.h"
#include "Stream_Read_Loop.h"

#include <functional>
#include <string>

namespace Selvan::MURA {

// The MURA box on Linux through the Xilinx XDMA driver's character devices: the register BAR
// mapped from /dev/xdma<N>_user, the card-to-host stream read from /dev/xdma<N>_c2h_0.
class MURA_EXPORT CP_Linux_MURA_Controller : public A_MURA_Controller {
public:
    // Covers every register block of the design (the highest is the eFUSE word at 0x1600).
    static constexpr uint32_t REGISTER_WINDOW_SIZE = 0x10000;

    // One read of the stream device: waits at most the time limit for data, then reads what
    // is there. The default polls the descriptor and reads; tests put their own in place.
    using Stream_Read_Call = std::function<Stream_Read_Result(int descriptor, uint8_t* destination,
                                                              uint32_t length, uint32_t time_limit_ms)>;
    static Stream_Read_Result poll_and_read(int descriptor, uint8_t* destination, uint32_t length,
                                            uint32_t time_limit_ms);

    CP_Linux_MURA_Controller();
    CP_Linux_MURA_Controller(std::string register_path, std::string stream_path,
                             Stream_Read_Call read_call = poll_and_read);
    ~CP_Linux_MURA_Controller() override;

    void write_register(uint32_t byte_address, uint32_t value) override;
    uint32_t read_register(uint32_t byte_address) override;
    void write_fifo_bytes(uint32_t byte_address, uint8_t count, const uint8_t* bytes) override;
    // The time-out is the limit of one blocking read (0 for the default of one second).
    bool prepare_for_read(uint8_t* buffer, uint32_t length, bool flag, uint32_t timeout_ms) override;
    uint32_t read_stream(uint64_t reserved, bool wait_for_full) override;
    void write_xdma_register(uint32_t byte_address, uint32_t value) override;
    uint32_t read_xdma_register(uint32_t byte_address) override;
    bool open_driver_connection(const char* driver_name, bool flag) override;
    void close_driver_connection() override;
    bool set_extended_property(uint32_t property, uint32_t value) override;

private:
    bool open_device(const std::string& path, int flags, int& descriptor) const;
    volatile uint32_t* register_word(uint32_t byte_address) const;

    std::string m_register_path;
    std::string m_stream_path;
    Stream_Read_Call m_read_call;
    int m_register_descriptor = -1;
    int m_stream_descriptor = -1;
    uint8_t* m_stream_buffer = nullptr;
    uint32_t m_stream_length = 0;
    bool m_stream_flag = false;
    uint32_t m_stream_timeout_ms = 0;
    void* m_register_window = nullptr;
};

} // namespace Selvan::MURA

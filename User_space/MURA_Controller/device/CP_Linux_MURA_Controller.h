#pragma once

#include "A_XDMA_MURA_Controller.h"

#include <functional>
#include <string>

namespace Selvan::MURA {

// The MURA box on Linux through the Xilinx XDMA driver's character devices: the register BAR
// mapped from /dev/xdma<N>_user, the card-to-host stream read from /dev/xdma<N>_c2h_0.
class MURA_EXPORT CP_Linux_MURA_Controller : public A_XDMA_MURA_Controller {
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

    void write_xdma_register(uint32_t byte_address, uint32_t value) override;
    uint32_t read_xdma_register(uint32_t byte_address) override;
    bool open_driver_connection(const char* driver_name, bool flag) override;
    void close_driver_connection() override;
    bool set_extended_property(uint32_t property, uint32_t value) override;

protected:
    Stream_Read_Result read_stream_once(uint8_t* destination, uint32_t length,
                                        uint32_t time_limit_ms) override;

private:
    bool open_device(const std::string& path, int flags, int& descriptor) const;

    std::string m_register_path;
    std::string m_stream_path;
    Stream_Read_Call m_read_call;
    int m_register_descriptor = -1;
    int m_stream_descriptor = -1;
    void* m_mapping = nullptr;
};

} // namespace Selvan::MURA

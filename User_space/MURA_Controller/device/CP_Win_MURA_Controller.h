#pragma once

#include "A_XDMA_MURA_Controller.h"

#include <memory>
#include <string>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <setupapi.h>

namespace Selvan::MURA {

// The Windows calls the controller makes to find, open, map and read the device. The defaults
// are the real calls; tests derive from it to stand in for the SetupAPI, the driver and the
// stream.
class MURA_EXPORT Win_Device_Calls {
public:
    virtual ~Win_Device_Calls() = default;

    virtual HDEVINFO get_class_devices(const GUID& interface_class, DWORD flags);
    virtual bool enumerate_interface(HDEVINFO set, const GUID& interface_class, DWORD index,
                                     SP_DEVICE_INTERFACE_DATA& interface_data);
    virtual bool get_interface_detail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& interface_data,
                                      SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail, DWORD detail_size,
                                      DWORD* required_size);
    virtual void destroy_device_list(HDEVINFO set);
    virtual void* heap_allocate(SIZE_T size);
    virtual void heap_free(void* block);
    // Read and write access, no sharing, an existing file; `overlapped` for the stream, whose
    // reads must be able to give up.
    virtual HANDLE create_file(const std::wstring& path, bool overlapped);
    virtual bool device_io_control(HANDLE device, DWORD control_code, void* output, DWORD output_size,
                                   DWORD* returned);
    // One read from a handle opened for overlapped I/O, waiting at most the time limit; a
    // read still pending then is cancelled.
    virtual Stream_Read_Result read(HANDLE stream, uint8_t* destination, uint32_t length,
                                    uint32_t time_limit_ms);
    virtual void close_handle(HANDLE handle);
    virtual DWORD last_error();
};

// The MURA box on Windows through the Xilinx XDMA driver: the device is found through the
// SetupAPI by the XDMA interface class, its register BAR is mapped into the process by the
// driver, and the card-to-host stream is read from its c2h_0 channel.
class MURA_EXPORT CP_Win_MURA_Controller : public A_XDMA_MURA_Controller {
public:
    static constexpr GUID XDMA_INTERFACE_CLASS = {
        0x74C7E4A9, 0x6D5D, 0x4A70, {0xBC, 0x0D, 0x20, 0x69, 0x1D, 0xFF, 0x9E, 0x9D}};
    static constexpr DWORD ENUMERATION_FLAGS = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;
    static constexpr size_t DEVICE_PATH_CHARACTERS = MAX_PATH + 1;
    // Device type 0x22, function 7, buffered, any access: the driver maps the BAR into the
    // caller and answers with the window's address (8 bytes) and size (low 32 bits of the next 8).
    static constexpr DWORD MAP_BAR_CONTROL_CODE = 0x22001C;
    static constexpr DWORD MAP_BAR_ANSWER_SIZE = 16;

    CP_Win_MURA_Controller();
    explicit CP_Win_MURA_Controller(std::shared_ptr<Win_Device_Calls> calls);
    ~CP_Win_MURA_Controller() override;

    void write_xdma_register(uint32_t byte_address, uint32_t value) override;
    uint32_t read_xdma_register(uint32_t byte_address) override;
    bool open_driver_connection(const char* driver_name, bool flag) override;
    void close_driver_connection() override;
    bool set_extended_property(uint32_t property, uint32_t value) override;

    // Counts the present XDMA device interfaces and leaves the path of the last one in
    // `device_path`. A failure is reported on standard error and ends the count.
    uint32_t enumerate_devices(std::wstring& device_path);

protected:
    Stream_Read_Result read_stream_once(uint8_t* destination, uint32_t length,
                                        uint32_t time_limit_ms) override;

private:
    bool count_interface(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& interface_data,
                         wchar_t (&path)[DEVICE_PATH_CHARACTERS]);
    bool open_device(const std::wstring& path, bool overlapped, HANDLE& handle);
    void map_register_window();
    void close_handle(HANDLE& handle, const char* message);

    std::shared_ptr<Win_Device_Calls> m_calls;
    HANDLE m_register_handle = nullptr;
    HANDLE m_stream_handle = nullptr;
};

} // namespace Selvan::MURA

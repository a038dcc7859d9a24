#include "CP_Win_MURA_Controller.h"

#include "Console.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <stdexcept>

#include <fmt/format.h>

namespace Selvan::MURA {

// --- the real Windows calls ---

HDEVINFO Win_Device_Calls::get_class_devices(const GUID& interface_class, DWORD flags) {
    return SetupDiGetClassDevsW(&interface_class, nullptr, nullptr, flags);
}

bool Win_Device_Calls::enumerate_interface(HDEVINFO set, const GUID& interface_class, DWORD index,
                                           SP_DEVICE_INTERFACE_DATA& interface_data) {
    return SetupDiEnumDeviceInterfaces(set, nullptr, &interface_class, index, &interface_data);
}

bool Win_Device_Calls::get_interface_detail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& interface_data,
                                            SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail, DWORD detail_size,
                                            DWORD* required_size) {
    return SetupDiGetDeviceInterfaceDetailW(set, &interface_data, detail, detail_size, required_size,
                                            nullptr);
}

void Win_Device_Calls::destroy_device_list(HDEVINFO set) {
    SetupDiDestroyDeviceInfoList(set);
}

void* Win_Device_Calls::heap_allocate(SIZE_T size) {
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
}

void Win_Device_Calls::heap_free(void* block) {
    HeapFree(GetProcessHeap(), 0, block);
}

HANDLE Win_Device_Calls::create_file(const std::wstring& path, bool overlapped) {
    const DWORD attributes = FILE_ATTRIBUTE_NORMAL | (overlapped ? FILE_FLAG_OVERLAPPED : 0);
    return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, attributes,
                       nullptr);
}

bool Win_Device_Calls::device_io_control(HANDLE device, DWORD control_code, void* output, DWORD output_size,
                                         DWORD* returned) {
    return DeviceIoControl(device, control_code, nullptr, 0, output, output_size, returned, nullptr);
}

// The read is started overlapped and waited for with the time limit. A read still pending then
// is cancelled, and its completion awaited, because the driver owns the buffer and the
// OVERLAPPED record until it completes; bytes it delivered before the cancel still count.
Stream_Read_Result Win_Device_Calls::read(HANDLE stream, uint8_t* destination, uint32_t length,
                                          uint32_t time_limit_ms) {
    using Status = Stream_Read_Result::Status;
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!overlapped.hEvent)
        return {Status::failed, 0, static_cast<long>(GetLastError())};
    Stream_Read_Result result{Status::delivered, 0, 0};
    DWORD delivered = 0;
    if (!ReadFile(stream, destination, length, nullptr, &overlapped) && GetLastError() != ERROR_IO_PENDING) {
        result = {Status::failed, 0, static_cast<long>(GetLastError())};
    } else {
        const bool waited_out = WaitForSingleObject(overlapped.hEvent, time_limit_ms) == WAIT_TIMEOUT;
        if (waited_out)
            CancelIoEx(stream, &overlapped);
        if (GetOverlappedResult(stream, &overlapped, &delivered, TRUE))
            result = {Status::delivered, delivered, 0};
        else if (GetLastError() == ERROR_OPERATION_ABORTED)
            result = {Status::timed_out, delivered, 0};
        else
            result = {Status::failed, 0, static_cast<long>(GetLastError())};
    }
    CloseHandle(overlapped.hEvent);
    return result;
}

void Win_Device_Calls::close_handle(HANDLE handle) {
    CloseHandle(handle);
}

DWORD Win_Device_Calls::last_error() {
    return GetLastError();
}

// --- the controller ---

CP_Win_MURA_Controller::CP_Win_MURA_Controller()
    : CP_Win_MURA_Controller(std::make_shared<Win_Device_Calls>()) {}

CP_Win_MURA_Controller::CP_Win_MURA_Controller(std::shared_ptr<Win_Device_Calls> calls)
    : m_calls(std::move(calls)) {}

CP_Win_MURA_Controller::~CP_Win_MURA_Controller() {
    console::out("CP_Win_MURA_Controller dtor, closing driver connection\n");
    close_driver_connection();
}

// A failing device information set is reported and counts as no device: the host process
// goes on, and the open fails.
uint32_t CP_Win_MURA_Controller::enumerate_devices(std::wstring& device_path) {
    const HDEVINFO set = m_calls->get_class_devices(XDMA_INTERFACE_CLASS, ENUMERATION_FLAGS);
    if (set == INVALID_HANDLE_VALUE) {
        console::err("GetDevices INVALID_HANDLE_VALUE\n");
        return 0;
    }
    wchar_t path[DEVICE_PATH_CHARACTERS] = {};
    SP_DEVICE_INTERFACE_DATA interface_data{};
    interface_data.cbSize = sizeof(interface_data);
    uint32_t count = 0;
    for (DWORD index = 0; m_calls->enumerate_interface(set, XDMA_INTERFACE_CLASS, index, interface_data);
         ++index) {
        if (!count_interface(set, interface_data, path))
            break;
        ++count;
    }
    m_calls->destroy_device_list(set);
    device_path = path;
    return count;
}

bool CP_Win_MURA_Controller::count_interface(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& interface_data,
                                             wchar_t (&path)[DEVICE_PATH_CHARACTERS]) {
    using Detail = SP_DEVICE_INTERFACE_DETAIL_DATA_W;
    DWORD required = 0;
    const bool sized = m_calls->get_interface_detail(set, interface_data, nullptr, 0, &required);
    if ((!sized && m_calls->last_error() != ERROR_INSUFFICIENT_BUFFER) || required < sizeof(Detail)) {
        console::err("SetupDiGetDeviceInterfaceDetail - get length failed\n");
        return false;
    }
    auto* detail = static_cast<Detail*>(m_calls->heap_allocate(required));
    if (!detail) {
        console::err("HeapAlloc failed\n");
        return false;
    }
    detail->cbSize = sizeof(Detail);
    if (!m_calls->get_interface_detail(set, interface_data, detail, required, nullptr)) {
        console::err("SetupDiGetDeviceInterfaceDetail - get detail failed\n");
        m_calls->heap_free(detail);
        return false;
    }
    // The path ends within the block even if the driver left off its terminating zero.
    const size_t path_room = (required - offsetof(Detail, DevicePath)) / sizeof(wchar_t);
    const size_t length = std::min(wcsnlen(detail->DevicePath, path_room), DEVICE_PATH_CHARACTERS - 1);
    std::wmemcpy(path, detail->DevicePath, length);
    path[length] = L'\0';
    m_calls->heap_free(detail);
    return true;
}

bool CP_Win_MURA_Controller::open_device(const std::wstring& path, bool overlapped, HANDLE& handle) {
    const HANDLE opened = m_calls->create_file(path, overlapped);
    if (opened == INVALID_HANDLE_VALUE || opened == nullptr) {
        console::err("Error opening device, win32 error code: {}\n",
                     static_cast<long>(m_calls->last_error()));
        handle = nullptr;
        return false;
    }
    handle = opened;
    return true;
}

// The driver answers with the window's address and size. An answer too short to hold both,
// or without an address, is no window either.
void CP_Win_MURA_Controller::map_register_window() {
    uint8_t answer[MAP_BAR_ANSWER_SIZE] = {};
    DWORD returned = 0;
    if (!m_calls->device_io_control(m_register_handle, MAP_BAR_CONTROL_CODE, answer, sizeof answer,
                                    &returned))
        throw std::runtime_error(fmt::format("map bar ioctl failed! win32 error code: {}",
                                             static_cast<long>(m_calls->last_error())));
    uint64_t address = 0;
    uint32_t size = 0;
    std::memcpy(&address, answer, sizeof address);
    std::memcpy(&size, answer + 8, sizeof size);
    if (returned < MAP_BAR_ANSWER_SIZE || address == 0)
        throw std::runtime_error(
            fmt::format("map bar ioctl failed! answer of {} bytes without a register window", returned));
    console::out("{} sized bar mapped to user space\n", size);
    set_register_window(reinterpret_cast<volatile uint32_t*>(static_cast<uintptr_t>(address)), size);
}

// With several boxes present, the one enumerated last is opened.
bool CP_Win_MURA_Controller::open_driver_connection(const char*, bool) {
    close_driver_connection();
    std::wstring device_path;
    const uint32_t count = enumerate_devices(device_path);
    console::out("Devices found: {}\n", count);
    if (count == 0)
        return false;
    if (!open_device(device_path + L"\\user", false, m_register_handle))
        return false;
    if (!open_device(device_path + L"\\c2h_0", true, m_stream_handle))
        return false;
    map_register_window();
    return true;
}

void CP_Win_MURA_Controller::close_handle(HANDLE& handle, const char* message) {
    if (!handle)
        return;
    console::out(std::string_view(message));
    m_calls->close_handle(handle);
    handle = nullptr;
}

// The driver's mapping ends with the handle, so the window is forgotten with it: later
// register accesses go nowhere instead of into unmapped memory.
void CP_Win_MURA_Controller::close_driver_connection() {
    if (m_register_handle)
        set_register_window(nullptr, 0);
    close_handle(m_register_handle, "Closing mm driver handle\n");
    close_handle(m_stream_handle, "Closing c2h driver handle\n");
}

Stream_Read_Result CP_Win_MURA_Controller::read_stream_once(uint8_t* destination, uint32_t length,
                                                            uint32_t time_limit_ms) {
    return m_calls->read(m_stream_handle, destination, length, time_limit_ms);
}

void CP_Win_MURA_Controller::write_xdma_register(uint32_t, uint32_t) {
    console::err("Uimplemented function in Windows : write_xdma_register \n");
}

uint32_t CP_Win_MURA_Controller::read_xdma_register(uint32_t) {
    console::err("Uimplemented function in Windows : read_xdma_register \n");
    return 0;
}

bool CP_Win_MURA_Controller::set_extended_property(uint32_t property, uint32_t value) {
    console::out("CP_Win_MURA_Controller::set_extended_property {} : {}\n", property, value);
    return false;
}

} // namespace Selvan::MURA

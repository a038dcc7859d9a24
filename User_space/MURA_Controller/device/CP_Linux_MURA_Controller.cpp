#include "CP_Linux_MURA_Controller.h"

#include "Console.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

namespace Selvan::MURA {

CP_Linux_MURA_Controller::CP_Linux_MURA_Controller()
    : CP_Linux_MURA_Controller("/dev/xdma0_user", "/dev/xdma0_c2h_0") {}

CP_Linux_MURA_Controller::CP_Linux_MURA_Controller(std::string register_path, std::string stream_path,
                                                   Stream_Read_Call read_call)
    : m_register_path(std::move(register_path))
    , m_stream_path(std::move(stream_path))
    , m_read_call(std::move(read_call)) {}

CP_Linux_MURA_Controller::~CP_Linux_MURA_Controller() {
    console::out("CP_Linux_MURA_Controller dtor, closing driver connection\n");
    close_driver_connection();
}

bool CP_Linux_MURA_Controller::open_device(const std::string& path, int flags, int& descriptor) const {
    descriptor = ::open(path.c_str(), flags | O_CLOEXEC);
    if (descriptor >= 0)
        return true;
    console::err("Error opening device {}, error code: {} ({})\n", path, errno, std::strerror(errno));
    return false;
}

bool CP_Linux_MURA_Controller::open_driver_connection(const char*, bool) {
    close_driver_connection();
    if (!open_device(m_register_path, O_RDWR | O_SYNC, m_register_descriptor))
        return false;
    if (!open_device(m_stream_path, O_RDONLY, m_stream_descriptor))
        return false;
    void* window =
        ::mmap(nullptr, REGISTER_WINDOW_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, m_register_descriptor, 0);
    if (window == MAP_FAILED) {
        console::err("map bar mmap failed! error code: {} ({})\n", errno, std::strerror(errno));
        return false;
    }
    m_mapping = window;
    set_register_window(static_cast<volatile uint32_t*>(window), REGISTER_WINDOW_SIZE);
    console::out("{} sized bar mapped to user space\n", REGISTER_WINDOW_SIZE);
    return true;
}

void CP_Linux_MURA_Controller::close_driver_connection() {
    if (m_mapping) {
        set_register_window(nullptr, 0);
        ::munmap(m_mapping, REGISTER_WINDOW_SIZE);
        m_mapping = nullptr;
    }
    if (m_register_descriptor >= 0) {
        console::out("Closing mm driver handle\n");
        ::close(m_register_descriptor);
        m_register_descriptor = -1;
    }
    if (m_stream_descriptor >= 0) {
        console::out("Closing c2h driver handle\n");
        ::close(m_stream_descriptor);
        m_stream_descriptor = -1;
    }
}

Stream_Read_Result CP_Linux_MURA_Controller::read_stream_once(uint8_t* destination, uint32_t length,
                                                              uint32_t time_limit_ms) {
    return m_read_call(m_stream_descriptor, destination, length, time_limit_ms);
}

// A stalled driver must not hold the pump thread for ever: the read only starts once poll
// reports data (or an error, which the read then returns). Interrupted calls are repeated.
Stream_Read_Result CP_Linux_MURA_Controller::poll_and_read(int descriptor, uint8_t* destination,
                                                           uint32_t length, uint32_t time_limit_ms) {
    using Status = Stream_Read_Result::Status;
    pollfd watched{descriptor, POLLIN, 0};
    int ready = 0;
    do
        ready = ::poll(&watched, 1, static_cast<int>(time_limit_ms));
    while (ready < 0 && errno == EINTR);
    if (ready < 0)
        return {Status::failed, 0, errno};
    if (ready == 0)
        return {Status::timed_out, 0, 0};
    ssize_t delivered = 0;
    do
        delivered = ::read(descriptor, destination, length);
    while (delivered < 0 && errno == EINTR);
    if (delivered < 0)
        return {Status::failed, 0, errno};
    return {Status::delivered, static_cast<uint32_t>(delivered), 0};
}

void CP_Linux_MURA_Controller::write_xdma_register(uint32_t, uint32_t) {
    console::err("Uimplemented function in Linux : write_xdma_register \n");
}

uint32_t CP_Linux_MURA_Controller::read_xdma_register(uint32_t) {
    console::err("Uimplemented function in Linux : read_xdma_register \n");
    return 0;
}

bool CP_Linux_MURA_Controller::set_extended_property(uint32_t property, uint32_t value) {
    console::out("CP_Linux_MURA_Controller::set_extended_property {} : {}\n", property, value);
    return false;
}

} // namespace Selvan::MURA

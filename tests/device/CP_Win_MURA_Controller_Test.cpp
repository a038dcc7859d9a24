#include "CP_Win_MURA_Controller.h"
#include "Output_Capture.h"
#include "Scripted_Stream_Reads.h"

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <stdexcept>
#include <string>
#include <vector>

namespace Selvan::MURA {
namespace {

using test_support::Scripted_Stream_Reads;
using test_support::Stderr_Capture;
using test_support::Stdout_Capture;

// Stands in for the SetupAPI and the XDMA driver: a list of device paths, a register window
// in test memory, and scripted stream reads. Any step can be made to fail.
class Fake_Device_Calls : public Win_Device_Calls {
public:
    static inline const HDEVINFO DEVICE_SET = reinterpret_cast<HDEVINFO>(0x5E7);
    static inline const HANDLE REGISTER_HANDLE = reinterpret_cast<HANDLE>(0x11);
    static inline const HANDLE STREAM_HANDLE = reinterpret_cast<HANDLE>(0x22);

    std::vector<std::wstring> device_paths;
    bool fail_device_set = false;
    bool fail_length_query = false;
    bool fail_heap = false;
    bool fail_detail = false;
    std::wstring failing_open_suffix;
    bool fail_map = false;
    DWORD map_answer_size = 16;
    DWORD error = 0;

    std::array<uint32_t, 1024> window{};
    std::vector<std::pair<std::wstring, bool>> opened; // path, overlapped
    std::vector<HANDLE> closed;
    std::vector<DWORD> control_codes;
    std::vector<DWORD> control_output_sizes;
    bool set_destroyed = false;
    int heap_blocks = 0;
    Scripted_Stream_Reads reads;
    std::vector<std::pair<HANDLE, uint32_t>> read_calls; // handle, time limit

    HDEVINFO get_class_devices(const GUID& interface_class, DWORD flags) override {
        EXPECT_EQ(std::memcmp(&interface_class, &CP_Win_MURA_Controller::XDMA_INTERFACE_CLASS, sizeof(GUID)),
                  0);
        EXPECT_EQ(flags, 0x12u);
        return fail_device_set ? static_cast<HDEVINFO>(INVALID_HANDLE_VALUE) : DEVICE_SET;
    }
    bool enumerate_interface(HDEVINFO set, const GUID&, DWORD index, SP_DEVICE_INTERFACE_DATA&) override {
        EXPECT_EQ(set, DEVICE_SET);
        return index < device_paths.size();
    }
    bool get_interface_detail(HDEVINFO, SP_DEVICE_INTERFACE_DATA&, SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail,
                              DWORD detail_size, DWORD* required_size) override {
        const std::wstring& path = device_paths.at(m_current);
        const DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                                                (path.size() + 1) * sizeof(wchar_t));
        if (!detail) {
            error = fail_length_query ? ERROR_INVALID_PARAMETER : ERROR_INSUFFICIENT_BUFFER;
            *required_size = needed;
            return false;
        }
        EXPECT_EQ(detail->cbSize, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W));
        EXPECT_EQ(detail_size, needed);
        if (fail_detail)
            return false;
        std::wmemcpy(detail->DevicePath, path.c_str(), path.size() + 1);
        ++m_current;
        return true;
    }
    void destroy_device_list(HDEVINFO set) override { set_destroyed = set == DEVICE_SET; }
    void* heap_allocate(SIZE_T size) override {
        if (fail_heap)
            return nullptr;
        ++heap_blocks;
        return Win_Device_Calls::heap_allocate(size);
    }
    void heap_free(void* block) override {
        --heap_blocks;
        Win_Device_Calls::heap_free(block);
    }
    HANDLE create_file(const std::wstring& path, bool overlapped) override {
        opened.emplace_back(path, overlapped);
        if (!failing_open_suffix.empty() && path.ends_with(failing_open_suffix)) {
            error = ERROR_FILE_NOT_FOUND;
            return INVALID_HANDLE_VALUE;
        }
        return path.ends_with(L"\\user") ? REGISTER_HANDLE : STREAM_HANDLE;
    }
    bool device_io_control(HANDLE device, DWORD control_code, void* output, DWORD output_size,
                           DWORD* returned) override {
        EXPECT_EQ(device, REGISTER_HANDLE);
        control_codes.push_back(control_code);
        control_output_sizes.push_back(output_size);
        if (fail_map) {
            error = ERROR_ACCESS_DENIED;
            return false;
        }
        const uint64_t address = reinterpret_cast<uintptr_t>(window.data());
        const uint64_t size = 0xABCD00000000ull | (window.size() * 4);
        std::memcpy(output, &address, 8);
        std::memcpy(static_cast<uint8_t*>(output) + 8, &size, 8);
        *returned = map_answer_size;
        return true;
    }
    Stream_Read_Result read(HANDLE stream, uint8_t* destination, uint32_t length,
                            uint32_t time_limit_ms) override {
        read_calls.emplace_back(stream, time_limit_ms);
        return reads.read(destination, length);
    }
    void close_handle(HANDLE handle) override { closed.push_back(handle); }
    DWORD last_error() override { return error; }

private:
    size_t m_current = 0;
};

class WindowsDevice : public ::testing::Test {
protected:
    void SetUp() override { controller = std::make_unique<CP_Win_MURA_Controller>(calls); }
    void TearDown() override {
        Stdout_Capture quiet;
        controller.reset();
    }
    bool open() { return controller->open_driver_connection("MURA_Dext_Driver", true); }

    std::shared_ptr<Fake_Device_Calls> calls = std::make_shared<Fake_Device_Calls>();
    std::unique_ptr<CP_Win_MURA_Controller> controller;
};

TEST_F(WindowsDevice, NoDeviceReportsZeroAndOpensNothing) {
    Stdout_Capture out;
    EXPECT_FALSE(open());
    EXPECT_EQ(out.take(), "Devices found: 0\n");
    EXPECT_TRUE(calls->opened.empty());
    EXPECT_TRUE(calls->set_destroyed);
}

TEST_F(WindowsDevice, AFailingDeviceSetIsReportedAndFailsTheOpen) {
    calls->fail_device_set = true;
    Stdout_Capture out;
    Stderr_Capture err;
    EXPECT_FALSE(open());
    EXPECT_EQ(err.take(), "GetDevices INVALID_HANDLE_VALUE\n");
    EXPECT_EQ(out.take(), "Devices found: 0\n");
    EXPECT_TRUE(calls->opened.empty());
}

TEST_F(WindowsDevice, OpensBothPathsOfTheLastDeviceAndMapsTheWindow) {
    calls->device_paths = {L"\\\\?\\pci#first", L"\\\\?\\pci#second"};
    Stdout_Capture out;
    ASSERT_TRUE(open());
    EXPECT_EQ(out.take(), "Devices found: 2\n4096 sized bar mapped to user space\n");
    ASSERT_EQ(calls->opened.size(), 2u);
    EXPECT_EQ(calls->opened[0], std::make_pair(std::wstring(L"\\\\?\\pci#second\\user"), false));
    EXPECT_EQ(calls->opened[1], std::make_pair(std::wstring(L"\\\\?\\pci#second\\c2h_0"), true));
    EXPECT_EQ(calls->control_codes, std::vector<DWORD>{0x22001C});
    EXPECT_EQ(calls->control_output_sizes, std::vector<DWORD>{16});
    EXPECT_EQ(calls->heap_blocks, 0);
}

TEST_F(WindowsDevice, RegistersAreWordsOfTheMappedWindow) {
    calls->device_paths = {L"dev"};
    Stdout_Capture quiet;
    ASSERT_TRUE(open());
    controller->write_register(0x0208, 0x4E500040);
    EXPECT_EQ(calls->window[0x208 / 4], 0x4E500040u);
    calls->window[3] = 0x600DF00D;
    EXPECT_EQ(controller->read_register(0x000C), 0x600DF00Du);
    EXPECT_EQ(controller->read_register(0x000F), 0x600DF00Du);
    const uint8_t bytes[] = {0x11, 0x22, 0x33};
    controller->write_fifo_bytes(0x0404, 3, bytes);
    EXPECT_EQ(calls->window[0x404 / 4], 0x33u);
}

TEST_F(WindowsDevice, AccessesOutsideTheWindowOrAfterCloseGoNowhere) {
    calls->device_paths = {L"dev"};
    Stdout_Capture quiet;
    ASSERT_TRUE(open());
    EXPECT_EQ(controller->read_register(4096), 0xFFFFFFFFu);
    controller->write_register(4096, 1);
    controller->close_driver_connection();
    calls->window[0] = 7;
    EXPECT_EQ(controller->read_register(0), 0xFFFFFFFFu);
    controller->write_register(0, 9);
    EXPECT_EQ(calls->window[0], 7u);
}

TEST_F(WindowsDevice, EnumerationStepsThatFailEndTheCountWithTheirMessage) {
    struct Case {
        bool Fake_Device_Calls::*fault;
        const char* message;
    };
    for (const Case& step :
         {Case{&Fake_Device_Calls::fail_length_query,
               "SetupDiGetDeviceInterfaceDetail - get length failed\n"},
          Case{&Fake_Device_Calls::fail_heap, "HeapAlloc failed\n"},
          Case{&Fake_Device_Calls::fail_detail, "SetupDiGetDeviceInterfaceDetail - get detail failed\n"}}) {
        calls = std::make_shared<Fake_Device_Calls>();
        calls->device_paths = {L"dev"};
        (*calls).*step.fault = true;
        CP_Win_MURA_Controller device(calls);
        Stdout_Capture out;
        Stderr_Capture err;
        EXPECT_FALSE(device.open_driver_connection(nullptr, false));
        EXPECT_EQ(err.take(), step.message);
        EXPECT_EQ(out.take(), "Devices found: 0\n");
        EXPECT_EQ(calls->heap_blocks, 0);
        EXPECT_TRUE(calls->set_destroyed);
    }
}

TEST_F(WindowsDevice, ARegisterPathThatDoesNotOpenFailsWithTheErrorCode) {
    calls->device_paths = {L"dev"};
    calls->failing_open_suffix = L"\\user";
    Stdout_Capture out;
    Stderr_Capture err;
    EXPECT_FALSE(open());
    EXPECT_EQ(err.take(), "Error opening device, win32 error code: 2\n");
    EXPECT_EQ(calls->opened.size(), 1u);
    controller->close_driver_connection();
    EXPECT_TRUE(calls->closed.empty());
}

TEST_F(WindowsDevice, AStreamPathThatDoesNotOpenLeavesTheRegisterHandleToClose) {
    calls->device_paths = {L"dev"};
    calls->failing_open_suffix = L"\\c2h_0";
    {
        Stdout_Capture quiet;
        Stderr_Capture err;
        EXPECT_FALSE(open());
        EXPECT_EQ(err.take(), "Error opening device, win32 error code: 2\n");
    }
    Stdout_Capture out;
    controller->close_driver_connection();
    EXPECT_EQ(out.take(), "Closing mm driver handle\n");
    EXPECT_EQ(calls->closed, std::vector<HANDLE>{Fake_Device_Calls::REGISTER_HANDLE});
}

TEST_F(WindowsDevice, AFailedMapRequestRaisesWithTheErrorCode) {
    calls->device_paths = {L"dev"};
    calls->fail_map = true;
    Stdout_Capture quiet;
    try {
        open();
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "map bar ioctl failed! win32 error code: 5");
    }
}

TEST_F(WindowsDevice, AShortMapAnswerIsNoWindow) {
    calls->device_paths = {L"dev"};
    calls->map_answer_size = 8;
    Stdout_Capture quiet;
    EXPECT_THROW(open(), std::runtime_error);
    EXPECT_EQ(controller->read_register(0), 0xFFFFFFFFu);
}

TEST_F(WindowsDevice, CloseReleasesBothHandlesOnceAndPrintsNothingWhenClosed) {
    calls->device_paths = {L"dev"};
    {
        Stdout_Capture quiet;
        ASSERT_TRUE(open());
    }
    {
        Stdout_Capture out;
        controller->close_driver_connection();
        EXPECT_EQ(out.take(), "Closing mm driver handle\nClosing c2h driver handle\n");
    }
    Stdout_Capture out;
    controller->close_driver_connection();
    EXPECT_EQ(out.take(), "");
    EXPECT_EQ(calls->closed,
              (std::vector<HANDLE>{Fake_Device_Calls::REGISTER_HANDLE, Fake_Device_Calls::STREAM_HANDLE}));
}

TEST_F(WindowsDevice, DestructionAnnouncesItselfAndCloses) {
    calls->device_paths = {L"dev"};
    {
        Stdout_Capture quiet;
        ASSERT_TRUE(open());
    }
    Stdout_Capture out;
    controller.reset();
    EXPECT_EQ(out.take(), "CP_Win_MURA_Controller dtor, closing driver connection\n"
                          "Closing mm driver handle\nClosing c2h driver handle\nA_MURA_Controller dtor\n");
}

TEST_F(WindowsDevice, FixedAnswersOfTheDriverExtras) {
    Stdout_Capture out;
    Stderr_Capture err;
    controller->write_xdma_register(0, 1);
    EXPECT_EQ(controller->read_xdma_register(0), 0u);
    EXPECT_FALSE(controller->set_extended_property(3, 42));
    EXPECT_EQ(err.take(), "Uimplemented function in Windows : write_xdma_register \n"
                          "Uimplemented function in Windows : read_xdma_register \n");
    EXPECT_EQ(out.take(), "CP_Win_MURA_Controller::set_extended_property 3 : 42\n");
}

class WindowsDeviceReads : public WindowsDevice {
protected:
    void SetUp() override {
        WindowsDevice::SetUp();
        calls->device_paths = {L"dev"};
        Stdout_Capture quiet;
        ASSERT_TRUE(open());
    }
    std::vector<uint8_t> buffer = std::vector<uint8_t>(1024);
};

TEST_F(WindowsDeviceReads, ReadsTheStreamHandleWithThePreparedTimeLimit) {
    calls->reads.then_deliver(1000).then_deliver(24);
    EXPECT_TRUE(controller->prepare_for_read(buffer.data(), 1024, true, 300));
    EXPECT_EQ(controller->read_stream(0, true), 1024u);
    EXPECT_EQ(calls->read_calls,
              (std::vector<std::pair<HANDLE, uint32_t>>{{Fake_Device_Calls::STREAM_HANDLE, 300},
                                                        {Fake_Device_Calls::STREAM_HANDLE, 300}}));
    EXPECT_EQ(calls->reads.requested_lengths(), (std::vector<uint32_t>{1024, 24}));
}

TEST_F(WindowsDeviceReads, ZeroLengthDoesNotTouchTheDriver) {
    controller->prepare_for_read(buffer.data(), 0, false, 0);
    EXPECT_EQ(controller->read_stream(0, true), 0u);
    EXPECT_TRUE(calls->read_calls.empty());
}

TEST_F(WindowsDeviceReads, OneReadWithoutWaitingAndTheDefaultTimeLimit) {
    calls->reads.then_deliver(10);
    controller->prepare_for_read(buffer.data(), 1024, false, 0);
    EXPECT_EQ(controller->read_stream(0, false), 10u);
    EXPECT_EQ(calls->read_calls.at(0).second, 1000u);
}

TEST_F(WindowsDeviceReads, ZeroByteReadsEndAtTheIssueLimit) {
    calls->reads.forever_deliver(0);
    controller->prepare_for_read(buffer.data(), 1024, false, 0);
    Stderr_Capture err;
    Stdout_Capture out;
    EXPECT_EQ(controller->read_stream(0, true), 0u);
    EXPECT_EQ(err.take(), "Read timeout.\n");
    EXPECT_EQ(out.take(), "100001 read_issue_counter.\n");
}

TEST_F(WindowsDeviceReads, AFailedReadRaisesAfterItsMessage) {
    calls->reads.then_fail(ERROR_GEN_FAILURE);
    controller->prepare_for_read(buffer.data(), 1024, false, 0);
    Stderr_Capture err;
    EXPECT_THROW(controller->read_stream(0, true), std::runtime_error);
    EXPECT_EQ(err.take(), "ReadFile from device failed: 31");
}

// The real overlapped read against a pipe that never delivers: it gives up after its time
// limit, cancels the pending read and reports a time-out.
TEST(WindowsOverlappedRead, AStalledPipeTimesOut) {
    const std::wstring name = L"\\\\.\\pipe\\np3_bridge_stalled_" + std::to_wstring(GetCurrentProcessId());
    HANDLE server =
        CreateNamedPipeW(name.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE, 1, 4096, 4096, 0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    HANDLE client =
        CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(client, INVALID_HANDLE_VALUE);
    Win_Device_Calls calls;
    uint8_t buffer[64];
    const Stream_Read_Result stalled = calls.read(client, buffer, sizeof buffer, 30);
    EXPECT_EQ(stalled.status, Stream_Read_Result::Status::timed_out);
    EXPECT_EQ(stalled.bytes, 0u);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(server, "data", 4, &written, nullptr));
    const Stream_Read_Result delivered = calls.read(client, buffer, sizeof buffer, 1000);
    EXPECT_EQ(delivered.status, Stream_Read_Result::Status::delivered);
    EXPECT_EQ(delivered.bytes, 4u);
    CloseHandle(client);
    CloseHandle(server);
}

} // namespace
} // namespace Selvan::MURA

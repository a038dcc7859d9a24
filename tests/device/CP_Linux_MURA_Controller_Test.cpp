#include "CP_Linux_MURA_Controller.h"
#include "Output_Capture.h"
#include "Scripted_Stream_Reads.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Selvan::MURA {
namespace {

using test_support::Scripted_Stream_Reads;
using test_support::Stderr_Capture;
using test_support::Stdout_Capture;

// A regular file stands in for the XDMA register BAR and another for the stream device.
class LinuxDevice : public ::testing::Test {
protected:
    void SetUp() override {
        directory = std::filesystem::temp_directory_path() / ("np3_xdma_" + std::to_string(::getpid()));
        std::filesystem::create_directories(directory);
        register_path = directory / "xdma0_user";
        stream_path = directory / "xdma0_c2h_0";
        std::ofstream(register_path, std::ios::binary)
            .write(std::string(CP_Linux_MURA_Controller::REGISTER_WINDOW_SIZE, '\0').data(),
                   CP_Linux_MURA_Controller::REGISTER_WINDOW_SIZE);
        std::vector<char> stream(3000);
        for (size_t i = 0; i < stream.size(); ++i)
            stream[i] = static_cast<char>(i);
        std::ofstream(stream_path, std::ios::binary).write(stream.data(), stream.size());
        Stdout_Capture quiet;
        controller = std::make_unique<CP_Linux_MURA_Controller>(register_path.string(), stream_path.string());
    }
    void TearDown() override {
        {
            Stdout_Capture quiet;
            controller.reset();
        }
        std::filesystem::remove_all(directory);
    }

    uint32_t word_in_file(uint32_t index) {
        std::ifstream in(register_path, std::ios::binary);
        in.seekg(index * 4);
        uint32_t value = 0;
        in.read(reinterpret_cast<char*>(&value), 4);
        return value;
    }

    std::filesystem::path directory, register_path, stream_path;
    std::unique_ptr<CP_Linux_MURA_Controller> controller;
};

TEST_F(LinuxDevice, MapsTheRegisterWindowAndAccessesWordsByAddressDividedByFour) {
    Stdout_Capture out;
    ASSERT_TRUE(controller->open_driver_connection("MURA_Dext_Driver", true));
    EXPECT_EQ(out.take(), "65536 sized bar mapped to user space\n");
    controller->write_register(0x0208, 0x4E500040);
    EXPECT_EQ(controller->read_register(0x0208), 0x4E500040u);
    controller->write_register(0x0013, 0x1234); // lands in word 4 (byte address 0x10)
    EXPECT_EQ(controller->read_register(0x0010), 0x1234u);
    const uint8_t bytes[] = {0x11, 0x22};
    controller->write_fifo_bytes(0x0404, 2, bytes);
    EXPECT_EQ(controller->read_register(0x0404), 0x22u);
    EXPECT_EQ(word_in_file(0x208 / 4), 0x4E500040u);
}

TEST_F(LinuxDevice, MissingDeviceFailsTheOpenWithAMessage) {
    std::filesystem::remove(stream_path);
    Stderr_Capture err;
    Stdout_Capture out;
    EXPECT_FALSE(controller->open_driver_connection("MURA_Dext_Driver", true));
    EXPECT_NE(err.take().find("Error opening device " + stream_path.string() + ", error code: 2"),
              std::string::npos);
    // The register device did open and is released again.
    controller->close_driver_connection();
    EXPECT_EQ(out.take(), "Closing mm driver handle\n");
}

TEST_F(LinuxDevice, RegistersOfAClosedDeviceReadAsAllOnesAndIgnoreWrites) {
    controller->write_register(0x0000, 5);
    EXPECT_EQ(controller->read_register(0x0000), 0xFFFFFFFFu);
    EXPECT_EQ(word_in_file(0), 0u);
}

TEST_F(LinuxDevice, StreamReadFillsThePreparedBuffer) {
    Stdout_Capture quiet;
    ASSERT_TRUE(controller->open_driver_connection(nullptr, false));
    std::vector<uint8_t> buffer(2048);
    ASSERT_TRUE(controller->prepare_for_read(buffer.data(), 2048, false, 1000));
    EXPECT_EQ(controller->read_stream(0, true), 2048u);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[2047], static_cast<uint8_t>(2047));
    // Without waiting, one read returns what it got: the 952 bytes left in the file.
    EXPECT_EQ(controller->read_stream(0, false), 952u);
}

TEST_F(LinuxDevice, StreamReadOfZeroBytesDoesNotTouchTheDevice) {
    Stdout_Capture quiet;
    ASSERT_TRUE(controller->open_driver_connection(nullptr, false));
    uint8_t buffer[16];
    controller->prepare_for_read(buffer, 0, false, 1000);
    EXPECT_EQ(controller->read_stream(0, true), 0u);
}

TEST_F(LinuxDevice, CloseOnAClosedControllerPrintsNothing) {
    Stdout_Capture out;
    controller->close_driver_connection();
    EXPECT_EQ(out.take(), "");
}

// The read call is a seam: the class hands it the stream descriptor, what is left of the
// buffer and the time limit of one read, and runs the common read loop on its answers.
class LinuxDeviceReads : public LinuxDevice {
protected:
    void SetUp() override {
        LinuxDevice::SetUp();
        Stdout_Capture quiet;
        controller = std::make_unique<CP_Linux_MURA_Controller>(
            register_path.string(), stream_path.string(),
            [this](int descriptor, uint8_t* destination, uint32_t length, uint32_t time_limit_ms) {
                descriptors.push_back(descriptor);
                time_limits.push_back(time_limit_ms);
                return reads.read(destination, length);
            });
        ASSERT_TRUE(controller->open_driver_connection(nullptr, false));
    }
    Scripted_Stream_Reads reads;
    std::vector<int> descriptors;
    std::vector<uint32_t> time_limits;
    std::vector<uint8_t> buffer = std::vector<uint8_t>(1024);
};

TEST_F(LinuxDeviceReads, EachReadGetsTheStreamDescriptorAndThePreparedTimeLimit) {
    reads.then_deliver(24).then_deliver(1000);
    controller->prepare_for_read(buffer.data(), 1024, false, 250);
    EXPECT_EQ(controller->read_stream(0, true), 1024u);
    ASSERT_EQ(descriptors.size(), 2u);
    EXPECT_GE(descriptors[0], 0);
    EXPECT_EQ(descriptors[1], descriptors[0]);
    EXPECT_EQ(time_limits, (std::vector<uint32_t>{250, 250}));
    EXPECT_EQ(reads.requested_lengths(), (std::vector<uint32_t>{1024, 1000}));
}

TEST_F(LinuxDeviceReads, NoPreparedTimeOutLimitsEachReadToOneSecond) {
    reads.then_deliver(1024);
    controller->prepare_for_read(buffer.data(), 1024, false, 0);
    controller->read_stream(0, true);
    EXPECT_EQ(time_limits, std::vector<uint32_t>{1000});
}

TEST_F(LinuxDeviceReads, OneReadWithoutWaiting) {
    reads.then_deliver(100).then_deliver(900);
    controller->prepare_for_read(buffer.data(), 1024, false, 0);
    EXPECT_EQ(controller->read_stream(0, false), 100u);
    EXPECT_EQ(reads.calls(), 1u);
}

TEST_F(LinuxDeviceReads, ZeroByteReadsEndAtTheIssueLimit) {
    reads.forever_deliver(0);
    controller->prepare_for_read(buffer.data(), 1024, false, 0);
    Stderr_Capture err;
    Stdout_Capture out;
    EXPECT_EQ(controller->read_stream(0, true), 0u);
    EXPECT_EQ(err.take(), "Read timeout.\n");
    EXPECT_EQ(out.take(), "100001 read_issue_counter.\n");
}

TEST_F(LinuxDeviceReads, AFailedReadRaisesAfterItsMessage) {
    reads.then_fail(EIO);
    controller->prepare_for_read(buffer.data(), 1024, false, 0);
    Stderr_Capture err;
    EXPECT_THROW(controller->read_stream(0, true), std::runtime_error);
    EXPECT_EQ(err.take(), "ReadFile from device failed: 5");
}

// A FIFO with a writer that sends nothing behaves as a stalled driver: poll gives up after the
// time limit instead of blocking the pump thread for ever.
class LinuxDeviceFifo : public LinuxDevice {
protected:
    void SetUp() override {
        LinuxDevice::SetUp();
        std::filesystem::remove(stream_path);
        ASSERT_EQ(::mkfifo(stream_path.c_str(), 0600), 0);
        writer = ::open(stream_path.c_str(), O_RDWR | O_NONBLOCK);
        ASSERT_GE(writer, 0);
        Stdout_Capture quiet;
        ASSERT_TRUE(controller->open_driver_connection(nullptr, false));
    }
    void TearDown() override {
        ::close(writer);
        LinuxDevice::TearDown();
    }
    int writer = -1;
};

TEST_F(LinuxDeviceFifo, AStalledStreamTimesOutWithWhatItDelivered) {
    std::vector<uint8_t> buffer(256);
    ASSERT_EQ(::write(writer, "abcdefgh", 8), 8);
    controller->prepare_for_read(buffer.data(), 256, false, 20);
    Stderr_Capture err;
    Stdout_Capture out;
    EXPECT_EQ(controller->read_stream(0, true), 8u);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 8), "abcdefgh");
    EXPECT_EQ(err.take(), "Read timeout.\n");
    EXPECT_EQ(out.take(), "2 read_issue_counter.\n");
}

TEST_F(LinuxDeviceFifo, DataWaitingIsReadAtOnce) {
    std::vector<uint8_t> buffer(4);
    ASSERT_EQ(::write(writer, "wxyz", 4), 4);
    controller->prepare_for_read(buffer.data(), 4, false, 1000);
    EXPECT_EQ(controller->read_stream(0, true), 4u);
}

} // namespace
} // namespace Selvan::MURA

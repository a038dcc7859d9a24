#include "CP_Linux_MURA_Controller.h"
#include "Output_Capture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include <unistd.h>

namespace Selvan::MURA {
namespace {

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

} // namespace
} // namespace Selvan::MURA

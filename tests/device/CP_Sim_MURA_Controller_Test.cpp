#include "A_MURA_Controller.h"
#include "CP_Sim_MURA_Controller.h"
#include "M_UART.h"
#include "Output_Capture.h"

#include <gtest/gtest.h>

namespace Selvan::MURA {
namespace {

using test_support::Stderr_Capture;
using test_support::Stdout_Capture;

class SimulatedDevice : public ::testing::Test {
protected:
    void SetUp() override {
        Stdout_Capture quiet;
        controller = A_MURA_Controller::get_instance(true);
    }
    void TearDown() override {
        Stdout_Capture quiet;
        controller.reset();
    }
    std::shared_ptr<A_MURA_Controller> controller;
};

TEST_F(SimulatedDevice, AnswersTheScriptedUartRegistersSilently) {
    Stdout_Capture out;
    EXPECT_EQ(controller->read_register(0x0000), 0xC3u);
    EXPECT_EQ(controller->read_register(0x0008), 1u);
    EXPECT_EQ(out.take(), "");
}

TEST_F(SimulatedDevice, AnnouncesEveryOtherReadAndAnswersTheAcknowledgeValue) {
    Stdout_Capture out;
    EXPECT_EQ(controller->read_register(0x0004), 195u);
    EXPECT_EQ(controller->read_register(0x0A00), 195u);
    EXPECT_EQ(out.take(), "CP_Sim_MemMapped_AXI read_register. 4\n"
                          "CP_Sim_MemMapped_AXI read_register. a00\n");
}

TEST_F(SimulatedDevice, PrintsWritesInHexAndIgnoresFifoBytes) {
    Stdout_Capture out;
    controller->write_register(0x0404, 0xAB);
    const uint8_t bytes[] = {1, 2, 3};
    controller->write_fifo_bytes(0x0404, 3, bytes);
    EXPECT_EQ(out.take(), "CP_Sim_MemMapped_AXI write_register. 404:ab\n");
}

TEST_F(SimulatedDevice, OpeningMovesTheUartToWhereTheScriptAnswers) {
    Stdout_Capture out;
    EXPECT_TRUE(controller->open_driver_connection("MURA_Dext_Driver", true));
    EXPECT_EQ(out.take(), "UART_Module ctor at base adr : 0\n");
    EXPECT_EQ(controller->modules().uart->base_address(), 0u);
    // Every further open makes a fresh UART module.
    auto* first_uart = controller->modules().uart.get();
    Stdout_Capture again;
    EXPECT_TRUE(controller->open_driver_connection(nullptr, false));
    again.take();
    EXPECT_NE(controller->modules().uart.get(), first_uart);
}

TEST_F(SimulatedDevice, UartExchangeSucceedsAfterOpening) {
    {
        Stdout_Capture quiet;
        controller->open_driver_connection("MURA_Dext_Driver", true);
    }
    Stdout_Capture out;
    Stderr_Capture err;
    const uint8_t message[] = {0x10, 0x20};
    controller->modules().uart->send(message, 2, 100);
    uint8_t received[3] = {};
    controller->modules().uart->recv(received, 3, 10);
    EXPECT_EQ(received[0], 0xC3);
    EXPECT_EQ(received[2], 0xC3);
    EXPECT_EQ(err.take(), "");
}

TEST_F(SimulatedDevice, UartBeforeOpeningReportsATransferErrorOnEveryStatusCheck) {
    Stdout_Capture out;
    Stderr_Capture err;
    uint8_t received[2] = {};
    controller->modules().uart->recv(received, 2, 10);
    EXPECT_EQ(received[0], 0xC3);
    EXPECT_EQ(err.take(), "UART_Module error exist in transfer. status_reg : c3\n"
                          "UART_Module error exist in transfer. status_reg : c3\n");
    EXPECT_EQ(out.take(),
              "CP_Sim_MemMapped_AXI read_register. 408\nCP_Sim_MemMapped_AXI read_register. 400\n"
              "CP_Sim_MemMapped_AXI read_register. 408\nCP_Sim_MemMapped_AXI read_register. 400\n");
}

TEST_F(SimulatedDevice, StreamAndDmaRegistersAreInert) {
    uint8_t buffer[64];
    EXPECT_FALSE(controller->prepare_for_read(buffer, sizeof buffer, false, 1000));
    EXPECT_EQ(controller->read_stream(0, true), 0u);
    EXPECT_EQ(controller->read_stream(0, false), 0u);
    EXPECT_EQ(controller->read_xdma_register(0x10), 0u);
}

TEST_F(SimulatedDevice, CloseAndExtendedPropertyOnlyReport) {
    Stdout_Capture out;
    controller->close_driver_connection();
    EXPECT_TRUE(controller->set_extended_property(7, 4096));
    EXPECT_EQ(out.take(), "CP_Sim_MURA_Controller::close_driver_connection\n"
                          "CP_Sim_MURA_Controller::set_extended_property 7 : 4096\n");
}

} // namespace
} // namespace Selvan::MURA

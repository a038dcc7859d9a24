#include "L2_MURA_Configurator.h"
#include "Log_Capture.h"
#include "M_GPIO.h"
#include "Output_Capture.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace Selvan::MURA {
namespace {

using test_support::Log_Capture;
using test_support::Stderr_Capture;
using test_support::Stdout_Capture;

// A control word that remembers what was written and counts the writes.
class Control_Word : public I_MemMapped_AXI {
public:
    void write_register(uint32_t address, uint32_t v) override {
        EXPECT_EQ(address, 0u);
        value = v;
        history.push_back(v);
    }
    uint32_t read_register(uint32_t address) override {
        EXPECT_EQ(address, 0u);
        return value;
    }
    void write_fifo_bytes(uint32_t, uint8_t, const uint8_t*) override { ADD_FAILURE(); }
    uint32_t value = 0;
    std::vector<uint32_t> history;
};

class Configurator : public ::testing::Test {
protected:
    void SetUp() override {
        Stdout_Capture quiet;
        gpio = std::make_unique<GPIO_Module>(0, &word);
        configurator = std::make_unique<MURA_Configurator>(gpio.get());
    }
    Control_Word word;
    std::unique_ptr<GPIO_Module> gpio;
    std::unique_ptr<MURA_Configurator> configurator;
};

TEST_F(Configurator, PreInitFieldsAndUartChannel) {
    Stdout_Capture out;
    configurator->set_one_mode(true);
    configurator->set_QRB004_Power(true);
    configurator->assign_port_4_to_np(true);
    EXPECT_EQ(word.value, 0x540u);
    configurator->assign_uart_to_np_channel(2);
    EXPECT_EQ(word.value, 0x560u);
    EXPECT_EQ(out.take(), "Setting ONE mode\nset_QRB004_Power on\nAssigning port_4 to NP\n");
}

TEST_F(Configurator, ClearingFieldsPrintsTheirOffLines) {
    word.value = 0xFFFFFFFF;
    Stdout_Capture out;
    configurator->set_one_mode(false);
    configurator->set_QRB004_Power(false);
    configurator->assign_port_4_to_np(false);
    configurator->set_tlast_generation_mode_for_Windows_os(false);
    EXPECT_EQ(word.value, 0xFFFFFA3Fu);
    EXPECT_EQ(out.take(), "Setting CORE mode\nset_QRB004_Power off\n");
}

TEST_F(Configurator, StreamEnablesReplaceOnlyTheLowNibble) {
    word.value = 0x560;
    configurator->enable_np_streams({0, 3});
    EXPECT_EQ(word.value, 0x569u);
    configurator->enable_np_streams({3, 3, 0});
    EXPECT_EQ(word.value, 0x569u);
    configurator->enable_np_streams({});
    EXPECT_EQ(word.value, 0x560u);
}

TEST_F(Configurator, InvalidStreamListIsRefusedBeforeAnyWrite) {
    word.value = 0x560;
    try {
        configurator->enable_np_streams({1, 4});
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "enable_np_streams argument invalid");
    }
    EXPECT_EQ(word.value, 0x560u);
    EXPECT_TRUE(word.history.empty());
}

TEST_F(Configurator, UartChannelAboveThreeIsRefused) {
    try {
        configurator->assign_uart_to_np_channel(4);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "assign_uart_to_np_channel invalid");
    }
    EXPECT_TRUE(word.history.empty());
}

TEST_F(Configurator, TtlInputIndexIsTruncatedToThreeBits) {
    configurator->set_ttl_input_index(5);
    EXPECT_EQ(word.value, 0x2800u);
    Stderr_Capture err;
    configurator->set_ttl_input_index(9);
    EXPECT_EQ(err.take(), "ttl_input_index > 7 truncating\n");
    EXPECT_EQ(word.value, 0x0800u);
}

TEST_F(Configurator, SoftTriggerIsARisingThenFallingWrite) {
    word.value = 0x569;
    configurator->send_soft_trigger_pulse();
    EXPECT_EQ(word.history, (std::vector<uint32_t>{0x769, 0x569}));
}

TEST_F(Configurator, ResetWritesZeroWithoutReading) {
    word.value = 0xFFFF;
    configurator->reset_configuration();
    EXPECT_EQ(word.history, std::vector<uint32_t>{0});
}

TEST(ConfiguratorPortStatus, LogsEachPortCountingFromOne) {
    Log_Capture capture;
    EXPECT_FALSE(MURA_Configurator::print_np_ports_status(0x10));
    EXPECT_EQ(capture.texts(),
              (std::vector<std::string>{"# Appearent status of NP Ports  #", "NP Port 1 PCLK Locked : No",
                                        "NP Port 2 PCLK Locked : No", "NP Port 3 PCLK Locked : No",
                                        "NP Port 4 PCLK Locked : No"}));
}

TEST(ConfiguratorPortStatus, AnyLockedPortCounts) {
    Log_Capture capture;
    EXPECT_TRUE(MURA_Configurator::print_np_ports_status(0x8));
    EXPECT_TRUE(capture.contains("NP Port 4 PCLK Locked : Yes"));
    EXPECT_TRUE(capture.contains("NP Port 1 PCLK Locked : No"));
}

} // namespace
} // namespace Selvan::MURA

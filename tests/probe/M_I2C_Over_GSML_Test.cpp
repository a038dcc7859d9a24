#include "Box_Fixture.h"
#include "CP_Sim_MURA_Controller.h"
#include "L2_MURA_Configurator.h"
#include "Log_Capture.h"
#include "M_I2C_Over_GSML.h"
#include "M_UART.h"

#include <gmock/gmock.h>

#include <stdexcept>

namespace Selvan::MURA {
namespace {

using box_model::I2C_Transaction;
using box_model::Register_Access;
using test_support::Log_Capture;
using test_support::Stderr_Capture;
using test_support::Stdout_Capture;
using ::testing::ElementsAre;

class I2CTunnel : public test_support::Box_Fixture {
protected:
    void SetUp() override {
        auto& c = opened_controller();
        i2c = std::make_unique<I2C_Over_GSML_Module>(c.modules().uart.get());
        box->clear_access_logs();
    }
    void route_to(uint8_t port) { controller->modules().configurator->assign_uart_to_np_channel(port); }
    std::unique_ptr<I2C_Over_GSML_Module> i2c;
};

TEST_F(I2CTunnel, WriteSendsTheFiveByteMessageAndCountsIt) {
    Stdout_Capture quiet;
    i2c->probe_write(0x00, 0x40, false);
    EXPECT_THAT(box->register_writes_from(0x404, 0x404),
                ElementsAre(Register_Access{0x404, 0x79}, Register_Access{0x404, 0xE0},
                            Register_Access{0x404, 0x00}, Register_Access{0x404, 0x01},
                            Register_Access{0x404, 0x40}));
    EXPECT_EQ(box->headstage(0).probe_registers[0], 0x40);
    EXPECT_EQ(i2c->stat_write_transactions_total, 1u);
    EXPECT_EQ(i2c->stat_write_transactions_with_error, 0u);
}

TEST_F(I2CTunnel, ReadSendsTheFourByteMessageWithTheReadFlag) {
    uint8_t value = 0;
    EXPECT_EQ(i2c->deserializer_read(0x1E, value), 10);
    EXPECT_EQ(value, 10);
    EXPECT_THAT(box->register_writes_from(0x404, 0x404),
                ElementsAre(Register_Access{0x404, 0x79}, Register_Access{0x404, 0x91},
                            Register_Access{0x404, 0x1E}, Register_Access{0x404, 0x01}));
    EXPECT_EQ(i2c->stat_read_transactions_total, 1u);
}

TEST_F(I2CTunnel, TheControlWordRoutesTheTunnelToAPort) {
    box->headstage(2).set_device_ids(9, 42);
    uint8_t value = 0;
    route_to(2);
    EXPECT_EQ(i2c->deserializer_read(0x1E, value), 42);
    route_to(0);
    EXPECT_EQ(i2c->deserializer_read(0x1E, value), 10);
    EXPECT_EQ(box->headstage(1).transactions.size(), 0u);
}

TEST_F(I2CTunnel, RefusedWriteThrowsAndLeavesTheCountersAlone) {
    box->headstage(0).nack_devices = {0x80};
    Stderr_Capture err;
    try {
        i2c->serializer_write(0x04, 0x83);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "qbsc_writeI2C ACK error");
    }
    EXPECT_EQ(err.take(), "qbsc_writeI2C ACK err\n");
    EXPECT_EQ(i2c->stat_write_transactions_total, 0u);
    EXPECT_EQ(i2c->stat_write_transactions_with_error, 0u);
}

TEST_F(I2CTunnel, TolerantProbeWriteOnlyCountsTheRefusal) {
    box->headstage(0).nack_devices = {0xE0};
    Stderr_Capture err;
    i2c->probe_write(0x01, 0x10, true);
    EXPECT_EQ(err.take(), "qbsc_writeI2C ACK err\n");
    EXPECT_EQ(i2c->stat_write_transactions_total, 1u);
    EXPECT_EQ(i2c->stat_write_transactions_with_error, 1u);
}

TEST_F(I2CTunnel, RefusedReadStillDeliversTheValueBeforeThrowing) {
    box->headstage(0).nack_devices = {0xA0};
    box->headstage(0).probe_eeprom[3] = 0x5A;
    Stderr_Capture err;
    uint8_t value = 0;
    try {
        i2c->qbsc_readI2C(0xA0, 3, value);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "qbsc_readI2C error");
    }
    EXPECT_EQ(value, 0x5A);
    EXPECT_EQ(err.take(), "qbsc_readI2C err\n");
    EXPECT_EQ(i2c->stat_read_transactions_total, 0u);
    EXPECT_EQ(i2c->stat_read_transactions_with_error, 0u);
}

TEST_F(I2CTunnel, MissingHeadstageTimesOutAfterTenMilliseconds) {
    box->headstage(0).present = false;
    try {
        i2c->probe_write(0x00, 0x40, false);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "UART_Module recv timeout");
    }
    EXPECT_EQ(pauses.count(std::chrono::milliseconds(1)), 10u);
    EXPECT_EQ(i2c->stat_write_transactions_total, 0u);
}

TEST_F(I2CTunnel, BlockReadOfNBytes) {
    uint8_t bytes[4] = {};
    i2c->qbsc_readI2C_n_bytes(0xA0, 40, bytes, 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 4), "PRB_");
    box->headstage(0).nack_devices = {0xA0};
    Stderr_Capture err;
    EXPECT_THROW(i2c->qbsc_readI2C_n_bytes(0xA0, 40, bytes, 4), std::runtime_error);
    EXPECT_EQ(err.take(), "qbsc_readI2C_n_bytes err\n");
}

TEST_F(I2CTunnel, ReadBytesIssuesOneTransactionPerByteWrappingTheOffset) {
    box->headstage(0).headstage_eeprom[255] = 0x11;
    box->headstage(0).headstage_eeprom[0] = 0x22;
    uint8_t bytes[2] = {};
    i2c->read_bytes(0xA4, 255, bytes, 2);
    EXPECT_EQ(bytes[0], 0x11);
    EXPECT_EQ(bytes[1], 0x22);
    EXPECT_THAT(box->headstage(0).transactions,
                ElementsAre(I2C_Transaction{0xA4, 255, 0x11, false}, I2C_Transaction{0xA4, 0, 0x22, false}));
}

TEST_F(I2CTunnel, ReadStringStopsAtTheTerminatorOrTheLimitAndAlwaysTerminates) {
    char text[32];
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(i2c->read_string(0xA0, 40, text, 30), 14u);
    EXPECT_STREQ(text, "PRB_1_4_0480_1");
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(i2c->read_string(0xA0, 40, text, 5), 5u);
    EXPECT_STREQ(text, "PRB_1");
    EXPECT_EQ(text[6], 'x');
    EXPECT_EQ(i2c->read_string(0xA0, 40, text, 0), 0u);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(i2c->read_string(0xA0, 100, text, 10), 0u); // the field starts with a zero byte
    EXPECT_STREQ(text, "");
}

TEST_F(I2CTunnel, StatisticsAreLoggedInOrder) {
    uint8_t value = 0;
    i2c->probe_read(0x00, value);
    Stdout_Capture quiet;
    i2c->probe_write(0x00, 1, false);
    Log_Capture capture;
    i2c->print_statistics();
    EXPECT_EQ(capture.texts(), (std::vector<std::string>{"stat_read_transactions_total : 1",
                                                         "stat_read_transactions_with_error : 0",
                                                         "stat_write_transactions_total : 1",
                                                         "stat_write_transactions_with_error : 0"}));
}

TEST(I2CTunnelInSimulation, EveryTransactionIsAcknowledgedWithC3) {
    Stdout_Capture quiet;
    auto controller = A_MURA_Controller::get_instance(true);
    controller->open_driver_connection("MURA_Dext_Driver", true);
    I2C_Over_GSML_Module i2c(controller->modules().uart.get());
    Stderr_Capture err;
    uint8_t value = 0;
    i2c.probe_write(0x00, 0x40, false);
    EXPECT_EQ(i2c.serializer_read(0x1E, value), 0xC3);
    EXPECT_EQ(err.take(), "");
    EXPECT_EQ(i2c.stat_write_transactions_total, 1u);
    EXPECT_EQ(i2c.stat_read_transactions_total, 1u);
}

} // namespace
} // namespace Selvan::MURA

#include "Box_Fixture.h"
#include "C_NP_Probe_Config_Reader.h"
#include "Log_Capture.h"
#include "M_I2C_Over_GSML.h"
#include "M_NP_Probe_Control.h"

#include <gmock/gmock.h>

#include <stdexcept>

namespace Selvan::MURA {
namespace {

using box_model::I2C_Transaction;
using test_support::Log_Capture;
using test_support::Stderr_Capture;
using test_support::Stdout_Capture;
using ::testing::ElementsAre;
using namespace std::chrono_literals;

I2C_Transaction probe_write(uint8_t reg, uint8_t value) {
    return {0xE0, reg, value, true};
}
I2C_Transaction probe_read(uint8_t reg, uint8_t value) {
    return {0xE0, reg, value, false};
}

class ProbeControl : public test_support::Box_Fixture {
protected:
    void SetUp() override {
        auto& c = opened_controller();
        i2c = std::make_unique<I2C_Over_GSML_Module>(c.modules().uart.get());
        Stdout_Capture quiet;
        control = std::make_unique<NP_Probe_Control_Module>(i2c.get());
    }
    void TearDown() override {
        Stdout_Capture quiet;
        control.reset();
        Box_Fixture::TearDown();
    }
    box_model::Headstage_Model& headstage() { return box->headstage(0); }
    std::unique_ptr<I2C_Over_GSML_Module> i2c;
    std::unique_ptr<NP_Probe_Control_Module> control;
};

TEST_F(ProbeControl, StandardInitialisationSequence) {
    Stdout_Capture quiet;
    EXPECT_EQ(control->np_init(), 0);
    EXPECT_THAT(headstage().transactions_without_chain_bytes(),
                ElementsAre(probe_write(0x02, 0), probe_write(0x03, 0), probe_write(0x04, 0),
                            probe_write(0x05, 0), probe_write(0x06, 0), probe_write(0x07, 0),
                            probe_write(0x09, 0), probe_write(0x00, 0x40), probe_read(0x01, 0x00),
                            probe_write(0x01, 0x10), probe_write(0x01, 0x10), probe_write(0x01, 0xD0),
                            I2C_Transaction{0x80, 0x0E, 0x42, true},
                            I2C_Transaction{0x80, 0x0F, 0xFC, true}));
    // The images are set up but not uploaded.
    EXPECT_TRUE(headstage().chain_uploads(0x0E).empty());
    auto& config = control->config();
    EXPECT_EQ(config.get_channel_bank(0), 0);
    EXPECT_EQ(config.get_channel_bank(191), 255);
    EXPECT_EQ(config.get_channel_bank(383), 0);
    EXPECT_EQ(config.reference_count(REFERENCE_EXT), 384u);
    int ap = 0, lfp = 0;
    config.get_gain(5, ap, lfp);
    EXPECT_EQ(ap, 4);
    EXPECT_EQ(lfp, 0);
}

TEST_F(ProbeControl, InitialisationOfAPoweredProbeWritesRegisterOneOnce) {
    headstage().probe_registers[0x01] = 0x10;
    Stdout_Capture quiet;
    control->np_init();
    std::vector<I2C_Transaction> register_one_writes;
    for (const auto& t : headstage().transactions)
        if (t.device == 0xE0 && t.write && t.reg == 0x01)
            register_one_writes.push_back(t);
    EXPECT_THAT(register_one_writes, ElementsAre(probe_write(0x01, 0xD0)));
}

TEST_F(ProbeControl, FirstRegisterOneWriteMayGoUnacknowledged) {
    // A probe that refuses writes only counts the first, tolerated, refusal: the next write
    // of the same register is not tolerated and ends the initialisation.
    headstage().nack_devices = {0xE0};
    Stdout_Capture quiet;
    Stderr_Capture err;
    EXPECT_THROW(control->np_init(), std::runtime_error);
    EXPECT_EQ(i2c->stat_write_transactions_with_error, 0u);
}

TEST_F(ProbeControl, InitialisationAppliesTheDefaultAdcTable) {
    NP_Probe_Config_Reader reader;
    Stdout_Capture quiet;
    ASSERT_TRUE(reader.load_adc_calibration_data_from_file());
    Log_Capture capture(1);
    control->np_init();
    EXPECT_TRUE(capture.contains(1, "Using ADC config from file"));
    NP_Probe_Config_Module expected(nullptr);
    for (const auto& record : reader.records())
        expected.set_adc_calibration(record);
    // The ADC fields live in the top 336 bits of each base image.
    const auto& image = control->config().even_channel_image();
    EXPECT_TRUE(std::equal(image.begin() + 264, image.end(), expected.even_channel_image().begin() + 264));
    EXPECT_EQ(control->config().adc_offset_threshold(31), expected.adc_offset_threshold(31));
}

TEST_F(ProbeControl, AlternativeInitialisation) {
    control->np_qor_init();
    EXPECT_THAT(headstage().transactions,
                ElementsAre(probe_read(0x01, 0), probe_write(0x01, 0x30), probe_write(0x01, 0xD0)));
    EXPECT_EQ(pauses.pauses(), (std::vector<std::chrono::milliseconds>{1ms, 1ms, 1ms}));
}

TEST_F(ProbeControl, OperatingModes) {
    EXPECT_EQ(control->setOPMODE(0), 0);
    EXPECT_EQ(control->setOPMODE(1), 0);
    EXPECT_EQ(control->setOPMODE(2), 0);
    Stderr_Capture err;
    EXPECT_EQ(control->setOPMODE(3), -1);
    EXPECT_EQ(err.take(), "invalid param 1\n");
    EXPECT_THAT(headstage().transactions,
                ElementsAre(probe_write(0, 0x40), probe_write(0, 0x60), probe_write(0, 0x50)));
}

TEST_F(ProbeControl, CalibrationModeKeepsTheLowFiveBits) {
    headstage().probe_registers[0x02] = 0xF3;
    EXPECT_EQ(control->set_cal_mode(2), 0);
    EXPECT_EQ(headstage().probe_registers[0x02], 0x13);
    control->set_cal_mode(0);
    EXPECT_EQ(headstage().probe_registers[0x02], 0x93);
    control->set_cal_mode(1);
    EXPECT_EQ(headstage().probe_registers[0x02], 0x53);
    control->set_cal_mode(3);
    EXPECT_EQ(headstage().probe_registers[0x02], 0x33);
    const size_t before = headstage().transactions.size();
    Log_Capture capture;
    EXPECT_EQ(control->set_cal_mode(4), -1);
    EXPECT_TRUE(capture.contains(logging::Verbosity_ERROR, "invalid parameter mode: 4"));
    EXPECT_EQ(headstage().transactions.size(), before);
}

TEST_F(ProbeControl, TestSignalTogglesTheOscillatorBit) {
    headstage().probe_registers[0x02] = 0x81;
    control->setTestSignal(true);
    EXPECT_EQ(headstage().probe_registers[0x02], 0x91);
    control->setTestSignal(false);
    EXPECT_EQ(headstage().probe_registers[0x02], 0x81);
}

TEST_F(ProbeControl, SelfTestModes) {
    control->bist_PSB();
    EXPECT_THAT(headstage().transactions,
                ElementsAre(probe_write(0x01, 0xD0), probe_write(0x02, 0), probe_write(0x03, 0),
                            probe_write(0x04, 0), probe_write(0x05, 0), probe_write(0x06, 0),
                            probe_write(0x07, 0), probe_write(0x00, 0x50)));
    headstage().transactions.clear();
    control->bist_pixel();
    EXPECT_EQ(headstage().probe_registers[0x02], 0x90);
    EXPECT_EQ(headstage().probe_registers[0x00], 0x60);
    control->bist_channel();
    EXPECT_EQ(headstage().probe_registers[0x02], 0x50);
    control->bist_stop();
    EXPECT_EQ(headstage().probe_registers[0x02], 0x00);
    EXPECT_EQ(headstage().probe_registers[0x00], 0x40);
}

TEST_F(ProbeControl, PrbsTestSwitchesBothEndsAndReadsTheErrorCount) {
    headstage().set_prbs_error_count(7);
    Log_Capture capture(logging::Verbosity_INFO);
    control->start_prbs_test();
    EXPECT_EQ(headstage().serializer[0x04], 0xA3);
    EXPECT_EQ(headstage().deserializer[0x04], 0xA7);
    EXPECT_EQ(control->stop_pbrs_test(), 7u);
    EXPECT_EQ(headstage().serializer[0x04], 0x83);
    EXPECT_EQ(headstage().deserializer[0x04], 0x87);
    EXPECT_EQ(capture.texts(),
              (std::vector<std::string>{"switch on deserializer PRBS  ", "switch on serializer PRBS  ",
                                        "switch off serializer PRBS  ", "switch off deserializer PRBS  ",
                                        "deserializer PRBS error count:7"}));
}

TEST_F(ProbeControl, PrbsStartOnlyReportsAnUnexpectedLinkState) {
    headstage().serializer[0x04] = 0x12;
    headstage().deserializer[0x04] = 0xA7;
    Log_Capture capture;
    control->start_prbs_test();
    EXPECT_TRUE(capture.contains(logging::Verbosity_ERROR, "serializer[0x04]==12 expected 0x83"));
    EXPECT_TRUE(capture.contains(logging::Verbosity_ERROR, "deserializer[0x04]==A7 expected 0x87"));
    EXPECT_EQ(headstage().serializer[0x04], 0xA3);
}

TEST_F(ProbeControl, PrbsStopRaisesWhenAnEndOfTheLinkStaysInPrbsMode) {
    control->start_prbs_test();
    headstage().stuck_registers = {{0x90, 0x04}};
    Log_Capture capture;
    try {
        control->stop_pbrs_test();
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "stop_pbrs_test : Unexpected response 2");
    }
    EXPECT_TRUE(capture.contains(logging::Verbosity_ERROR, "deserializer[0x04]==A7 expected 0x87"));

    headstage().stuck_registers = {{0x80, 0x04}};
    headstage().serializer[0x04] = 0xA3;
    EXPECT_THROW(
        {
            try {
                control->stop_pbrs_test();
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), "stop_pbrs_test : Unexpected response 1");
                throw;
            }
        },
        std::runtime_error);
}

TEST(ProbeControlInSimulation, PrbsReportsMismatchesAndTheStopRaises) {
    Stdout_Capture quiet;
    auto controller = A_MURA_Controller::get_instance(true);
    controller->open_driver_connection("MURA_Dext_Driver", true);
    I2C_Over_GSML_Module i2c(controller->modules().uart.get());
    NP_Probe_Control_Module control(&i2c);
    Log_Capture capture;
    control.start_prbs_test();
    EXPECT_TRUE(capture.contains(logging::Verbosity_ERROR, "serializer[0x04]==C3 expected 0x83"));
    EXPECT_TRUE(capture.contains(logging::Verbosity_ERROR, "deserializer[0x04]==C3 expected 0x87"));
    try {
        control.stop_pbrs_test();
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "stop_pbrs_test : Unexpected response 1");
    }
}

} // namespace
} // namespace Selvan::MURA

#include "Bit_Helpers.h"
#include "Box_Fixture.h"
#include "C_L2_CH_Gain_Fix_Filter.h"
#include "Log_Capture.h"
#include "M_NP_Probe_Control.h"
#include "Scratch_Directory.h"

#include <gmock/gmock.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace Selvan::MURA {
namespace {

using box_model::I2C_Transaction;
using test_support::Log_Capture;
using test_support::Scratch_Directory;
using test_support::Stderr_Capture;
using test_support::Stdout_Capture;
using ::testing::ElementsAre;

I2C_Transaction probe_write(uint8_t reg, uint8_t value) {
    return {0xE0, reg, value, true};
}
I2C_Transaction probe_read(uint8_t reg, uint8_t value) {
    return {0xE0, reg, value, false};
}
const I2C_Transaction serializer_gpio_config{0x80, 0x0E, 0x42, true};
const I2C_Transaction serializer_gpio_on{0x80, 0x0F, 0xFC, true};

class ProbeBringUp : public test_support::Box_Fixture {
protected:
    void SetUp() override { opened_library(); }
    uint32_t uart_channel() const { return (box->control_word() >> 4) & 3; }
};

// --- step 1: the link ---

TEST_F(ProbeBringUp, MatchingLinkIdentitiesPassStepOne) {
    Log_Capture capture;
    EXPECT_TRUE(library->probe_init_part_1(2));
    EXPECT_EQ(uart_channel(), 2u);
    EXPECT_THAT(box->headstage(2).transactions,
                ElementsAre(I2C_Transaction{0x90, 0x1E, 10, false}, I2C_Transaction{0x80, 0x1E, 9, false},
                            I2C_Transaction{0x80, 0x04, 0x83, true}));
    EXPECT_TRUE(capture.contains(1, "Deserializer device id : 10"));
    EXPECT_TRUE(capture.contains(1, "Serializer device id : 9"));
    EXPECT_TRUE(capture.contains("MURA_Controller_Library::probe_init_part_1() np_port_id : 2"));
}

TEST_F(ProbeBringUp, WrongSerializerFailsWithoutRaisingTheErrorLevel) {
    box->headstage(0).set_device_ids(11, 10);
    Log_Capture capture;
    EXPECT_FALSE(library->probe_init_part_1(0));
    EXPECT_TRUE(capture.contains(logging::Verbosity_ERROR, "Serializer device id does not match. Read : 11"));
    EXPECT_EQ(library->get_current_error_level(), 0u);
}

TEST_F(ProbeBringUp, WrongDeserializerFailsBeforeTheSerializerIsAsked) {
    box->headstage(1).set_device_ids(9, 3);
    Log_Capture capture;
    EXPECT_FALSE(library->probe_init_part_1(1));
    EXPECT_TRUE(
        capture.contains(logging::Verbosity_ERROR, "Deserializer device id does not match. Read : 3"));
    EXPECT_EQ(box->headstage(1).transactions.size(), 1u);
}

TEST_F(ProbeBringUp, SilentHeadstageTimesOutAndSetsErrorLevelOne) {
    box->headstage(3).present = false;
    Log_Capture capture;
    EXPECT_FALSE(library->probe_init_part_1(3));
    EXPECT_TRUE(
        capture.contains(logging::Verbosity_ERROR,
                         "Exception caught while probe probe_init_part_1 : UART_Module recv timeout"));
    EXPECT_EQ(library->get_current_error_level(), 1u);
}

TEST_F(ProbeBringUp, RefusedAcknowledgeIsCaughtLikeATimeout) {
    box->headstage(0).nack_devices = {0x80};
    Log_Capture capture;
    Stderr_Capture err;
    EXPECT_FALSE(library->probe_init_part_1(0));
    EXPECT_TRUE(capture.contains(logging::Verbosity_ERROR,
                                 "Exception caught while probe probe_init_part_1 : qbsc_readI2C error"));
    EXPECT_EQ(library->get_current_error_level(), 1u);
}

TEST_F(ProbeBringUp, PortOutsideTheBoxIsRefusedByBothSteps) {
    Stdout_Capture out;
    EXPECT_FALSE(library->probe_init_part_1(4));
    EXPECT_FALSE(library->probe_init_part_2(4, INIT_STANDARD));
    EXPECT_EQ(out.take(), "MURA_Controller_Library::init invalid port id parameter\n"
                          "MURA_Controller_Library::init invalid port id parameter\n");
}

// --- step 2: the initialisation sequences ---

std::vector<I2C_Transaction> np_init_sequence(uint8_t register_one) {
    std::vector<I2C_Transaction> sequence;
    for (uint8_t reg : {0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x09})
        sequence.push_back(probe_write(reg, 0));
    sequence.push_back(probe_write(0x00, 0x40));
    sequence.push_back(probe_read(0x01, register_one));
    sequence.push_back(probe_write(0x01, 0x10));
    sequence.push_back(probe_write(0x01, 0x10));
    sequence.push_back(probe_write(0x01, 0xD0));
    sequence.push_back(serializer_gpio_config);
    sequence.push_back(serializer_gpio_on);
    return sequence;
}

std::vector<I2C_Transaction> concat(std::vector<I2C_Transaction> a, const std::vector<I2C_Transaction>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<I2C_Transaction> expected_sequence(int config) {
    const std::vector<I2C_Transaction> gpio = {serializer_gpio_config, serializer_gpio_on};
    switch (config) {
    case INIT_QOR:
        return {probe_read(0x01, 0), probe_write(0x01, 0x30), probe_write(0x01, 0xD0), serializer_gpio_config,
                serializer_gpio_on};
    case INIT_BIST_PSB:
        return concat(
            concat(np_init_sequence(0), {probe_write(0x01, 0xD0), probe_write(0x02, 0), probe_write(0x03, 0),
                                         probe_write(0x04, 0), probe_write(0x05, 0), probe_write(0x06, 0),
                                         probe_write(0x07, 0), probe_write(0x00, 0x50)}),
            gpio);
    case INIT_BIST_CHANNEL:
        return concat(
            concat(np_init_sequence(0), {probe_read(0x02, 0), probe_write(0x02, 0x10), probe_read(0x02, 0x10),
                                         probe_write(0x02, 0x50), probe_write(0x00, 0x60)}),
            gpio);
    case INIT_BIST_PIXEL:
        return concat(
            concat(np_init_sequence(0), {probe_read(0x02, 0), probe_write(0x02, 0x10), probe_read(0x02, 0x10),
                                         probe_write(0x02, 0x90), probe_write(0x00, 0x60)}),
            gpio);
    default:
        return concat(np_init_sequence(0), gpio);
    }
}

TEST_F(ProbeBringUp, EachInitConfigurationRunsExactlyItsSequence) {
    for (int config : {0, 1, 2, 3, 4, 7}) {
        auto fresh_box = std::make_shared<box_model::MURA_Box_Model>();
        box = fresh_box;
        opened_library();
        Stdout_Capture quiet;
        ASSERT_TRUE(library->probe_init_part_2(1, static_cast<E_MURA_Init_Config>(config))) << config;
        EXPECT_EQ(box->headstage(1).transactions_without_chain_bytes(), expected_sequence(config))
            << "init config " << config;
        EXPECT_EQ((box->control_word() >> 4) & 3, 1u);
    }
}

TEST_F(ProbeBringUp, FailingInitialisationSetsErrorLevelOne) {
    box->headstage(0).present = false;
    Log_Capture capture;
    Stdout_Capture quiet;
    EXPECT_FALSE(library->probe_init_part_2(0, INIT_STANDARD));
    EXPECT_TRUE(capture.contains(logging::Verbosity_ERROR,
                                 "Exception caught while np_control_init : UART_Module recv timeout"));
    EXPECT_TRUE(capture.contains(logging::Verbosity_ERROR, "probe_init_part_2 failed"));
    EXPECT_EQ(library->get_current_error_level(), 1u);
}

TEST_F(ProbeBringUp, StandardInitialisationTellsTheGainFilterItsSettings) {
    auto filter = library->get_gain_filter(0);
    filter->select_bank(7, 1);
    filter->set_channel_gains(7, 0, 5);
    Stdout_Capture quiet;
    ASSERT_TRUE(library->probe_init_part_2(0, INIT_STANDARD));
    EXPECT_EQ(filter->electrode_of_channel(7), 7);
    int ap = -1, lfp = -1;
    ASSERT_TRUE(library->getGain(0, 7, &ap, &lfp));
    EXPECT_EQ(ap, 4);
    EXPECT_EQ(lfp, 0);
}

// --- configuration upload and pass-through ---

TEST_F(ProbeBringUp, UploadWithReadBackPutsTheImagesIntoTheirChainsTwice) {
    Stdout_Capture quiet;
    ASSERT_TRUE(library->probe_init_part_2(2, INIT_STANDARD));
    ASSERT_TRUE(library->selectElectrode(2, 10, 0, 1));
    ASSERT_TRUE(library->setGain(2, 10, 2, 6));
    ASSERT_TRUE(library->writeProbeConfiguration(2, true));
    const auto& headstage = box->headstage(2);
    const auto& config = library->probe_control(2).config();
    const auto reversed = [](const auto& image) { return test_support::bit_reversed(image); };
    ASSERT_EQ(headstage.chain_uploads(0x0E).size(), 1u);
    ASSERT_EQ(headstage.chain_uploads(0x0D).size(), 2u);
    ASSERT_EQ(headstage.chain_uploads(0x0C).size(), 2u);
    EXPECT_EQ(headstage.chain_uploads(0x0E)[0], reversed(config.shank_image()));
    for (int pass = 0; pass < 2; ++pass) {
        EXPECT_EQ(headstage.chain_uploads(0x0D)[pass], reversed(config.even_channel_image()));
        EXPECT_EQ(headstage.chain_uploads(0x0C)[pass], reversed(config.odd_channel_image()));
    }
    // The external reference is switched in: every channel uses it after the initialisation.
    EXPECT_TRUE(config.shank_image()[965 / 8] & (1 << (965 % 8)));
    EXPECT_TRUE(config.shank_image()[0] & (1 << 2));
}

TEST_F(ProbeBringUp, UploadFailureIsLoggedAndLeavesTheErrorLevel) {
    box->headstage(0).upload_status_fails = true;
    Log_Capture capture;
    Stdout_Capture quiet;
    EXPECT_FALSE(library->writeProbeConfiguration(0, true));
    EXPECT_TRUE(
        capture.contains(logging::Verbosity_ERROR,
                         "Exception caught during probe configuration load : SR upload status not ok"));
    EXPECT_EQ(library->get_current_error_level(), 0u);
    EXPECT_FALSE(library->writeProbeConfiguration(4, false));
    EXPECT_TRUE(capture.contains(logging::Verbosity_ERROR, "Invalid argument at writeProbeConfiguration"));
}

TEST_F(ProbeBringUp, ElectrodeSelectionKeepsTheGainFilterInStep) {
    auto filter = library->get_gain_filter(1);
    ASSERT_TRUE(library->selectElectrode(1, 5, 0, 1));
    EXPECT_EQ(filter->electrode_of_channel(5), 389);
    // A refused selection and a disconnect leave the filter's map as it was.
    EXPECT_FALSE(library->selectElectrode(1, 200, 0, 2));
    EXPECT_FALSE(library->selectElectrode(1, -5, 0, 0));
    EXPECT_TRUE(library->selectElectrode(1, 5, 0, 255));
    EXPECT_EQ(filter->electrode_of_channel(5), 389);
    EXPECT_EQ(library->probe_control(1).config().get_channel_bank(5), 255);
}

TEST_F(ProbeBringUp, GainsReachTheFilterOnlyWhenTheProbeAcceptsThem) {
    ASSERT_TRUE(library->setGain(0, 3, 6, 2));
    int ap = 0, lfp = 0;
    ASSERT_TRUE(library->getGain(0, 3, &ap, &lfp));
    EXPECT_EQ(ap, 6);
    EXPECT_EQ(lfp, 2);
    EXPECT_FALSE(library->setGain(0, 3, 8, 2));
    EXPECT_FALSE(library->setGain(0, 3, -1, 2));
    EXPECT_FALSE(library->getGain(0, 400, &ap, &lfp));
    ASSERT_TRUE(library->getGain(0, 3, &ap, &lfp));
    EXPECT_EQ(ap, 6);
}

TEST_F(ProbeBringUp, ReferenceAndCornerFrequencyPassThrough) {
    EXPECT_TRUE(library->setReference(0, 4, 0, TIP_REF, 0));
    EXPECT_EQ(library->probe_control(0).config().reference_count(REFERENCE_TIP), 1u);
    EXPECT_FALSE(library->setReference(0, 4, 0, static_cast<channelreference_t>(-1), 0));
    EXPECT_FALSE(library->setReference(0, 4, 0, EXT_REF, 3));
    EXPECT_TRUE(library->setAPCornerFrequency(0, 4, true));
    EXPECT_EQ(library->probe_control(0).config().even_channel_image()[72 + 2] & 0x80, 0x80);
    EXPECT_FALSE(library->setAPCornerFrequency(0, 384, true));
}

TEST_F(ProbeBringUp, PassThroughOnAPortOutsideTheBoxThrowsOutOfRange) {
    try {
        library->setGain(4, 0, 0, 0);
        FAIL();
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "invalid array<T, N> subscript");
    }
    EXPECT_THROW(library->setGainCalibration(7, "x"), std::out_of_range);
}

TEST_F(ProbeBringUp, ClearingAllAssignmentsReportsTheReferenceChannel) {
    library->selectElectrode(0, 5, 0, 0);
    Stdout_Capture out;
    EXPECT_TRUE(library->clear_all_electrode_to_bank_assignments(0));
    EXPECT_EQ(out.take(),
              "Clearing all channel to pixel assignments.\nClearing not possible for channel : 191\n");
    EXPECT_EQ(library->probe_control(0).config().get_channel_bank(5), 255);
}

TEST_F(ProbeBringUp, AdcCalibrationFromAFile) {
    Scratch_Directory scratch;
    std::ostringstream table;
    table << "header\n";
    for (int adc = 0; adc < 32; ++adc)
        table << adc << ",31,0,7,3,3,15,1,2\n";
    const auto good = scratch.write("good.csv", table.str());
    Log_Capture capture;
    Stdout_Capture quiet;
    ASSERT_TRUE(library->setADCCalibration(3, good.c_str()));
    EXPECT_TRUE(capture.contains("ADC Calibration loaded"));
    // ADC 0: CompP 31 at bits 2406..2410 of the even-channel image.
    const auto& image = library->probe_control(3).config().even_channel_image();
    EXPECT_EQ(image[2406 / 8] >> (2406 % 8), 0x03);

    Stderr_Capture err;
    EXPECT_FALSE(library->setADCCalibration(3, scratch.file("missing.csv").c_str()));
    EXPECT_TRUE(capture.contains(logging::Verbosity_WARNING, "ADC Calibration load error"));
    const auto bad = scratch.write("bad.csv", "header\n0,32,0,0,0,0,0,0,0\n" + table.str().substr(7));
    EXPECT_FALSE(library->setADCCalibration(3, bad.c_str()));
}

TEST_F(ProbeBringUp, CalibrationCallsWithoutAFileNameAreRefusedWithAnError) {
    Log_Capture capture;
    EXPECT_FALSE(library->setADCCalibration(3, nullptr));
    EXPECT_FALSE(library->setGainCalibration(2, nullptr));
    EXPECT_TRUE(capture.contains(logging::Verbosity_ERROR, "setADCCalibration : no file name"));
    EXPECT_TRUE(capture.contains(logging::Verbosity_ERROR, "setGainCalibration : no file name"));
    EXPECT_FALSE(library->get_gain_filter(2)->is_gain_data_loaded());
}

TEST_F(ProbeBringUp, GainCalibrationLoadsIntoThePortsFilter) {
    Scratch_Directory scratch;
    std::ostringstream file;
    file << "gains\n";
    for (int e = 0; e < 960; ++e) {
        file << e;
        for (int k = 0; k < 16; ++k)
            file << ",1.25";
        file << '\n';
    }
    const auto path = scratch.write("gain.csv", file.str());
    Stdout_Capture quiet;
    EXPECT_TRUE(library->setGainCalibration(2, path.c_str()));
    EXPECT_TRUE(library->get_gain_filter(2)->is_gain_data_loaded());
    EXPECT_FALSE(library->get_gain_filter(1)->is_gain_data_loaded());
}

// --- identification ---

TEST_F(ProbeBringUp, HeadstagePartNumberOfBothEepromLayouts) {
    box->headstage(0).set_headstage_eeprom(0x0205, "NP2_HS_30_R02");
    box->headstage(1).set_headstage_eeprom(0x0305, "HS_LONG_PART_NUMBER_OF_40_CHARACTERS");
    char text[64];
    Log_Capture capture;
    ASSERT_TRUE(library->readHSPN(0, text, sizeof text));
    EXPECT_STREQ(text, "NP2_HS_30_R02");
    EXPECT_TRUE(capture.contains("Reading version 5.2 HS part number"));
    ASSERT_TRUE(library->readHSPN(1, text, sizeof text));
    EXPECT_STREQ(text, "HS_LONG_PART_NUMBER_"); // at most 20 characters
    EXPECT_TRUE(capture.contains("Reading version 5.3 HS part number"));
    EXPECT_TRUE(capture.contains(1, "20 characters read from EEPROM"));
}

TEST_F(ProbeBringUp, TextReadsNeverWritePastTheCallersLength) {
    char text[8];
    std::memset(text, '#', sizeof text);
    ASSERT_TRUE(library->readHSPN(0, text, 5));
    EXPECT_STREQ(text, "NP2_");
    EXPECT_EQ(text[5], '#');
    std::memset(text, '#', sizeof text);
    ASSERT_TRUE(library->readProbePN(0, text, 6));
    EXPECT_STREQ(text, "PRB_1");
    EXPECT_EQ(text[6], '#');
    Log_Capture capture;
    EXPECT_FALSE(library->readProbePN(0, text, 0));
    EXPECT_EQ(text[0], 'P');
}

TEST_F(ProbeBringUp, UnknownHeadstageEepromVersionGivesAnEmptyText) {
    box->headstage(0).headstage_eeprom[0] = 0xFF;
    box->headstage(0).headstage_eeprom[1] = 0xFF;
    char text[16] = "stale";
    Log_Capture capture;
    ASSERT_TRUE(library->readHSPN(0, text, sizeof text));
    EXPECT_STREQ(text, "");
    EXPECT_TRUE(capture.contains(logging::Verbosity_WARNING, "Unindentifed HS EEPROM version : ffff"));
    EXPECT_TRUE(capture.contains(1, "0 characters read from EEPROM"));
}

TEST_F(ProbeBringUp, ProbeSerialAndPartNumbers) {
    box->headstage(3).set_probe_eeprom(0x0123456789ABCDEFull, "PRB_1_2_0480_2");
    uint64_t serial = 0;
    ASSERT_TRUE(library->readProbeSN(3, &serial));
    EXPECT_EQ(serial, 0x0123456789ABCDEFull);
    char text[64];
    ASSERT_TRUE(library->readProbePN(3, text, sizeof text));
    EXPECT_STREQ(text, "PRB_1_2_0480_2");
    EXPECT_EQ((box->control_word() >> 4) & 3, 3u);
}

TEST_F(ProbeBringUp, UnreadableEepromsFailWithTheirMessages) {
    box->headstage(0).nack_devices = {0xA0, 0xA4};
    Log_Capture capture;
    Stderr_Capture err;
    char text[32];
    uint64_t serial = 0;
    EXPECT_FALSE(library->readHSPN(0, text, sizeof text));
    EXPECT_FALSE(library->readProbePN(0, text, sizeof text));
    EXPECT_FALSE(library->readProbeSN(0, &serial));
    EXPECT_TRUE(
        capture.contains(logging::Verbosity_ERROR, "Exception caught during readHSPN : qbsc_readI2C error"));
    EXPECT_TRUE(capture.contains(logging::Verbosity_ERROR,
                                 "Exception caught during readProbePN : qbsc_readI2C error"));
    EXPECT_TRUE(capture.contains(logging::Verbosity_ERROR,
                                 "Exception caught during readProbeSN : qbsc_readI2C error"));
}

TEST_F(ProbeBringUp, EepromDumpWritesTheRawBytes) {
    Scratch_Directory scratch;
    const auto path = scratch.file("hs.bin");
    Log_Capture capture;
    ASSERT_TRUE(library->dump_hs_eeprom(1, path.c_str(), 32));
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    ASSERT_EQ(bytes.size(), 32u);
    EXPECT_EQ(std::memcmp(bytes.data(), box->headstage(1).headstage_eeprom.data(), 32), 0);
    EXPECT_TRUE(capture.contains("Reading 32 bytes from eeprom at adres : a4 to file " + path));
    ASSERT_TRUE(library->dump_flex_eeprom(1, path.c_str(), 8));
    EXPECT_EQ(std::filesystem::file_size(path), 8u);
}

TEST_F(ProbeBringUp, EepromDumpToAnUnwritableFileFails) {
    Scratch_Directory scratch;
    const auto path = scratch.file("missing-dir/x.bin");
    Log_Capture capture;
    EXPECT_FALSE(library->dump_hs_eeprom(0, path.c_str(), 4));
    EXPECT_TRUE(capture.contains(logging::Verbosity_ERROR, "Cannot open EEPROM dump file " + path));
}

TEST_F(ProbeBringUp, HostThreadsOnDifferentPortsDoNotInterleaveOnTheTunnel) {
    box->headstage(0).set_probe_eeprom(1111, "A");
    box->headstage(1).set_probe_eeprom(2222, "B");
    std::atomic<int> wrong{0};
    auto reader = [&](uint32_t port, uint64_t expected) {
        for (int i = 0; i < 40; ++i) {
            uint64_t serial = 0;
            if (!library->readProbeSN(port, &serial) || serial != expected)
                ++wrong;
        }
    };
    std::thread first(reader, 0, 1111);
    std::thread second(reader, 1, 2222);
    first.join();
    second.join();
    EXPECT_EQ(wrong.load(), 0);
}

// --- simulation answers ---

using ProbeBringUpInSimulation = test_support::Simulated_Library_Fixture;

TEST_F(ProbeBringUpInSimulation, IdentificationAnswersAreFixed) {
    char text[32];
    uint64_t serial = 0;
    ASSERT_TRUE(library->readHSPN(2, text, sizeof text));
    EXPECT_STREQ(text, "NP2_HS_30");
    ASSERT_TRUE(library->readProbePN(3, text, sizeof text));
    EXPECT_STREQ(text, "PRB_1_4_0480_1");
    ASSERT_TRUE(library->readProbeSN(1, &serial));
    EXPECT_EQ(serial, 22175715561u);
    std::memset(text, '#', sizeof text);
    ASSERT_TRUE(library->readHSPN(0, text, 4));
    EXPECT_STREQ(text, "NP2");
    EXPECT_EQ(text[4], '#');
}

TEST_F(ProbeBringUpInSimulation, StepOneIsSkippedAndStepTwoRunsAgainstTheScript) {
    Stdout_Capture out;
    EXPECT_TRUE(library->probe_init_part_1(0));
    EXPECT_EQ(out.take(), "skipping init for simulation mode\n");
    Stdout_Capture quiet;
    EXPECT_TRUE(library->probe_init_part_2(0, INIT_STANDARD));
    EXPECT_TRUE(library->writeProbeConfiguration(0, false));
    EXPECT_NE(
        quiet.take().find("emulating 2 second init (MURA_Controller_Library::writeProbeConfiguration)\n"),
        std::string::npos);
}

} // namespace
} // namespace Selvan::MURA

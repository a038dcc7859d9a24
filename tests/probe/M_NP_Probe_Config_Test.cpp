#include "Bit_Helpers.h"
#include "Box_Fixture.h"
#include "L2_MURA_Configurator.h"
#include "Log_Capture.h"
#include "M_I2C_Over_GSML.h"
#include "M_NP_Probe_Config.h"

#include <gtest/gtest.h>

#include <span>
#include <stdexcept>

namespace Selvan::MURA {
namespace {

using test_support::bit_reversed;
using test_support::Log_Capture;
using test_support::Stdout_Capture;

bool bit(const auto& image, uint32_t index) {
    return (image[index / 8] >> (index % 8)) & 1;
}

template <class Image>
std::vector<uint32_t> set_bits(const Image& image) {
    std::vector<uint32_t> bits;
    for (uint32_t i = 0; i < image.size() * 8; ++i) {
        if (bit(image, i))
            bits.push_back(i);
    }
    return bits;
}

class ProbeConfiguration : public ::testing::Test {
protected:
    ProbeConfiguration() {
        Stdout_Capture quiet;
        config = std::make_unique<NP_Probe_Config_Module>(nullptr);
    }
    ~ProbeConfiguration() override {
        Stdout_Capture quiet;
        config.reset();
    }
    std::unique_ptr<NP_Probe_Config_Module> config;
    Log_Capture log{logging::Verbosity_INFO};
};

TEST(ProbeConfigurationLifetime, AnnouncesConstructionAndDestruction) {
    Stdout_Capture out;
    { NP_Probe_Config_Module config(nullptr); }
    EXPECT_EQ(out.take(), "NP_Probe_Config_Module ctor\nNP_Probe_Config_Module dtor\n");
}

// --- electrode selection ---

TEST_F(ProbeConfiguration, ReferenceChannelCannotBeSelectedInAnyBank) {
    for (int bank : {0, 1, 2, 255})
        EXPECT_EQ(config->select_electrode(191, bank), -1);
    EXPECT_EQ(log.count("invalid channel: 191. selection of reference electrode 191/575/959 not allowed"),
              4u);
    EXPECT_TRUE(set_bits(config->shank_image()).empty());
}

TEST_F(ProbeConfiguration, ChannelOutsideTheProbeIsRefused) {
    EXPECT_EQ(config->select_electrode(384, 0), -1);
    EXPECT_EQ(config->select_electrode(-1, 0), -1);
    EXPECT_EQ(log.texts(), (std::vector<std::string>{"invalid channel: 384. index out of bound.",
                                                     "invalid channel: -1. index out of bound."}));
}

TEST_F(ProbeConfiguration, BankTwoOnlyExistsForTheLowerChannels) {
    EXPECT_EQ(config->select_electrode(200, 2), -1);
    EXPECT_TRUE(log.contains(
        logging::Verbosity_ERROR,
        "invalid electrode bank: 2 for channel 200. Only bank0/1 are valid in channel range 192..383."));
    EXPECT_EQ(config->select_electrode(100, 2), 0);
    EXPECT_EQ(set_bits(config->shank_image()), std::vector<uint32_t>{919});
    EXPECT_EQ(config->get_channel_bank(100), 2);
}

TEST_F(ProbeConfiguration, UnknownBanksAreRefused) {
    EXPECT_EQ(config->select_electrode(10, 3), -1);
    EXPECT_EQ(config->select_electrode(10, -1), -1);
    EXPECT_EQ(log.texts(),
              (std::vector<std::string>{"invalid electrode bank: 3", "invalid electrode bank: -1"}));
}

TEST_F(ProbeConfiguration, ElectrodeBitPositionsOnTheShank) {
    config->select_electrode(383, 0); // electrode 383, odd
    config->select_electrode(0, 0);   // electrode 0, even
    config->select_electrode(1, 0);   // electrode 1, odd
    config->select_electrode(190, 2); // electrode 958, even
    EXPECT_EQ(set_bits(config->shank_image()), (std::vector<uint32_t>{291, 482, 485, 964}));
}

TEST_F(ProbeConfiguration, SelectingABankMovesTheChannel) {
    config->select_electrode(5, 0);
    config->select_electrode(5, 1); // electrode 389
    EXPECT_EQ(set_bits(config->shank_image()), std::vector<uint32_t>{482 - 194});
    int electrode = 0;
    EXPECT_TRUE(config->get_channel_electrode(5, electrode));
    EXPECT_EQ(electrode, 389);
}

TEST_F(ProbeConfiguration, DisconnectClearsEveryBankOfTheChannelAndNothingElse) {
    for (int channel : {100, 101, 382, 383})
        config->select_electrode(channel, 1);
    config->select_electrode(190, 2);
    const auto before = set_bits(config->shank_image());
    EXPECT_EQ(config->select_electrode(383, 255), 0);
    EXPECT_EQ(config->get_channel_bank(383), 255);
    auto expected = before;
    std::erase(expected, 482 - (767 - 1) / 2);
    EXPECT_EQ(set_bits(config->shank_image()), expected);
    int electrode = -7;
    EXPECT_FALSE(config->get_channel_electrode(383, electrode));
    EXPECT_EQ(electrode, -7);
}

TEST_F(ProbeConfiguration, ChannelMappingIsPrinted) {
    config->select_electrode(0, 1);
    Stdout_Capture out;
    config->print_channel_mapping();
    const std::string printed = out.take();
    EXPECT_EQ(printed.rfind("Channel 0 pixel mapping 384\nChannel 1 not assigned\n", 0), 0u);
}

// --- gains, references, flags ---

TEST_F(ProbeConfiguration, GainFieldsShareTheChannelByteWithTheFlags) {
    config->set_ap_highpass_flag(10, true);
    config->set_channel_flag6(10, true);
    EXPECT_EQ(config->set_gain(10, 7, 3), 0);
    EXPECT_EQ(config->even_channel_image()[72 + 5], 0xDF);
    config->set_ap_highpass_flag(10, false);
    config->set_channel_flag6(10, false);
    EXPECT_EQ(config->even_channel_image()[72 + 5], 0x1F);
    int ap = 0, lfp = 0;
    EXPECT_EQ(config->get_gain(10, ap, lfp), 0);
    EXPECT_EQ(ap, 7);
    EXPECT_EQ(lfp, 3);
    config->set_gain(11, 1, 2);
    EXPECT_EQ(config->odd_channel_image()[72 + 5], 0x11);
}

TEST_F(ProbeConfiguration, GainArgumentsAreCheckedInOrder) {
    EXPECT_EQ(config->set_gain(384, 9, 9), -1);
    EXPECT_EQ(config->set_gain(3, 8, 9), -1);
    EXPECT_EQ(config->set_gain(3, 1, 8), -1);
    EXPECT_EQ(config->set_gain(3, -1, 0), -1);
    EXPECT_EQ(config->set_gain(3, 0, -2), -1);
    EXPECT_EQ(config->set_gain(-5, 0, 0), -1);
    EXPECT_EQ(log.texts(), (std::vector<std::string>{"invalid channel: 384", "invalid AP gain: 8",
                                                     "invalid LFP gain: 8", "invalid AP gain: -1",
                                                     "invalid LFP gain: -2", "invalid channel: -5"}));
    int ap = 0, lfp = 0;
    EXPECT_EQ(config->get_gain(384, ap, lfp), -1);
    EXPECT_EQ(config->get_gain(-1, ap, lfp), -1);
    EXPECT_EQ(log.texts().size(), 6u); // get_gain refuses silently
}

TEST_F(ProbeConfiguration, ReferenceBitsRunInReverseChannelOrderAndAreCounted) {
    EXPECT_EQ(config->set_reference(5, REFERENCE_TIP, 0), 0);
    EXPECT_EQ(set_bits(config->odd_channel_image()), std::vector<uint32_t>{3 * (191 - 2) + 1});
    EXPECT_EQ(config->reference_count(REFERENCE_TIP), 1u);
    EXPECT_EQ(config->set_reference(5, REFERENCE_EXT, 0), 0);
    EXPECT_EQ(set_bits(config->odd_channel_image()), std::vector<uint32_t>{3 * (191 - 2)});
    EXPECT_EQ(config->reference_count(REFERENCE_TIP), 0u);
    EXPECT_EQ(config->reference_count(REFERENCE_EXT), 1u);
    config->set_reference(0, REFERENCE_INT, 1);
    EXPECT_EQ(set_bits(config->even_channel_image()), std::vector<uint32_t>{575});
    EXPECT_EQ(config->reference_count(REFERENCE_INT), 1u);
    EXPECT_EQ(config->internal_reference_bank(), 1);
}

TEST_F(ProbeConfiguration, InvalidInternalBankChangesNothing) {
    EXPECT_EQ(config->set_reference(5, REFERENCE_TIP, 3), -1);
    EXPECT_EQ(config->set_reference(5, REFERENCE_TIP, -1), -1);
    EXPECT_EQ(log.texts(), (std::vector<std::string>{"invalid channel internal reference: 3",
                                                     "invalid channel internal reference: -1"}));
    EXPECT_EQ(config->reference_count(REFERENCE_TIP), 0u);
    EXPECT_EQ(config->internal_reference_bank(), 0);
}

TEST_F(ProbeConfiguration, InvalidChannelOrReferenceStillStoresTheInternalBank) {
    EXPECT_EQ(config->set_reference(400, REFERENCE_EXT, 2), -1);
    EXPECT_EQ(config->internal_reference_bank(), 2);
    EXPECT_EQ(config->set_reference(4, 3, 1), -1);
    EXPECT_EQ(config->set_reference(4, -1, 1), -1);
    EXPECT_EQ(config->internal_reference_bank(), 1);
    EXPECT_EQ(log.texts(), (std::vector<std::string>{"invalid channel: 400", "invalid channel reference: 3",
                                                     "invalid channel reference: -1"}));
    EXPECT_TRUE(set_bits(config->even_channel_image()).empty());
}

TEST_F(ProbeConfiguration, FlagsOfAnInvalidChannelAreRefused) {
    EXPECT_EQ(config->set_ap_highpass_flag(384, true), -1);
    EXPECT_EQ(config->set_channel_flag6(-1, true), -1);
    EXPECT_EQ(log.texts(), (std::vector<std::string>{"invalid channel: 384", "invalid channel: -1"}));
}

TEST_F(ProbeConfiguration, InitialChannelStateKeepsCountersAndGainsInStep) {
    config->set_reference(7, REFERENCE_TIP, 0);
    config->initialise_channels();
    EXPECT_EQ(config->reference_count(REFERENCE_EXT), 384u);
    EXPECT_EQ(config->reference_count(REFERENCE_TIP), 0u);
    int ap = 0, lfp = 0;
    config->get_gain(200, ap, lfp);
    EXPECT_EQ(ap, 4);
    EXPECT_EQ(lfp, 0);
    EXPECT_EQ(config->even_channel_image()[72], 0x04);
    EXPECT_TRUE(bit(config->even_channel_image(), 3 * 191)); // channel 0 on EXT
}

// --- ADC calibration fields ---

std::vector<uint32_t> field_bits(uint32_t first, uint32_t width, uint32_t value) {
    std::vector<uint32_t> bits;
    for (uint32_t i = 0; i < width; ++i) {
        if ((value >> i) & 1)
            bits.push_back(first + i);
    }
    return bits;
}

TEST_F(ProbeConfiguration, AdcFieldsLandAtTheirPositions) {
    struct Case {
        uint32_t adc, a, b;
    };
    for (const Case& c :
         {Case{0, 2406, 2426}, Case{1, 2406, 2426}, Case{2, 2416, 2437}, Case{3, 2416, 2437},
          Case{28, 2112, 2132}, Case{29, 2112, 2132}, Case{30, 2122, 2143}, Case{31, 2122, 2143}}) {
        NP_Probe_Config_Module fresh(nullptr);
        // Distinct values so that every field is identified by its bits.
        ASSERT_EQ(fresh.set_adc_calibration({c.adc, 0x11, 0x0A, 0x5, 0x2, 0x1, 0x9, 77, 88}), 0);
        std::vector<uint32_t> expected;
        for (auto part :
             {field_bits(c.a, 5, 0x11), field_bits(c.a + 5, 5, 0x0A), field_bits(c.b, 3, 0x5),
              field_bits(c.b + 3, 2, 0x1), field_bits(c.b + 5, 2, 0x2), field_bits(c.b + 7, 4, 0x9)})
            expected.insert(expected.end(), part.begin(), part.end());
        std::sort(expected.begin(), expected.end());
        const auto& image = c.adc % 2 ? fresh.odd_channel_image() : fresh.even_channel_image();
        const auto& other = c.adc % 2 ? fresh.even_channel_image() : fresh.odd_channel_image();
        EXPECT_EQ(set_bits(image), expected) << "ADC " << c.adc;
        EXPECT_TRUE(set_bits(other).empty());
        EXPECT_EQ(fresh.adc_offset_threshold(static_cast<int>(c.adc)), (std::array<uint32_t, 2>{77, 88}));
    }
}

TEST_F(ProbeConfiguration, AdcValuesOutOfRangeAreRefusedInOrder) {
    EXPECT_EQ(config->set_adc_calibration({32, 0, 0, 0, 0, 0, 0, 0, 0}), -1);
    EXPECT_EQ(config->set_adc_calibration({7, 32, 32, 8, 4, 4, 16, 0, 0}), -1);
    EXPECT_EQ(config->set_adc_calibration({7, 0, 32, 8, 4, 4, 16, 0, 0}), -1);
    EXPECT_EQ(config->set_adc_calibration({7, 0, 0, 8, 4, 4, 16, 0, 0}), -1);
    EXPECT_EQ(config->set_adc_calibration({7, 0, 0, 8, 4, 4, 0, 0, 0}), -1);
    EXPECT_EQ(config->set_adc_calibration({7, 0, 0, 0, 4, 4, 0, 0, 0}), -1);
    EXPECT_EQ(config->set_adc_calibration({7, 0, 0, 0, 0, 4, 0, 0, 0}), -1);
    EXPECT_EQ(log.texts(),
              (std::vector<std::string>{"ADC channel out of bound: 32", "ADC7 CompP out of bound: 32",
                                        "ADC7 CompN out of bound: 32", "ADC7 Cfix out of bound: 16",
                                        "ADC7 Slope out of bound: 8", "ADC7 Coarse out of bound: 4",
                                        "ADC7 Fine out of bound: 4"}));
    EXPECT_TRUE(set_bits(config->odd_channel_image()).empty());
}

// --- references on the shank ---

TEST_F(ProbeConfiguration, ApplyingReferencesSetsTheSwitchesAndTheInternalElectrode) {
    config->select_electrode(0, 0);
    config->set_reference(0, REFERENCE_EXT, 0);
    config->set_reference(1, REFERENCE_TIP, 0);
    config->set_reference(2, REFERENCE_INT, 2);
    config->apply_references();
    EXPECT_EQ(set_bits(config->shank_image()), (std::vector<uint32_t>{2, 3, 483, 484, 485, 965}));
    EXPECT_EQ(log.texts(),
              (std::vector<std::string>{
                  "1 channels use EXT electrode reference", "  -> ExtElectrode1/2 enabled.",
                  "1 channels use TIP electrode reference", "  -> TipElectrode1/2 enabled.",
                  "1 channels have internal references selected. Connecting to internal reference bank 2"}));
}

TEST_F(ProbeConfiguration, WithoutInternalReferencesTheInternalElectrodeIsDisconnectedAgain) {
    config->set_reference(2, REFERENCE_INT, 0);
    config->apply_references();
    EXPECT_EQ(set_bits(config->shank_image()), std::vector<uint32_t>{482 - 95}); // electrode 191
    config->set_reference(2, REFERENCE_EXT, 0);
    Log_Capture second(logging::Verbosity_INFO);
    config->apply_references();
    EXPECT_EQ(set_bits(config->shank_image()), (std::vector<uint32_t>{2, 965}));
    EXPECT_EQ(second.texts(), (std::vector<std::string>{
                                  "1 channels use EXT electrode reference", "  -> ExtElectrode1/2 enabled.",
                                  "0 channels use TIP electrode reference", "  -> TipElectrode1/2 disabled.",
                                  "no internal references selected. 0"}));
}

// --- upload through the tunnel ---

class ProbeUpload : public test_support::Box_Fixture {
protected:
    void SetUp() override {
        auto& c = opened_controller();
        i2c = std::make_unique<I2C_Over_GSML_Module>(c.modules().uart.get());
        Stdout_Capture quiet;
        config = std::make_unique<NP_Probe_Config_Module>(i2c.get());
    }
    void TearDown() override {
        Stdout_Capture quiet;
        config.reset();
        Box_Fixture::TearDown();
    }
    std::unique_ptr<I2C_Over_GSML_Module> i2c;
    std::unique_ptr<NP_Probe_Config_Module> config;
};

TEST_F(ProbeUpload, ImagesAreShiftedBitReversedIntoTheirChains) {
    config->select_electrode(0, 0);
    config->set_gain(0, 1, 0); // even image byte 72 = 0x01
    config->set_gain(1, 2, 0); // odd image byte 72 = 0x02
    config->set_reference(3, REFERENCE_TIP, 0);
    Stdout_Capture quiet;
    config->upload_configuration(false);
    const auto& headstage = box->headstage(0);
    ASSERT_EQ(headstage.chain_uploads(0x0E).size(), 1u);
    ASSERT_EQ(headstage.chain_uploads(0x0D).size(), 1u);
    ASSERT_EQ(headstage.chain_uploads(0x0C).size(), 1u);
    EXPECT_EQ(headstage.chain_uploads(0x0E)[0], bit_reversed(config->shank_image()));
    EXPECT_EQ(headstage.chain_uploads(0x0D)[0], bit_reversed(config->even_channel_image()));
    EXPECT_EQ(headstage.chain_uploads(0x0C)[0], bit_reversed(config->odd_channel_image()));
    EXPECT_EQ(headstage.chain_uploads(0x0D)[0][72], 0x80);
    EXPECT_EQ(headstage.chain_uploads(0x0C)[0][72], 0x40);
    // Each upload announces its length first: 121 = 0x0079, 306 = 0x0132.
    const auto others = headstage.transactions_without_chain_bytes();
    ASSERT_EQ(others.size(), 6u);
    EXPECT_EQ(others[0], (box_model::I2C_Transaction{0xE0, 0x10, 0x79, true}));
    EXPECT_EQ(others[1], (box_model::I2C_Transaction{0xE0, 0x0F, 0x00, true}));
    EXPECT_EQ(others[2], (box_model::I2C_Transaction{0xE0, 0x10, 0x32, true}));
    EXPECT_EQ(others[3], (box_model::I2C_Transaction{0xE0, 0x0F, 0x01, true}));
}

TEST_F(ProbeUpload, ReadCheckUploadsEachBaseImageTwiceAndReadsTheStatus) {
    config->set_gain(4, 3, 3);
    Stdout_Capture out;
    Log_Capture capture(logging::Verbosity_INFO);
    config->upload_configuration(true);
    const auto& headstage = box->headstage(0);
    EXPECT_EQ(headstage.chain_uploads(0x0E).size(), 1u);
    ASSERT_EQ(headstage.chain_uploads(0x0D).size(), 2u);
    ASSERT_EQ(headstage.chain_uploads(0x0C).size(), 2u);
    EXPECT_EQ(headstage.chain_uploads(0x0D)[1], bit_reversed(config->even_channel_image()));
    EXPECT_EQ(headstage.chain_uploads(0x0D)[0], headstage.chain_uploads(0x0D)[1]);
    size_t status_reads = 0;
    for (const auto& t : headstage.transactions)
        status_reads += !t.write && t.reg == 0x08;
    EXPECT_EQ(status_reads, 2u);
    const auto texts = capture.texts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "SR upload readcheck status: 80h."), 2);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "SR upload status ok. (80h)."), 2);
    EXPECT_TRUE(capture.contains("[ASIC Bug Workaround] readcheck on SR_CHAIN1 ignored 0."));
    EXPECT_TRUE(capture.contains("start upload shank configuration on probe. SHANKCONFIGURATION_SIZE 121."));
    EXPECT_TRUE(capture.contains(
        "start upload odd channel base configuration on probe. BASECONFIGURATION_SIZE : 306"));
    EXPECT_TRUE(capture.contains(
        "start upload even channel base configuration on probe. BASECONFIGURATION_SIZE : 306"));
    EXPECT_TRUE(capture.contains("start upload ADC calibration offset / threshold on probe.0"));
    EXPECT_EQ(capture.texts().back(), "stat_write_transactions_with_error : 0");
    EXPECT_NE(out.take().find("Configuration loaded in 0 second.\n"), std::string::npos);
}

TEST_F(ProbeUpload, FailedStatusStopsTheUpload) {
    box->headstage(0).upload_status_fails = true;
    Stdout_Capture quiet;
    try {
        config->upload_configuration(true);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "SR upload status not ok");
    }
    EXPECT_EQ(box->headstage(0).chain_uploads(0x0D).size(), 2u);
    EXPECT_TRUE(box->headstage(0).chain_uploads(0x0C).empty());
}

TEST_F(ProbeUpload, ASingleSetBitTravelsAsTheTopBit) {
    const uint8_t image[] = {0x01};
    config->upload_sr(0x0E, image, 1, 0);
    EXPECT_EQ(box->headstage(0).chain_uploads(0x0E), (std::vector<std::vector<uint8_t>>{{0x80}}));
}

} // namespace
} // namespace Selvan::MURA

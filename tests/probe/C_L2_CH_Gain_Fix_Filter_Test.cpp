#include "C_L2_CH_Gain_Fix_Filter.h"
#include "Output_Capture.h"
#include "Scratch_Directory.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <functional>
#include <locale>
#include <sstream>

// The locale folder the build made, or empty when the system had no definitions for it.
const char* np3_test_locale_path();

namespace Selvan::MURA {
namespace {

using Block = C_L2_CH_Gain_Fix_Filter::Block;
using test_support::Scratch_Directory;
using test_support::Stderr_Capture;
using test_support::Stdout_Capture;

class Block_Recorder : public demux::I_L2_Demux_CH_Results {
public:
    void publish_ap_ch_data(Block& block) override { ap.push_back(block); }
    void publish_lp_ch_data(Block& block) override { lfp.push_back(block); }
    void begin_batch() override { brackets += '('; }
    void end_batch() override { brackets += ')'; }
    std::vector<Block> ap, lfp;
    std::string brackets;
};

// A calibration file whose AP factor for gain g and electrode e is ap(g, e), LFP lfp(g, e).
std::string gain_file(const std::function<std::string(int, int)>& ap,
                      const std::function<std::string(int, int)>& lfp, int rows = 960,
                      bool final_newline = true) {
    std::ostringstream text;
    text << "NP1_gain_calibration\n";
    for (int e = 0; e < rows; ++e) {
        text << e;
        for (int g = 0; g < 8; ++g)
            text << ',' << ap(g, e);
        for (int g = 0; g < 8; ++g)
            text << ',' << lfp(g, e);
        if (e < rows - 1 || final_newline)
            text << '\n';
    }
    return text.str();
}

// A corrected sample as the host gets it: centred on mid-scale, code 512.
int centred(uint16_t stored) {
    return static_cast<int16_t>(static_cast<uint16_t>(stored - 512));
}

Block filled(uint16_t value) {
    Block block;
    block.fill(value);
    return block;
}

// Makes the process run with a comma as its decimal separator, as a host may, and restores the
// classic locale: the C library's numeric locale when a real one can be had (the build makes
// de_DE where the system has the definitions), and in any case a numeric facet in the global
// C++ locale.
class Comma_Decimal_Locale {
public:
    Comma_Decimal_Locale() {
#if !defined(_WIN32)
        if (*np3_test_locale_path() != '\0')
            setenv("LOCPATH", np3_test_locale_path(), 1);
#endif
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"}) {
            if (std::setlocale(LC_NUMERIC, name)) {
                m_name = name;
                break;
            }
        }
        std::locale::global(std::locale(std::locale::classic(), new Comma_Numpunct));
    }
    ~Comma_Decimal_Locale() {
        std::setlocale(LC_NUMERIC, "C");
        std::locale::global(std::locale::classic());
    }
    const std::string& name() const {
        return m_name;
    }

private:
    struct Comma_Numpunct : std::numpunct<char> {
        char do_decimal_point() const override { return ','; }
    };
    std::string m_name = "no comma-decimal C locale";
};

class GainFilter : public ::testing::Test {
protected:
    GainFilter() { filter->set_downstream_listener(recorder); }

    bool load(const std::string& contents) {
        const auto path = scratch.write("gain.csv", contents);
        Stdout_Capture quiet;
        return filter->load_gain_calibration_file(path.c_str());
    }

    Scratch_Directory scratch;
    std::shared_ptr<C_L2_CH_Gain_Fix_Filter> filter = std::make_shared<C_L2_CH_Gain_Fix_Filter>();
    std::shared_ptr<Block_Recorder> recorder = std::make_shared<Block_Recorder>();
};

TEST_F(GainFilter, BlocksPassUnchangedBeforeALoad) {
    Block block = filled(1000);
    filter->publish_ap_ch_data(block);
    filter->publish_lp_ch_data(block);
    ASSERT_EQ(recorder->ap.size(), 1u);
    EXPECT_EQ(recorder->ap[0], filled(1000));
    EXPECT_EQ(recorder->lfp[0], filled(1000));
    EXPECT_FALSE(filter->is_gain_data_loaded());
}

TEST_F(GainFilter, LoadingReportsAndMapsChannelsToBankZero) {
    const auto path =
        scratch.write("gain.csv", gain_file([](int, int) { return "1.0"; }, [](int, int) { return "1"; }));
    Stdout_Capture out;
    ASSERT_TRUE(filter->load_gain_calibration_file(path.c_str()));
    EXPECT_EQ(out.take(),
              "Loading gain data from file : " + path +
                  "\nGain data loaded.\nCreating default 1:1 mapping for the shank pixels ( Bank A "
                  "Selection )\n");
    EXPECT_EQ(filter->electrode_of_channel(5), 5);
    Block block = filled(1000);
    filter->publish_ap_ch_data(block);
    EXPECT_EQ(recorder->ap[0], filled(1000));
}

// The factor scales the sample centred on mid-scale (code 512), so mid-scale stays where it is;
// the product is truncated toward zero and kept offset by 512 in 16 bits.
TEST_F(GainFilter, CorrectionScalesTheCentredSampleAndTruncatesTowardZero) {
    ASSERT_TRUE(
        load(gain_file([](int g, int) { return g == 0 ? "1.5" : "0.999"; }, [](int, int) { return "2"; })));
    Block block = filled(3);
    filter->publish_ap_ch_data(block);
    EXPECT_EQ(centred(recorder->ap[0][0]), -763); // -509 * 1.5 = -763.5
    filter->set_channel_gains(7, 1, 0);
    block = filled(1000);
    filter->publish_ap_ch_data(block);
    EXPECT_EQ(centred(recorder->ap[1][7]), 487); // 488 * 0.999 = 487.512
    EXPECT_EQ(centred(recorder->ap[1][6]), 732);
    block = filled(512);
    filter->publish_ap_ch_data(block);
    EXPECT_EQ(recorder->ap[2][6], 512);
    block = filled(40000);
    filter->publish_lp_ch_data(block);
    EXPECT_EQ(recorder->lfp[0][0], static_cast<uint16_t>(512 + 39488 * 2)); // low 16 bits, no saturation
}

// Inside a batch the listener and the tables are held, yet a file loaded or a listener set
// meanwhile takes over at the next block; the batch is passed on to the listener.
TEST_F(GainFilter, ABatchHoldsListenerAndTablesUntilEitherChanges) {
    filter->begin_batch();
    Block block = filled(10);
    filter->publish_ap_ch_data(block);
    ASSERT_TRUE(load(gain_file([](int, int) { return "2"; }, [](int, int) { return "1"; })));
    block = filled(10);
    filter->publish_ap_ch_data(block);
    auto second = std::make_shared<Block_Recorder>();
    filter->set_downstream_listener(second);
    block = filled(10);
    filter->publish_ap_ch_data(block);
    filter->end_batch();
    ASSERT_EQ(recorder->ap.size(), 2u);
    EXPECT_EQ(recorder->ap[0], filled(10));
    EXPECT_EQ(recorder->ap[1], filled(static_cast<uint16_t>(512 - 1004))); // (10 - 512) * 2
    EXPECT_EQ(recorder->brackets, "()()");
    ASSERT_EQ(second->ap.size(), 1u);
    EXPECT_EQ(second->ap[0], filled(static_cast<uint16_t>(512 - 1004)));
    EXPECT_EQ(second->brackets, "()");
}

TEST_F(GainFilter, BankSelectionPicksTheFactorsOfTheElectrodeRow) {
    ASSERT_TRUE(
        load(gain_file([](int, int e) { return e == 389 ? "2" : "1"; }, [](int, int) { return "1"; })));
    Block block = filled(10);
    filter->publish_ap_ch_data(block);
    EXPECT_EQ(recorder->ap[0][5], 10);
    filter->select_bank(5, 1);
    EXPECT_EQ(filter->electrode_of_channel(5), 389);
    block = filled(10);
    filter->publish_ap_ch_data(block);
    EXPECT_EQ(centred(recorder->ap[1][5]), -1004);
    EXPECT_EQ(recorder->ap[1][4], 10);
}

TEST_F(GainFilter, WindowsLineEndsLoadTheSameFactors) {
    std::string text =
        gain_file([](int g, int) { return g == 0 ? "1.5" : "1"; }, [](int, int) { return "2.5"; });
    std::string windows;
    for (char c : text)
        windows += c == '\n' ? std::string("\r\n") : std::string(1, c);
    ASSERT_TRUE(load(windows));
    EXPECT_FLOAT_EQ(filter->ap_factor(0, 959), 1.5f);
    Block block = filled(10);
    filter->publish_lp_ch_data(block);
    EXPECT_EQ(centred(recorder->lfp[0][383]), -1255); // -502 * 2.5
}

TEST_F(GainFilter, FactorsKeepTheirDecimalPointInACommaDecimalLocale) {
    Comma_Decimal_Locale locale;
    SCOPED_TRACE(locale.name());
    ASSERT_TRUE(load(gain_file([](int, int) { return "1.05"; }, [](int, int) { return " +0.5e0"; })));
    EXPECT_FLOAT_EQ(filter->ap_factor(3, 500), 1.05f);
    Block ap = filled(1000);
    Block lfp = filled(1000);
    filter->publish_ap_ch_data(ap);
    filter->publish_lp_ch_data(lfp);
    EXPECT_EQ(centred(recorder->ap[0][0]), 512); // 488 * 1.05
    EXPECT_EQ(centred(recorder->lfp[0][0]), 244);
}

TEST_F(GainFilter, LfpUsesItsOwnTableAndGainIndex) {
    ASSERT_TRUE(
        load(gain_file([](int, int) { return "1"; }, [](int g, int) { return std::to_string(g + 1); })));
    filter->set_channel_gains(0, 0, 3);
    Block block = filled(10);
    filter->publish_lp_ch_data(block);
    EXPECT_EQ(centred(recorder->lfp[0][0]), -2008); // -502 * 4
    EXPECT_EQ(recorder->lfp[0][1], 10);
}

TEST_F(GainFilter, ShortOrUnterminatedFilesFailAndChangeNothing) {
    ASSERT_TRUE(load(gain_file([](int, int) { return "2"; }, [](int, int) { return "2"; })));
    for (const std::string& bad :
         {gain_file([](int, int) { return "3"; }, [](int, int) { return "3"; }, 959),
          gain_file([](int, int) { return "3"; }, [](int, int) { return "3"; }, 960, false)}) {
        const auto path = scratch.write("bad.csv", bad);
        Stdout_Capture quiet;
        Stderr_Capture err;
        EXPECT_FALSE(filter->load_gain_calibration_file(path.c_str()));
        EXPECT_EQ(err.take(),
                  "Exception caught while loading gain data : unexpected end of gain calibration file");
    }
    // The earlier tables are untouched: nothing of a bad file is taken.
    EXPECT_FLOAT_EQ(filter->ap_factor(0, 959), 2.0f);
    EXPECT_FLOAT_EQ(filter->ap_factor(0, 0), 2.0f);
}

TEST_F(GainFilter, BadNumbersAreRefusedWithTheirMessages) {
    struct Case {
        std::string factor;
        std::string message;
    };
    for (const Case& c : {Case{"abc", "invalid stof argument"}, Case{"1e60", "stof argument out of range"},
                          Case{"nan", "non-finite gain factor in row 17, field 3"},
                          Case{"inf", "non-finite gain factor in row 17, field 3"}}) {
        const auto path = scratch.write(
            "bad.csv", gain_file([&](int g, int e) { return e == 17 && g == 2 ? c.factor : "1"; },
                                 [](int, int) { return "1"; }));
        Stdout_Capture quiet;
        Stderr_Capture err;
        EXPECT_FALSE(filter->load_gain_calibration_file(path.c_str()));
        EXPECT_EQ(err.take(), "Exception caught while loading gain data : " + c.message);
        EXPECT_FALSE(filter->is_gain_data_loaded());
    }
}

TEST_F(GainFilter, MissingFileIsReported) {
    Stdout_Capture out;
    Stderr_Capture err;
    EXPECT_FALSE(filter->load_gain_calibration_file(scratch.file("none.csv").c_str()));
    EXPECT_EQ(err.take(), "file open error\n");
}

TEST_F(GainFilter, WithoutListenerBlocksAreReportedAndLeftAlone) {
    ASSERT_TRUE(load(gain_file([](int, int) { return "2"; }, [](int, int) { return "2"; })));
    recorder.reset();
    Block block = filled(10);
    Stdout_Capture out;
    filter->publish_ap_ch_data(block);
    filter->publish_lp_ch_data(block);
    EXPECT_EQ(out.take(),
              "C_L2_CH_Gain_Fix_Filter has no ap listener\nC_L2_CH_Gain_Fix_Filter has no lp listener\n");
    EXPECT_EQ(block, filled(10));
}

TEST_F(GainFilter, SettingsWithoutATableEntryPassTheSampleThrough) {
    ASSERT_TRUE(load(gain_file([](int, int) { return "2"; }, [](int, int) { return "2"; })));
    filter->set_channel_gains(3, 8, 0);
    filter->select_bank(4, 3); // electrode 1156 does not exist
    Block block = filled(10);
    filter->publish_ap_ch_data(block);
    EXPECT_EQ(recorder->ap[0][3], 10);
    EXPECT_EQ(recorder->ap[0][4], 10);
    EXPECT_EQ(centred(recorder->ap[0][5]), -1004);
}

TEST_F(GainFilter, HugeProductsStayDefined) {
    ASSERT_TRUE(load(gain_file([](int, int) { return "3e38"; }, [](int, int) { return "-3e38"; })));
    Block ap = filled(1000);
    Block lfp = filled(1000);
    filter->publish_ap_ch_data(ap);
    filter->publish_lp_ch_data(lfp);
    EXPECT_EQ(recorder->ap[0][0], 0x01FF);  // INT32_MAX + 512, low half
    EXPECT_EQ(recorder->lfp[0][0], 0x0200); // INT32_MIN + 512, low half
}

} // namespace
} // namespace Selvan::MURA

#include "C_NP_Probe_Config_Reader.h"
#include "Output_Capture.h"
#include "Resources.h"
#include "Scratch_Directory.h"

#include <gtest/gtest.h>

#include <sstream>

namespace Selvan::MURA {
namespace {

using test_support::Scratch_Directory;
using test_support::Stderr_Capture;
using test_support::Stdout_Capture;

std::string calibration_table(int lines, const std::string& line_end = "\n",
                              const std::string& header = "ADC,CompP") {
    std::ostringstream text;
    text << header << line_end;
    for (int adc = 0; adc < lines; ++adc)
        text << adc << ',' << 10 + adc % 8 << ',' << 20 - adc % 8 << ",3,2,1," << adc % 16 << ',' << 100 + adc
             << ',' << 500 + adc << line_end;
    return text.str();
}

class AdcCalibrationFile : public ::testing::Test {
protected:
    Scratch_Directory scratch;
    NP_Probe_Config_Reader reader;
};

TEST_F(AdcCalibrationFile, WellFormedTableLoadsAllRecords) {
    const auto path = scratch.write("t.csv", calibration_table(32));
    Stdout_Capture out;
    ASSERT_TRUE(reader.load_adc_calibration_data_from_file(path.c_str()));
    EXPECT_EQ(out.take(), "ADC calibration data loaded.\n");
    const auto& r = reader.records()[31];
    EXPECT_EQ(r.adc, 31u);
    EXPECT_EQ(r.comp_p, 17u);
    EXPECT_EQ(r.comp_n, 13u);
    EXPECT_EQ(r.slope, 3u);
    EXPECT_EQ(r.coarse, 2u);
    EXPECT_EQ(r.fine, 1u);
    EXPECT_EQ(r.cfix, 15u);
    EXPECT_EQ(r.offset, 131u);
    EXPECT_EQ(r.threshold, 531u);
}

TEST_F(AdcCalibrationFile, WindowsLineEndsAndANumericHeaderLoadTheSame) {
    const auto unix_path = scratch.write("u.csv", calibration_table(32));
    const auto windows_path = scratch.write("w.csv", calibration_table(32, "\r\n", "1,2,3,4,5,6,7,8,9"));
    NP_Probe_Config_Reader windows_reader;
    Stdout_Capture quiet;
    ASSERT_TRUE(reader.load_adc_calibration_data_from_file(unix_path.c_str()));
    ASSERT_TRUE(windows_reader.load_adc_calibration_data_from_file(windows_path.c_str()));
    for (size_t i = 0; i < 32; ++i) {
        EXPECT_EQ(reader.records()[i].threshold, windows_reader.records()[i].threshold);
        EXPECT_EQ(reader.records()[i].adc, windows_reader.records()[i].adc);
    }
}

TEST_F(AdcCalibrationFile, ShortTableFailsAfterFillingWhatItHad) {
    const auto path = scratch.write("t.csv", calibration_table(31));
    Stderr_Capture err;
    EXPECT_FALSE(reader.load_adc_calibration_data_from_file(path.c_str()));
    EXPECT_EQ(err.take().rfind("Exception caught : ", 0), 0u);
    EXPECT_EQ(reader.records()[30].threshold, 530u);
    EXPECT_EQ(reader.records()[31].threshold, 0u);
}

TEST_F(AdcCalibrationFile, TableEndingRightAfterTheLastNumberFails) {
    std::string text = calibration_table(32);
    text.pop_back();
    const auto path = scratch.write("t.csv", text);
    Stderr_Capture err;
    EXPECT_FALSE(reader.load_adc_calibration_data_from_file(path.c_str()));
    EXPECT_EQ(err.take().rfind("Exception caught : ", 0), 0u);
}

TEST_F(AdcCalibrationFile, EmptyOrNonNumericFilesFailWithTheExceptionMessage) {
    for (const std::string& text : {std::string(), std::string("header\n1,2,x,4\n")}) {
        const auto path = scratch.write("t.csv", text);
        Stderr_Capture err;
        EXPECT_FALSE(reader.load_adc_calibration_data_from_file(path.c_str()));
        const std::string printed = err.take();
        EXPECT_EQ(printed.rfind("Exception caught : ", 0), 0u) << printed;
        EXPECT_EQ(printed.find("open error"), std::string::npos);
    }
}

// A row read with its fields shifted would trim every ADC behind it wrongly; blanks before a
// number and blank lines between rows are still read as before.
TEST_F(AdcCalibrationFile, MalformedRowsAreRefusedNamingRowAndField) {
    struct Case {
        int row;
        std::string line;
        std::string message;
    };
    const std::string prefix = "Exception caught : ADC calibration data row ";
    for (const Case& c :
         {Case{5, "4,10,20,3,2,1,4,104,504,7", "5: has more than 9 fields"},
          Case{3, "2,10,20,3,2,1,2,102", "3: has 8 fields, expected 9"},
          Case{7, "6,10,20,3,2.5,1,6,106,506", "7: field 5 '2.5' is not an unsigned 32-bit decimal integer"},
          Case{1, "0,-1,20,3,2,1,0,100,500", "1: field 2 '-1' is not an unsigned 32-bit decimal integer"},
          Case{32, "31,10,20,3,2,1,15,131,4294967296",
               "32: field 9 '4294967296' is not an unsigned 32-bit decimal integer"},
          Case{2, "1,10,20,3,2,1,1,101,501 ",
               "2: field 9 '501 ' is not an unsigned 32-bit decimal integer"}}) {
        std::string text = calibration_table(32);
        size_t start = 0;
        for (int line = 0; line < c.row; ++line)
            start = text.find('\n', start) + 1;
        text.replace(start, text.find('\n', start) - start, c.line);
        const auto path = scratch.write("t.csv", text);
        Stderr_Capture err;
        EXPECT_FALSE(reader.load_adc_calibration_data_from_file(path.c_str())) << c.line;
        EXPECT_EQ(err.take(), prefix + c.message);
    }
    const auto spaced = scratch.write("s.csv", "h\n\n" + std::string(" 7, 1,\t2,3,4,5,6,7,8\n\n") +
                                                   calibration_table(31).substr(10));
    Stdout_Capture quiet;
    ASSERT_TRUE(reader.load_adc_calibration_data_from_file(spaced.c_str()));
    EXPECT_EQ(reader.records()[0].adc, 7u);
    EXPECT_EQ(reader.records()[0].comp_n, 2u);
    EXPECT_EQ(reader.records()[31].threshold, 530u);
}

TEST_F(AdcCalibrationFile, MissingFileReportsTheOpenError) {
    const auto path = scratch.file("absent.csv");
    Stderr_Capture err;
    EXPECT_FALSE(reader.load_adc_calibration_data_from_file(path.c_str()));
    EXPECT_EQ(err.take(), "ADC config file open error. File : " + path + "\n");
}

TEST_F(AdcCalibrationFile, BuiltInDefaultTableIsFoundAndComplete) {
    const auto path = resources::find(NP_Probe_Config_Reader::DEFAULT_FILE_NAME);
    EXPECT_TRUE(std::filesystem::is_regular_file(path)) << path;
    Stdout_Capture quiet;
    ASSERT_TRUE(reader.load_adc_calibration_data_from_file());
    NP_Probe_Config_Module config(nullptr);
    for (uint32_t adc = 0; adc < 32; ++adc) {
        EXPECT_EQ(reader.records()[adc].adc, adc);
        EXPECT_EQ(config.set_adc_calibration(reader.records()[adc]), 0) << adc;
    }
}

} // namespace
} // namespace Selvan::MURA

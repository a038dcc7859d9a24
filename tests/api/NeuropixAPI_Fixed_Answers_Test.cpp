#include "Api_Fixture.h"

#include <gmock/gmock.h>

#include <cmath>
#include <cstring>

namespace Selvan::MURA {
namespace {

using namespace Neuropixels;
using test_support::Log_Capture;
using test_support::Stdout_Capture;

class ApiFixedAnswers : public test_support::Api_Fixture {};

TEST_F(ApiFixedAnswers, BasestationIdentity) {
    firmware_Info info{};
    EXPECT_EQ(bs_getFirmwareInfo(0, &info), SUCCESS);
    EXPECT_EQ(info.major, 2);
    EXPECT_EQ(info.minor, 0);
    EXPECT_EQ(info.build, 1);
    EXPECT_STREQ(info.name, "MURA 1.0");
    EXPECT_EQ(bsc_getFirmwareInfo(0, &info), SUCCESS);
    EXPECT_STREQ(info.name, "MURA Firmware 1.0");
    uint64_t serial = 0;
    EXPECT_EQ(readBSCSN(0, &serial), SUCCESS);
    EXPECT_EQ(serial, 12345u);
    char text[64];
    EXPECT_EQ(readBSCPN(0, text, sizeof text), SUCCESS);
    EXPECT_STREQ(text, "MURA NA");
    EXPECT_EQ(readFlexPN(0, 1, 0, text, sizeof text), SUCCESS);
    EXPECT_STREQ(text, "Selvan MURA Flex");
}

TEST_F(ApiFixedAnswers, VersionsAreOneZero) {
    int major = 0, minor = 9;
    getAPIVersion(&major, &minor);
    EXPECT_EQ(major, 1);
    EXPECT_EQ(minor, 0);
    for (auto call : {+[](int*a, int*b) { return getBSCVersion(0, a, b); },
                      +[](int*a, int*b) { return getFlexVersion(0, 1, 0, a, b); },
                      +[](int*a, int*b) { return getHSVersion(0, 1, a, b); }}) {
        major = 0;
        minor = 9;
        EXPECT_EQ(call(&major, &minor), SUCCESS);
        EXPECT_EQ(major, 1);
        EXPECT_EQ(minor, 0);
    }
}

TEST_F(ApiFixedAnswers, ShortBuffersGetATerminatedPrefix) {
    char text[5] = {'#', '#', '#', '#', '#'};
    EXPECT_EQ(readFlexPN(0, 1, 0, text, 5), SUCCESS);
    EXPECT_STREQ(text, "Selv");
    EXPECT_EQ(readBSCPN(0, text, 0), SUCCESS);
    EXPECT_STREQ(text, "Selv");
    EXPECT_EQ(readBSCSN(0, nullptr), FAILED);
}

TEST_F(ApiFixedAnswers, FixedAnswersLogAtVerbosityOne) {
    Log_Capture capture;
    uint64_t serial = 0;
    readBSCSN(7, &serial);
    EXPECT_EQ(capture.lines(), (std::vector<test_support::Captured_Line>{
                                   {1, "{ readBSCSN"}, {1, "slotID : 7"}, {1, "} readBSCSN"}}));
}

TEST_F(ApiFixedAnswers, ListedUnsupportedOperationsLogTheirLineAndWriteNothing) {
    Log_Capture capture;
    PacketInfo info{};
    int16_t data[12];
    int packets_read = 77;
    EXPECT_EQ(readPackets(0, 3, 0, SourceAP, &info, data, 12, 1, &packets_read), SUCCESS);
    EXPECT_EQ(packets_read, 77);
    int vmaj = 5, vmin = 6;
    EXPECT_EQ(HST_GetVersion(0, 2, &vmaj, &vmin), FAILED);
    EXPECT_EQ(vmaj, 5);
    EXPECT_EQ(vmin, 6);
    EXPECT_EQ(setHSLed(0, 2, true), SUCCESS);
    EXPECT_EQ(mapBS(1234, 0), SUCCESS);
    EXPECT_EQ(setSWTrigger(3), SUCCESS);
    EXPECT_TRUE(capture.contains(1, "{ readPackets"));
    EXPECT_TRUE(capture.contains(1, "3"));
    EXPECT_TRUE(capture.contains(1, "slotID : 0, portID : 2"));
    EXPECT_TRUE(capture.contains(1, "enable : 1, slotID : 0, portID : 2"));
    EXPECT_TRUE(capture.contains(1, "1234"));
    EXPECT_TRUE(capture.contains(1, "slotID : 3"));
}

TEST_F(ApiFixedAnswers, FunctionsWithoutACounterpartAnswerNotSupported) {
    Log_Capture capture;
    int value = 42;
    EXPECT_EQ(getParameter(NP_PARAM_BUFFERSIZE, &value), NOTSUPPORTED);
    EXPECT_EQ(value, 42);
    double temperature = -1;
    EXPECT_EQ(bs_getTemperature(0, &temperature), NOTSUPPORTED);
    EXPECT_EQ(temperature, -1);
    EXPECT_EQ(streamTell(nullptr), 0u);
    EXPECT_EQ(IMU_enable(0, 1, true), NOTSUPPORTED);
    EXPECT_EQ(capture.lines()[0], (test_support::Captured_Line{1, "{ getParameter"}));
    EXPECT_EQ(capture.lines()[1], (test_support::Captured_Line{1, "not supported"}));
    EXPECT_EQ(capture.count("not supported"), 4u);
    // What went wrong last on this thread, for hosts that show it: cut to the buffer, whole
    // length returned.
    char text[20] = "unchanged";
    EXPECT_EQ(getLastErrorMessage(text, 14), std::strlen("IMU_enable : not supported by the MURA box"));
    EXPECT_STREQ(text, "IMU_enable : ");
}

TEST_F(ApiFixedAnswers, FullVersionNamesTheAdapter) {
    char text[128] = {};
    const size_t length = getAPIVersionFull(text, sizeof text);
    EXPECT_EQ(length, std::strlen(text));
    EXPECT_THAT(text, testing::AllOf(testing::StartsWith("np3_bridge 1."),
                                     testing::EndsWith(" (Neuropixels API v3 for the MURA box)")));
    EXPECT_EQ(getAPIVersionFull(nullptr, 0), length);
}

TEST_F(ApiFixedAnswers, CLinkageFunctionsForwardOrLogAsListed) {
    Log_Capture capture;
    uint64_t serial = 0;
    EXPECT_EQ(np_readBSCSN(0, &serial), SUCCESS);
    EXPECT_EQ(serial, 12345u);
    char text[16] = "unchanged";
    EXPECT_EQ(np_readProbePN(0, 3, 0, text, sizeof text), SUCCESS);
    EXPECT_STREQ(text, "unchanged");
    EXPECT_TRUE(capture.contains(1, "{ np_readProbePN"));
    np_dbg_setlevel(4);
    EXPECT_TRUE(capture.contains(1, "4"));
    int value = 3;
    EXPECT_EQ(np_getParameter(NP_PARAM_SYNCMASTER, &value), NOTSUPPORTED);
    EXPECT_STREQ(np_getErrorMessage(VERSION_MISMATCH), "VERSION_MISMATCH");
}

TEST_F(ApiFixedAnswers, FpgaInformationNeedsAnOpenBox) {
    Log_Capture capture;
    EXPECT_TRUE(std::isnan(bs_get_fpga_temperature_celcius()));
    EXPECT_STREQ(bs_get_fpga_design_label(), "");
    uint8_t count = 9;
    EXPECT_EQ(get_available_port_capability(0, &count), FAILED);
    EXPECT_EQ(count, 9);
    EXPECT_TRUE(capture.contains(
        logging::Verbosity_ERROR,
        "bs_get_fpga_design_label : the basestation is not open (openBS has not succeeded)"));
}

TEST_F(ApiFixedAnswers, FpgaInformationOfTheBox) {
    box->set_signature(0x4E500030);
    box->set_build_timestamp((7u << 27) | (8u << 23) | (22u << 17));
    use_box_model();
    Stdout_Capture quiet;
    ASSERT_EQ(openBS(0), SUCCESS);
    EXPECT_NEAR(bs_get_fpga_temperature_celcius(), 34.47, 0.01);
    const char* label = bs_get_fpga_design_label();
    const char* date = bs_get_fpga_design_build_date();
    // Both texts stay valid after further calls of other functions.
    uint8_t count = 0;
    EXPECT_EQ(get_available_port_capability(0, &count), SUCCESS);
    EXPECT_EQ(count, 3);
    EXPECT_STREQ(label, "4e500030");
    EXPECT_STREQ(date, "07-08-2022");
}

} // namespace
} // namespace Selvan::MURA

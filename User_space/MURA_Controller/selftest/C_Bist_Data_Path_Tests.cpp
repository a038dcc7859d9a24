#include "C_Bist_Data_Path_Tests.h"

#include "CP_L2_CH_Results_Null_Writer.h"
#include "C_Signal_Analysis.h"
#include "C_Streaming_Control.h"
#include "Console.h"
#include "L2_PSB_Tester.h"
#include "L2_Sample_Accumulator.h"
#include "RHD_Frame_Null_listener.h"
#include "Resources.h"

#include <complex>
#include <iostream>
#include <stdexcept>
#include <vector>

namespace Selvan::MURA {
namespace {

constexpr unsigned PSB_PUMP_BUDGET = 100;
constexpr uint32_t PSB_PASS_MIN_SUCCESSES = 11;
constexpr uint32_t PSB_PASS_MAX_FAILURES = 9;
// The blocks the test judges: the box sends them in a few hundredths of a second.
constexpr uint32_t PSB_BLOCKS_TO_COMPARE = 1000;
constexpr unsigned SIGNAL_SAMPLES = 1024;
constexpr unsigned SIGNAL_TRIALS = 5;
// Pumps one trial may take before it counts as failed: data that never arrives must not keep
// the test pumping for ever.
constexpr unsigned SIGNAL_PUMPS_PER_TRIAL = 400;
constexpr unsigned AP_SAMPLE_PERIOD_US = 33;
constexpr double PASS_BAND_LOW_HZ = 1150.0;
constexpr double PASS_BAND_HIGH_HZ = 1300.0;

// The test listeners replace the data path's for the test: the tested port's goes to the test,
// every other port and the RHD frames to null listeners. The saved ones come back on every way
// out, so that acquisition delivers to the API's converters again after a failed test. In
// simulation the test replays its own recording and the previous one is taken up again.
class Test_Listeners {
public:
    Test_Listeners(C_Streaming_Control& streaming, unsigned port,
                   const std::shared_ptr<demux::I_L2_Demux_CH_Results>& tested, bool through_gain_filter)
        : m_streaming(streaming) {
        m_streaming.save_stream_listeners();
        if (m_streaming.is_in_simulation_mode())
            m_previous_recording = m_streaming.get_simulation_source();
        for (uint32_t p = 0; p < C_Streaming_Control::NP_PORT_COUNT; ++p)
            m_streaming.set_NP_aqustion_listener(m_null_writer, p, through_gain_filter);
        m_streaming.set_NP_aqustion_listener(tested, port, through_gain_filter);
        m_streaming.set_RHD_aqustion_listener(m_null_rhd_listener);
    }
    ~Test_Listeners() {
        if (!m_previous_recording.empty())
            m_streaming.switch_simulation_source(m_previous_recording);
        m_streaming.restore_stream_listeners();
    }
    Test_Listeners(const Test_Listeners&) = delete;
    Test_Listeners& operator=(const Test_Listeners&) = delete;

private:
    C_Streaming_Control& m_streaming;
    std::string m_previous_recording;
    std::shared_ptr<demux::CP_L2_CH_Results_Null_Writer> m_null_writer =
        std::make_shared<demux::CP_L2_CH_Results_Null_Writer>();
    std::shared_ptr<demux::RHD_Frame_Null_listener> m_null_rhd_listener =
        std::make_shared<demux::RHD_Frame_Null_listener>();
};

bool prepare_test_stream(C_Streaming_Control& streaming, const char* recording) {
    if (!streaming.is_in_simulation_mode()) {
        streaming.prepare_for_streaming();
        return true;
    }
    const std::string path = resources::find(recording).string();
    if (streaming.is_prepared_for_streaming())
        return streaming.switch_simulation_source(path);
    return streaming.prepare_for_simulation_streaming(path);
}

double peak_frequency_hz(unsigned bin, unsigned n) {
    const auto period_product = static_cast<double>(n * AP_SAMPLE_PERIOD_US);
    return (1.0 / period_product) * bin * 1000000.0;
}

} // namespace

bool execute_psb_test(C_Streaming_Control& streaming, unsigned port) {
    auto tester = std::make_shared<PSB_L2_Tester>();
    {
        Test_Listeners listeners(streaming, port, tester, false);
        if (!prepare_test_stream(streaming, PSB_TEST_RECORDING))
            return false;
        streaming.enable_streaming(true, {port}, false, {}, true);
        // The test judges a fixed number of blocks (a box sends the pattern at its own rate:
        // pumping on would only make the test last longer), or what a recording holds.
        for (unsigned pump = 0; pump < PSB_PUMP_BUDGET; ++pump) {
            const uint32_t compared =
                tester->successful_comparison_count() + tester->failed_comparison_count();
            if (compared >= PSB_BLOCKS_TO_COMPARE || !streaming.pump_data_to_demux())
                break;
        }
        streaming.disable_streaming();
        streaming.wait_for_data_path_to_settle();
        console::out("successful_comparison_count : {}\nfailed_comparison_count : {}\n",
                     tester->successful_comparison_count(), tester->failed_comparison_count());
    }
    console::out("End of Bist PSB test\n");
    return psb_comparison_passed(tester->successful_comparison_count(), tester->failed_comparison_count());
}

bool psb_comparison_passed(uint32_t successful, uint32_t failed) {
    return failed <= PSB_PASS_MAX_FAILURES && successful >= PSB_PASS_MIN_SUCCESSES;
}

bool check_signal_frequency(const std::shared_ptr<L2_Sample_Accumulator>& accumulator, unsigned n) {
    const std::vector<demux::Channel_Block> blocks = accumulator->ap_blocks();
    if (blocks.size() < n)
        return false;
    std::vector<std::complex<double>> x(n);
    bool passed = true;
    for (unsigned channel = 0; channel < demux::NP_CHANNEL_COUNT; ++channel) {
        for (unsigned k = 0; k < n; ++k)
            x[k] = {static_cast<double>(blocks[k][channel]), 0.0};
        fast_fourier(x.data(), n);
        double magnitude = 0;
        const unsigned bin = peek_search(x.data(), n, &magnitude);
        const double frequency = peak_frequency_hz(bin, n);
        std::cout << "Current pixel : " << channel << ", peek frq = " << frequency << " Hz"
                  << " , peek mag : " << magnitude << "\n";
        if (frequency < PASS_BAND_LOW_HZ || frequency > PASS_BAND_HIGH_HZ) {
            std::cout << "Frq check failed\n";
            passed = false;
        }
    }
    return passed;
}

namespace {

bool pump_until_accumulated(C_Streaming_Control& streaming, const L2_Sample_Accumulator& accumulator) {
    for (unsigned pump = 0; pump < SIGNAL_PUMPS_PER_TRIAL; ++pump) {
        if (accumulator.ap_block_count() >= SIGNAL_SAMPLES)
            return true;
        streaming.pump_data_to_demux();
    }
    streaming.wait_for_data_path_to_settle();
    return accumulator.ap_block_count() >= SIGNAL_SAMPLES;
}

} // namespace

bool execute_bist_signal_test(C_Streaming_Control& streaming, unsigned port) {
    try {
        auto accumulator = std::make_shared<L2_Sample_Accumulator>();
        Test_Listeners listeners(streaming, port, accumulator, true);
        if (!prepare_test_stream(streaming, SIGNAL_TEST_RECORDING)) {
            console::err("Prep error\n");
            return false;
        }
        streaming.enable_streaming(true, {port}, false, {}, true);
        bool passed = false;
        for (unsigned trial = 0; trial < SIGNAL_TRIALS; ++trial) {
            passed = pump_until_accumulated(streaming, *accumulator) &&
                     check_signal_frequency(accumulator, SIGNAL_SAMPLES);
            if (passed) {
                console::out("Frq check passed at trial number : {}\n", trial);
                break;
            }
            accumulator->clear();
        }
        streaming.disable_streaming();
        return passed;
    } catch (const std::exception& e) {
        console::err("Exception catched at execute_bist_signal_test : {}\n", e.what());
        return false;
    }
}

} // namespace Selvan::MURA

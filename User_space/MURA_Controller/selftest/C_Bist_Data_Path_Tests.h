#pragma once

#include "Export.h"

#include <cstdint>
#include <memory>

namespace Selvan::MURA {

class C_Streaming_Control;
class L2_Sample_Accumulator;

// Recordings the data-path self tests replay in simulation mode (files the library ships).
constexpr const char* PSB_TEST_RECORDING = "muxed_raw_data_psb_test.bin";
constexpr const char* SIGNAL_TEST_RECORDING = "muxed_np_raw_data_2_minute.bin";

// With the probe sending its PSB test pattern (the caller has set it up), every channel block
// of the port must equal the pattern.
MURA_EXPORT bool execute_psb_test(C_Streaming_Control& streaming, unsigned port);
// With the probe sending its pixel test signal (the caller has set it up), every channel's
// dominant frequency must lie between 1150 and 1300 Hz, in one of five trials of 1024 AP
// samples.
MURA_EXPORT bool execute_bist_signal_test(C_Streaming_Control& streaming, unsigned port);
// The PSB test passes with more than 10 matching blocks and fewer than 10 mismatching ones.
MURA_EXPORT bool psb_comparison_passed(uint32_t successful, uint32_t failed);
MURA_EXPORT bool check_signal_frequency(const std::shared_ptr<L2_Sample_Accumulator>& accumulator,
                                        unsigned n);

} // namespace Selvan::MURA

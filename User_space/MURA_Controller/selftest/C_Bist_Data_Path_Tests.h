#pragma once

#include "Export.h"

#include <cstdint>
#include <memory>

namespace Selvan::MURA {

class MURA_Controller_Library;
class L2_Sample_Accumulator;

// Recordings the data-path self tests replay in simulation mode (files the library ships).
constexpr const char* PSB_TEST_RECORDING = "muxed_raw_data_psb_test.bin";
constexpr const char* SIGNAL_TEST_RECORDING = "muxed_np_raw_data_2_minute.bin";

// The probe sends its PSB test pattern; every channel block of the port must equal it.
MURA_EXPORT bool execute_psb_test(MURA_Controller_Library* library, unsigned port);
// The probe sends its pixel test signal; every channel's dominant frequency must lie between
// 1150 and 1300 Hz, in one of five trials of 1024 AP samples.
MURA_EXPORT bool execute_bist_signal_test(MURA_Controller_Library* library, unsigned port);
// The PSB test passes with more than 10 matching blocks and fewer than 10 mismatching ones.
MURA_EXPORT bool psb_comparison_passed(uint32_t successful, uint32_t failed);
MURA_EXPORT bool check_signal_frequency(const std::shared_ptr<L2_Sample_Accumulator>& accumulator,
                                        unsigned n);

} // namespace Selvan::MURA

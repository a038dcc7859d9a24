#include "C_Signal_Analysis.h"
#include "Output_Capture.h"
#include "Scratch_Directory.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace Selvan::MURA {
namespace {

using test_support::Scratch_Directory;
using test_support::Stderr_Capture;
using Complex = std::complex<double>;

TEST(FastFourier, UnitImpulseGivesOneInEveryBin) {
    std::vector<Complex> x(16);
    x[0] = 1.0;
    fast_fourier(x.data(), 16);
    for (const Complex& bin : x) {
        EXPECT_NEAR(bin.real(), 1.0, 1e-12);
        EXPECT_NEAR(bin.imag(), 0.0, 1e-12);
    }
}

TEST(FastFourier, ConstantGivesItsSumInBinZeroOnly) {
    std::vector<Complex> x(8, Complex(1.0, 0.0));
    fast_fourier(x.data(), 8);
    EXPECT_NEAR(x[0].real(), 8.0, 1e-12);
    for (size_t k = 1; k < 8; ++k)
        EXPECT_NEAR(std::abs(x[k]), 0.0, 1e-12) << k;
}

TEST(FastFourier, PureToneOnABinPeaksThere) {
    constexpr unsigned n = 1024;
    std::vector<Complex> x(n);
    for (unsigned k = 0; k < n; ++k)
        x[k] = 3.0 * std::cos(2 * std::numbers::pi * 41 * k / n);
    fast_fourier(x.data(), n);
    double peak = 0;
    EXPECT_EQ(peek_search(x.data(), n, &peak), 41u);
    EXPECT_NEAR(peak, 3.0, 1e-9); // 2|X|/n recovers the amplitude
}

TEST(FastFourier, SizeOneIsLeftAlone) {
    Complex x[1] = {Complex(2.0, 1.0)};
    fast_fourier(x, 1);
    EXPECT_EQ(x[0], Complex(2.0, 1.0));
}

TEST(PeakSearch, BinZeroAndTheNyquistBinAreIgnored) {
    std::vector<Complex> x(8);
    x[0] = 100.0;
    x[4] = 100.0;
    x[2] = 4.0;
    double peak = 0;
    EXPECT_EQ(peek_search(x.data(), 8, &peak), 2u);
    EXPECT_DOUBLE_EQ(peak, 1.0);
}

TEST(PeakSearch, TheLowestOfEqualBinsWinsAndSilenceGivesZero) {
    std::vector<Complex> x(8);
    x[1] = 2.0;
    x[3] = 2.0;
    EXPECT_EQ(peek_search(x.data(), 8), 1u);
    std::vector<Complex> silent(8);
    double peak = -1;
    EXPECT_EQ(peek_search(silent.data(), 8, &peak), 0u);
    EXPECT_EQ(peak, 0.0);
    EXPECT_EQ(peek_search(silent.data(), 2), 0u);
}

TEST(PrintMagnitudes, TinyValuesPrintAsZero) {
    std::vector<Complex> x = {Complex(4.0, 0.0), Complex(1e-14, 0.0), Complex(0.0, 2.0), Complex(0.0, 0.0)};
    std::ostringstream out;
    print_magnitudes(out, x.data(), 4);
    EXPECT_EQ(out.str(), "2\n0\n1\n0\n");
}

TEST(SampleFile, NumbersBecomeRealParts) {
    Scratch_Directory scratch;
    const auto path = scratch.write("samples.txt", "1.5 -2\n3e2\n7");
    std::vector<Complex> x(3);
    ASSERT_TRUE(load_sample_data_from_file(x.data(), 3, path.c_str()));
    EXPECT_EQ(x[0], Complex(1.5, 0.0));
    EXPECT_EQ(x[1], Complex(-2.0, 0.0));
    EXPECT_EQ(x[2], Complex(300.0, 0.0));
    EXPECT_TRUE(load_sample_data_from_file(x.data(), 0, path.c_str()));
}

TEST(SampleFile, TooFewNumbersOrNoFileAreReported) {
    Scratch_Directory scratch;
    const auto path = scratch.write("samples.txt", "1 2");
    std::vector<Complex> x(3);
    Stderr_Capture err;
    EXPECT_FALSE(load_sample_data_from_file(x.data(), 3, path.c_str()));
    EXPECT_FALSE(load_sample_data_from_file(x.data(), 3, scratch.file("none.txt").c_str()));
    EXPECT_EQ(err.take(), "File parse error\nFile open error\n");
}

std::optional<std::locale> user_default_locale() {
    try {
        return std::locale("");
    } catch (const std::runtime_error&) {
        return std::nullopt;
    }
}

TEST(CoutLocale, TheDefaultLocaleIsInstalledWhereTheRuntimeHasIt) {
    const auto user_default = user_default_locale();
    const std::string before = std::locale().name();
    Stderr_Capture err;
    EXPECT_NO_THROW(set_cout_locale());
    const std::string message = err.take();
    if (user_default) {
        EXPECT_EQ(std::locale().name(), user_default->name());
        EXPECT_EQ(std::cout.getloc().name(), user_default->name());
        EXPECT_EQ(message, "");
    } else {
        EXPECT_EQ(std::locale().name(), before);
        EXPECT_EQ(message.rfind("set_cout_locale: the user's default locale is not available (", 0), 0u);
    }
}

} // namespace
} // namespace Selvan::MURA

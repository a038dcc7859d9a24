#pragma once

#include "Export.h"

#include <complex>
#include <iosfwd>

// Spectrum tools of the signal self test: an unnormalised radix-2 FFT, the strongest bin, the
// magnitudes as text, and samples read from a text file.
namespace Selvan::MURA {

// In place, n a power of two (passed as a double, as the test's callers do).
MURA_EXPORT void fast_fourier(std::complex<double>* x, double n);
// Index of the strongest of bins 1 .. n/2 - 1 (magnitude 2|x[k]|/n, the lowest bin wins ties);
// 0 when none is above zero. The magnitude goes to `peak` when given.
MURA_EXPORT unsigned peek_search(const std::complex<double>* x, unsigned n, double* peak = nullptr);
MURA_EXPORT void print_magnitudes(std::ostream& out, const std::complex<double>* x, unsigned n);
// Reads n numbers into the real parts of x; false with a message on standard error otherwise.
MURA_EXPORT bool load_sample_data_from_file(std::complex<double>* x, unsigned n, const char* path);
// The user's default locale becomes the global one and standard output uses it.
MURA_EXPORT void set_cout_locale();

} // namespace Selvan::MURA

#include "C_Signal_Analysis.h"

#include "Console.h"

#include <cmath>
#include <fstream>
#include <iostream>
#include <locale>
#include <numbers>
#include <stdexcept>
#include <vector>

namespace Selvan::MURA {

// Iterative radix-2 (bit-reversed order, then butterflies of growing span): no allocation, as
// the signal test runs it on every channel of the probe.
void fast_fourier(std::complex<double>* x, double n) {
    const auto size = static_cast<size_t>(n);
    if (size <= 1)
        return;
    for (size_t i = 1, j = 0; i < size; ++i) {
        size_t bit = size >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j |= bit;
        if (i < j)
            std::swap(x[i], x[j]);
    }
    for (size_t span = 2; span <= size; span <<= 1) {
        const double angle = 2 * std::numbers::pi / static_cast<double>(span);
        const std::complex<double> step(std::cos(angle), std::sin(angle));
        for (size_t start = 0; start < size; start += span) {
            std::complex<double> w(1.0, 0.0);
            for (size_t k = 0; k < span / 2; ++k) {
                const std::complex<double> t = w * x[start + k + span / 2];
                x[start + k + span / 2] = x[start + k] - t;
                x[start + k] += t;
                w *= step;
            }
        }
    }
}

unsigned peek_search(const std::complex<double>* x, unsigned n, double* peak) {
    unsigned best = 0;
    double largest = 0.0;
    for (unsigned k = 1; k < n / 2; ++k) {
        const double magnitude = 2 * std::abs(x[k]) / n;
        if (magnitude > largest) {
            largest = magnitude;
            best = k;
        }
    }
    if (peak)
        *peak = largest;
    return best;
}

void print_magnitudes(std::ostream& out, const std::complex<double>* x, unsigned n) {
    for (unsigned k = 0; k < n; ++k) {
        double magnitude = 2 * std::abs(x[k]) / n;
        if (std::abs(magnitude) < 1e-13)
            magnitude = 0.0;
        out << magnitude << "\n";
    }
}

bool load_sample_data_from_file(std::complex<double>* x, unsigned n, const char* path) {
    std::ifstream in(path);
    if (!in) {
        console::err("File open error\n");
        return false;
    }
    for (unsigned k = 0; k < n; ++k) {
        double value = 0;
        if (!(in >> value)) {
            console::err("File parse error\n");
            return false;
        }
        x[k] = {value, 0.0};
    }
    return true;
}

// Some C++ runtimes (mingw-w64's among them) know no locale but "C" and refuse the user's
// default with an exception, which must not reach the host: the current locale then stays.
void set_cout_locale() {
    try {
        const std::locale user_default("");
        std::locale::global(user_default);
        std::cout.imbue(user_default);
    } catch (const std::runtime_error& error) {
        console::err(
            "set_cout_locale: the user's default locale is not available ({}); the current one stays\n",
            error.what());
    }
}

} // namespace Selvan::MURA

#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace Selvan::MURA::acquire {

// One SpikeGLX stream: a .bin of interleaved int16 samples (one row of every saved channel per
// sample time) and, once it is finished, the .meta beside it. The .meta is written last, so a
// reader never sees a size that the .bin does not hold.
class C_SpikeGLX_Stream {
public:
    using Meta = std::map<std::string, std::string>;

    C_SpikeGLX_Stream(std::filesystem::path bin, uint32_t channels, double sample_rate);
    C_SpikeGLX_Stream(const C_SpikeGLX_Stream&) = delete;
    C_SpikeGLX_Stream& operator=(const C_SpikeGLX_Stream&) = delete;

    // Appends `rows` rows of `channels()` samples each.
    void append(const int16_t* samples, uint64_t rows);
    // Closes the .bin and writes the .meta: `entries` plus the entries every stream carries
    // (nSavedChans, fileSizeBytes, fileTimeSecs, firstSample, fileName). Keys starting with
    // '~' hold tables and follow the plain keys, as SpikeGLX orders them.
    void finish(const Meta& entries);

    uint32_t channels() const { return m_channels; }
    double sample_rate() const { return m_sample_rate; }
    uint64_t rows() const { return m_rows; }
    const std::filesystem::path& bin_path() const { return m_bin_path; }

private:
    std::filesystem::path m_bin_path;
    uint32_t m_channels;
    double m_sample_rate;
    uint64_t m_rows = 0;
    std::vector<char> m_buffer;
    std::ofstream m_bin;
};

} // namespace Selvan::MURA::acquire

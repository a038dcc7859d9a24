#include "C_SpikeGLX_Stream.h"

#include <fmt/format.h>

#include <stdexcept>

namespace Selvan::MURA::acquire {
namespace {

constexpr size_t WRITE_BUFFER_BYTES = 1 << 20;

} // namespace

C_SpikeGLX_Stream::C_SpikeGLX_Stream(std::filesystem::path bin, uint32_t channels, double sample_rate)
    : m_bin_path(std::move(bin))
    , m_channels(channels)
    , m_sample_rate(sample_rate)
    , m_buffer(WRITE_BUFFER_BYTES) {
    m_bin.rdbuf()->pubsetbuf(m_buffer.data(), static_cast<std::streamsize>(m_buffer.size()));
    m_bin.open(m_bin_path, std::ios::binary | std::ios::trunc);
    if (!m_bin)
        throw std::runtime_error(fmt::format("cannot create {}", m_bin_path.string()));
}

void C_SpikeGLX_Stream::append(const int16_t* samples, uint64_t rows) {
    m_bin.write(reinterpret_cast<const char*>(samples),
                static_cast<std::streamsize>(rows * m_channels * sizeof(int16_t)));
    m_rows += rows;
}

void C_SpikeGLX_Stream::finish(const Meta& entries) {
    m_bin.close();
    if (m_bin.fail())
        throw std::runtime_error(fmt::format("writing {} failed", m_bin_path.string()));
    Meta meta = entries;
    meta["nSavedChans"] = fmt::format("{}", m_channels);
    meta["fileSizeBytes"] = fmt::format("{}", m_rows * m_channels * sizeof(int16_t));
    meta["fileTimeSecs"] = fmt::format("{}", static_cast<double>(m_rows) / m_sample_rate);
    meta["fileName"] = m_bin_path.generic_string();
    if (!meta.contains("firstSample"))
        meta["firstSample"] = "0";

    std::filesystem::path meta_path = m_bin_path;
    meta_path.replace_extension(".meta");
    std::ofstream out(meta_path, std::ios::binary | std::ios::trunc);
    for (bool tables : {false, true}) {
        for (const auto& [key, value] : meta) {
            if ((key.front() == '~') == tables)
                out << key << '=' << value << '\n';
        }
    }
    if (!out.flush())
        throw std::runtime_error(fmt::format("writing {} failed", meta_path.string()));
}

} // namespace Selvan::MURA::acquire

#pragma once

#include "Export.h"

#include <cstdint>

namespace Selvan::MURA {

class I_MemMapped_XDMA;
class I_InputDataStream;
class MURA_Configurator;

// Control of the card-to-host stream: registers the destination buffer with the device and
// reads one buffer's worth of stream data.
class MURA_EXPORT M_DataStream {
public:
    M_DataStream(I_MemMapped_XDMA* xdma, I_InputDataStream* stream, MURA_Configurator* configurator);
    ~M_DataStream();
    M_DataStream(const M_DataStream&) = delete;
    M_DataStream& operator=(const M_DataStream&) = delete;

    // The DMA engine needs a buffer aligned to 4 bytes and performs best on a page-aligned
    // one. Sets the tlast mode for Windows (off, then on) and prepares the device read.
    void prepare_buffer_for_hw_read(uint8_t* buffer, uint32_t length);
    // One stream read into `buffer`, which becomes the prepared buffer if it was not: the pump
    // reads straight into the demultiplexer's transfer buffers, a different one each time.
    // Returns the bytes delivered, 0 for a misaligned buffer.
    uint32_t read(uint8_t* buffer, uint32_t length, bool wait_for_full);
    // Clears the whole control word, which stops every stream and powers the QRB004 off.
    void disable_data_source() const;

private:
    static bool check_alignment(const uint8_t* buffer);

    I_MemMapped_XDMA* m_xdma;
    MURA_Configurator* m_configurator;
    I_InputDataStream* m_stream;
    const uint8_t* m_prepared_buffer = nullptr;
    uint32_t m_prepared_length = 0;
};

} // namespace Selvan::MURA

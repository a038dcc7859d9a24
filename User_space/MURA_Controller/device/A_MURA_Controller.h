#pragma once

#include "Export.h"
#include "I_InputDataStream.h"
#include "I_MemMapped_AXI.h"
#include "I_MemMapped_XDMA.h"

#include <functional>
#include <memory>

namespace Selvan::MURA {

class SPI_Module;
class M_DataStream;
class GPIO_Module;
class UART_Module;
class XADC_Module;
class Okelly_Adapter_Module;
class AXI_Stream_Fifo_Module;
class MURA_Configurator;
class HW_ICAP_Module;
class Foreign_HW_ICAP_Module;

// The one gateway to the MURA box: its register window, its card-to-host stream and the DMA
// engine's registers, plus the FPGA module objects bound to their base addresses.
class MURA_EXPORT A_MURA_Controller : public I_MemMapped_AXI,
                                      public I_InputDataStream,
                                      public I_MemMapped_XDMA {
public:
    A_MURA_Controller();
    virtual ~A_MURA_Controller();
    A_MURA_Controller(const A_MURA_Controller&) = delete;
    A_MURA_Controller& operator=(const A_MURA_Controller&) = delete;

    // Opens the device; the name and the flag are ignored by every implementation.
    virtual bool open_driver_connection(const char* driver_name, bool flag) = 0;
    // Releases the device; harmless when nothing is open.
    virtual void close_driver_connection() = 0;
    virtual bool set_extended_property(uint32_t property, uint32_t value) = 0;

    // Builds a fresh controller (simulated or the platform's hardware one) with its modules.
    // A factory, not a singleton: every call yields an independent controller.
    static std::shared_ptr<A_MURA_Controller> get_instance(bool simulation);

    // Test seam: while set, get_instance builds its controller with this function instead of
    // choosing the simulated or hardware class; the modules are created as usual.
    using Instance_Factory = std::function<std::shared_ptr<A_MURA_Controller>(bool simulation)>;
    static void set_instance_factory(Instance_Factory factory);
    static void reset_instance_factory();

    // Module map, in declaration order; members are released in reverse order.
    std::shared_ptr<SPI_Module> m_spi;
    std::shared_ptr<M_DataStream> m_data_stream;
    std::shared_ptr<GPIO_Module> m_gpio_port_status;
    std::shared_ptr<GPIO_Module> m_gpio_efuse;
    std::shared_ptr<GPIO_Module> m_gpio_build_timestamp;
    std::shared_ptr<UART_Module> m_uart;
    std::shared_ptr<XADC_Module> m_xadc;
    std::shared_ptr<Okelly_Adapter_Module> m_okelly;
    std::shared_ptr<AXI_Stream_Fifo_Module> m_axi_stream_fifo;
    std::shared_ptr<MURA_Configurator> m_configurator;
    std::shared_ptr<HW_ICAP_Module> m_hw_icap;
    std::shared_ptr<Foreign_HW_ICAP_Module> m_foreign_hw_icap;
    std::shared_ptr<GPIO_Module> m_gpio_control;

private:
    void create_modules();
};

} // namespace Selvan::MURA

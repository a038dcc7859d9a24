#pragma once

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

// The FPGA design's register modules, each bound to its base address in a controller's register
// window. The controller owns them; they keep plain pointers back to it. Members are created in
// this order and released in reverse: the configurator and the data stream module point at
// modules declared before them.
struct MURA_Register_Modules {
    std::shared_ptr<SPI_Module> spi;
    std::shared_ptr<M_DataStream> data_stream;
    std::shared_ptr<GPIO_Module> gpio_port_status;
    std::shared_ptr<GPIO_Module> gpio_efuse;
    std::shared_ptr<GPIO_Module> gpio_build_timestamp;
    std::shared_ptr<UART_Module> uart;
    std::shared_ptr<XADC_Module> xadc;
    std::shared_ptr<Okelly_Adapter_Module> okelly;
    std::shared_ptr<AXI_Stream_Fifo_Module> axi_stream_fifo;
    std::shared_ptr<MURA_Configurator> configurator;
    std::shared_ptr<HW_ICAP_Module> hw_icap;
    std::shared_ptr<Foreign_HW_ICAP_Module> foreign_hw_icap;
    std::shared_ptr<GPIO_Module> gpio_control;
};

} // namespace Selvan::MURA

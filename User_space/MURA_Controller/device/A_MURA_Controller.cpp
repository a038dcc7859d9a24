#include "A_MURA_Controller.h"

#if defined(_WIN32)
#include "CP_Win_MURA_Controller.h"
#else
#include "CP_Linux_MURA_Controller.h"
#endif
#include "CP_Sim_MURA_Controller.h"
#include "Console.h"
#include "L2_MURA_Configurator.h"
#include "MURA_Register_Map.h"
#include "M_AXI_Stream_Fifo.h"
#include "M_DataStream.h"
#include "M_Foreign_HW_ICAP.h"
#include "M_GPIO.h"
#include "M_HW_ICAP.h"
#include "M_Okelly_Adapter.h"
#include "M_SPI.h"
#include "M_UART.h"
#include "M_XADC.h"

#include <mutex>

namespace Selvan::MURA {
namespace {

std::mutex g_factory_mutex;
A_MURA_Controller::Instance_Factory g_factory;

A_MURA_Controller::Instance_Factory current_factory() {
    std::lock_guard lock(g_factory_mutex);
    return g_factory;
}

std::shared_ptr<A_MURA_Controller> make_platform_controller(bool simulation) {
    if (simulation)
        return std::make_shared<CP_Sim_MURA_Controller>();
#if defined(_WIN32)
    return std::make_shared<CP_Win_MURA_Controller>();
#else
    return std::make_shared<CP_Linux_MURA_Controller>();
#endif
}

} // namespace

A_MURA_Controller::A_MURA_Controller() {
    console::out("A_MURA_Controller ctor\n");
}

A_MURA_Controller::~A_MURA_Controller() {
    console::out("A_MURA_Controller dtor\n");
}

std::shared_ptr<A_MURA_Controller> A_MURA_Controller::get_instance(bool simulation) {
    const Instance_Factory factory = current_factory();
    std::shared_ptr<A_MURA_Controller> controller =
        factory ? factory(simulation) : make_platform_controller(simulation);
    controller->create_modules();
    return controller;
}

std::shared_ptr<A_MURA_Controller>
A_MURA_Controller::with_modules(std::shared_ptr<A_MURA_Controller> controller) {
    if (controller)
        controller->create_modules();
    return controller;
}

void A_MURA_Controller::set_instance_factory(Instance_Factory factory) {
    std::lock_guard lock(g_factory_mutex);
    g_factory = std::move(factory);
}

void A_MURA_Controller::reset_instance_factory() {
    set_instance_factory(nullptr);
}

void A_MURA_Controller::create_modules() {
    using namespace register_map;
    I_MemMapped_AXI* bus = this;
    MURA_Register_Modules& m = m_modules;
    m.spi = std::make_shared<SPI_Module>(SPI_BASE, bus);
    m.gpio_port_status = std::make_shared<GPIO_Module>(PORT_STATUS_BASE, bus);
    m.gpio_control = std::make_shared<GPIO_Module>(CONTROL_WORD_BASE, bus);
    m.gpio_build_timestamp = std::make_shared<GPIO_Module>(BUILD_TIMESTAMP_BASE, bus);
    m.uart = std::make_shared<UART_Module>(UART_BASE, bus);
    m.xadc = std::make_shared<XADC_Module>(XADC_BASE, bus);
    m.okelly = std::make_shared<Okelly_Adapter_Module>(OKELLY_BASE, bus);
    m.axi_stream_fifo = std::make_shared<AXI_Stream_Fifo_Module>(AXI_STREAM_FIFO_BASE, bus);
    m.configurator = std::make_shared<MURA_Configurator>(m.gpio_control.get());
    m.data_stream = std::make_shared<M_DataStream>(this, this, m.configurator.get());
    m.hw_icap = std::make_shared<HW_ICAP_Module>(HW_ICAP_BASE, bus);
    m.foreign_hw_icap = std::make_shared<Foreign_HW_ICAP_Module>(FOREIGN_HW_ICAP_BASE, bus);
    m.gpio_efuse = std::make_shared<GPIO_Module>(EFUSE_BASE, bus);
}

} // namespace Selvan::MURA

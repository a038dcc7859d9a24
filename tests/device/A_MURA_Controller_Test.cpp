#include "A_MURA_Controller.h"
#include "CP_Box_Model_MURA_Controller.h"
#include "CP_Sim_MURA_Controller.h"
#include "L2_MURA_Configurator.h"
#include "M_DataStream.h"
#include "M_Foreign_HW_ICAP.h"
#include "M_GPIO.h"
#include "M_HW_ICAP.h"
#include "M_Okelly_Adapter.h"
#include "M_SPI.h"
#include "M_UART.h"
#include "M_XADC.h"
#include "Output_Capture.h"

#include <gtest/gtest.h>

namespace Selvan::MURA {
namespace {

using test_support::Stdout_Capture;

constexpr const char* construction_lines = "A_MURA_Controller ctor\n"
                                           "SPI_Module ctor at base adr : 500\n"
                                           "GPIO_Module ctor at base adr : 200\n"
                                           "GPIO_Module ctor at base adr : 0\n"
                                           "GPIO_Module ctor at base adr : 8\n"
                                           "UART_Module ctor at base adr : 400\n"
                                           "XADC_Module ctor at base adr : 800\n"
                                           "Okelly_Adapter_Module ctor at base adr : 1000\n"
                                           "AXI_Stream_Fifo_Module ctor at base adr : 1200\n"
                                           "HW_ICAP_Module ctor at base adr : 1400\n"
                                           "Foreign HW_ICAP_Module ctor at base adr : 400\n"
                                           "GPIO_Module ctor at base adr : 1600\n";

TEST(ControllerFactory, BuildsTheModuleMapInOrderWithItsConstructionLines) {
    Stdout_Capture out;
    auto controller = A_MURA_Controller::get_instance(true);
    EXPECT_EQ(out.take(), construction_lines);
    EXPECT_NE(dynamic_cast<CP_Sim_MURA_Controller*>(controller.get()), nullptr);
    EXPECT_EQ(controller.use_count(), 1);
    EXPECT_EQ(controller->modules().spi->base_address(), 0x500u);
    EXPECT_EQ(controller->modules().gpio_port_status->base_address(), 0x200u);
    EXPECT_EQ(controller->modules().gpio_control->base_address(), 0x0u);
    EXPECT_EQ(controller->modules().gpio_build_timestamp->base_address(), 0x8u);
    EXPECT_EQ(controller->modules().gpio_efuse->base_address(), 0x1600u);
    EXPECT_EQ(controller->modules().uart->base_address(), 0x400u);
    EXPECT_EQ(controller->modules().xadc->base_address(), 0x800u);
    EXPECT_EQ(controller->modules().okelly->base_address(), 0x1000u);
    EXPECT_EQ(controller->modules().hw_icap->base_address(), 0x1400u);
    EXPECT_EQ(controller->modules().foreign_hw_icap->base_address(), 0x400u);
    EXPECT_NE(controller->modules().configurator, nullptr);
    EXPECT_NE(controller->modules().data_stream, nullptr);
    EXPECT_NE(controller->modules().axi_stream_fifo, nullptr);
}

TEST(ControllerFactory, EveryCallGivesAnIndependentController) {
    Stdout_Capture out;
    auto first = A_MURA_Controller::get_instance(true);
    auto second = A_MURA_Controller::get_instance(true);
    EXPECT_EQ(out.take(), std::string(construction_lines) + construction_lines);
    EXPECT_NE(first.get(), second.get());
    EXPECT_NE(first->modules().uart.get(), second->modules().uart.get());
}

TEST(ControllerFactory, DestructionReleasesTheModulesInReverseOrder) {
    auto controller = A_MURA_Controller::get_instance(true);
    Stdout_Capture out;
    controller.reset();
    // The configurator points at the control-word GPIO, which goes first: its destruction must
    // not touch the GPIO (it would print a register line in simulation).
    EXPECT_EQ(out.take(), "CP_Sim_MURA_Controller dtor, closing driver connection\n"
                          "A_MURA_Controller dtor\n"
                          "XADC_Module dtor\n"
                          "Data stream module dtor\n");
}

TEST(ControllerFactory, OverrideBuildsTheTestControllerUntilReset) {
    auto box = std::make_shared<box_model::MURA_Box_Model>();
    {
        box_model::Box_Model_Factory_Override use_box(box);
        auto hardware = A_MURA_Controller::get_instance(false);
        auto simulated = A_MURA_Controller::get_instance(true);
        EXPECT_NE(dynamic_cast<box_model::CP_Box_Model_MURA_Controller*>(hardware.get()), nullptr);
        EXPECT_NE(dynamic_cast<box_model::CP_Box_Model_MURA_Controller*>(simulated.get()), nullptr);
        ASSERT_NE(hardware->modules().gpio_port_status, nullptr);
        ASSERT_TRUE(hardware->open_driver_connection("MURA_Dext_Driver", true));
        EXPECT_EQ(hardware->modules().gpio_port_status->read_data(), 0xFu);
    }
    auto after_reset = A_MURA_Controller::get_instance(true);
    EXPECT_NE(dynamic_cast<CP_Sim_MURA_Controller*>(after_reset.get()), nullptr);
}

} // namespace
} // namespace Selvan::MURA

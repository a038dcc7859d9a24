#include "MURA_Box_Model.h"

#include <gtest/gtest.h>

namespace Selvan::MURA::box_model {
namespace {

// The model must itself behave like the box, or the tests that use it prove nothing.

TEST(BoxModel, RegistersAnswerOnlyWhileTheDriverIsOpen) {
    MURA_Box_Model box;
    EXPECT_EQ(box.read_register(0x0208), MURA_Box_Model::UNANSWERED_READ);
    box.write_register(0x0000, 0x540);
    EXPECT_EQ(box.accesses_while_closed(), 2u);
    ASSERT_TRUE(box.open());
    EXPECT_EQ(box.read_register(0x0208), MURA_Box_Model::DEFAULT_NP_SIGNATURE);
    EXPECT_EQ(box.control_word(), 0u);
    box.write_register(0x0000, 0x540);
    EXPECT_EQ(box.read_register(0x0000), 0x540u);
    EXPECT_EQ(box.register_writes().size(), 2u);
}

TEST(BoxModel, ForeignDesignOffersItsConfigurationPortWhereTheUartWouldBe) {
    MURA_Box_Model box;
    box.set_signature(0x52480020);
    box.add_flash_design(0xB00000, 0x4E500040);
    ASSERT_TRUE(box.open());
    box.write_register(0x0000, 0x123);
    box.write_register(0x0400, 0x10);
    box.write_register(0x0404, 0xB00000);
    box.write_register(0x0408, 1);
    EXPECT_EQ(box.read_register(0x040C), 1u);
    box.write_register(0x0408, 0);
    EXPECT_EQ(box.read_register(0x040C), 0u);
    box.write_register(0x0400, 4);
    box.write_register(0x0404, 15);
    box.write_register(0x0408, 1);
    EXPECT_EQ(box.boot_count(), 1u);
    // The link drops with the reconfiguration until the driver reopens it.
    EXPECT_EQ(box.read_register(0x0208), MURA_Box_Model::UNANSWERED_READ);
    box.close();
    ASSERT_TRUE(box.open());
    EXPECT_EQ(box.read_register(0x0208), 0x4E500040u);
    EXPECT_EQ(box.control_word(), 0u);
}

TEST(BoxModel, NeuropixelsDesignIgnoresConfigurationPortWritesAtTheUart) {
    MURA_Box_Model box;
    ASSERT_TRUE(box.open());
    box.write_register(0x0400, 4);
    box.write_register(0x0404, 15);
    box.write_register(0x0408, 1);
    EXPECT_EQ(box.boot_count(), 0u);
    EXPECT_EQ(box.read_register(0x0408), 0x4u); // UART: transmit FIFO empty, nothing received
}

TEST(BoxModel, BootAddressWithoutADesignKeepsTheRunningOne) {
    MURA_Box_Model box;
    box.set_signature(0x52480020);
    ASSERT_TRUE(box.open());
    for (auto [reg, value] : {std::pair{0x0400u, 0x10u},
                              {0x0404u, 0x100000u},
                              {0x0408u, 1u},
                              {0x0408u, 0u},
                              {0x0400u, 4u},
                              {0x0404u, 15u},
                              {0x0408u, 1u}})
        box.write_register(reg, value);
    EXPECT_EQ(box.boot_count(), 1u);
    EXPECT_EQ(box.signature(), 0x52480020u);
}

TEST(BoxModel, RhdPllLocksUnlessTold) {
    MURA_Box_Model box;
    ASSERT_TRUE(box.open());
    EXPECT_EQ(box.read_register(0x1090), 3u);
    box.set_faults({.rhd_pll_never_locks = true});
    EXPECT_EQ(box.read_register(0x1090), 0u);
    box.set_rhd_ttl_in(0x20001);
    EXPECT_EQ(box.read_register(0x108C), 0x20001u);
    box.write_register(0x1054, 0x77);
    EXPECT_EQ(box.read_register(0x1054), 0x77u);
}

TEST(BoxModel, OpenFaultRefusesTheDriver) {
    MURA_Box_Model box;
    box.set_faults({.open_fails = true});
    EXPECT_FALSE(box.open());
    EXPECT_FALSE(box.is_open());
    EXPECT_EQ(box.open_count(), 0u);
}

} // namespace
} // namespace Selvan::MURA::box_model

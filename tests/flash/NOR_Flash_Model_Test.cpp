#include "M_SPI.h"
#include "NOR_Flash_Model.h"
#include "SPI_Master_Model.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

namespace Selvan::MURA::box_model {
namespace {

using ::testing::Each;
using ::testing::ElementsAre;
using Kind = NOR_Flash_Model::Operation_Kind;

// The flash and the SPI master must behave like the parts on the board, or the flash tests that
// use them prove nothing.

// One command with the chip selected; returns what the flash drove back for every byte.
std::vector<uint8_t> command(NOR_Flash_Model& flash, const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> answers;
    flash.select();
    for (uint8_t byte : bytes)
        answers.push_back(flash.exchange(byte));
    flash.deselect();
    return answers;
}

std::vector<uint8_t> with_address(uint8_t opcode, uint32_t address, std::vector<uint8_t> data = {}) {
    std::vector<uint8_t> bytes = {opcode, static_cast<uint8_t>(address >> 16),
                                  static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)};
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

void program(NOR_Flash_Model& flash, uint32_t address, std::vector<uint8_t> data) {
    command(flash, {0x06});
    command(flash, with_address(0x02, address, std::move(data)));
}

TEST(NorFlashModel, StartsErasedAndIdentifiesItself) {
    NOR_Flash_Model flash;
    EXPECT_THAT(flash.contents(0xFFFFF0, 16), Each(0xFF));
    EXPECT_THAT(command(flash, {0x9F, 0x01, 0x01, 0x01}), ElementsAre(0xFF, 0x20, 0xBA, 0x18));
    // Without the chip select the flash does not listen.
    EXPECT_EQ(flash.exchange(0x9F), 0xFF);
}

TEST(NorFlashModel, ProgrammingNeedsTheWriteEnableLatchAndOnlyClearsBits) {
    NOR_Flash_Model flash;
    command(flash, with_address(0x02, 0x1000, {0x00}));
    EXPECT_EQ(flash.contents(0x1000, 1), std::vector<uint8_t>{0xFF});
    EXPECT_EQ(flash.refused_commands(), 1u);

    program(flash, 0x1000, {0xF0, 0x0F});
    EXPECT_FALSE(flash.write_enabled());
    program(flash, 0x1000, {0x3C, 0xFF});
    EXPECT_EQ(flash.contents(0x1000, 3), (std::vector<uint8_t>{0x30, 0x0F, 0xFF}));
    EXPECT_THAT(flash.operations(), ElementsAre(NOR_Flash_Model::Operation{Kind::page_program, 0x1000, 2},
                                                NOR_Flash_Model::Operation{Kind::page_program, 0x1000, 2}));
}

TEST(NorFlashModel, PageProgramWrapsWithinItsPage) {
    NOR_Flash_Model flash;
    std::vector<uint8_t> data(32);
    for (uint8_t i = 0; i < 32; ++i)
        data[i] = i;
    program(flash, 0x20F0, data);
    EXPECT_EQ(flash.contents(0x20F0, 16), std::vector<uint8_t>(data.begin(), data.begin() + 16));
    EXPECT_EQ(flash.contents(0x2000, 16), std::vector<uint8_t>(data.begin() + 16, data.end()));
    EXPECT_THAT(flash.contents(0x2100, 16), Each(0xFF)); // the next page is untouched
}

TEST(NorFlashModel, SectorEraseSetsTheWholeSectorOfTheAddressToFF) {
    NOR_Flash_Model flash;
    flash.fill(0x0F0000, std::vector<uint8_t>(3 * 0x10000, 0x00));
    command(flash, {0x06});
    command(flash, with_address(0xD8, 0x101234));
    EXPECT_THAT(flash.contents(0x100000, 0x10000), Each(0xFF));
    EXPECT_THAT(flash.contents(0x0F0000, 0x10000), Each(0x00));
    EXPECT_THAT(flash.contents(0x110000, 0x10000), Each(0x00));
    EXPECT_THAT(flash.operations(),
                ElementsAre(NOR_Flash_Model::Operation{Kind::sector_erase, 0x100000, 0x10000}));
}

TEST(NorFlashModel, BulkEraseClearsEverything) {
    NOR_Flash_Model flash;
    flash.fill(0xFF0000, {0x12, 0x34});
    flash.fill(0x000000, {0x56});
    command(flash, {0x06});
    command(flash, {0xC7});
    EXPECT_THAT(flash.contents(0xFF0000, 2), Each(0xFF));
    EXPECT_THAT(flash.contents(0, 1), Each(0xFF));
}

TEST(NorFlashModel, ReadStreamsFromTheAddress) {
    NOR_Flash_Model flash;
    flash.fill(0xB00000, {1, 2, 3});
    EXPECT_THAT(command(flash, with_address(0x03, 0xB00000, {0x01, 0x01, 0x01, 0x01})),
                ElementsAre(0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3, 0xFF));
}

TEST(NorFlashModel, BusyForTheProgrammedPollsAndDeafToAllButStatusReads) {
    NOR_Flash_Model flash;
    flash.busy_polls.page_program = 2;
    flash.fill(0x40, {0x77});
    program(flash, 0x100, {0x00});
    EXPECT_EQ(command(flash, {0x70, 0x01})[1], 0x00); // flag status: controller busy
    command(flash, {0x06});
    command(flash, with_address(0x02, 0x200, {0x00}));
    EXPECT_EQ(command(flash, with_address(0x03, 0x40, {0x01}))[4], 0xFF);
    EXPECT_EQ(flash.refused_commands(), 3u);
    // Busy with the write enable latch set for two polls, then idle with the latch cleared.
    EXPECT_THAT(command(flash, {0x05, 0x01, 0x01, 0x01}), ElementsAre(0xFF, 0x03, 0x03, 0x00));
    EXPECT_EQ(command(flash, {0x70, 0x01})[1], 0x80);
    EXPECT_EQ(command(flash, with_address(0x03, 0x40, {0x01}))[4], 0x77);
    EXPECT_EQ(flash.contents(0x200, 1), std::vector<uint8_t>{0xFF});
}

TEST(NorFlashModel, NeverReadyFaultKeepsAStartedEraseBusy) {
    NOR_Flash_Model flash;
    flash.never_ready = true;
    EXPECT_EQ(command(flash, {0x05, 0x01})[1], 0x00);
    command(flash, {0x06});
    command(flash, with_address(0xD8, 0));
    for (int poll = 0; poll < 1000; ++poll)
        ASSERT_EQ(command(flash, {0x05, 0x01})[1] & 1, 1);
}

// --- the SPI master in front of it ---

constexpr uint32_t CONTROL = SPI_Module::CONTROL;
constexpr uint32_t STATUS = SPI_Module::STATUS;
constexpr uint32_t TX = SPI_Module::TX_DATA;
constexpr uint32_t RX = SPI_Module::RX_DATA;
constexpr uint32_t SS = SPI_Module::SLAVE_SELECT;

TEST(SpiMasterModel, InhibitedBytesWaitInTheTransmitFifoUntilReleased) {
    SPI_Master_Model spi;
    EXPECT_EQ(spi.read(STATUS), SPI_Module::STATUS_RX_EMPTY | SPI_Module::STATUS_TX_EMPTY);
    spi.write(SS, 0);
    spi.write(CONTROL, 0x186);
    spi.write(TX, 0x9F);
    spi.write(TX, 0x01);
    EXPECT_EQ(spi.read(STATUS), SPI_Module::STATUS_RX_EMPTY);
    spi.write(CONTROL, 0x86);
    EXPECT_EQ(spi.read(STATUS), SPI_Module::STATUS_TX_EMPTY);
    EXPECT_EQ(spi.read(RX), 0xFFu);
    EXPECT_EQ(spi.read(RX), 0x20u);
    EXPECT_EQ(spi.read(STATUS), SPI_Module::STATUS_RX_EMPTY | SPI_Module::STATUS_TX_EMPTY);
    EXPECT_EQ(spi.rx_underflows(), 0u);
}

TEST(SpiMasterModel, ReleasedSlaveSelectEndsTheCommandAndNobodyAnswers) {
    SPI_Master_Model spi;
    EXPECT_FALSE(spi.flash_selected());
    spi.write(CONTROL, 0x86);
    spi.write(TX, 0x06);
    EXPECT_EQ(spi.read(RX), 0xFFu);
    EXPECT_FALSE(spi.flash().write_enabled());
    spi.write(SS, 0);
    spi.write(TX, 0x06);
    EXPECT_FALSE(spi.flash().write_enabled()); // takes effect when the chip select rises
    spi.write(SS, 1);
    EXPECT_TRUE(spi.flash().write_enabled());
}

TEST(SpiMasterModel, FifosHoldSixteenEntriesAndCountWhatIsLost) {
    SPI_Master_Model spi;
    spi.write(CONTROL, 0x186);
    for (int i = 0; i < 17; ++i)
        spi.write(TX, 0x01);
    EXPECT_EQ(spi.tx_overflows(), 1u);
    EXPECT_EQ(spi.read(STATUS) & SPI_Master_Model::STATUS_TX_FULL, SPI_Master_Model::STATUS_TX_FULL);
    spi.write(CONTROL, 0x86);
    spi.write(TX, 0x01);
    EXPECT_EQ(spi.rx_overflows(), 1u);
    EXPECT_EQ(spi.read(STATUS), SPI_Master_Model::STATUS_RX_FULL | SPI_Module::STATUS_TX_EMPTY);
    for (int i = 0; i < 16; ++i)
        spi.read(RX);
    spi.read(RX);
    EXPECT_EQ(spi.rx_underflows(), 1u);
}

TEST(SpiMasterModel, FaultsStallTheTransmitFifoOrAddStrayReceiveWords) {
    SPI_Master_Model spi;
    spi.faults.tx_never_drains = true;
    spi.write(CONTROL, 0x86);
    spi.write(TX, 0x05);
    EXPECT_EQ(spi.read(STATUS), SPI_Module::STATUS_RX_EMPTY);

    SPI_Master_Model stray;
    stray.faults.stray_rx_words = 2;
    stray.write(CONTROL, 0x186);
    stray.write(TX, 0x05);
    stray.write(CONTROL, 0x86);
    stray.read(RX);
    EXPECT_EQ(stray.read(STATUS) & SPI_Module::STATUS_RX_EMPTY, 0u);
    stray.read(RX);
    stray.read(RX);
    EXPECT_EQ(stray.read(STATUS) & SPI_Module::STATUS_RX_EMPTY, SPI_Module::STATUS_RX_EMPTY);
}

} // namespace
} // namespace Selvan::MURA::box_model

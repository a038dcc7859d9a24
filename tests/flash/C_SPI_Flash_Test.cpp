#include "Box_Fixture.h"
#include "C_SPI_Flash.h"
#include "M_SPI.h"
#include "Output_Capture.h"
#include "Scratch_Directory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace Selvan::MURA {
namespace {

using box_model::NOR_Flash_Model;
using box_model::Register_Access;
using test_support::Scratch_Directory;
using test_support::Stderr_Capture;
using test_support::Stdout_Capture;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::StartsWith;
using Kind = NOR_Flash_Model::Operation_Kind;
using Operation = NOR_Flash_Model::Operation;
using namespace std::chrono_literals;

constexpr uint32_t CONTROL = 0x560;
constexpr uint32_t TX = 0x568;
constexpr uint32_t SLAVE_SELECT = 0x570;
const std::string READY = "wait_flash_to_become_ready counter : 0\nflash_flag_status_register : 0x80\n";

std::string pattern(size_t size, uint32_t seed = 1) {
    std::string bytes(size, '\0');
    for (auto& byte : bytes) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<char>(seed >> 16);
    }
    return bytes;
}

std::vector<uint8_t> as_bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

std::string file_contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The flash programmer on the SPI master of a controller bound to a box model.
class FlashOnBoxModel : public test_support::Box_Fixture {
protected:
    void SetUp() override { spi = opened_controller().modules().spi.get(); }

    SPI_Flash make_flash(Flash_Progress progress = {}) { return SPI_Flash(spi, std::move(progress)); }
    std::vector<Register_Access> spi_writes() const { return box->register_writes_from(0x500, 0x5FF); }
    // Writes of one command byte sequence to the transmit FIFO, framed as every transfer is.
    static std::vector<Register_Access> transfer(std::initializer_list<uint32_t> bytes) {
        std::vector<Register_Access> writes = {{CONTROL, 0x186}};
        for (uint32_t byte : bytes)
            writes.push_back({TX, byte});
        writes.push_back({CONTROL, 0x86});
        return writes;
    }
    static std::vector<Register_Access> concat(std::initializer_list<std::vector<Register_Access>> parts) {
        std::vector<Register_Access> all;
        for (const auto& part : parts)
            all.insert(all.end(), part.begin(), part.end());
        return all;
    }

    SPI_Module* spi = nullptr;
    Scratch_Directory scratch;
};

TEST_F(FlashOnBoxModel, FirstCommandIdentifiesTheFlashWithoutSelectingIt) {
    auto flash = make_flash();
    flash.write_enable();
    flash.write_enable();
    const std::vector<Register_Access> select = {{SLAVE_SELECT, 0}};
    const std::vector<Register_Access> release = {{SLAVE_SELECT, 1}};
    EXPECT_EQ(spi_writes(), concat({transfer({0x9F}), select, transfer({0x06}), release, select,
                                    transfer({0x06}), release}));
    EXPECT_TRUE(box->flash().write_enabled());
    EXPECT_EQ(box->spi().rx_underflows(), 0u);
}

TEST_F(FlashOnBoxModel, StatusRegistersAreReadWithOneDummyByte) {
    auto flash = make_flash();
    flash.identify_once();
    box->clear_access_logs();
    flash.write_enable();
    EXPECT_EQ(flash.read_status_register(), 0x02); // write enable latch
    EXPECT_EQ(flash.read_flag_status_register(), 0x80);
    const std::vector<Register_Access> select = {{SLAVE_SELECT, 0}};
    const std::vector<Register_Access> release = {{SLAVE_SELECT, 1}};
    EXPECT_EQ(spi_writes(),
              concat({select, transfer({0x06}), release, select, transfer({0x05}), transfer({0x01}), release,
                      select, transfer({0x70}), transfer({0x01}), release}));
}

TEST_F(FlashOnBoxModel, ReadPagesReadsWholeBlocksOfSixteenBytes) {
    const std::string stored = pattern(256);
    box->flash().fill(0x123400, as_bytes(stored));
    auto flash = make_flash();
    flash.identify_once();

    box->clear_access_logs();
    std::stringstream twenty;
    flash.read_pages(twenty, 20, 0x123400);
    EXPECT_EQ(twenty.str(), stored.substr(0, 16));
    std::vector<Register_Access> one_block =
        concat({{{SLAVE_SELECT, 0}}, transfer({0x03, 0x12, 0x34, 0x00})});
    const auto dummies = transfer({1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1});
    one_block = concat({one_block, dummies, {{SLAVE_SELECT, 1}}});
    EXPECT_EQ(spi_writes(), one_block);

    std::stringstream page;
    flash.read_pages(page, 256, 0x123400);
    EXPECT_EQ(page.str(), stored);
    EXPECT_EQ(box->spi().rx_underflows(), 0u);
    EXPECT_FALSE(box->spi().flash_selected());
}

TEST_F(FlashOnBoxModel, ProgramPagesProgramsWholePagesOnly) {
    const std::string data = pattern(300);
    std::stringstream stream(data);
    auto flash = make_flash();
    Stdout_Capture out;
    EXPECT_TRUE(flash.program_pages(stream, 300, 0x200000));
    EXPECT_EQ(out.take(), READY);
    EXPECT_THAT(box->flash().operations(), ElementsAre(Operation{Kind::page_program, 0x200000, 256}));
    EXPECT_EQ(box->flash().contents(0x200000, 256), as_bytes(data.substr(0, 256)));
    EXPECT_THAT(box->flash().contents(0x200100, 256), Each(0xFF));
    // A page goes out as the command with its address, then sixteen transfers of sixteen bytes.
    size_t data_transfers = 0;
    for (const auto& write : spi_writes())
        data_transfers += write == Register_Access{CONTROL, 0x86};
    EXPECT_EQ(data_transfers,
              1u /* identification */ + 1 /* write enable */ + 1 + 16 + 2 /* status */ + 2 /* flag status */);
}

TEST_F(FlashOnBoxModel, ProgramPagesBelowOnePageSendsNothing) {
    std::stringstream stream(pattern(255));
    auto flash = make_flash();
    flash.identify_once();
    box->clear_access_logs();
    EXPECT_TRUE(flash.program_pages(stream, 255, 0));
    EXPECT_TRUE(spi_writes().empty());
}

TEST_F(FlashOnBoxModel, StreamEndingEarlyStopsBeforeAPartialPageAndLeavesTheFlashReleased) {
    const std::string data = pattern(400);
    std::stringstream stream(data);
    auto flash = make_flash();
    Stderr_Capture err;
    Stdout_Capture out;
    EXPECT_FALSE(flash.program_pages(stream, 768, 0x300000));
    out.take();
    EXPECT_EQ(err.take(), "End of stream reached during program\n");
    EXPECT_THAT(box->flash().operations(), ElementsAre(Operation{Kind::page_program, 0x300000, 256}));
    EXPECT_THAT(box->flash().contents(0x300100, 256), Each(0xFF));
    EXPECT_FALSE(box->spi().flash_selected());
    EXPECT_FALSE(box->flash().write_enabled());
    ASSERT_FALSE(spi_writes().empty());
    EXPECT_EQ(spi_writes().back(), (Register_Access{SLAVE_SELECT, 1}));
}

TEST_F(FlashOnBoxModel, BusyPollsPrintADotEachAndTheCount) {
    box->flash().busy_polls.page_program = 3;
    std::stringstream stream(pattern(256));
    auto flash = make_flash();
    Stdout_Capture out;
    flash.program_pages(stream, 256, 0);
    EXPECT_EQ(out.take(), "...wait_flash_to_become_ready counter : 3\nflash_flag_status_register : 0x80\n");
    EXPECT_TRUE(pauses.pauses().empty()); // page waits poll back to back
}

TEST_F(FlashOnBoxModel, SectorEraseErasesConsecutiveSectorsAndWaitsOneSecondPerPoll) {
    box->flash().fill(0xAF0000, std::vector<uint8_t>(4 * 0x10000, 0x00));
    box->flash().busy_polls.sector_erase = 2;
    auto flash = make_flash();
    Stdout_Capture out;
    flash.sector_erase(2, 0xB00000);
    const std::string erasing_wait =
        "..wait_flash_to_become_ready counter : 2\nflash_flag_status_register : 0x80\n";
    EXPECT_EQ(out.take(), READY + "Ereasing sector adr b00000\n" + erasing_wait +
                              "Ereasing sector adr b10000\n" + erasing_wait);
    EXPECT_THAT(box->flash().operations(), ElementsAre(Operation{Kind::sector_erase, 0xB00000, 0x10000},
                                                       Operation{Kind::sector_erase, 0xB10000, 0x10000}));
    EXPECT_THAT(box->flash().contents(0xB00000, 0x20000), Each(0xFF));
    EXPECT_THAT(box->flash().contents(0xAF0000, 0x10000), Each(0x00));
    EXPECT_THAT(box->flash().contents(0xB20000, 0x10000), Each(0x00));
    EXPECT_EQ(pauses.count(1000ms), 4u);
}

TEST_F(FlashOnBoxModel, FlashThatNeverBecomesReadyTimesOutAfter480Polls) {
    box->flash().never_ready = true;
    auto flash = make_flash();
    Stdout_Capture out;
    flash.write_enable();
    EXPECT_EQ(box->flash().operations().size(), 0u);
    try {
        flash.bulk_erase();
        FAIL() << "no timeout";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Flash erase/program timeout");
    }
    const std::string printed = out.take();
    EXPECT_EQ(printed, READY + std::string(480, '.') + "wait_flash_to_become_ready counter : 480\n");
    EXPECT_EQ(pauses.count(1000ms), 480u);
    EXPECT_EQ(pauses.pauses().size(), 480u);
}

TEST_F(FlashOnBoxModel, ProgramFlashOfAHundredThousandBytesErasesTwoSectorsAndProgramsPaddedImage) {
    const std::string image = pattern(100000);
    const std::string path = scratch.write("image.bin", image);
    box->flash().fill(0xB00000, std::vector<uint8_t>(0x20000, 0x5A)); // an older design
    std::vector<std::tuple<Flash_Phase, uint32_t, uint32_t>> progress;
    auto flash = make_flash(
        [&](Flash_Phase phase, uint32_t done, uint32_t total) { progress.emplace_back(phase, done, total); });

    Stdout_Capture out;
    ASSERT_TRUE(flash.program_flash(path.c_str(), 0xB00000, true, false));
    const std::string printed = out.take();

    std::string expected = "File size : 97.6562 KB\nEreasing flash (Sector Erase)\n" + READY +
                           "Ereasing sector adr b00000\n" + READY + "Ereasing sector adr b10000\n" + READY +
                           "Programming flash..\n";
    for (int page = 0; page < 512; ++page)
        expected += READY;
    expected += "Program flash completed\n";
    EXPECT_EQ(printed, expected);

    const auto& operations = box->flash().operations();
    ASSERT_EQ(operations.size(), 2u + 512u);
    EXPECT_EQ(operations[0], (Operation{Kind::sector_erase, 0xB00000, 0x10000}));
    EXPECT_EQ(operations[1], (Operation{Kind::sector_erase, 0xB10000, 0x10000}));
    for (uint32_t page = 0; page < 512; ++page)
        ASSERT_EQ(operations[2 + page], (Operation{Kind::page_program, 0xB00000 + page * 256, 256}));

    std::string padded = image;
    padded.resize(131072, '\0');
    EXPECT_EQ(box->flash().contents(0xB00000, 131072), as_bytes(padded));
    EXPECT_THAT(box->flash().contents(0xB20000, 0x10000), Each(0xFF));

    ASSERT_EQ(progress.size(), 2u + 512u);
    EXPECT_EQ(progress[1], std::make_tuple(Flash_Phase::erase, 131072u, 131072u));
    EXPECT_EQ(progress[2], std::make_tuple(Flash_Phase::program, 256u, 131072u));
    EXPECT_EQ(progress.back(), std::make_tuple(Flash_Phase::program, 131072u, 131072u));

    const std::string copy = scratch.file("copy.bin");
    {
        Stdout_Capture quiet;
        ASSERT_TRUE(flash.read_flash(copy.c_str(), 131072, 0xB00000));
    }
    EXPECT_EQ(file_contents(copy), padded);
    EXPECT_EQ(box->spi().rx_underflows(), 0u);
    EXPECT_EQ(box->spi().tx_overflows(), 0u);
}

TEST_F(FlashOnBoxModel, ImageOfWholeSectorsGetsNoPaddingAndBulkEraseIsOffered) {
    const std::string image = pattern(0x10000);
    const std::string path = scratch.write("image.bin", image);
    box->flash().fill(0xFF0000, {0x00});
    auto flash = make_flash();
    Stdout_Capture out;
    ASSERT_TRUE(flash.program_flash(path.c_str(), 0, true, true));
    EXPECT_THAT(out.take(),
                StartsWith("File size : 64 KB\nEreasing flash (Bulk Erase) this will take some minutes\n"));
    EXPECT_EQ(box->flash().operations().front(), (Operation{Kind::bulk_erase, 0, 0x1000000}));
    EXPECT_EQ(box->flash().operations().size(), 1u + 256u);
    EXPECT_EQ(box->flash().contents(0, 0x10000), as_bytes(image));
}

TEST_F(FlashOnBoxModel, ProgramWithoutEraseLeavesTheEraseToTheCaller) {
    const std::string path = scratch.write("image.bin", pattern(10));
    auto flash = make_flash();
    Stdout_Capture out;
    ASSERT_TRUE(flash.program_flash(path.c_str(), 0x10000, false, false));
    EXPECT_EQ(out.take().find("Ereasing"), std::string::npos);
    EXPECT_EQ(box->flash().operations().size(), 256u);
}

TEST_F(FlashOnBoxModel, MissingImageFileIsReportedAndTouchesNothing) {
    auto flash = make_flash();
    Stderr_Capture err;
    Stdout_Capture out;
    EXPECT_FALSE(flash.program_flash(scratch.file("missing.bin").c_str(), 0xB00000, true, false));
    EXPECT_EQ(out.take(), "Dosya acilamaldi\n");
    EXPECT_EQ(err.take(), "File coundn't be opened\n");
    EXPECT_TRUE(spi_writes().empty());
    EXPECT_TRUE(box->flash().operations().empty());
}

TEST_F(FlashOnBoxModel, NullOrDirectoryPathCountsAsMissing) {
    auto flash = make_flash();
    Stderr_Capture err;
    Stdout_Capture out;
    EXPECT_FALSE(flash.program_flash(nullptr, 0, true, false));
    EXPECT_FALSE(flash.program_flash(scratch.path().string().c_str(), 0, true, false));
    EXPECT_EQ(out.take(), "Dosya acilamaldi\nDosya acilamaldi\n");
    EXPECT_EQ(err.take(), "File coundn't be opened\nFile coundn't be opened\n");
    EXPECT_TRUE(spi_writes().empty());
}

struct Refused_Range {
    const char* name;
    size_t image_size;
    uint32_t address;
    const char* message;
};

void PrintTo(const Refused_Range& range, std::ostream* out) {
    *out << range.name;
}

class FlashRangeRefusal : public FlashOnBoxModel, public ::testing::WithParamInterface<Refused_Range> {};

TEST_P(FlashRangeRefusal, IsRefusedBeforeAnythingIsErased) {
    const auto& range = GetParam();
    const std::string path = scratch.write("image.bin", pattern(range.image_size));
    auto flash = make_flash();
    Stderr_Capture err;
    Stdout_Capture out;
    EXPECT_FALSE(flash.program_flash(path.c_str(), range.address, true, false));
    out.take();
    EXPECT_EQ(err.take(), range.message);
    EXPECT_TRUE(spi_writes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Images, FlashRangeRefusal,
    ::testing::Values(
        Refused_Range{"MisalignedAddress", 1000, 0xB00100,
                      "Flash address 0xb00100 is not at a 64 KiB sector boundary\n"},
        Refused_Range{"PastTheEnd", 0x30000, 0xFE0000,
                      "Image of 196608 bytes at 0xfe0000 runs past the end of the 16 MiB flash\n"},
        Refused_Range{
            "IntoTheInformationSector", 0x10001, 0xFE0000,
            "Image of 65537 bytes at 0xfe0000 reaches the hardware information sector at 0xff0000\n"},
        Refused_Range{"AtTheInformationSector", 32, 0xFF0000,
                      "Image of 32 bytes at 0xff0000 reaches the hardware information sector at 0xff0000\n"},
        Refused_Range{"EmptyImage", 0, 0xB00000, "Image file is empty, nothing to program\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlashOnBoxModel, LastSectorBeforeTheInformationSectorIsAllowed) {
    const std::string path = scratch.write("image.bin", pattern(0x10000));
    auto flash = make_flash();
    Stdout_Capture out;
    EXPECT_TRUE(flash.program_flash(path.c_str(), 0xFE0000, true, false));
    EXPECT_THAT(out.take(), EndsWith("Program flash completed\n"));
    EXPECT_EQ(box->flash().operations().front(), (Operation{Kind::sector_erase, 0xFE0000, 0x10000}));
}

TEST_F(FlashOnBoxModel, ProgramFlashTimeoutIsCaughtAndReported) {
    const std::string path = scratch.write("image.bin", pattern(1000));
    box->flash().never_ready = true;
    auto flash = make_flash();
    Stdout_Capture out;
    EXPECT_FALSE(flash.program_flash(path.c_str(), 0xB00000, true, false));
    EXPECT_EQ(out.take(),
              "File size : 0.976562 KB\nEreasing flash (Sector Erase)\n" + READY +
                  "Ereasing sector adr b00000\n" + std::string(480, '.') +
                  "wait_flash_to_become_ready counter : 480\n"
                  "Exception catched during program_flash command : Flash erase/program timeout\n");
    EXPECT_EQ(pauses.count(1000ms), 480u);
    EXPECT_FALSE(box->spi().flash_selected());
}

TEST_F(FlashOnBoxModel, FifoErrorsReleaseTheFlashAndAreReportedByTheFileOperations) {
    auto flash = make_flash();
    flash.identify_once();
    box->spi().faults.tx_never_drains = true;
    try {
        flash.read_status_register();
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Tx fifo should have been drained");
    }
    EXPECT_FALSE(box->spi().flash_selected());
    EXPECT_EQ(spi_writes().back(), (Register_Access{SLAVE_SELECT, 1}));

    Stdout_Capture out;
    EXPECT_FALSE(flash.erase_flash());
    EXPECT_FALSE(flash.read_flash(scratch.file("copy.bin").c_str(), 16));
    EXPECT_EQ(out.take(), "Ereasing flash (Bulk Erase) this will take some minutes\n"
                          "Exception catched during erase_flash command : Tx fifo should have been drained\n"
                          "Reading flash..\n"
                          "Exception catched during read_flash command : Tx fifo should have been drained\n");
    EXPECT_FALSE(box->spi().flash_selected());
}

TEST_F(FlashOnBoxModel, StrayReceiveWordsAreDrainedAfterCommandsAndRefusedAfterReads) {
    auto flash = make_flash();
    box->spi().faults.stray_rx_words = 1;
    Stdout_Capture out;
    EXPECT_THROW(flash.read_status_register(), std::runtime_error);
    EXPECT_EQ(out.take(), "Number of extra reads : 1\nNumber of extra reads : 1\n");
    EXPECT_FALSE(box->spi().flash_selected());
}

TEST_F(FlashOnBoxModel, ReadFlashWritesTheFileFromAddressZeroByDefault) {
    const std::string stored = pattern(64);
    box->flash().fill(0, as_bytes(stored));
    auto flash = make_flash();
    const std::string copy = scratch.write("copy.bin", "older contents that must go");
    Stdout_Capture out;
    ASSERT_TRUE(flash.read_flash(copy.c_str(), 40));
    EXPECT_EQ(out.take(), "Reading flash..\nReading flash completed\n");
    EXPECT_EQ(file_contents(copy), stored.substr(0, 32));
}

TEST_F(FlashOnBoxModel, ReadFlashIntoAFileThatCannotBeOpenedFails) {
    auto flash = make_flash();
    Stderr_Capture err;
    Stdout_Capture out;
    EXPECT_FALSE(flash.read_flash(scratch.file("no/such/folder/copy.bin").c_str(), 256));
    EXPECT_FALSE(flash.read_flash(nullptr, 256));
    EXPECT_EQ(out.take(), "Reading flash..\nReading flash..\n");
    EXPECT_EQ(err.take(), "File coundn't be opened\nFile coundn't be opened\n");
    EXPECT_TRUE(spi_writes().empty());
}

TEST_F(FlashOnBoxModel, ReadFlashBeyondTheEndOfTheFlashIsRefused) {
    auto flash = make_flash();
    const std::string copy = scratch.file("copy.bin");
    Stderr_Capture err;
    Stdout_Capture out;
    EXPECT_FALSE(flash.read_flash(copy.c_str(), 0x20, 0xFFFFF0));
    EXPECT_EQ(out.take(), "");
    EXPECT_EQ(err.take(), "Reading 32 bytes at 0xfffff0 runs past the end of the 16 MiB flash\n");
    EXPECT_FALSE(std::filesystem::exists(copy));
    EXPECT_TRUE(spi_writes().empty());
}

TEST_F(FlashOnBoxModel, EraseFlashErasesTheWholeChip) {
    box->flash().fill(0xFF0000, {0x12});
    box->flash().busy_polls.bulk_erase = 3;
    auto flash = make_flash();
    Stdout_Capture out;
    EXPECT_TRUE(flash.erase_flash());
    EXPECT_EQ(out.take(), "Ereasing flash (Bulk Erase) this will take some minutes\n" + READY +
                              "...wait_flash_to_become_ready counter : 3\nflash_flag_status_register : 0x80\n"
                              "Erase flash completed\n");
    EXPECT_EQ(box->flash().contents(0xFF0000, 1), std::vector<uint8_t>{0xFF});
    EXPECT_EQ(pauses.count(1000ms), 3u);
}

TEST(SpiFlashFiles, FileSizeIsPrintedInKilobytes) {
    Scratch_Directory scratch;
    const std::string path = scratch.write("image.bin", std::string(1536, 'x'));
    Stdout_Capture out;
    EXPECT_EQ(SPI_Flash::get_file_size(path.c_str()), 1536);
    EXPECT_EQ(out.take(), "File size : 1.5 KB\n");
}

TEST(SpiFlashFiles, LoadedImagesArePaddedWithZerosToWholeSectors) {
    Scratch_Directory scratch;
    EXPECT_EQ(SPI_Flash::load_padded_image(scratch.write("a.bin", "abc").c_str()).str(),
              "abc" + std::string(0x10000 - 3, '\0'));
    const std::string whole(0x20000, 'z');
    EXPECT_EQ(SPI_Flash::load_padded_image(scratch.write("b.bin", whole).c_str()).str(), whole);
    EXPECT_THROW(SPI_Flash::load_padded_image(scratch.file("missing.bin").c_str()), std::runtime_error);
}

} // namespace
} // namespace Selvan::MURA

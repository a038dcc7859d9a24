#include "Box_Fixture.h"
#include "C_SPI_Flash.h"
#include "Log_Capture.h"
#include "Output_Capture.h"
#include "Scratch_Directory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Selvan::MURA {
namespace {

using box_model::NOR_Flash_Model;
using test_support::Log_Capture;
using test_support::Scratch_Directory;
using test_support::Stdout_Capture;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using Kind = NOR_Flash_Model::Operation_Kind;
using Operation = NOR_Flash_Model::Operation;

MURA_HW_Info record_counting_from(uint8_t first) {
    MURA_HW_Info info;
    for (size_t i = 0; i < info.bytes.size(); ++i)
        info.bytes[i] = static_cast<uint8_t>(first + i);
    return info;
}

class LibraryFlash : public test_support::Box_Fixture {
protected:
    void SetUp() override {
        Stdout_Capture quiet;
        ASSERT_TRUE(make_library().open());
    }
    // Keeps the console lines of the waits out of the test output.
    bool program_record(const MURA_HW_Info& info) {
        Stdout_Capture quiet;
        return library->program_MURA_HW_info(info);
    }

    Scratch_Directory scratch;
};

TEST_F(LibraryFlash, FreshFlashHoldsAnErasedRecord) {
    const auto info = library->read_MURA_HW_info();
    ASSERT_NE(info, nullptr);
    EXPECT_THAT(info->bytes, Each(0xFF));
    EXPECT_TRUE(box->flash().operations().empty());
}

TEST_F(LibraryFlash, InformationRecordRoundTripsAsOnePageWithoutErase) {
    const MURA_HW_Info info = record_counting_from(0x10);
    Log_Capture log;
    EXPECT_TRUE(program_record(info));
    EXPECT_EQ(*library->read_MURA_HW_info(), info);
    EXPECT_THAT(box->flash().operations(), ElementsAre(Operation{Kind::page_program, 0xFF0000, 256}));
    std::vector<uint8_t> page(info.bytes.begin(), info.bytes.end());
    page.resize(256, 0xFF);
    EXPECT_EQ(box->flash().contents(0xFF0000, 256), page);
    EXPECT_TRUE(log.texts().empty());
}

TEST_F(LibraryFlash, SecondRecordOverAnUnerasedOneIsReportedAsAMismatch) {
    MURA_HW_Info first;
    first.bytes.fill(0xF0);
    MURA_HW_Info second;
    second.bytes.fill(0x3C);
    ASSERT_TRUE(program_record(first));

    Log_Capture log;
    EXPECT_FALSE(program_record(second));
    EXPECT_TRUE(
        log.contains(logging::Verbosity_ERROR,
                     "MURA_HW_Info read back differs from the record programmed at 0xff0000; the flash "
                     "only clears bits, so the record's sector must be erased before it is written again"));
    // What the flash really holds: both records combined.
    EXPECT_THAT(library->read_MURA_HW_info()->bytes, Each(0x30));

    SPI_Flash flash(library->get_controller()->modules().spi.get());
    {
        Stdout_Capture quiet;
        flash.sector_erase(1, SPI_Flash::HW_INFO_ADDRESS);
    }
    EXPECT_TRUE(program_record(second));
    EXPECT_EQ(*library->read_MURA_HW_info(), second);
}

TEST_F(LibraryFlash, RecordWriteWithIdenticalBitsIsNoMismatch) {
    const MURA_HW_Info info = record_counting_from(0x80);
    ASSERT_TRUE(program_record(info));
    EXPECT_TRUE(program_record(info));
}

TEST_F(LibraryFlash, FlashErrorsOfTheRecordOperationsReachTheCaller) {
    box->spi().faults.tx_never_drains = true;
    try {
        library->read_MURA_HW_info();
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Tx fifo should have been drained");
    }
    EXPECT_THROW(program_record(record_counting_from(0)), std::runtime_error);
}

TEST_F(LibraryFlash, ProgramFlashErasesAndProgramsTheImageWithProgress) {
    std::string image(70000, '\0');
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<char>(i * 7);
    const std::string path = scratch.write("np.bin", image);
    uint32_t last_programmed = 0;
    uint32_t erase_reports = 0;
    Stdout_Capture out;
    ASSERT_TRUE(
        library->program_flash(path.c_str(), 0xB00000, [&](Flash_Phase phase, uint32_t done, uint32_t) {
            if (phase == Flash_Phase::program)
                last_programmed = done;
            erase_reports += phase == Flash_Phase::erase;
        }));
    EXPECT_THAT(out.take(), EndsWith("Program flash completed\n"));
    EXPECT_EQ(last_programmed, 0x20000u);
    EXPECT_EQ(erase_reports, 2u);
    EXPECT_EQ(box->flash().operations()[0], (Operation{Kind::sector_erase, 0xB00000, 0x10000}));
    EXPECT_EQ(box->flash().operations()[1], (Operation{Kind::sector_erase, 0xB10000, 0x10000}));
    std::vector<uint8_t> padded(image.begin(), image.end());
    padded.resize(0x20000, 0);
    EXPECT_EQ(box->flash().contents(0xB00000, 0x20000), padded);
}

TEST_F(LibraryFlash, ProgramFlashRefusesTheInformationSector) {
    const std::string path = scratch.write("np.bin", "tiny");
    Stdout_Capture out;
    test_support::Stderr_Capture err;
    EXPECT_FALSE(library->program_flash(path.c_str(), 0xFF0000));
    EXPECT_EQ(err.take(),
              "Image of 4 bytes at 0xff0000 reaches the hardware information sector at 0xff0000\n");
    EXPECT_TRUE(box->flash().operations().empty());
}

} // namespace
} // namespace Selvan::MURA

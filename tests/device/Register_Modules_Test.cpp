#include "Aligned_Memory.h"
#include "I_InputDataStream.h"
#include "L2_MURA_Configurator.h"
#include "M_DataStream.h"
#include "M_Foreign_HW_ICAP.h"
#include "M_GPIO.h"
#include "M_HW_ICAP.h"
#include "M_SPI.h"
#include "M_UART.h"
#include "M_XADC.h"
#include "Output_Capture.h"
#include "Pause_Recorder.h"
#include "Recording_Bus.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>

namespace Selvan::MURA {
namespace {

using test_support::Bus_Write;
using test_support::Pause_Recorder;
using test_support::Recording_Bus;
using test_support::Stderr_Capture;
using test_support::Stdout_Capture;
using ::testing::ElementsAre;
using namespace std::chrono_literals;

template <class Module>
std::unique_ptr<Module> make_quietly(uint32_t base, I_MemMapped_AXI* bus) {
    Stdout_Capture quiet;
    return std::make_unique<Module>(base, bus);
}

// --- GPIO and XADC ---

TEST(GpioModule, ReadsAndWritesItsWordsAndAnnouncesTheSecondOne) {
    Recording_Bus bus;
    auto gpio = make_quietly<GPIO_Module>(0x200, &bus);
    bus.fixed_reads[0x200] = 0xC;
    bus.fixed_reads[0x208] = 0x4E500020;
    EXPECT_EQ(gpio->read_data(), 0xCu);
    gpio->write_data(7);
    Stdout_Capture out;
    EXPECT_EQ(gpio->read_second_data(), 0x4E500020u);
    EXPECT_EQ(out.take(), "GPIO Second data at adres : 0x208\n");
    EXPECT_THAT(bus.writes, ElementsAre(Bus_Write{0x200, 7}));
}

TEST(XadcModule, ConvertsTheTwelveBitCodeToDegrees) {
    Recording_Bus bus;
    auto xadc = make_quietly<XADC_Module>(0x800, &bus);
    bus.fixed_reads[0xA00] = 0x9C40;
    EXPECT_NEAR(xadc->read_temperature(), 2500 * 504.0 / 4096 - 273.15, 1e-4);
    EXPECT_NEAR(xadc->read_temperature(), 34.47, 0.01);
    bus.fixed_reads[0xA00] = 0x000F; // the low four bits are not part of the code
    EXPECT_NEAR(xadc->read_temperature(), -273.15, 1e-4);
    Stdout_Capture out;
    xadc.reset();
    EXPECT_EQ(out.take(), "XADC_Module dtor\n");
}

// --- UART ---

TEST(UartModule, StatusErrorBitsAreReportedOnStandardError) {
    Recording_Bus bus;
    auto uart = make_quietly<UART_Module>(0x400, &bus);
    bus.queue_reads(0x408, {0x15, 0x0, 0x42});
    Stderr_Capture err;
    EXPECT_EQ(uart->check_status(), 0x15u); // valid, tx empty, interrupt enabled: no error
    EXPECT_EQ(uart->check_status(), 0x0u);
    EXPECT_EQ(uart->check_status(), 0x42u);
    EXPECT_EQ(err.take(), "UART_Module error exist in transfer. status_reg : 42\n");
}

TEST(UartModule, SendWritesEveryByteToTheTransmitFifoAndRecordsTheLongestMessage) {
    Recording_Bus bus;
    auto uart = make_quietly<UART_Module>(0x400, &bus);
    const uint8_t message[] = {0xE0, 0x01, 0x02};
    Stdout_Capture out;
    uart->send(message, 3, 100);
    uart->send(message, 2, 100);
    uart->send(message, 3, 100);
    EXPECT_EQ(out.take(), "max_send_length : 3\n");
    ASSERT_EQ(bus.writes.size(), 8u);
    EXPECT_EQ(bus.writes[0], (Bus_Write{0x404, 0xE0}));
    EXPECT_EQ(bus.writes[2], (Bus_Write{0x404, 0x02}));
    EXPECT_EQ(bus.reads, (std::vector<uint32_t>{0x408, 0x408, 0x408}));
}

TEST(UartModule, ReceivesBytesAsTheyBecomeValid) {
    Recording_Bus bus;
    auto uart = make_quietly<UART_Module>(0x400, &bus);
    Pause_Recorder pauses;
    bus.queue_reads(0x408, {0, 0, 1, 1});
    bus.queue_reads(0x400, {0x1C3, 0x2A});
    uint8_t received[2] = {};
    uart->recv(received, 2, 10);
    EXPECT_EQ(received[0], 0xC3); // only the low byte of the FIFO word
    EXPECT_EQ(received[1], 0x2A);
    EXPECT_EQ(pauses.count(1ms), 2u);
}

TEST(UartModule, ReceiveTimesOutAfterTheGivenMilliseconds) {
    Recording_Bus bus;
    auto uart = make_quietly<UART_Module>(0x400, &bus);
    Pause_Recorder pauses;
    uint8_t received[1];
    try {
        uart->recv(received, 1, 10);
        FAIL() << "no timeout";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "UART_Module recv timeout");
    }
    EXPECT_EQ(pauses.pauses().size(), 10u);
    EXPECT_EQ(pauses.count(1ms), 10u);
}

TEST(UartModule, ReceiveTimeoutTakesRealTimeWithoutTheRecorder) {
    Recording_Bus bus;
    auto uart = make_quietly<UART_Module>(0x400, &bus);
    uint8_t received[1];
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(uart->recv(received, 1, 10), std::runtime_error);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 10ms);
}

TEST(UartModule, ReceivingNothingTouchesNothing) {
    Recording_Bus bus;
    auto uart = make_quietly<UART_Module>(0x400, &bus);
    uart->recv(nullptr, 0, 10);
    EXPECT_TRUE(bus.reads.empty());
}

// --- SPI ---

TEST(SpiModule, TransferFollowsTheInhibitRunDrainPattern) {
    Recording_Bus bus;
    auto spi = make_quietly<SPI_Module>(0x500, &bus);
    bus.fixed_reads[0x564] = SPI_Module::STATUS_TX_EMPTY | SPI_Module::STATUS_RX_EMPTY;
    bus.queue_reads(0x56C, {0xAA, 0x20, 0xBB});
    const uint8_t command[] = {0x9F, 0x01, 0x01};
    uint8_t received[3] = {};
    spi->transfer(command, 3, received, SPI_Module::Rx_Finish::drain);
    EXPECT_THAT(bus.writes,
                ElementsAre(Bus_Write{0x560, 0x186}, Bus_Write{0x568, 0x9F}, Bus_Write{0x568, 0x01},
                            Bus_Write{0x568, 0x01}, Bus_Write{0x560, 0x86}));
    EXPECT_EQ(received[1], 0x20);
    EXPECT_EQ(received[2], 0xBB);
    EXPECT_EQ(bus.reads, (std::vector<uint32_t>{0x564, 0x56C, 0x56C, 0x56C, 0x564}));
}

TEST(SpiModule, TransmitDrainGivesUpAfterFiftyPollsAndKeepsTheHighWaterMark) {
    Recording_Bus bus;
    auto spi = make_quietly<SPI_Module>(0x500, &bus);
    bus.queue_reads(0x564, {0, 0, 0, SPI_Module::STATUS_TX_EMPTY});
    spi->wait_tx_drained();
    EXPECT_EQ(spi->tx_drain_high_water_mark(), 3u);
    bus.reads.clear();
    EXPECT_THROW(
        {
            try {
                spi->wait_tx_drained();
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), "Tx fifo should have been drained");
                throw;
            }
        },
        std::runtime_error);
    EXPECT_EQ(bus.reads.size(), 50u);
    EXPECT_EQ(spi->tx_drain_high_water_mark(), 50u);
}

TEST(SpiModule, DrainingReportsExtraWordsAndGivesUpAfterTwenty) {
    Recording_Bus bus;
    auto spi = make_quietly<SPI_Module>(0x500, &bus);
    bus.queue_reads(0x564, {0, 0, 0, SPI_Module::STATUS_RX_EMPTY});
    {
        Stdout_Capture out;
        spi->drain_rx();
        EXPECT_EQ(out.take(), "Number of extra reads : 3\n");
    }
    Stdout_Capture out;
    bus.fixed_reads[0x564] = 0;
    bus.queued_reads.clear();
    try {
        spi->drain_rx();
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Rx fifo should have been drained");
    }
    EXPECT_EQ(out.take(), "Number of extra reads : 20\n");
}

TEST(SpiModule, CheckedTransferRefusesLeftoverReceiveData) {
    Recording_Bus bus;
    auto spi = make_quietly<SPI_Module>(0x500, &bus);
    bus.queue_reads(0x564, {SPI_Module::STATUS_TX_EMPTY, 0});
    const uint8_t dummy = 0x01;
    try {
        spi->transfer(&dummy, 1, nullptr, SPI_Module::Rx_Finish::check);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Rx fifo should be emptied");
    }
}

// --- configuration ports ---

TEST(HwIcapModule, BootCommandWritesTheWarmBootPacketWithTheAddressReversed) {
    Recording_Bus bus;
    auto icap = make_quietly<HW_ICAP_Module>(0x1400, &bus);
    bus.fixed_reads[0x1510] = 1;
    Stdout_Capture out;
    EXPECT_TRUE(icap->send_boot_command(0x00123456));
    EXPECT_EQ(out.take(), "Boot cmd suceeded\n");
    EXPECT_THAT(bus.writes, ElementsAre(Bus_Write{0x1500, 0xFFFFFFFF}, Bus_Write{0x1500, 0xAA995566},
                                        Bus_Write{0x1500, 0x20000000}, Bus_Write{0x1500, 0x30020001},
                                        Bus_Write{0x1500, 0x56341200}, Bus_Write{0x1500, 0x30008001},
                                        Bus_Write{0x1500, 0x0000000F}, Bus_Write{0x1500, 0x20000000},
                                        Bus_Write{0x150C, 1}));
}

TEST(HwIcapModule, DoneTimeoutFailsAfterAHundredReads) {
    Recording_Bus bus;
    auto icap = make_quietly<HW_ICAP_Module>(0x1400, &bus);
    Stderr_Capture err;
    Stdout_Capture out;
    EXPECT_FALSE(icap->send_boot_command(0xB00000));
    EXPECT_EQ(err.take(), "M_HW_ICAP_Module :: write done timeout\n");
    EXPECT_EQ(out.take(), "");
    EXPECT_EQ(std::count(bus.reads.begin(), bus.reads.end(), 0x1510u), 100);
}

TEST(HwIcapModule, StuckStartBitFailsAfterAHundredReads) {
    Recording_Bus bus;
    auto icap = make_quietly<HW_ICAP_Module>(0x1400, &bus);
    bus.fixed_reads[0x1510] = 1;
    bus.fixed_reads[0x150C] = 1;
    Stderr_Capture err;
    const uint32_t words[] = {1, 2};
    EXPECT_FALSE(icap->write_words(words, 2));
    EXPECT_EQ(err.take(), "M_HW_ICAP_Module :: write CR bit clear timeout\n");
    EXPECT_EQ(std::count(bus.reads.begin(), bus.reads.end(), 0x150Cu), 100);
}

TEST(ForeignHwIcapModule, BootCommandWaitsForDoneThenIssuesIprog) {
    Recording_Bus bus;
    auto icap = make_quietly<Foreign_HW_ICAP_Module>(0x400, &bus);
    bus.queue_reads(0x40C, {0, 0, 1});
    Pause_Recorder pauses;
    Stdout_Capture out;
    EXPECT_TRUE(icap->send_boot_command(0xB00000));
    EXPECT_EQ(out.take(), "Waiting for icap_done\nWaiting for icap_done\n");
    EXPECT_EQ(pauses.pauses(), (std::vector<std::chrono::milliseconds>{100ms, 100ms}));
    EXPECT_THAT(bus.writes, ElementsAre(Bus_Write{0x400, 0x10}, Bus_Write{0x404, 0xB00000},
                                        Bus_Write{0x408, 1}, Bus_Write{0x408, 0}, Bus_Write{0x400, 4},
                                        Bus_Write{0x404, 15}, Bus_Write{0x408, 1}));
}

TEST(ForeignHwIcapModule, DoneWaitIsBoundedAndSkipsTheReboot) {
    Recording_Bus bus;
    auto icap = make_quietly<Foreign_HW_ICAP_Module>(0x400, &bus);
    Pause_Recorder pauses;
    Stdout_Capture out;
    Stderr_Capture err;
    EXPECT_FALSE(icap->send_boot_command(0xB00000));
    EXPECT_EQ(err.take(), "Foreign HW_ICAP_Module : icap_done timeout, boot command not sent\n");
    EXPECT_EQ(pauses.count(100ms), Foreign_HW_ICAP_Module::DONE_POLL_LIMIT);
    // The go bit is released and no IPROG is written.
    EXPECT_THAT(bus.writes, ElementsAre(Bus_Write{0x400, 0x10}, Bus_Write{0x404, 0xB00000},
                                        Bus_Write{0x408, 1}, Bus_Write{0x408, 0}));
}

// --- stream module ---

class Recording_Stream : public I_InputDataStream {
public:
    bool prepare_for_read(uint8_t* buffer, uint32_t length, bool flag, uint32_t timeout_ms) override {
        prepared_buffer = buffer;
        prepared_length = length;
        prepared_flag = flag;
        prepared_timeout = timeout_ms;
        return true;
    }
    uint32_t read_stream(uint64_t, bool wait_for_full) override {
        ++reads;
        last_wait_for_full = wait_for_full;
        return bytes_per_read;
    }
    uint8_t* prepared_buffer = nullptr;
    uint32_t prepared_length = 0;
    bool prepared_flag = true;
    uint32_t prepared_timeout = 0;
    uint32_t bytes_per_read = 4096;
    int reads = 0;
    bool last_wait_for_full = false;
};

class DataStreamModule : public ::testing::Test {
protected:
    void SetUp() override {
        Stdout_Capture quiet;
        gpio = std::make_unique<GPIO_Module>(0, &bus);
        configurator = std::make_unique<MURA_Configurator>(gpio.get());
        data_stream = std::make_unique<M_DataStream>(nullptr, &stream, configurator.get());
        buffer = static_cast<uint8_t*>(aligned_allocate(4096, 8192));
    }
    void TearDown() override {
        Stdout_Capture quiet;
        data_stream.reset();
        aligned_release(buffer);
    }
    Recording_Bus bus;
    Recording_Stream stream;
    std::unique_ptr<GPIO_Module> gpio;
    std::unique_ptr<MURA_Configurator> configurator;
    std::unique_ptr<M_DataStream> data_stream;
    uint8_t* buffer = nullptr;
};

TEST_F(DataStreamModule, PreparingSetsTheTlastModeOffThenOnAndRegistersTheBuffer) {
    bus.fixed_reads[0] = 0x540;
    Stdout_Capture out;
    data_stream->prepare_buffer_for_hw_read(buffer, 4096);
    EXPECT_EQ(out.take(), "Setting Windows mode\n");
    EXPECT_THAT(bus.writes, ElementsAre(Bus_Write{0, 0x540}, Bus_Write{0, 0x5C0}));
    EXPECT_EQ(stream.prepared_buffer, buffer);
    EXPECT_EQ(stream.prepared_length, 4096u);
    EXPECT_FALSE(stream.prepared_flag);
    EXPECT_EQ(stream.prepared_timeout, 1000u);
}

TEST_F(DataStreamModule, MisalignedBufferIsRefused) {
    Stdout_Capture out;
    data_stream->prepare_buffer_for_hw_read(buffer + 2, 4096);
    EXPECT_EQ(data_stream->read(buffer + 2, 4096, true), 0u);
    EXPECT_EQ(out.take(), "Buffer must be DW aligned\nBuffer must be DW aligned\n");
    EXPECT_EQ(stream.prepared_buffer, nullptr);
    EXPECT_EQ(stream.reads, 0);
    EXPECT_TRUE(bus.writes.empty());
}

TEST_F(DataStreamModule, PageMisalignedBufferOnlyWarns) {
    Stdout_Capture out;
    data_stream->prepare_buffer_for_hw_read(buffer + 4, 4096);
    EXPECT_EQ(out.take(), "Buffer is not page aligned\nSetting Windows mode\n");
    EXPECT_EQ(stream.prepared_buffer, buffer + 4);
}

TEST_F(DataStreamModule, ReadReturnsTheStreamCountAndTimesOneReadIn256) {
    Stdout_Capture out;
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(data_stream->read(buffer, 4096, i % 2 == 0), 4096u);
    const std::string printed = out.take();
    EXPECT_EQ(stream.reads, 256);
    size_t lines = 0;
    for (size_t at = printed.find("Interrupt wait duration : "); at != std::string::npos;
         at = printed.find("Interrupt wait duration : ", at + 1))
        ++lines;
    EXPECT_EQ(lines, 1u);
    EXPECT_NE(printed.find(" ms \n"), std::string::npos);
}

// The pump reads straight into the demultiplexer's transfer buffers: a read into another
// buffer than the prepared one re-points the device read, and no control word is written.
TEST_F(DataStreamModule, ReadIntoAnotherBufferPreparesThatBuffer) {
    Stdout_Capture out;
    data_stream->prepare_buffer_for_hw_read(buffer, 4096);
    bus.writes.clear();
    EXPECT_EQ(data_stream->read(buffer + 4096, 4096, true), 4096u);
    EXPECT_EQ(stream.prepared_buffer, buffer + 4096);
    EXPECT_EQ(stream.prepared_length, 4096u);
    EXPECT_FALSE(stream.prepared_flag);
    EXPECT_EQ(stream.prepared_timeout, 1000u);
    EXPECT_TRUE(bus.writes.empty());
}

TEST_F(DataStreamModule, DisablingTheSourceClearsTheControlWord) {
    data_stream->disable_data_source();
    EXPECT_THAT(bus.writes, ElementsAre(Bus_Write{0, 0}));
}

} // namespace
} // namespace Selvan::MURA

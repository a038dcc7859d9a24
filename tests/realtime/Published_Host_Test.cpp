// A host written against the published API only, as acquisition software for the probe maker's
// library is: it declares what it calls itself (no header of this project), discovers the
// device, identifies every port by its HardwareID records, configures every channel, routes the
// sync signal, and records with the published trigger sequence: reader threads first, then the
// software trigger; to stop, the slot is armed again and the readers take what is left. Against
// the virtual box every sample of every port is checked against the synthesized probes, and the
// sync signal's edges against each other and the ADC packets' TTL inputs.

#include "C_Stream_Synthesizer.h"
#include "C_Synth_Content.h"
#include "Scratch_Directory.h"
#include "Synth_Packet_Checker.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

// What the published header declares and this host uses, written out as a host compiled
// against it sees it.
namespace Neuropixels {

typedef enum { SUCCESS = 0, FAILED = 1 } NP_ErrorCode;
typedef enum { NPPlatform_None = 0, NPPlatform_PXI = 0x1, NPPlatform_USB = 0x2 } NPPlatformID_t;
typedef enum { RECORDING = 0, CALIBRATION = 1, DIGITAL_TEST = 2 } probe_opmode_t;
typedef enum { EXT_REF = 0, TIP_REF = 1, INT_REF = 2, GND_REF = 3, NONE_REF = 0xFF } channelreference_t;
typedef enum { SM_Input_SMA = 0x01000005, SM_Input_SyncClk = 0x01000040 } switchmatrixinput_t;
typedef enum { SM_Output_StatusBit = 0x02000003 } switchmatrixoutput_t;
typedef enum { NP_PARAM_SYNCFREQUENCY_HZ = 4 } np_parameter_t;

struct basestationID {
    NPPlatformID_t platformid;
    int ID;
};
struct firmware_Info {
    int major;
    int minor;
    int build;
    char name[64];
};
struct PacketInfo {
    uint32_t Timestamp;
    uint16_t Status;
    uint16_t payloadlength;
};
struct electrodePacket {
    uint32_t timestamp[12];
    int16_t apData[12][384];
    int16_t lfpData[384];
    uint16_t Status[12];
};
#pragma pack(push, 1)
struct HardwareID {
    uint8_t version_Major;
    uint8_t version_Minor;
    uint64_t SerialNumber;
    char ProductNumber[40];
};
#pragma pack(pop)

int getDeviceList(struct basestationID* list, int count);
NP_ErrorCode getDeviceInfo(int slotID, struct basestationID* info);
bool tryGetSlotID(const basestationID* bsid, int* slotID);
NP_ErrorCode bs_getFirmwareInfo(int slotID, struct firmware_Info* info);
NP_ErrorCode bsc_getFirmwareInfo(int slotID, struct firmware_Info* info);
NP_ErrorCode openBS(int slotID);
NP_ErrorCode closeBS(int slotID);
NP_ErrorCode arm(int slotID);
NP_ErrorCode setSWTrigger(int slotID);
NP_ErrorCode getBSCHardwareID(int slotID, struct HardwareID* pHwid);
NP_ErrorCode detectHeadStage(int slotID, int portID, bool* detected);
NP_ErrorCode getHeadstageHardwareID(int slotID, int portID, struct HardwareID* pHwid);
NP_ErrorCode HST_GetVersion(int slotID, int portID, int* vmaj, int* vmin);
NP_ErrorCode getFlexHardwareID(int slotID, int portID, int dockID, struct HardwareID* pHwid);
NP_ErrorCode getProbeHardwareID(int slotID, int portID, int dockID, struct HardwareID* pHwid);
NP_ErrorCode openProbe(int slotID, int portID, int dockID);
NP_ErrorCode init(int slotID, int portID, int dockID);
NP_ErrorCode setOPMODE(int slotID, int portID, int dockID, probe_opmode_t mode);
NP_ErrorCode setHSLed(int slotID, int portID, bool enable);
NP_ErrorCode selectElectrode(int slotID, int portID, int dockID, int channel, int shank, int bank);
NP_ErrorCode setGain(int slotID, int portID, int dockID, int channel, int ap_gain, int lfp_gain);
NP_ErrorCode getGain(int slotID, int portID, int dockID, int channel, int* APgainselect, int* LFPgainselect);
NP_ErrorCode setReference(int slotID, int portID, int dockID, int channel, int shank,
                          channelreference_t reference, int intRefElectrodeBank);
NP_ErrorCode setAPCornerFrequency(int slotID, int portID, int dockID, int channel, bool disableHighPass);
NP_ErrorCode setADCCalibration(int slotID, int portID, const char* filename);
NP_ErrorCode setGainCalibration(int slotID, int portID, int dockID, const char* filename);
NP_ErrorCode writeProbeConfiguration(int slotID, int portID, int dockID, bool readCheck);
NP_ErrorCode readElectrodeData(int slotID, int portID, int dockID, struct electrodePacket* packets,
                               int* actualAmount, int requestedAmount);
NP_ErrorCode getElectrodeDataFifoState(int slotID, int portID, int dockID, int* packetsavailable,
                                       int* headroom);
NP_ErrorCode ADC_readPackets(int slotID, struct PacketInfo* pckinfo, int16_t* data, int channelcount,
                             int packetcount, int* packetsread);
NP_ErrorCode switchmatrix_set(int slotID, switchmatrixoutput_t output, switchmatrixinput_t inputline,
                              bool connect);
NP_ErrorCode switchmatrix_clear(int slotID, switchmatrixoutput_t output);
NP_ErrorCode setParameter(np_parameter_t paramid, int value);

} // namespace Neuropixels

namespace {

using namespace Neuropixels;
using Selvan::MURA::synth::C_Synth_Content;
using Selvan::MURA::synth::Content_Settings;
using Selvan::MURA::synth::Np_Content;
using Clock = std::chrono::steady_clock;

constexpr int PORTS = 4;
constexpr int READ_SIZE = 64;
constexpr auto RUN_TIME = std::chrono::seconds(2);
// A stop waits for what the box sent to pass the data path; the readers then take what is left
// without ever waiting for more.
constexpr auto STOP_LIMIT = std::chrono::seconds(2);
constexpr auto RELEASE_LIMIT = std::chrono::milliseconds(100);

// The real box's rate: the virtual box sends what it rendered once and leaves the processors to
// the host, which checks every sample of four probes as they arrive.
constexpr const char* VIRTUAL_SPEED = "1";

using Port_Checker = Selvan::MURA::synth::Synth_Packet_Checker<electrodePacket>;

constexpr uint16_t SYNC = 1u << 6;
// The ADC packets' status carries TTL inputs 17..9 in bits 15..7: the sync input, TTL input 9,
// in bit 7.
constexpr uint16_t ADC_SYNC_INPUT = 1u << 7;

// The timestamps at which a signal rises, read sample by sample.
struct Rising_Edges {
    bool level = false;
    bool seen = false;
    uint32_t last = 0;
    std::vector<uint32_t> at;
    void sample(uint32_t timestamp, bool high) {
        if (seen && high && !level)
            at.push_back(timestamp);
        level = high;
        seen = true;
        last = timestamp;
    }
    // The edges up to `end` (readers stop at slightly different moments).
    std::vector<uint32_t> until(uint32_t end) const {
        std::vector<uint32_t> kept;
        for (uint32_t edge : at) {
            if (edge <= end)
                kept.push_back(edge);
        }
        return kept;
    }
};

struct Port_Reader {
    std::thread thread;
    std::atomic<bool> exit{false};
    Rising_Edges sync;
    // When the reader, told to exit after the stop, had taken what was left.
    std::atomic<int64_t> released_at_ns{0};
    std::unique_ptr<Port_Checker> checker;
};

// The reader of a host: 64 packets at a time, then the FIFO state, then a sleep as long as the
// missing packets take to come; told to exit, it reads until nothing is left.
void read_port(int port, Port_Reader& reader) {
    std::vector<electrodePacket> packets(READ_SIZE);
    for (;;) {
        const bool draining = reader.exit;
        int count = 0;
        readElectrodeData(0, port, 0, packets.data(), &count, READ_SIZE);
        if (draining && count == 0)
            break;
        for (int i = 0; i < count; ++i) {
            const electrodePacket& packet = packets[static_cast<size_t>(i)];
            reader.checker->check(packet);
            for (int k = 0; k < 12; ++k)
                reader.sync.sample(packet.timestamp[k], (packet.Status[k] & SYNC) != 0);
        }
        int available = 0, headroom = 0;
        getElectrodeDataFifoState(0, port, 0, &available, &headroom);
        if (!draining)
            std::this_thread::sleep_for(std::chrono::microseconds(400) * std::max(0, READ_SIZE - available));
    }
    reader.released_at_ns = Clock::now().time_since_epoch().count();
}

// The ADC packets' reader: what is there every 10 ms.
struct Adc_Reader {
    std::thread thread;
    std::atomic<bool> exit{false};
    Rising_Edges sync;
    uint64_t packets = 0;
    void run() {
        std::vector<PacketInfo> info(512);
        std::vector<int16_t> samples(512 * 12);
        for (;;) {
            const bool draining = exit;
            int count = 0;
            ADC_readPackets(0, info.data(), samples.data(), 12, 512, &count);
            if (draining && count == 0)
                break;
            for (int i = 0; i < count; ++i)
                sync.sample(info[static_cast<size_t>(i)].Timestamp,
                            (info[static_cast<size_t>(i)].Status & ADC_SYNC_INPUT) != 0);
            packets += static_cast<uint64_t>(count);
            if (!draining)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
};

enum class Routing { input, clock_2_hz, none };

class PublishedHost : public ::testing::Test {
protected:
    void SetUp() override {
        m_previous_directory = std::filesystem::current_path();
        std::filesystem::current_path(scratch.path());
        write_calibration_files();
    }
    void TearDown() override { std::filesystem::current_path(m_previous_directory); }

    // The host keeps a device only when it is a PXI base station.
    int discover() {
        basestationID list[8] = {};
        const int count = getDeviceList(list, 8);
        int slot = -1;
        for (int i = 0; i < count; ++i) {
            basestationID info{};
            int candidate = -1;
            if (tryGetSlotID(&list[i], &candidate) && getDeviceInfo(candidate, &info) == SUCCESS &&
                info.platformid == NPPlatform_PXI)
                slot = candidate;
        }
        firmware_Info firmware{};
        EXPECT_EQ(bs_getFirmwareInfo(slot, &firmware), SUCCESS);
        EXPECT_EQ(firmware.major, 2);
        EXPECT_EQ(bsc_getFirmwareInfo(slot, &firmware), SUCCESS);
        EXPECT_EQ(firmware.build, 7);
        return slot;
    }

    // Detection and identification as the host does them: a test module answers HST_GetVersion,
    // a probe is one whose part number the host knows.
    bool identify(int slot, int port, uint64_t& serial) {
        bool detected = false;
        HardwareID id{};
        int vmaj = -1, vmin = -1;
        if (detectHeadStage(slot, port, &detected) != SUCCESS || !detected)
            return false;
        EXPECT_EQ(getHeadstageHardwareID(slot, port, &id), SUCCESS);
        EXPECT_STREQ(id.ProductNumber, "NP2_HS_30");
        EXPECT_NE(HST_GetVersion(slot, port, &vmaj, &vmin), SUCCESS);
        EXPECT_EQ(getFlexHardwareID(slot, port, 1, &id), SUCCESS);
        EXPECT_EQ(getProbeHardwareID(slot, port, 1, &id), SUCCESS);
        EXPECT_STREQ(id.ProductNumber, "PRB_1_4_0480_1");
        serial = id.SerialNumber;
        return openProbe(slot, port, 1) == SUCCESS && init(slot, port, 1) == SUCCESS &&
               setOPMODE(slot, port, 1, RECORDING) == SUCCESS && setHSLed(slot, port, false) == SUCCESS;
    }

    // Every channel but the reference channel 191 gets an electrode of bank 0.
    void configure(int slot, int port) {
        for (int channel = 0; channel < 384; ++channel) {
            if (channel != 191) {
                ASSERT_EQ(selectElectrode(slot, port, 1, channel, 0, 0), SUCCESS);
            }
        }
        for (int channel = 0; channel < 384; ++channel) {
            ASSERT_EQ(setGain(slot, port, 1, channel, 3, 2), SUCCESS);
            ASSERT_EQ(setReference(slot, port, 1, channel, 0, EXT_REF, 0), SUCCESS);
            ASSERT_EQ(setAPCornerFrequency(slot, port, 1, channel, false), SUCCESS);
        }
        ASSERT_EQ(setADCCalibration(slot, port, "adc_calibration.csv"), SUCCESS);
        ASSERT_EQ(setGainCalibration(slot, port, 1, "gain_calibration.csv"), SUCCESS);
        ASSERT_EQ(writeProbeConfiguration(slot, port, 1, true), SUCCESS);
        int ap = -1, lfp = -1;
        ASSERT_EQ(getGain(slot, port, 1, 100, &ap, &lfp), SUCCESS);
        EXPECT_EQ(ap, 3);
        EXPECT_EQ(lfp, 2);
    }

    void route(int slot, Routing routing) {
        if (routing == Routing::input) {
            ASSERT_EQ(switchmatrix_set(slot, SM_Output_StatusBit, SM_Input_SMA, true), SUCCESS);
        } else if (routing == Routing::clock_2_hz) {
            ASSERT_EQ(setParameter(NP_PARAM_SYNCFREQUENCY_HZ, 2), SUCCESS);
            ASSERT_EQ(switchmatrix_set(slot, SM_Output_StatusBit, SM_Input_SyncClk, true), SUCCESS);
        } else {
            ASSERT_EQ(switchmatrix_clear(slot, SM_Output_StatusBit), SUCCESS);
        }
    }

    // Readers first, then the trigger; the stop: arm, then the readers take what is left and exit.
    void record(int slot, const std::vector<int>& ports, std::array<Port_Reader, PORTS>& readers,
                Adc_Reader* adc = nullptr) {
        for (int port : ports) {
            Port_Reader& reader = readers[static_cast<size_t>(port - 1)];
            reader.checker = std::make_unique<Port_Checker>(static_cast<uint32_t>(port - 1), m_content);
            reader.thread = std::thread(read_port, port, std::ref(reader));
        }
        if (adc)
            adc->thread = std::thread([adc] { adc->run(); });
        ASSERT_EQ(setSWTrigger(slot), SUCCESS);
        std::this_thread::sleep_for(RUN_TIME);
        const auto stopping_at = Clock::now();
        ASSERT_EQ(arm(slot), SUCCESS);
        EXPECT_LT(Clock::now() - stopping_at, STOP_LIMIT);
        const int64_t stopped_at = Clock::now().time_since_epoch().count();
        for (int port : ports)
            readers[static_cast<size_t>(port - 1)].exit = true;
        if (adc)
            adc->exit = true;
        if (adc)
            adc->thread.join();
        for (int port : ports) {
            Port_Reader& reader = readers[static_cast<size_t>(port - 1)];
            reader.thread.join();
            EXPECT_LT(std::chrono::nanoseconds(reader.released_at_ns - stopped_at), RELEASE_LIMIT)
                << "reader of port " << port;
        }
    }

    void write_calibration_files() {
        std::ostringstream adc;
        adc << "ADC,CompP,CompN,Slope,Coarse,Fine,Cfix,Offset,Threshold\n";
        for (int i = 0; i < 32; ++i)
            adc << i << ",16,16,0,0,0,0,0,0\n";
        std::ofstream("adc_calibration.csv") << adc.str();
        std::ostringstream gain;
        gain << "electrode_gains\n";
        for (int electrode = 0; electrode < 960; ++electrode) {
            gain << electrode;
            for (int k = 0; k < 16; ++k)
                gain << ",1.0";
            gain << "\n";
        }
        std::ofstream("gain_calibration.csv") << gain.str();
    }

    Selvan::MURA::test_support::Scratch_Directory scratch;
    Np_Content m_content = Np_Content::counter;

private:
    std::filesystem::path m_previous_directory;
};

// Three runs, the sync signal routed in turn to the sync input (the virtual box's 1 Hz pulser),
// to a 2 Hz clock of the box's own, and to nothing.
TEST_F(PublishedHost, RecordsEveryPortOfTheVirtualBoxBitExactOverThreeTriggeredRuns) {
    m_content = Np_Content::ramp;
    std::ofstream("MURA_NPAPI_ADAPTER_SETTINGS") << "# a host that keeps PXI base stations only\n"
                                                 << "device = virtual\nplatform = PXI\n"
                                                 << "bsc_firmware = 1.2.7\nvirtual_content = ramp\n"
                                                 << "virtual_speed = " << VIRTUAL_SPEED << "\n";
    const int slot = discover();
    ASSERT_EQ(slot, 2); // a PXI chassis's first module slot
    ASSERT_EQ(openBS(slot), SUCCESS);
    HardwareID bsc{};
    EXPECT_EQ(getBSCHardwareID(slot, &bsc), SUCCESS);
    std::vector<int> ports;
    std::vector<uint64_t> serials;
    for (int port = 1; port <= 4; ++port) {
        uint64_t serial = 0;
        if (identify(slot, port, serial)) {
            ports.push_back(port);
            serials.push_back(serial);
        }
    }
    ASSERT_EQ(ports, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(std::set<uint64_t>(serials.begin(), serials.end()).size(), 4u) << "serial numbers differ";
    for (int port : ports)
        configure(slot, port);
    ASSERT_EQ(arm(slot), SUCCESS);

    for (Routing routing : {Routing::input, Routing::clock_2_hz, Routing::none}) {
        const int run = static_cast<int>(routing);
        route(slot, routing);
        std::array<Port_Reader, PORTS> readers;
        Adc_Reader adc;
        record(slot, ports, readers, &adc);
        uint32_t end = adc.sync.last;
        for (int port : ports)
            end = std::min(end, readers[static_cast<size_t>(port - 1)].sync.last);
        const std::vector<uint32_t> edges = readers[0].sync.until(end);
        for (int port : ports) {
            const Port_Reader& reader = readers[static_cast<size_t>(port - 1)];
            EXPECT_EQ(reader.checker->failure(), "") << "run " << run;
            // A run holds two seconds of data: 5,000 packets.
            EXPECT_GT(reader.checker->packets(), 3000u) << "run " << run << " port " << port;
            EXPECT_EQ(reader.sync.until(end), edges)
                << "run " << run << ": SYNC of port " << port << " and port 1";
        }
        EXPECT_GT(adc.packets, 30000u);
        if (routing == Routing::none) {
            EXPECT_TRUE(edges.empty());
            EXPECT_FALSE(readers[0].sync.level);
            continue;
        }
        // 100,000 ticks a second: the pulser rises once a second, the 2 Hz clock twice.
        const uint32_t period = routing == Routing::input ? 100000 : 50000;
        ASSERT_GE(edges.size(), routing == Routing::input ? 1u : 3u) << "run " << run;
        for (size_t i = 1; i < edges.size(); ++i)
            EXPECT_EQ(edges[i] - edges[i - 1], period) << "run " << run;
        if (routing != Routing::input)
            continue;
        // The ADC packets see the sync input's edges at the same moments, within a sample.
        const std::vector<uint32_t> adc_edges = adc.sync.until(end);
        ASSERT_EQ(adc_edges.size(), edges.size());
        for (size_t i = 0; i < edges.size(); ++i)
            EXPECT_LE(std::abs(static_cast<int64_t>(adc_edges[i]) - static_cast<int64_t>(edges[i])), 4);
    }
    // Some hosts close once per probe, then once more.
    for (size_t i = 0; i <= ports.size(); ++i)
        EXPECT_EQ(closeBS(slot), SUCCESS);
}

} // namespace

namespace {

// In simulation mode the box has one probe (port 1); its data come from a recording.
TEST_F(PublishedHost, RecordsPortOneInSimulationMode) {
    Selvan::MURA::synth::Synth_Settings settings;
    settings.content.np_content = Np_Content::counter;
    settings.np_ports = {0};
    settings.rhd = false;
    Selvan::MURA::synth::C_Stream_Synthesizer synthesizer(settings);
    const std::vector<uint8_t> recording = synthesizer.next_ticks(6000);
    std::ofstream("recording.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(recording.data()),
               static_cast<std::streamsize>(recording.size()));
    std::ofstream("MURA_NPAPI_ADAPTER_SIM") << "recording.bin\n";
    std::ofstream("MURA_NPAPI_ADAPTER_SETTINGS") << "platform = PXI\nbsc_firmware = 1.2.7\n";
    const int slot = discover();
    ASSERT_EQ(openBS(slot), SUCCESS);
    std::vector<int> ports;
    for (int port = 1; port <= 4; ++port) {
        uint64_t serial = 0;
        if (identify(slot, port, serial))
            ports.push_back(port);
    }
    ASSERT_EQ(ports, std::vector<int>{1});
    configure(slot, 1);
    ASSERT_EQ(arm(slot), SUCCESS);
    std::array<Port_Reader, PORTS> readers;
    record(slot, ports, readers);
    const Port_Checker& checker = *readers[0].checker;
    EXPECT_EQ(checker.failure(), "");
    EXPECT_EQ(checker.first_super_frame(), 0u);
    // The recording holds 500 packets; the demultiplexer decodes in batches and the replay
    // ends at the recording's last whole mebibyte, so not all of them come out.
    EXPECT_GT(checker.packets(), 200u);
    EXPECT_EQ(closeBS(slot), SUCCESS);
}

} // namespace

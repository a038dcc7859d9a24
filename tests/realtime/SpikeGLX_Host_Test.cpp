// The call sequence SpikeGLX releases built on the published v3 names make, through the C
// linkage np_ functions and nothing of this project: slot scan, detection with the firmware
// check and every self test, per-probe configuration with standby on every channel, routing of
// the software trigger and the sync input, two triggered runs read in 24-packet blocks with
// FIFO polling, close. On the virtual box as a PXI base station every gate answers SUCCESS.

#include "Scratch_Directory.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

// As the published header declares them for C: int-sized enumerations, plain records.
extern "C" {

struct basestationID {
    int platformid;
    int ID;
};
struct firmware_Info {
    int major;
    int minor;
    int build;
    char name[64];
};
#pragma pack(push, 1)
struct HardwareID {
    uint8_t version_Major;
    uint8_t version_Minor;
    uint64_t SerialNumber;
    char ProductNumber[40];
};
#pragma pack(pop)
struct electrodePacket {
    uint32_t timestamp[12];
    int16_t apData[12][384];
    int16_t lfpData[384];
    uint16_t Status[12];
};

int np_getDeviceList(basestationID* list, int count);
int np_getDeviceInfo(int slotID, basestationID* info);
size_t np_getAPIVersionFull(char* buffer, size_t size);
size_t np_getLastErrorMessage(char* buffer, size_t size);
int np_openBS(int slotID);
int np_closeBS(int slotID);
int np_bs_getFirmwareInfo(int slotID, firmware_Info* info);
int np_bsc_getFirmwareInfo(int slotID, firmware_Info* info);
int np_detectHeadStage(int slotID, int portID, bool* detected);
int np_getHeadstageHardwareID(int slotID, int portID, HardwareID* id);
int np_getProbeHardwareID(int slotID, int portID, int dockID, HardwareID* id);
int np_openProbe(int slotID, int portID, int dockID);
int np_init(int slotID, int portID, int dockID);
int np_bistBS(int slotID);
int np_bistHB(int slotID, int portID, int dockID);
int np_bistEEPROM(int slotID, int portID);
int np_bistI2CMM(int slotID, int portID, int dockID);
int np_bistSR(int slotID, int portID, int dockID);
int np_bistPSB(int slotID, int portID, int dockID);
int np_bistSignal(int slotID, int portID, int dockID);
int np_bistStartPRBS(int slotID, int portID);
int np_bistStopPRBS(int slotID, int portID, int* prbs_err);
int np_setOPMODE(int slotID, int portID, int dockID, int mode);
int np_setStdb(int slotID, int portID, int dockID, int channel, bool standby);
int np_selectElectrode(int slotID, int portID, int dockID, int channel, int shank, int bank);
int np_setReference(int slotID, int portID, int dockID, int channel, int shank, int reference, int bank);
int np_setGain(int slotID, int portID, int dockID, int channel, int ap_gain, int lfp_gain);
int np_setAPCornerFrequency(int slotID, int portID, int dockID, int channel, bool disableHighPass);
int np_writeProbeConfiguration(int slotID, int portID, int dockID, bool readCheck);
int np_switchmatrix_set(int slotID, int output, int input, bool connect);
int np_setTriggerEdge(int slotID, bool rising);
int np_arm(int slotID);
int np_setSWTrigger(int slotID);
int np_readElectrodeData(int slotID, int portID, int dockID, electrodePacket* packets, int* actual,
                         int requested);
int np_getElectrodeDataFifoState(int slotID, int portID, int dockID, int* available, int* headroom);
}

namespace {

constexpr int SUCCESS = 0;
constexpr int NO_SLOT = 31;
constexpr int PXI = 0x1;
constexpr int SM_INPUT_SWTRIGGER1 = 0x01000001, SM_INPUT_SMA = 0x01000005;
constexpr int SM_OUTPUT_ACQUISITION_TRIGGER = 0x02000002, SM_OUTPUT_STATUS_BIT = 0x02000003;
constexpr int DOCK = 1;
constexpr int READ_SIZE = 24;
constexpr auto RUN_TIME = std::chrono::seconds(3);

// A gate: SpikeGLX stops the run when one answers anything but SUCCESS.
#define GATE(call) ASSERT_EQ((call), SUCCESS) << #call

struct Reader {
    std::thread thread;
    std::atomic<bool> exit{false};
    std::atomic<uint64_t> packets{0};
};

void read_port(int slot, int port, Reader& reader) {
    std::vector<electrodePacket> packets(READ_SIZE);
    while (!reader.exit) {
        int available = 0, headroom = 0;
        np_getElectrodeDataFifoState(slot, port, DOCK, &available, &headroom);
        if (available < READ_SIZE) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        int actual = 0;
        np_readElectrodeData(slot, port, DOCK, packets.data(), &actual, READ_SIZE);
        reader.packets += static_cast<uint64_t>(actual);
    }
}

class SpikeGLXHost : public ::testing::Test {
protected:
    void SetUp() override {
        m_previous = std::filesystem::current_path();
        std::filesystem::current_path(scratch.path());
        std::ofstream("MURA_NPAPI_ADAPTER_SETTINGS")
            << "device = virtual\nplatform = PXI\nvirtual_content = ramp\n"
            << "bs_firmware = 2.0.169\nbsc_firmware = 3.2.176\n";
    }
    void TearDown() override { std::filesystem::current_path(m_previous); }

    // SpikeGLX asks every PXI slot of a chassis for a base station.
    int scan_slots() {
        basestationID list[16] = {};
        EXPECT_EQ(np_getDeviceList(list, 16), 1);
        std::vector<int> slots;
        for (int slot = 2; slot <= 18; ++slot) {
            basestationID info{};
            const int result = np_getDeviceInfo(slot, &info);
            if (result == SUCCESS && info.platformid == PXI)
                slots.push_back(slot);
            else
                EXPECT_EQ(result, NO_SLOT) << "slot " << slot;
        }
        EXPECT_EQ(slots, std::vector<int>{2});
        char error[128] = {};
        np_getLastErrorMessage(error, sizeof error);
        EXPECT_STREQ(error, "getDeviceInfo : slot 18 holds no basestation");
        return slots.empty() ? -1 : slots[0];
    }

    void detect(int slot, int port) {
        bool detected = false;
        GATE(np_detectHeadStage(slot, port, &detected));
        ASSERT_TRUE(detected);
        HardwareID id{};
        GATE(np_getHeadstageHardwareID(slot, port, &id));
        EXPECT_NE(id.SerialNumber, 0u) << "headstage serial number of port " << port;
        GATE(np_getProbeHardwareID(slot, port, DOCK, &id));
        GATE(np_openProbe(slot, port, DOCK));
        GATE(np_init(slot, port, DOCK));
        GATE(np_bistBS(slot));
        GATE(np_bistHB(slot, port, DOCK));
        GATE(np_bistEEPROM(slot, port));
        GATE(np_bistI2CMM(slot, port, DOCK));
        GATE(np_bistSR(slot, port, DOCK));
        GATE(np_bistPSB(slot, port, DOCK));
        GATE(np_bistSignal(slot, port, DOCK));
        int errors = -1;
        GATE(np_bistStartPRBS(slot, port));
        GATE(np_bistStopPRBS(slot, port, &errors));
        EXPECT_EQ(errors, 0);
        GATE(np_init(slot, port, DOCK)); // back from the self tests' modes
    }

    void configure(int slot, int port) {
        GATE(np_setOPMODE(slot, port, DOCK, 0));
        for (int channel = 0; channel < 384; ++channel) {
            GATE(np_setStdb(slot, port, DOCK, channel, false));
            if (channel != 191) {
                GATE(np_selectElectrode(slot, port, DOCK, channel, 0, 0));
            }
            GATE(np_setReference(slot, port, DOCK, channel, 0, 0, 0));
            GATE(np_setGain(slot, port, DOCK, channel, 3, 2));
            GATE(np_setAPCornerFrequency(slot, port, DOCK, channel, false));
        }
        GATE(np_writeProbeConfiguration(slot, port, DOCK, true));
    }

    void run(int slot) {
        std::array<Reader, 4> readers;
        GATE(np_arm(slot));
        for (int port = 1; port <= 4; ++port)
            readers[static_cast<size_t>(port - 1)].thread =
                std::thread(read_port, slot, port, std::ref(readers[static_cast<size_t>(port - 1)]));
        GATE(np_setSWTrigger(slot));
        std::this_thread::sleep_for(RUN_TIME);
        for (auto& reader : readers)
            reader.exit = true;
        GATE(np_arm(slot));
        for (int port = 1; port <= 4; ++port) {
            Reader& reader = readers[static_cast<size_t>(port - 1)];
            reader.thread.join();
            EXPECT_GT(reader.packets, 5000u) << "port " << port << ": 3 s hold 7,500 packets";
        }
    }

    Selvan::MURA::test_support::Scratch_Directory scratch;

private:
    std::filesystem::path m_previous;
};

TEST_F(SpikeGLXHost, TheSequenceOfSpikeGLXPassesEveryGateOnTheVirtualBox) {
    char version[128] = {};
    EXPECT_GT(np_getAPIVersionFull(version, sizeof version), 0u);
    EXPECT_EQ(std::string(version).rfind("np3_bridge ", 0), 0u);
    const int slot = scan_slots();
    ASSERT_EQ(slot, 2);
    GATE(np_openBS(slot));
    firmware_Info firmware{};
    GATE(np_bs_getFirmwareInfo(slot, &firmware));
    EXPECT_EQ(firmware.build, 169);
    GATE(np_bsc_getFirmwareInfo(slot, &firmware));
    EXPECT_EQ(firmware.build, 176);
    for (int port = 1; port <= 4; ++port)
        detect(slot, port);
    for (int port = 1; port <= 4; ++port)
        configure(slot, port);
    GATE(np_switchmatrix_set(slot, SM_OUTPUT_ACQUISITION_TRIGGER, SM_INPUT_SWTRIGGER1, true));
    GATE(np_setTriggerEdge(slot, true));
    GATE(np_switchmatrix_set(slot, SM_OUTPUT_STATUS_BIT, SM_INPUT_SMA, true));
    run(slot);
    run(slot);
    GATE(np_closeBS(slot));
}

} // namespace

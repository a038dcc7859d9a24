#include "Host_Sequence.h"

#include <algorithm>
#include <atomic>
#include <fmt/format.h>
#include <thread>

namespace Selvan::MURA::host {
namespace {

using namespace Neuropixels;

constexpr int SLOT = 0;
constexpr int DOCK = 0;
constexpr int REFERENCE_CHANNEL = 191;

// Runs one API call; the first failure ends the sequence.
class Step_Runner {
public:
    explicit Step_Runner(Host_Result& result)
        : m_result(result) {}
    bool operator()(const char* call, NP_ErrorCode code) {
        if (code != SUCCESS && m_result.ok) {
            m_result.ok = false;
            m_result.failure =
                fmt::format("{} returned {} ({})", call, static_cast<int>(code), getErrorMessage(code));
        }
        return m_result.ok;
    }

private:
    Host_Result& m_result;
};

bool read_back_gains(int port, Host_Result& result);

bool configure_port(int port, const Host_Options& options, Host_Result& result) {
    Step_Runner step(result);
    Probe_Identity& identity = result.identities[static_cast<size_t>(port - 1)];
    char text[64] = {};
    if (!step("openPort", openPort(SLOT, port)) || !step("readHSPN", readHSPN(SLOT, port, text, sizeof text)))
        return false;
    identity.headstage_part_number = text;
    if (!step("readProbeSN", readProbeSN(SLOT, port, DOCK, &identity.probe_serial_number)) ||
        !step("readProbePN", readProbePN(SLOT, port, DOCK, text, sizeof text)))
        return false;
    identity.probe_part_number = text;
    if (!step("openProbe", openProbe(SLOT, port, DOCK)) || !step("init", init(SLOT, port, DOCK)) ||
        !step("setOPMODE", setOPMODE(SLOT, port, DOCK, RECORDING)))
        return false;
    if (!options.adc_calibration_file.empty() &&
        !step("setADCCalibration", setADCCalibration(SLOT, port, options.adc_calibration_file.c_str())))
        return false;
    if (!options.gain_calibration_file.empty() &&
        !step("setGainCalibration",
              setGainCalibration(SLOT, port, DOCK, options.gain_calibration_file.c_str())))
        return false;
    const Channel_Settings& settings = options.channels;
    for (int channel = 0; channel < NP1_PROBE_CHANNEL_COUNT; ++channel) {
        if (channel != REFERENCE_CHANNEL &&
            !step("selectElectrode", selectElectrode(SLOT, port, DOCK, channel, 0, settings.bank)))
            return false;
        if (!step("setReference",
                  setReference(SLOT, port, DOCK, channel, 0, settings.reference, settings.reference_bank)) ||
            !step("setGain", setGain(SLOT, port, DOCK, channel, settings.ap_gain, settings.lfp_gain)) ||
            !step("setAPCornerFrequency",
                  setAPCornerFrequency(SLOT, port, DOCK, channel, settings.disable_high_pass)))
            return false;
    }
    if (!step("writeProbeConfiguration", writeProbeConfiguration(SLOT, port, DOCK, true)))
        return false;
    return !options.read_back_gains || read_back_gains(port, result);
}

bool read_back_gains(int port, Host_Result& result) {
    Step_Runner step(result);
    auto& gains = result.gains[static_cast<size_t>(port - 1)];
    gains.assign(NP1_PROBE_CHANNEL_COUNT, {});
    for (int channel = 0; channel < NP1_PROBE_CHANNEL_COUNT; ++channel) {
        Channel_Gains& channel_gains = gains[static_cast<size_t>(channel)];
        if (!step("getGain", getGain(SLOT, port, DOCK, channel, &channel_gains.ap, &channel_gains.lfp)))
            return false;
    }
    return true;
}

// A read returns at once with what is queued; as hosts do, the reader then sleeps about as long
// as the packets still missing from its next read take to come (12 samples at 30 kHz: 400 µs).
constexpr auto PACKET_PERIOD = std::chrono::microseconds(400);

// Once the run is stopped, a reader takes what is still queued (a stop delivers every whole
// super frame the box sent) and ends at the first read that finds nothing.
void read_port(int port, const Host_Options& options, const std::atomic<bool>& stopped, uint64_t& packets) {
    std::vector<electrodePacket> buffer(static_cast<size_t>(options.packets_per_read));
    while (options.packets_per_port == 0 || packets < options.packets_per_port) {
        const bool draining = stopped;
        int wanted = options.packets_per_read;
        if (options.packets_per_port != 0)
            wanted = static_cast<int>(
                std::min<uint64_t>(static_cast<uint64_t>(wanted), options.packets_per_port - packets));
        int actual = 0;
        if (readElectrodeData(SLOT, port, DOCK, buffer.data(), &actual, wanted) != SUCCESS ||
            (draining && actual == 0))
            return;
        for (int i = 0; i < actual; ++i) {
            if (options.on_packet)
                options.on_packet(port, buffer[static_cast<size_t>(i)]);
        }
        packets += static_cast<uint64_t>(actual);
        int available = 0;
        int headroom = 0;
        getElectrodeDataFifoState(SLOT, port, DOCK, &available, &headroom);
        if (options.on_fifo_state)
            options.on_fifo_state(port, available, headroom);
        if (available < wanted && !draining)
            std::this_thread::sleep_for(PACKET_PERIOD * (wanted - available));
    }
}

void read_adc(const Host_Options& options, const std::atomic<bool>& stopped, uint64_t& packets) {
    constexpr int PER_READ = 32;
    PacketInfo info[PER_READ];
    int16_t samples[PER_READ * 12];
    while (options.adc_packets == 0 || packets < options.adc_packets) {
        const bool draining = stopped;
        int wanted = PER_READ;
        if (options.adc_packets != 0)
            wanted = static_cast<int>(std::min<uint64_t>(PER_READ, options.adc_packets - packets));
        int read = 0;
        if (ADC_readPackets(SLOT, info, samples, 12, wanted, &read) != SUCCESS || (draining && read == 0))
            return;
        if (options.on_adc_packets && read > 0)
            options.on_adc_packets(info, samples, read);
        packets += static_cast<uint64_t>(read);
        // An ADC packet comes every 33 µs.
        if (read < wanted && !draining)
            std::this_thread::sleep_for(std::chrono::microseconds(34) * (wanted - read));
    }
}

// The acquisition's duration, cut short by a stop request.
void wait_for_stop(const Host_Options& options) {
    if (options.stop_requested == nullptr) {
        std::this_thread::sleep_for(options.duration);
        return;
    }
    constexpr std::chrono::milliseconds POLL{20};
    const auto deadline = std::chrono::steady_clock::now() + options.duration;
    while (!*options.stop_requested) {
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero())
            return;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(left, POLL));
    }
}

// With the published calls hosts make: the switch matrix for the input and the clock, the
// clock's frequency as a parameter.
bool route_sync(const Host_Options& options, Step_Runner& step) {
    switch (options.sync) {
    case Sync_Routing::input:
        return step("switchmatrix_set", switchmatrix_set(SLOT, SM_Output_StatusBit, SM_Input_SMA, true));
    case Sync_Routing::clock:
        return step("setParameter", setParameter(NP_PARAM_SYNCFREQUENCY_HZ, options.sync_clock_hz)) &&
               step("switchmatrix_set", switchmatrix_set(SLOT, SM_Output_StatusBit, SM_Input_SyncClk, true));
    case Sync_Routing::none:
        break;
    }
    return step("switchmatrix_clear", switchmatrix_clear(SLOT, SM_Output_StatusBit));
}

} // namespace

Host_Result run_host_sequence(const Host_Options& options) {
    Host_Result result;
    Step_Runner step(result);
    basestationID devices[1];
    if (getDeviceList(devices, 1) < 1) {
        result.ok = false;
        result.failure = "getDeviceList found no basestation";
        return result;
    }
    if (!step("openBS", openBS(SLOT)))
        return result;
    for (int port : options.ports) {
        if (!configure_port(port, options, result)) {
            closeBS(SLOT);
            return result;
        }
    }
    // The published trigger sequence: arm, then the software trigger starts acquisition.
    if (!route_sync(options, step) || !step("arm", arm(SLOT)) || !step("setSWTrigger", setSWTrigger(SLOT))) {
        closeBS(SLOT);
        return result;
    }
    const auto start = std::chrono::steady_clock::now();
    if (options.on_started)
        options.on_started();
    std::atomic<bool> stopped{false};
    std::vector<std::thread> readers;
    for (int port : options.ports)
        readers.emplace_back(read_port, port, std::cref(options), std::cref(stopped),
                             std::ref(result.packets[static_cast<size_t>(port - 1)]));
    std::thread adc_reader(read_adc, std::cref(options), std::cref(stopped), std::ref(result.adc_packets));
    if (options.packets_per_port != 0) {
        for (auto& reader : readers)
            reader.join();
        readers.clear();
    } else {
        wait_for_stop(options);
    }
    if (options.on_stopping)
        options.on_stopping();
    // Arming again stops acquisition; the readers then take what is left.
    step("arm", arm(SLOT));
    stopped = true;
    for (auto& reader : readers)
        reader.join();
    adc_reader.join();
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    step("closeBS", closeBS(SLOT));
    return result;
}

} // namespace Selvan::MURA::host

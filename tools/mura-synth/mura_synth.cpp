// mura-synth: writes a recording of the MURA box's multiplexed card-to-host stream: PSB super
// frames of the chosen NP ports and RHD frames, at the rates of the real box, with selectable
// contents and deliberate faults.

#include "C_Stream_Synthesizer.h"

#include "Command_Line.h"

#include <cmath>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace Selvan::MURA::synth;

const std::map<std::string, Np_Content> CONTENTS = {{"neural", Np_Content::neural},
                                                    {"psb", Np_Content::psb_test_pattern},
                                                    {"sine", Np_Content::sine},
                                                    {"ramp", Np_Content::ramp},
                                                    {"counter", Np_Content::counter}};

const std::map<std::string, Fault_Kind> FAULT_KINDS = {{"lost-row", Fault_Kind::lost_row},
                                                       {"counter-jump", Fault_Kind::counter_jump},
                                                       {"bad-marker", Fault_Kind::bad_marker},
                                                       {"unknown-id", Fault_Kind::unknown_stream_id},
                                                       {"bad-tag", Fault_Kind::bad_lane_tag},
                                                       {"no-sf-start", Fault_Kind::missing_super_frame_start},
                                                       {"broken-preamble", Fault_Kind::broken_preamble},
                                                       {"lost-super-frames", Fault_Kind::lost_super_frames}};

// KIND:STREAM:INDEX[:VALUE], for example lost-row:0:130 or unknown-id:4:10:9.
Fault parse_fault(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, ':');)
        parts.push_back(part);
    if (parts.size() < 3 || parts.size() > 4 || !FAULT_KINDS.contains(parts[0]))
        throw std::invalid_argument("--fault: expected KIND:STREAM:INDEX[:VALUE], got " + text);
    Fault fault{FAULT_KINDS.at(parts[0])};
    fault.stream = static_cast<uint32_t>(std::stoul(parts[1]));
    fault.index = std::stoull(parts[2]);
    fault.value = parts.size() == 4 ? static_cast<uint32_t>(std::stoul(parts[3], nullptr, 0)) : 0;
    return fault;
}

} // namespace

int main(int argc, char** argv) {
    Selvan::MURA::tools::Command_Line app("Write a synthesized MURA box stream (16-byte multiplexed rows)");
    std::string output;
    app.add_option("-o,--output", output, "file to write").required();
    Synth_Settings settings;
    app.add_option("--ports", settings.np_ports, "NP ports 0..3 that send PSB data")
        .delimiter(',')
        .range(0, 3);
    bool no_rhd = false;
    app.add_flag("--no-rhd", no_rhd, "send no RHD frames");
    app.add_option("--rhd-streams", settings.rhd_stream_count, "RHD data streams per frame").range(0, 32);
    std::string content = "neural";
    app.add_option("--content", content, "neural, psb, sine, ramp or counter")
        .one_of({"neural", "psb", "sine", "ramp", "counter"});
    app.add_option("--sine-hz", settings.content.sine_frequency_hz, "frequency of the sine content");
    app.add_option("--seed", settings.content.seed, "seed of the synthetic data");
    app.add_option("--first-super-frame", settings.first_super_frame,
                   "number of the first super frame (frame counters start at 13 times it)");
    double seconds = 1.0;
    app.add_option("--seconds", seconds, "length of the recording").positive();
    std::vector<std::string> faults;
    app.add_option(
        "--fault", faults,
        "KIND:STREAM:INDEX[:VALUE]; KIND is lost-row, counter-jump, bad-marker, unknown-id, "
        "bad-tag, no-sf-start, broken-preamble or lost-super-frames (VALUE of them); STREAM 0..3 NP "
        "port, 4 RHD");
    if (const auto exit_code = app.parse(argc, argv))
        return *exit_code;

    settings.rhd = !no_rhd;
    settings.content.np_content = CONTENTS.at(content);
    try {
        for (const auto& text : faults)
            settings.faults.push_back(parse_fault(text));
        C_Stream_Synthesizer synthesizer(settings);
        std::ofstream file(output, std::ios::binary | std::ios::trunc);
        if (!file) {
            std::cerr << "cannot create " << output << "\n";
            return 1;
        }
        const auto ticks =
            static_cast<uint64_t>(std::llround(seconds * C_Synth_Content::AP_SAMPLES_PER_SECOND));
        constexpr uint64_t ticks_per_write = 1000;
        uint64_t bytes = 0;
        for (uint64_t done = 0; done < ticks; done += ticks_per_write) {
            const std::vector<uint8_t> chunk =
                synthesizer.next_ticks(std::min(ticks_per_write, ticks - done));
            file.write(reinterpret_cast<const char*>(chunk.data()),
                       static_cast<std::streamsize>(chunk.size()));
            bytes += chunk.size();
        }
        if (!file) {
            std::cerr << "write error on " << output << "\n";
            return 1;
        }
        std::cout << "wrote " << bytes << " bytes (" << ticks << " super frame periods) to " << output
                  << "\n";
    } catch (const std::exception& e) {
        std::cerr << "mura-synth: " << e.what() << "\n";
        return 1;
    }
    return 0;
}

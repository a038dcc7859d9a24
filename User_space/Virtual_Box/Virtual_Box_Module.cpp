// The virtual box module (mura_virtual_box): a MURA box in software that np3_bridge loads on
// request, so that hosts run their whole hardware path without hardware. It is the box model
// set up as a real box is: four locked ports, each with a headstage and a
// Neuropixels 1.0 probe of its own serial number, and a card-to-host stream at the box's real
// rate (from the stream synthesizer, different on every port, or from a recording).

#include "CP_Virtual_Box_MURA_Controller.h"
#include "C_Paced_Stream_Source.h"
#include "MURA_Box_Model.h"
#include "Virtual_Box_Contract.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>

#if defined(_WIN32)
#define MURA_VIRTUAL_BOX_EXPORT __declspec(dllexport)
#else
#define MURA_VIRTUAL_BOX_EXPORT __attribute__((visibility("default")))
#endif

namespace Selvan::MURA::box_model {
namespace {

// The box's probes and headstages, each with a serial number of its own.
constexpr uint64_t FIRST_PROBE_SERIAL_NUMBER = 18194210591;
constexpr uint64_t FIRST_HEADSTAGE_SERIAL_NUMBER = 23050000101;
constexpr const char* PROBE_PART_NUMBER = "PRB_1_4_0480_1";
constexpr const char* HEADSTAGE_PART_NUMBER = "NP2_HS_30";
constexpr uint16_t HEADSTAGE_EEPROM_VERSION = 0x0305;
struct Virtual_Box {
    std::mutex mutex;
    std::shared_ptr<MURA_Box_Model> box;
    std::shared_ptr<C_Paced_Stream_Source> source;
    std::string recording;
    std::string content;
    double speed = 0;
    double sync_hz = -1;
    int sync_line = -1;
};

bool content_named(const std::string& name, synth::Np_Content& content) {
    if (name.empty() || name == "neural")
        content = synth::Np_Content::neural;
    else if (name == "counter")
        content = synth::Np_Content::counter;
    else if (name == "ramp")
        content = synth::Np_Content::ramp;
    else if (name == "sine")
        content = synth::Np_Content::sine;
    else
        return false;
    return true;
}

Virtual_Box& virtual_box() {
    static Virtual_Box instance;
    return instance;
}

std::shared_ptr<MURA_Box_Model> make_box() {
    auto box = std::make_shared<MURA_Box_Model>();
    box->set_access_recording(false);
    for (int port = 0; port < 4; ++port) {
        Headstage_Model& headstage = box->headstage(port);
        headstage.keep_history = false;
        headstage.set_headstage_eeprom(HEADSTAGE_EEPROM_VERSION, HEADSTAGE_PART_NUMBER,
                                       FIRST_HEADSTAGE_SERIAL_NUMBER + static_cast<uint64_t>(port));
        headstage.set_probe_eeprom(FIRST_PROBE_SERIAL_NUMBER + static_cast<uint64_t>(port),
                                   PROBE_PART_NUMBER);
    }
    return box;
}

// The faults a host asked the box to show (their names checked by the adapter's settings);
// every call sets them anew, so that a later box without faults has none.
void apply_faults(MURA_Box_Model& box, const std::string& list) {
    auto has = [&](const char* name) {
        return ("," + list + ",").find("," + std::string(name) + ",") != std::string::npos;
    };
    MURA_Box_Model::Faults faults;
    faults.psb_pattern_broken = has("psb");
    faults.no_test_signal = has("signal");
    box.set_faults(faults);
    for (int port = 0; port < 4; ++port) {
        Headstage_Model& headstage = box.headstage(port);
        headstage.set_prbs_error_count(has("prbs") ? 7 : 0);
        headstage.upload_status_fails = has("sr");
        headstage.nack_devices.clear();
        // eeprom: the headstage's memory stays silent; i2c: the probe and its flex's memory do.
        if (has("eeprom"))
            headstage.nack_devices.insert(Headstage_Model::HEADSTAGE_EEPROM);
        if (has("i2c"))
            headstage.nack_devices.insert({Headstage_Model::PROBE, Headstage_Model::PROBE_EEPROM});
    }
}

// Four probes and the RHD frames of a box whose RHD data streams are off (the API enables none),
// with a sync pulser on the sync input.
synth::Synth_Settings stream_settings(synth::Np_Content content, double sync_hz, int sync_line) {
    synth::Synth_Settings settings;
    settings.content.np_content = content;
    settings.content.sync_hz = sync_hz;
    settings.content.sync_line = static_cast<uint32_t>(sync_line);
    settings.np_ports = {0, 1, 2, 3};
    settings.rhd = true;
    settings.rhd_stream_count = 0;
    return settings;
}

bool load_recording(const std::string& path, std::shared_ptr<std::vector<uint8_t>>& bytes,
                    std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "the recording " + path + " cannot be opened";
        return false;
    }
    bytes = std::make_shared<std::vector<uint8_t>>(std::istreambuf_iterator<char>(file),
                                                   std::istreambuf_iterator<char>());
    bytes->resize(bytes->size() / 16 * 16);
    if (bytes->empty()) {
        error = "the recording " + path + " holds no whole row";
        return false;
    }
    return true;
}

// The box's probes send what their registers ask for: their self tests' data, or the content.
C_Paced_Stream_Source::Port_Output output_of(MURA_Box_Model::Probe_Output output) {
    using Output = C_Paced_Stream_Source::Port_Output;
    switch (output) {
    case MURA_Box_Model::Probe_Output::psb_test_pattern:
        return Output::psb_test_pattern;
    case MURA_Box_Model::Probe_Output::broken_psb_test_pattern:
        return Output::broken_psb_test_pattern;
    case MURA_Box_Model::Probe_Output::test_signal:
        return Output::test_signal;
    case MURA_Box_Model::Probe_Output::recording:
        break;
    }
    return Output::content;
}

// A reader that falls behind loses data, as on the box; it is said on standard error.
void set_stream_source(MURA_Box_Model& box, std::shared_ptr<C_Paced_Stream_Source> source) {
    source->set_port_outputs(
        [&box](uint32_t port) { return output_of(box.probe_output(static_cast<int>(port))); });
    box.stream().set_source([source](uint8_t* buffer, size_t capacity) {
        const size_t filled = source->fill(buffer, capacity);
        if (const uint64_t lost = source->take_overflow_ticks())
            std::fprintf(stderr,
                         "Virtual box : the stream was not read in time, %llu super frames of every port are "
                         "lost\n",
                         static_cast<unsigned long long>(lost));
        return filled;
    });
    box.set_soft_trigger_handler([source] { source->trigger(); });
}

void copy_error(const std::string& text, char* error, size_t error_size) {
    if (error && error_size > 0)
        std::snprintf(error, error_size, "%s", text.c_str());
}

} // namespace
} // namespace Selvan::MURA::box_model

extern "C" {

MURA_VIRTUAL_BOX_EXPORT Selvan::MURA::A_MURA_Controller*
mura_virtual_box_create(const MURA_Virtual_Box_Options* options, char* error, size_t error_size) {
    using namespace Selvan::MURA::box_model;
    try {
        const std::string recording = options && options->recording ? options->recording : "";
        const std::string content_name = options && options->content ? options->content : "";
        const double speed = options && options->speed > 0 ? options->speed : 1.0;
        const double sync_hz = options && options->sync_hz >= 0 ? options->sync_hz : 1.0;
        const int sync_line =
            options && options->sync_line >= 0 && options->sync_line < 32 ? options->sync_line : 9;
        Selvan::MURA::synth::Np_Content content{};
        if (!content_named(content_name, content)) {
            copy_error("unknown content " + content_name, error, error_size);
            return nullptr;
        }
        Virtual_Box& vbox = virtual_box();
        std::lock_guard lock(vbox.mutex);
        if (!vbox.box)
            vbox.box = make_box();
        std::string faults = options && options->faults ? options->faults : "";
        faults.erase(std::remove(faults.begin(), faults.end(), ' '), faults.end());
        apply_faults(*vbox.box, faults);
        if (vbox.speed != speed || vbox.recording != recording || vbox.content != content_name ||
            vbox.sync_hz != sync_hz || vbox.sync_line != sync_line) {
            std::shared_ptr<C_Paced_Stream_Source> source;
            if (recording.empty()) {
                source = std::make_shared<C_Paced_Stream_Source>(stream_settings(content, sync_hz, sync_line),
                                                                 speed);
            } else {
                std::shared_ptr<std::vector<uint8_t>> bytes;
                std::string reason;
                if (!load_recording(recording, bytes, reason)) {
                    copy_error(reason, error, error_size);
                    return nullptr;
                }
                source = std::make_shared<C_Paced_Stream_Source>(bytes, speed);
            }
            set_stream_source(*vbox.box, source);
            vbox.source = std::move(source);
            vbox.speed = speed;
            vbox.recording = recording;
            vbox.content = content_name;
            vbox.sync_hz = sync_hz;
            vbox.sync_line = sync_line;
        }
        return new CP_Virtual_Box_MURA_Controller(vbox.box, vbox.source);
    } catch (const std::exception& e) {
        copy_error(e.what(), error, error_size);
        return nullptr;
    }
}

MURA_VIRTUAL_BOX_EXPORT void mura_virtual_box_destroy(Selvan::MURA::A_MURA_Controller* controller) {
    delete controller;
}
}

#include "C_Adapter_Settings.h"

#include "Log.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <sstream>

namespace Selvan::MURA::api {
namespace {

using Settings = C_Adapter_Settings;

constexpr double MAX_VIRTUAL_SPEED = 1000.0;
constexpr double MAX_SYNC_HZ = 1000.0;

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::string lower(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

// A comment is a whole line starting with '#', or the rest of a line after a blank and '#'.
std::string_view without_comment(std::string_view line) {
    const std::string_view trimmed = trim(line);
    if (!trimmed.empty() && trimmed.front() == '#')
        return {};
    for (size_t i = 1; i < line.size(); ++i) {
        if (line[i] == '#' && (line[i - 1] == ' ' || line[i - 1] == '\t'))
            return line.substr(0, i);
    }
    return line;
}

// Whole text as a non-negative decimal integer, nothing else around it.
bool parse_count(std::string_view text, int& value) {
    const char* end = text.data() + text.size();
    const auto [rest, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && rest == end && value >= 0;
}

bool parse_firmware(std::string_view text, Settings::Firmware_Version& version) {
    const auto first_dot = text.find('.');
    const auto second_dot = first_dot == std::string_view::npos ? first_dot : text.find('.', first_dot + 1);
    if (second_dot == std::string_view::npos)
        return false;
    Settings::Firmware_Version parsed{};
    if (!parse_count(text.substr(0, first_dot), parsed.major) ||
        !parse_count(text.substr(first_dot + 1, second_dot - first_dot - 1), parsed.minor) ||
        !parse_count(text.substr(second_dot + 1), parsed.build))
        return false;
    version = parsed;
    return true;
}

// Decimal point whatever the host's locale is; within [lowest, highest] (above 0 when lowest is
// 0 and zero is not allowed).
bool parse_number(std::string_view text, double lowest, double highest, bool zero_allowed, double& number) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [rest, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || rest != end || !(value >= lowest) || value > highest ||
        (!zero_allowed && value == 0))
        return false;
    number = value;
    return true;
}

bool valid_fault_list(std::string_view list) {
    static const std::vector<std::string_view> FAULTS{"psb", "signal", "prbs", "sr", "eeprom", "i2c"};
    size_t start = 0;
    while (start <= list.size()) {
        const size_t comma = std::min(list.find(',', start), list.size());
        const std::string_view name = trim(list.substr(start, comma - start));
        if (std::find(FAULTS.begin(), FAULTS.end(), name) == FAULTS.end())
            return false;
        start = comma + 1;
    }
    return true;
}

// Applies one `key = value`; returns what the value should have been when it is refused.
std::string apply(Settings& settings, const std::string& key, std::string_view value, bool& known) {
    known = true;
    const std::string word = lower(value);
    if (key == "device") {
        if (word == "hardware")
            settings.device = Settings::Device::hardware;
        else if (word == "virtual")
            settings.device = Settings::Device::virtual_box;
        else
            return "hardware or virtual";
    } else if (key == "platform") {
        if (word == "usb")
            settings.platform = Neuropixels::NPPlatform_USB;
        else if (word == "pxi")
            settings.platform = Neuropixels::NPPlatform_PXI;
        else
            return "USB or PXI";
    } else if (key == "bs_firmware") {
        if (!parse_firmware(value, settings.bs_firmware))
            return "MAJOR.MINOR.BUILD";
    } else if (key == "bsc_firmware") {
        if (!parse_firmware(value, settings.bsc_firmware))
            return "MAJOR.MINOR.BUILD";
    } else if (key == "virtual_recording") {
        if (value.empty())
            return "the path of a recording";
        settings.virtual_recording = std::string(value);
    } else if (key == "virtual_content") {
        if (word != "neural" && word != "counter" && word != "ramp" && word != "sine")
            return "neural, counter, ramp or sine";
        settings.virtual_content = word;
    } else if (key == "virtual_speed") {
        if (!parse_number(value, 0, MAX_VIRTUAL_SPEED, false, settings.virtual_speed))
            return "a number above 0 and at most 1000";
    } else if (key == "virtual_sync_hz") {
        if (!parse_number(value, 0, MAX_SYNC_HZ, true, settings.virtual_sync_hz))
            return "a number from 0 to 1000";
    } else if (key == "sync_input_line") {
        int line = 0;
        if (!parse_count(value, line) || line < Settings::FIRST_STATUS_TTL_LINE ||
            line > Settings::LAST_STATUS_TTL_LINE)
            return "a TTL input from 9 to 17";
        settings.sync_input_line = line;
    } else if (key == "virtual_faults") {
        if (!valid_fault_list(word))
            return "a comma-separated list of psb, signal, prbs, sr, eeprom, i2c";
        settings.virtual_faults = word;
    } else if (key == "raw_capture") {
        if (value.empty())
            return "the path of a file to write";
        settings.raw_capture = std::string(value);
    } else {
        known = false;
    }
    return {};
}

std::string version_text(const Settings::Firmware_Version& version) {
    return fmt::format("{}.{}.{}", version.major, version.minor, version.build);
}

} // namespace

C_Adapter_Settings C_Adapter_Settings::parse(std::string_view text, std::vector<Diagnostic>& diagnostics) {
    Settings settings;
    int line_number = 0;
    size_t position = 0;
    while (position < text.size()) {
        const size_t end = std::min(text.find('\n', position), text.size());
        const std::string_view line = trim(without_comment(text.substr(position, end - position)));
        position = end + 1;
        ++line_number;
        if (line.empty())
            continue;
        const auto equals = line.find('=');
        if (equals == std::string_view::npos) {
            diagnostics.push_back({true, fmt::format("{} line {}: expected key = value, found '{}'",
                                                     FILE_NAME, line_number, line)});
            continue;
        }
        const std::string key = lower(trim(line.substr(0, equals)));
        const std::string_view value = trim(line.substr(equals + 1));
        bool known = false;
        const std::string expected = apply(settings, key, value, known);
        if (!known)
            diagnostics.push_back(
                {false, fmt::format("{} line {}: unknown key '{}' is ignored", FILE_NAME, line_number, key)});
        else if (!expected.empty())
            diagnostics.push_back({true, fmt::format("{} line {}: bad value '{}' for {} (expected {}); the "
                                                     "default is kept",
                                                     FILE_NAME, line_number, value, key, expected)});
    }
    return settings;
}

C_Adapter_Settings C_Adapter_Settings::load(bool report) {
    std::ifstream file(FILE_NAME, std::ios::binary);
    std::vector<Diagnostic> diagnostics;
    Settings settings;
    if (file) {
        std::ostringstream text;
        text << file.rdbuf();
        settings = parse(text.str(), diagnostics);
    }
    if (!report)
        return settings;
    for (const Diagnostic& diagnostic : diagnostics) {
        if (diagnostic.error)
            logging::error("%s", diagnostic.text);
        else
            logging::warning("%s", diagnostic.text);
    }
    logging::info(file ? "Adapter settings from %s:" : "Adapter settings (no %s in the working directory):",
                  FILE_NAME);
    for (const std::string& line : settings.describe())
        logging::info("  %s", line);
    return settings;
}

std::vector<std::string> C_Adapter_Settings::describe() const {
    std::vector<std::string> lines;
    lines.push_back(fmt::format("device = {}", device == Device::virtual_box ? "virtual" : "hardware"));
    lines.push_back(fmt::format("platform = {}", platform == Neuropixels::NPPlatform_PXI ? "PXI" : "USB"));
    lines.push_back("bs_firmware = " + version_text(bs_firmware));
    lines.push_back("bsc_firmware = " + version_text(bsc_firmware));
    lines.push_back("virtual_recording = " +
                    (virtual_recording.empty() ? "(synthesized)" : virtual_recording));
    lines.push_back(fmt::format("virtual_speed = {}", virtual_speed));
    lines.push_back("virtual_content = " + virtual_content);
    lines.push_back(fmt::format("virtual_sync_hz = {}", virtual_sync_hz));
    lines.push_back(fmt::format("sync_input_line = {}", sync_input_line));
    lines.push_back("raw_capture = " + (raw_capture.empty() ? "(none)" : raw_capture));
    lines.push_back("virtual_faults = " + (virtual_faults.empty() ? "(none)" : virtual_faults));
    return lines;
}

} // namespace Selvan::MURA::api

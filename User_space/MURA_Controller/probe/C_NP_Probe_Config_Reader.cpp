#include "C_NP_Probe_Config_Reader.h"

#include "Console.h"
#include "Resources.h"

#include <charconv>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>

namespace Selvan::MURA {
namespace {

constexpr uint32_t FIELDS_PER_ROW = 9;

std::runtime_error row_error(uint32_t row, const std::string& what) {
    return std::runtime_error("ADC calibration data row " + std::to_string(row) + ": " + what);
}

// One data row: its text without the line end. The last row must end with a line end, as
// every row of the table does: a file cut right after its last number is incomplete. Blank
// lines between rows are passed over.
std::string read_row(std::istream& in, uint32_t row) {
    std::string line;
    while (std::getline(in, line)) {
        if (in.eof())
            throw row_error(row, "the file ends inside the row");
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.find_first_not_of(" \t") != std::string::npos)
            return line;
    }
    throw row_error(row, "the file ends before the row");
}

// An unsigned decimal integer, blanks before it allowed, nothing after it: a decimal point, a
// sign or a stray character would otherwise be read as the start of the next field and shift
// every value behind it.
uint32_t parse_field(std::string_view text, uint32_t row, uint32_t field) {
    const size_t first = text.find_first_not_of(" \t");
    const std::string_view digits = first == std::string_view::npos ? std::string_view() : text.substr(first);
    uint32_t value = 0;
    const char* end = digits.data() + digits.size();
    const auto [rest, error] = std::from_chars(digits.data(), end, value);
    if (digits.empty() || error != std::errc() || rest != end || digits.front() == '-' ||
        digits.front() == '+')
        throw row_error(row, "field " + std::to_string(field) + " '" + std::string(text) +
                                 "' is not an unsigned 32-bit decimal integer");
    return value;
}

void parse_row(const std::string& line, uint32_t row, ADC_Calibration_Record& record) {
    uint32_t* const fields[FIELDS_PER_ROW] = {&record.adc,   &record.comp_p, &record.comp_n,
                                              &record.slope, &record.coarse, &record.fine,
                                              &record.cfix,  &record.offset, &record.threshold};
    std::string_view rest(line);
    for (uint32_t field = 1; field <= FIELDS_PER_ROW; ++field) {
        const size_t comma = rest.find(',');
        if (comma == std::string_view::npos && field < FIELDS_PER_ROW)
            throw row_error(row, "has " + std::to_string(field) + " fields, expected 9");
        if (comma != std::string_view::npos && field == FIELDS_PER_ROW)
            throw row_error(row, "has more than 9 fields");
        *fields[field - 1] = parse_field(rest.substr(0, comma), row, field);
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
}

} // namespace

bool NP_Probe_Config_Reader::load_adc_calibration_data_from_file(const char* path) {
    if (!path) {
        console::err("ADC config file open error. File : (null)\n");
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        console::err("ADC config file open error. File : {}\n", path);
        return false;
    }
    return load_adc_calibration_data(in);
}

bool NP_Probe_Config_Reader::load_adc_calibration_data(std::istream& in) {
    try {
        std::string header;
        if (!std::getline(in, header) || in.eof())
            throw std::runtime_error("ADC calibration data: the file ends before its first row");
        for (uint32_t row = 1; row <= m_records.size(); ++row)
            parse_row(read_row(in, row), row, m_records[row - 1]);
    } catch (const std::exception& e) {
        console::err("Exception caught : {}", e.what());
        return false;
    }
    console::out("ADC calibration data loaded.\n");
    return true;
}

bool NP_Probe_Config_Reader::load_adc_calibration_data_from_file() {
    return load_adc_calibration_data_from_file(resources::find(DEFAULT_FILE_NAME).string().c_str());
}

} // namespace Selvan::MURA

// mura-flash: programs FPGA images into the MURA box's configuration flash, reads flash
// contents into files, and reads or writes the hardware information record. Works on the real
// box, or with --box-model on the built-in box model for demonstration.
//
// Exit status: 0 done; 1 the flash operation failed or the flash does not hold what was asked;
// 2 bad command line or input file; 3 the box cannot be used.

#include "A_MURA_Controller.h"
#include "CP_Box_Model_MURA_Controller.h"
#include "C_MURA_Controller_Library.h"
#include "C_SPI_Flash.h"
#include "Log.h"
#include "MURA_Box_Model.h"

#include "Command_Line.h"
#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#define MURA_FLASH_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define MURA_FLASH_ISATTY(fd) ::isatty(fd)
#endif

namespace {

using Selvan::MURA::Flash_Phase;
using Selvan::MURA::MURA_Controller_Library;
using Selvan::MURA::MURA_HW_Info;
using Selvan::MURA::SPI_Flash;

constexpr int EXIT_DONE = 0;
constexpr int EXIT_FLASH_FAILED = 1;
constexpr int EXIT_BAD_INPUT = 2;
constexpr int EXIT_NO_BOX = 3;

constexpr size_t LIBRARY_LINES_KEPT = 40;

// ---------------------------------------------------------------- command line

struct Options {
    bool box_model = false;
    std::string box_flash;
    bool library_output = false;
    int verbosity = -1;

    std::string image;
    std::string program_address = "0xB00000";
    bool verify = false;

    std::string read_file;
    std::string read_address = "0";
    std::string read_length;

    std::string info_output;
    std::string record_file;
    std::string record_hex;
    bool erase_record = false;
};

int digit_value(char c) {
    return std::isdigit(static_cast<unsigned char>(c))
               ? c - '0'
               : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
}

// Decimal, or hexadecimal with 0x; nothing else (a leading zero does not mean octal here).
std::optional<uint64_t> parse_number(const std::string& text) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.size() > 10)
        return std::nullopt;
    uint64_t value = 0;
    for (char c : digits) {
        const auto u = static_cast<unsigned char>(c);
        if (!(hex ? std::isxdigit(u) : std::isdigit(u)))
            return std::nullopt;
        value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit_value(c));
    }
    return value;
}

std::optional<uint32_t> parse_flash_offset(const std::string& text, const char* what) {
    const auto value = parse_number(text);
    if (!value || *value > SPI_Flash::FLASH_SIZE) {
        std::cerr << fmt::format("mura-flash: {} '{}' is not a number from 0 to 0x1000000\n", what, text);
        return std::nullopt;
    }
    return static_cast<uint32_t>(*value);
}

std::optional<MURA_HW_Info> record_from_hex(const std::string& text) {
    std::string digits;
    for (char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c)))
            digits += c;
        else if (!std::isspace(static_cast<unsigned char>(c)) && c != ':' && c != '-')
            digits = "invalid";
    }
    MURA_HW_Info info;
    if (digits.size() != 2 * info.bytes.size()) {
        std::cerr
            << "mura-flash: --hex needs exactly 64 hexadecimal digits (spaces, ':' and '-' may separate "
               "them)\n";
        return std::nullopt;
    }
    for (size_t i = 0; i < info.bytes.size(); ++i)
        info.bytes[i] =
            static_cast<uint8_t>(digit_value(digits[2 * i]) * 16 + digit_value(digits[2 * i + 1]));
    return info;
}

std::optional<MURA_HW_Info> record_from_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    MURA_HW_Info info;
    if (!file.is_open() || bytes.size() != info.bytes.size()) {
        std::cerr << fmt::format("mura-flash: '{}' must be a readable file of exactly 32 bytes\n", path);
        return std::nullopt;
    }
    std::copy(bytes.begin(), bytes.end(), info.bytes.begin());
    return info;
}

std::string record_as_hex(const MURA_HW_Info& info) {
    std::string text;
    for (size_t i = 0; i < info.bytes.size(); ++i)
        text += fmt::format("{}{:02x}{}", i % 16 == 0 ? "  " : " ", info.bytes[i], i % 16 == 15 ? "\n" : "");
    return text;
}

// ---------------------------------------------------------------- console

// Keeps the last lines the library prints on standard output. The flash programmer prints a
// status line pair after every page; on the terminal only the progress display is wanted, and
// after a failure the last lines tell what happened.
class Library_Output_Tail : public std::streambuf {
public:
    void clear() {
        m_lines.clear();
        m_current.clear();
    }
    std::vector<std::string> lines() const {
        std::vector<std::string> all(m_lines.begin(), m_lines.end());
        if (!m_current.empty())
            all.push_back(m_current);
        return all;
    }

protected:
    int_type overflow(int_type ch) override {
        if (ch != traits_type::eof())
            take(static_cast<char>(ch));
        return traits_type::not_eof(ch);
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        for (std::streamsize i = 0; i < count; ++i)
            take(text[i]);
        return count;
    }

private:
    void take(char c) {
        if (c != '\n') {
            m_current += c;
            return;
        }
        m_lines.push_back(std::move(m_current));
        m_current.clear();
        if (m_lines.size() > LIBRARY_LINES_KEPT)
            m_lines.pop_front();
    }

    std::deque<std::string> m_lines;
    std::string m_current;
};

// Points std::cout at another buffer for its lifetime.
class Stdout_Redirect {
public:
    explicit Stdout_Redirect(std::streambuf* target)
        : m_saved(target ? std::cout.rdbuf(target) : nullptr) {}
    ~Stdout_Redirect() {
        if (m_saved)
            std::cout.rdbuf(m_saved);
    }
    Stdout_Redirect(const Stdout_Redirect&) = delete;
    Stdout_Redirect& operator=(const Stdout_Redirect&) = delete;

private:
    std::streambuf* m_saved;
};

// Shows how far a long operation has come on standard error: one line redrawn in place on a
// terminal, a line per tenth otherwise.
class Progress_Display {
public:
    explicit Progress_Display(bool interactive)
        : m_interactive(interactive) {}

    void update(Flash_Phase phase, uint32_t done, uint32_t total) {
        if (phase != m_phase)
            end_line();
        m_phase = phase;
        const int percent = total == 0 ? 100 : static_cast<int>(uint64_t{done} * 100 / total);
        const int step = m_interactive ? percent : percent / 10;
        if (step == m_last_step)
            return;
        m_last_step = step;
        const std::string text =
            fmt::format("{:<12}{:3d}% ({} of {} bytes)", verb(phase), percent, done, total);
        if (m_interactive) {
            std::cerr << '\r' << text << std::flush;
            m_line_open = true;
        } else {
            std::cerr << text << '\n';
        }
    }

    void end_line() {
        if (m_line_open)
            std::cerr << '\n';
        m_line_open = false;
        m_last_step = -1;
    }

    Selvan::MURA::Flash_Progress callback() {
        return [this](Flash_Phase phase, uint32_t done, uint32_t total) { update(phase, done, total); };
    }

private:
    static const char* verb(Flash_Phase phase) {
        switch (phase) {
        case Flash_Phase::erase:
            return "erasing";
        case Flash_Phase::program:
            return "programming";
        case Flash_Phase::read:
            return "reading";
        }
        return "";
    }

    bool m_interactive;
    Flash_Phase m_phase = Flash_Phase::erase;
    int m_last_step = -1;
    bool m_line_open = false;
};

// ---------------------------------------------------------------- flash work

struct Session {
    MURA_Controller_Library& library;
    std::ostream& out;
    Progress_Display& progress;

    SPI_Flash flash() {
        return SPI_Flash(library.get_controller()->modules().spi.get(), progress.callback());
    }
};

uint32_t whole_blocks(uint32_t length) {
    return (length + SPI_Flash::CHUNK_SIZE - 1) / SPI_Flash::CHUNK_SIZE * SPI_Flash::CHUNK_SIZE;
}

std::string read_flash_bytes(Session& session, uint32_t address, uint32_t length) {
    std::stringstream data;
    session.flash().read_pages(data, whole_blocks(length), address);
    session.progress.end_line();
    return data.str().substr(0, length);
}

int verify_image(Session& session, const std::string& image_path, uint32_t address) {
    const std::string expected = SPI_Flash::load_padded_image(image_path.c_str()).str();
    const std::string found = read_flash_bytes(session, address, static_cast<uint32_t>(expected.size()));
    const auto mismatch = std::mismatch(expected.begin(), expected.end(), found.begin(), found.end());
    if (mismatch.first == expected.end()) {
        session.out << fmt::format("verified {} bytes (the image zero-padded to whole sectors)\n",
                                   expected.size());
        return EXIT_DONE;
    }
    const auto offset = static_cast<uint32_t>(mismatch.first - expected.begin());
    std::cerr << fmt::format(
        "mura-flash: verification failed: flash byte at 0x{:06x} is 0x{:02x}, the image has "
        "0x{:02x}\n",
        address + offset, static_cast<uint8_t>(*mismatch.second), static_cast<uint8_t>(*mismatch.first));
    return EXIT_FLASH_FAILED;
}

int program_image(Session& session, const Options& options) {
    const auto address = parse_flash_offset(options.program_address, "--address");
    if (!address)
        return EXIT_BAD_INPUT;
    const bool programmed =
        session.library.program_flash(options.image.c_str(), *address, session.progress.callback());
    session.progress.end_line();
    if (!programmed) {
        std::cerr << fmt::format("mura-flash: programming '{}' at 0x{:06x} failed\n", options.image,
                                 *address);
        return EXIT_FLASH_FAILED;
    }
    session.out << fmt::format("programmed '{}' at 0x{:06x}\n", options.image, *address);
    return options.verify ? verify_image(session, options.image, *address) : EXIT_DONE;
}

int read_to_file(Session& session, const Options& options) {
    const auto address = parse_flash_offset(options.read_address, "--address");
    const auto length = parse_flash_offset(options.read_length, "--length");
    if (!address || !length)
        return EXIT_BAD_INPUT;
    if (*length == 0 || uint64_t{*address} + *length > SPI_Flash::FLASH_SIZE) {
        std::cerr << fmt::format("mura-flash: {} bytes at 0x{:06x} is not a range inside the 16 MiB flash\n",
                                 *length, *address);
        return EXIT_BAD_INPUT;
    }
    std::ofstream file(options.read_file, std::ios::binary | std::ios::trunc);
    if (!file.is_open()) {
        std::cerr << fmt::format("mura-flash: cannot create '{}'\n", options.read_file);
        return EXIT_BAD_INPUT;
    }
    const std::string bytes = read_flash_bytes(session, *address, *length);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
        std::cerr << fmt::format("mura-flash: writing '{}' failed\n", options.read_file);
        return EXIT_FLASH_FAILED;
    }
    session.out << fmt::format("read {} bytes at 0x{:06x} into '{}'\n", *length, *address, options.read_file);
    return EXIT_DONE;
}

bool is_erased(const MURA_HW_Info& info) {
    return std::all_of(info.bytes.begin(), info.bytes.end(), [](uint8_t byte) { return byte == 0xFF; });
}

int read_record(Session& session, const Options& options) {
    const auto info = session.library.read_MURA_HW_info();
    session.out << fmt::format("hardware information record at 0x{:06x}:\n", SPI_Flash::HW_INFO_ADDRESS)
                << record_as_hex(*info);
    if (is_erased(*info))
        session.out << "(erased: no record has been written)\n";
    if (options.info_output.empty())
        return EXIT_DONE;
    std::ofstream file(options.info_output, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(info->bytes.data()),
               static_cast<std::streamsize>(info->bytes.size()));
    file.close();
    if (!file) {
        std::cerr << fmt::format("mura-flash: writing '{}' failed\n", options.info_output);
        return EXIT_BAD_INPUT;
    }
    return EXIT_DONE;
}

// Programming clears bits only: the result is the wanted record only where it sets no bit
// that the flash has already cleared.
bool can_program_over(const MURA_HW_Info& present, const MURA_HW_Info& wanted) {
    for (size_t i = 0; i < wanted.bytes.size(); ++i) {
        if ((present.bytes[i] & wanted.bytes[i]) != wanted.bytes[i])
            return false;
    }
    return true;
}

const char* const ERASE_ADVICE =
    "NOR flash programming only clears bits, so writing over another record leaves a blend of both.\n"
    "Run info-write again with --erase to erase the record's 64 KiB sector (0xff0000..0xffffff) first.\n";

int write_record(Session& session, const Options& options, const MURA_HW_Info& record) {
    if (options.erase_record) {
        session.flash().sector_erase(1, SPI_Flash::HW_INFO_SECTOR);
        session.progress.end_line();
    } else if (const auto present = session.library.read_MURA_HW_info();
               !can_program_over(*present, record)) {
        std::cerr << "mura-flash: the flash holds a different record; nothing was written:\n"
                  << record_as_hex(*present) << ERASE_ADVICE;
        return EXIT_FLASH_FAILED;
    }
    if (!session.library.program_MURA_HW_info(record)) {
        std::cerr << "mura-flash: the record read back differs from the one written:\n"
                  << record_as_hex(*session.library.read_MURA_HW_info()) << ERASE_ADVICE;
        return EXIT_FLASH_FAILED;
    }
    session.out << "hardware information record written and read back:\n" << record_as_hex(record);
    return EXIT_DONE;
}

// ---------------------------------------------------------------- the box

// The box model's flash, kept in a file between runs so that a demonstration can program in
// one run and read back in the next. The file is written only after an erase or program.
std::shared_ptr<Selvan::MURA::box_model::MURA_Box_Model> make_box_model(const std::string& flash_file) {
    auto box = std::make_shared<Selvan::MURA::box_model::MURA_Box_Model>();
    if (flash_file.empty() || !std::filesystem::exists(flash_file))
        return box;
    std::ifstream file(flash_file, std::ios::binary);
    std::vector<uint8_t> bytes(SPI_Flash::FLASH_SIZE);
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (file.gcount() != static_cast<std::streamsize>(bytes.size()) ||
        file.peek() != std::char_traits<char>::eof()) {
        std::cerr << fmt::format("mura-flash: '{}' is not a 16 MiB flash image\n", flash_file);
        return nullptr;
    }
    box->flash().fill(0, bytes);
    return box;
}

bool save_box_flash(Selvan::MURA::box_model::MURA_Box_Model& box, const std::string& flash_file) {
    const auto bytes = box.flash().contents(0, SPI_Flash::FLASH_SIZE);
    std::ofstream file(flash_file, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file)
        std::cerr << fmt::format("mura-flash: the box model's flash could not be saved to '{}'\n",
                                 flash_file);
    return static_cast<bool>(file);
}

// Opens the device and makes sure the Neuropixels design runs: the flash programmer knows the
// SPI master only at its place in that design.
bool open_box(MURA_Controller_Library& library) {
    if (!library.open()) {
        std::cerr << "mura-flash: the box could not be opened\n";
        return false;
    }
    if (!library.check_and_switch_firmware_if_nec(false)) {
        std::cerr << fmt::format("mura-flash: the FPGA runs design {}, not the Neuropixels design whose SPI "
                                 "master this tool drives; nothing was changed\n",
                                 library.get_design_identifier_from_fpga());
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- main

using Selvan::MURA::tools::Command_Line;

struct Subcommands {
    Command_Line* program;
    Command_Line* read;
    Command_Line* info_read;
    Command_Line* info_write;
};

Subcommands define_command_line(Command_Line& app, Options& options) {
    const auto box_model = app.add_flag("--box-model", options.box_model,
                                        "work on the built-in box model instead of the real box");
    app.add_option(
           "--box-flash", options.box_flash,
           "with --box-model: keep the model's flash in this 16 MiB file between runs (read when present, "
           "written back at the end)")
        .needs(box_model);
    app.add_flag(
        "--library-output", options.library_output,
        "pass the flash programmer's own lines (status polls, sector lines) through to standard output "
        "instead of the progress display");
    app.add_option("-v,--verbosity", options.verbosity,
                   "log lines up to this verbosity on standard error (-2..9)")
        .range(-2, 9);

    Subcommands commands{};
    commands.program = &app.add_subcommand("program", "erase the sectors an image covers and program it");
    commands.program->add_option("image", options.image, "image file").required();
    commands.program->add_option(
        "--address", options.program_address,
        "flash address, a multiple of 0x10000 below 0xff0000 (default 0xB00000, where "
        "the Neuropixels design boots from)");
    commands.program->add_flag("--verify", options.verify, "read the image back and compare");

    commands.read = &app.add_subcommand("read", "read flash contents into a file");
    commands.read->add_option("file", options.read_file, "output file").required();
    commands.read->add_option("--length", options.read_length, "number of bytes").required();
    commands.read->add_option("--address", options.read_address, "flash address (default 0)");

    commands.info_read = &app.add_subcommand("info-read", "print the 32-byte hardware information record");
    commands.info_read->add_option("--output", options.info_output,
                                   "also write the record's 32 bytes to this file");

    commands.info_write = &app.add_subcommand("info-write", "write the 32-byte hardware information record");
    auto from_file =
        commands.info_write->add_option("--file", options.record_file, "a file of exactly 32 bytes");
    const auto from_hex = commands.info_write->add_option("--hex", options.record_hex,
                                                          "64 hexadecimal digits (spaces, ':', '-' allowed)");
    from_file.excludes(from_hex);
    commands.info_write->add_flag(
        "--erase", options.erase_record,
        "erase the record's 64 KiB sector first (needed to replace an existing record)");
    app.require_subcommand(1);
    return commands;
}

std::optional<MURA_HW_Info> record_to_write(const Options& options) {
    if (!options.record_file.empty())
        return record_from_file(options.record_file);
    if (!options.record_hex.empty())
        return record_from_hex(options.record_hex);
    std::cerr << "mura-flash: info-write needs the record: --file or --hex\n";
    return std::nullopt;
}

int run_subcommand(Session& session, const Subcommands& commands, const Options& options,
                   const std::optional<MURA_HW_Info>& record) {
    try {
        if (commands.program->parsed())
            return program_image(session, options);
        if (commands.read->parsed())
            return read_to_file(session, options);
        if (commands.info_read->parsed())
            return read_record(session, options);
        return write_record(session, options, *record);
    } catch (const std::exception& e) {
        session.progress.end_line();
        std::cerr << "mura-flash: error: " << e.what() << '\n';
        return EXIT_FLASH_FAILED;
    }
}

void print_library_tail(std::ostream& out, const Library_Output_Tail& tail) {
    const auto lines = tail.lines();
    if (lines.empty())
        return;
    out << "--- last lines of the flash programmer's output ---\n";
    for (const auto& line : lines)
        out << line << '\n';
}

} // namespace

int main(int argc, char** argv) {
    Command_Line app(
        "Program images into the MURA box's configuration flash, read it back, and read or write the "
        "hardware information record");
    Options options;
    const Subcommands commands = define_command_line(app, options);
    if (const auto exit_code = app.parse(argc, argv))
        return *exit_code == 0 ? EXIT_DONE : EXIT_BAD_INPUT;
    Selvan::MURA::logging::set_console_verbosity(options.verbosity);

    std::optional<MURA_HW_Info> record;
    if (commands.info_write->parsed() && !(record = record_to_write(options)))
        return EXIT_BAD_INPUT;

    std::shared_ptr<Selvan::MURA::box_model::MURA_Box_Model> box;
    std::optional<Selvan::MURA::box_model::Box_Model_Factory_Override> use_box;
    if (options.box_model) {
        if (!(box = make_box_model(options.box_flash)))
            return EXIT_BAD_INPUT;
        use_box.emplace(box);
    }

    std::ostream out(std::cout.rdbuf());
    Library_Output_Tail tail;
    Progress_Display progress(!options.library_output && MURA_FLASH_ISATTY(2));
    int status = EXIT_DONE;
    {
        Stdout_Redirect redirect(options.library_output ? nullptr : &tail);
        MURA_Controller_Library library(false);
        tail.clear(); // the module construction lines tell nothing about the operation
        if (!open_box(library)) {
            status = EXIT_NO_BOX;
        } else {
            tail.clear();
            Session session{library, out, progress};
            status = run_subcommand(session, commands, options, record);
        }
        if (status != EXIT_DONE)
            print_library_tail(out, tail);
    }
    const bool flash_changed = box && !box->flash().operations().empty();
    if (flash_changed && !options.box_flash.empty() && !save_box_flash(*box, options.box_flash) &&
        status == EXIT_DONE)
        status = EXIT_FLASH_FAILED;
    return status;
}

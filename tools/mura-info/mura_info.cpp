// mura-info: opens the MURA box through the controller library and prints the FPGA identity
// and the NP port status. Runs in simulation mode, against the built-in box model, or on the
// real hardware.

#include "A_MURA_Controller.h"
#include "CP_Box_Model_MURA_Controller.h"
#include "C_MURA_Controller_Library.h"
#include "Log.h"

#include "Command_Line.h"
#include <fmt/format.h>

#include <iostream>
#include <memory>
#include <string>

namespace {

using Selvan::MURA::MURA_Controller_Library;

struct Bring_Up_Result {
    bool opened = false;
    bool design_ok = false;
    bool ports_ok = false;
};

Bring_Up_Result bring_up(MURA_Controller_Library& library) {
    Bring_Up_Result result;
    result.opened = library.open();
    result.design_ok = result.opened && library.check_and_switch_firmware_if_nec(true);
    result.ports_ok = result.design_ok && library.pre_init(true);
    return result;
}

const char* verdict(bool ok) {
    return ok ? "ok" : "FAILED";
}

void print_identity(const std::string& title, MURA_Controller_Library& library,
                    const Bring_Up_Result& result) {
    std::cout << fmt::format("\n=== {} ===\n", title);
    std::cout << fmt::format("open              : {}\n", verdict(result.opened));
    std::cout << fmt::format("design check      : {}\n", verdict(result.design_ok));
    std::cout << fmt::format("port bring-up     : {}\n", verdict(result.ports_ok));
    if (result.design_ok) {
        std::cout << fmt::format("design identifier : {}\n", library.get_design_identifier_from_fpga());
        std::cout << fmt::format("build date        : {}\n", library.get_design_build_date());
        std::cout << fmt::format("eFUSE             : {:08x}\n", library.get_fpga_efuse());
        std::cout << fmt::format("temperature       : {:.2f} C\n", library.get_fpga_temperature());
    }
    const unsigned port_count = library.get_np_port_count_from_fpga_signature();
    const unsigned status = library.get_cached_np_port_status();
    std::cout << fmt::format("NP ports in design: {}\n", port_count);
    for (unsigned port = 0; port < 4; ++port) {
        const char* state = port >= port_count     ? "not in design"
                            : (status >> port) & 1 ? "PLL locked"
                                                   : "no lock";
        std::cout << fmt::format("  port {}          : {}\n", port + 1, state);
    }
    std::cout << fmt::format("library version   : {}\n", library.get_library_version());
}

// Brings up the headstage of every locked port and prints what its EEPROMs say.
void print_probes(MURA_Controller_Library& library) {
    const unsigned status = library.get_cached_np_port_status();
    for (unsigned port = 0; port < 4; ++port) {
        if (!((status >> port) & 1))
            continue;
        char headstage[32] = {};
        char probe[48] = {};
        uint64_t serial = 0;
        const bool linked = library.probe_init_part_1(port);
        const bool identified = linked && library.readHSPN(port, headstage, sizeof headstage) &&
                                library.readProbePN(port, probe, sizeof probe) &&
                                library.readProbeSN(port, &serial);
        if (identified)
            std::cout << fmt::format("  port {} probe     : headstage {}, probe {}, serial number {}\n",
                                     port + 1, headstage, probe, serial);
        else
            std::cout << fmt::format("  port {} probe     : {}\n", port + 1,
                                     linked ? "EEPROMs unreadable" : "no link");
    }
}

int run(const std::string& title, MURA_Controller_Library& library) {
    const Bring_Up_Result result = bring_up(library);
    print_identity(title, library, result);
    if (result.ports_ok)
        print_probes(library);
    return result.ports_ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    Selvan::MURA::tools::Command_Line app("Print the MURA box's FPGA identity and NP port status");
    std::string mode = "demo";
    app.add_option("--mode", mode,
                   "sim: simulation mode; box-model: hardware mode against the built-in box model; "
                   "hw: the real box; demo: sim, then box-model")
        .one_of({"sim", "box-model", "hw", "demo"});
    int verbosity = 0;
    app.add_option("-v,--verbosity", verbosity, "log lines up to this verbosity on standard error (0..9)")
        .range(-2, 9);
    if (const auto exit_code = app.parse(argc, argv))
        return *exit_code;
    Selvan::MURA::logging::set_console_verbosity(verbosity);

    int status = 0;
    if (mode == "sim" || mode == "demo") {
        MURA_Controller_Library library(true);
        status |= run("simulation mode", library);
    }
    if (mode == "box-model" || mode == "demo") {
        auto box = std::make_shared<Selvan::MURA::box_model::MURA_Box_Model>();
        Selvan::MURA::box_model::Box_Model_Factory_Override use_box(box);
        MURA_Controller_Library library(false);
        status |= run("hardware mode, box model", library);
    }
    if (mode == "hw") {
        MURA_Controller_Library library(false);
        status |= run("hardware mode", library);
    }
    return status;
}

#!/usr/bin/env python3
"""Generates the published API's function declarations and the table-driven bodies.

From User_space/np3_bridge/api/NeuropixAPI_functions.txt (one line per exported function) and
api/NeuropixAPI.h.in it writes
  User_space/np3_bridge/include/NeuropixAPI.h        the public header
  User_space/np3_bridge/src/NeuropixAPI_generated.cpp the logged, not-supported and forwarding bodies
  tests/api/Every_Function_Host.cpp                   a host that references every function
With --check it writes nothing and fails when a committed file differs from what it would write.
"""

import argparse
import pathlib
import re
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
API = ROOT / "User_space/np3_bridge/api"
TABLE = API / "NeuropixAPI_functions.txt"
TEMPLATE = API / "NeuropixAPI.h.in"
HEADER = ROOT / "User_space/np3_bridge/include/NeuropixAPI.h"
SOURCE = ROOT / "User_space/np3_bridge/src/NeuropixAPI_generated.cpp"
HOST = ROOT / "tests/api/Every_Function_Host.cpp"

DEFAULT_RESULTS = {"size_t": "0", "int": "0", "bool": "false", "uint64_t": "0", "const char*": "nullptr"}


class Parameter:
    def __init__(self, text):
        self.text = text.strip()
        pointer = re.match(r"^(.*)\(\s*\*\s*(\w+)\s*\)\s*(\(.*\))$", self.text)
        if pointer:  # a function pointer: result(*name)(parameters)
            self.name = pointer.group(2)
            self.unnamed = f"{pointer.group(1).strip()} (*){strip_names(pointer.group(3))}"
        else:
            name = re.search(r"(\w+)\s*$", self.text)
            self.name = name.group(1)
            self.unnamed = self.text[: name.start()].strip()


def strip_names(parameter_list):
    inner = parameter_list.strip()[1:-1]
    return "(" + ", ".join(Parameter(p).unnamed for p in split_parameters(inner)) + ")"


def split_parameters(text):
    """Splits at the commas that are not inside parentheses."""
    parts, depth, current = [], 0, ""
    for ch in text:
        if ch == "(":
            depth += 1
        elif ch == ")":
            depth -= 1
        if ch == "," and depth == 0:
            parts.append(current)
            current = ""
        else:
            current += ch
    if current.strip():
        parts.append(current)
    return [p.strip() for p in parts]


class Function:
    def __init__(self, line, linkage):
        fields = [f.strip() for f in line.split("|")]
        if len(fields) != 4:
            raise ValueError(f"bad table line: {line}")
        self.result, self.name, parameters, self.kind = fields
        self.linkage = linkage
        self.parameters = [] if parameters == "void" else [Parameter(p) for p in split_parameters(parameters)]
        self.parameter_text = parameters

    def declaration(self):
        parameters = "" if not self.parameters else ", ".join(p.text for p in self.parameters)
        return f"NP_EXPORT {self.result} NP_APIC {self.name}({parameters});"

    def signature(self, used_names):
        parameters = ", ".join(p.text if p.name in used_names else p.unnamed for p in self.parameters)
        return f"{self.result} NP_APIC {self.name}({parameters})"

    def definition(self):
        if self.kind == "implemented":
            return None
        if self.kind == "not_supported":
            return self.not_supported_body()
        if self.kind == "forward":
            return self.forward_body()
        logged = re.match(r'^logged\s+(".*?")\s+(.*?)\s*->\s*(\w+)$', self.kind)
        if logged:
            return self.logged_body(logged.group(1), logged.group(2), logged.group(3))
        raise ValueError(f"unknown kind for {self.name}: {self.kind}")

    def not_supported_body(self):
        head = self.signature(set())
        if self.result == "NP_ErrorCode":
            return f'{head} {{\n    return not_supported("{self.name}");\n}}\n'
        if self.result == "void":
            return f'{head} {{\n    not_supported("{self.name}");\n}}\n'
        value = DEFAULT_RESULTS[self.result]
        return f'{head} {{\n    not_supported("{self.name}");\n    return {value};\n}}\n'

    def logged_body(self, format_text, arguments, result):
        names = [a.strip() for a in arguments.split(",")]
        used = {n for n in names if not n.isdigit()}
        casts = ", ".join(n if n.isdigit() else f"static_cast<int>({n})" for n in names)
        body = [f"{self.signature(used)} {{", f'    MURA_LOG_SCOPE(1, "{self.name}");', f"    logging::log(1, {format_text}, {casts});"]
        if result != "void":
            body.append(f"    return {result};")
        return "\n".join(body) + "\n}\n"

    def forward_body(self):
        target = self.name[len("np_"):]
        arguments = ", ".join(p.name for p in self.parameters)
        return f"{self.signature({p.name for p in self.parameters})} {{\n    return {target}({arguments});\n}}\n"


def read_table():
    functions, linkage = [], None
    for raw in TABLE.read_text().splitlines():
        line = raw.strip()
        if not line or line.startswith("#"):
            continue
        if line in ("[C++]", "[C]"):
            linkage = line[1:-1]
            continue
        functions.append(Function(line, linkage))
    return functions


def header(functions):
    cpp = "\n".join(f.declaration() for f in functions if f.linkage == "C++")
    c = "\n".join(f.declaration() for f in functions if f.linkage == "C")
    return TEMPLATE.read_text().replace("@CPP_DECLARATIONS@", cpp).replace("@C_DECLARATIONS@", c)


def source(functions):
    parts = [
        "// Generated by scripts/generate_api.py from api/NeuropixAPI_functions.txt: the functions of",
        "// the published API that need no code of their own. Edit the table, not this file.",
        "",
        '#include "NeuropixAPI.h"',
        '#include "NeuropixAPI_frame.h"',
        "",
        "namespace Neuropixels {",
        "",
        "using namespace Selvan::MURA;",
        "using Selvan::MURA::api::not_supported;",
        "",
    ]
    for f in functions:
        if f.linkage == "C++" and f.definition():
            parts.append(f.definition())
    parts.append('extern "C" {\n')
    for f in functions:
        if f.linkage == "C" and f.definition():
            parts.append(f.definition())
    parts.append('} // extern "C"\n')
    parts.append("} // namespace Neuropixels")
    return "\n".join(parts) + "\n"


def host(functions):
    lines = [
        "// Generated by scripts/generate_api.py: takes the address of every exported function, so that",
        "// linking this host against np3_bridge proves each one is exported under the name a host",
        "// compiled against NeuropixAPI.h looks for.",
        "",
        '#include "NeuropixAPI.h"',
        "",
        "#include <cstddef>",
        "",
        "extern const void* const every_function[];",
        "const void* const every_function[] = {",
    ]
    for f in functions:
        lines.append(f"    reinterpret_cast<const void*>(&Neuropixels::{f.name}),")
    for extension in ("start_acquisition", "stop_acquisition", "probe_set_bist_mode",
                      "clear_all_electrode_to_bank_assignments", "get_available_port_capability",
                      "bs_get_fpga_temperature_celcius", "bs_get_fpga_design_label", "bs_get_fpga_design_build_date"):
        lines.append(f"    reinterpret_cast<const void*>(&Neuropixels::{extension}),")
    lines += ["};", "", "extern const std::size_t every_function_count;", "const std::size_t every_function_count = sizeof every_function / sizeof every_function[0];", ""]
    return "\n".join(lines)


def formatted(path, text):
    """The project's clang-format style, so that the generated files pass the format check."""
    result = subprocess.run(["clang-format", f"--assume-filename={path}", "--style=file"],
                            input=text, capture_output=True, text=True, check=True, cwd=ROOT)
    return result.stdout


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--check", action="store_true", help="only compare with the committed files")
    args = parser.parse_args()
    functions = read_table()
    outputs = {path: formatted(path, text) for path, text in
               ((HEADER, header(functions)), (SOURCE, source(functions)), (HOST, host(functions)))}
    stale = [path for path, text in outputs.items() if not path.exists() or path.read_text() != text]
    if args.check:
        for path in stale:
            print(f"out of date: {path.relative_to(ROOT)} (run scripts/generate_api.py)")
        return 1 if stale else 0
    for path in stale:
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(outputs[path])
        print(f"wrote {path.relative_to(ROOT)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

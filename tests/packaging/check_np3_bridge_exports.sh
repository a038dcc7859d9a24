#!/bin/sh
# The shared library exports the classes a host or a test may use below the API and hides
# everything else, above all the logging and formatting libraries compiled into it.
set -eu
library=$1
symbols=$(nm -D --defined-only "$library" | c++filt)
status=0

expect() {
    if ! printf '%s\n' "$symbols" | grep -qF -- "$1"; then
        echo "missing export: $1"
        status=1
    fi
}
refuse() {
    if printf '%s\n' "$symbols" | grep -qE -- "$1"; then
        echo "unexpected exports matching $1:"
        printf '%s\n' "$symbols" | grep -E -- "$1" | head -5
        status=1
    fi
}

expect "Selvan::MURA::A_MURA_Controller::get_instance(bool)"
expect "Selvan::MURA::A_MURA_Controller::set_instance_factory("
expect "Selvan::MURA::A_MURA_Controller::reset_instance_factory()"
expect "Selvan::MURA::MURA_Controller_Library::MURA_Controller_Library(bool)"
expect "Selvan::MURA::MURA_Controller_Library::pre_init(bool)"
expect "Selvan::MURA::MURA_Configurator::print_np_ports_status(unsigned int)"
expect "Selvan::MURA::M_DataStream::read(unsigned char*, unsigned int, bool) const"
expect "Selvan::MURA::Okelly_Adapter_Module::enable_streams("
expect "typeinfo for Selvan::MURA::A_MURA_Controller"
expect "Selvan::MURA::set_pause_function("
refuse "spdlog::"
refuse " fmt::"
exit $status

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
expect "Selvan::MURA::M_DataStream::read(unsigned char*, unsigned int, bool)"
expect "Selvan::MURA::Okelly_Adapter_Module::enable_streams("
expect "typeinfo for Selvan::MURA::A_MURA_Controller"
expect "Selvan::MURA::set_pause_function("
expect "Selvan::MURA::demux::Async_NP_And_RHD_Demux::run()"
expect "Selvan::MURA::demux::NP_PSB_Raw_Data_Demuxer::feed_psb_raw_data_block_buffer("
expect "Selvan::MURA::demux::CP_L1_ADC_TO_Channel::publish_adc_data("
expect "Selvan::MURA::demux::C_RHD_Worker_Thread::start("
expect "typeinfo for Selvan::MURA::demux::I_L2_Demux_CH_Results"
expect "Selvan::MURA::npoe_adapter::L2_CH_Results_NP_PXI_Format_Converter::publish_lp_ch_data("
expect "Selvan::MURA::npoe_adapter::RHD_to_PXI_ADC_Format_Converter::read_sample_packet_to_buffer("
expect "Selvan::MURA::npoe_adapter::C_Bounded_Packet_Queue<Neuropixels::electrodePacket>::peek_xfer_buffer_from_queue()"
refuse "spdlog::"
refuse " fmt::"
exit $status

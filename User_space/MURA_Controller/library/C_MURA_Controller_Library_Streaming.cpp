// The library's streaming operations, kept for its callers; the data path itself is the
// streaming control's.

#include "C_MURA_Controller_Library.h"

namespace Selvan::MURA {

void MURA_Controller_Library::set_NP_aqustion_listener(std::weak_ptr<demux::I_L2_Demux_CH_Results> listener,
                                                       uint32_t port, bool through_gain_filter) {
    m_streaming.set_NP_aqustion_listener(std::move(listener), port, through_gain_filter);
}

void MURA_Controller_Library::set_RHD_aqustion_listener(std::weak_ptr<demux::I_RHD_Frame_Listener> listener) {
    m_streaming.set_RHD_aqustion_listener(std::move(listener));
}

void MURA_Controller_Library::save_stream_listeners() {
    m_streaming.save_stream_listeners();
}

void MURA_Controller_Library::restore_stream_listeners() {
    m_streaming.restore_stream_listeners();
}

void MURA_Controller_Library::prepare_for_streaming() {
    m_streaming.prepare_for_streaming();
}

bool MURA_Controller_Library::prepare_for_simulation_streaming(const std::string& path) {
    return m_streaming.prepare_for_simulation_streaming(path);
}

bool MURA_Controller_Library::switch_simulation_source(const std::string& path) {
    return m_streaming.switch_simulation_source(path);
}

void MURA_Controller_Library::wait_for_data_path_to_settle() {
    m_streaming.wait_for_data_path_to_settle();
}

bool MURA_Controller_Library::pump_data_to_demux(bool wait_for_full) {
    return m_streaming.pump_data_to_demux(wait_for_full);
}

void MURA_Controller_Library::enable_streaming(bool enable_np, const std::vector<uint32_t>& np_ports,
                                               bool enable_rhd, const std::vector<uint32_t>& rhd_streams,
                                               bool soft_trigger) {
    m_streaming.enable_streaming(enable_np, np_ports, enable_rhd, rhd_streams, soft_trigger);
}

void MURA_Controller_Library::disable_streaming() {
    m_streaming.disable_streaming();
}

void MURA_Controller_Library::disable_data_sources() {
    m_streaming.disable_data_sources();
}

void MURA_Controller_Library::stop_main_demux_thread() {
    m_streaming.stop_main_demux_thread();
}

void MURA_Controller_Library::renew_data_path() {
    m_streaming.renew_data_path();
}

void MURA_Controller_Library::finish_run() {
    m_streaming.finish_run();
}

void MURA_Controller_Library::finalize_stream() {
    m_streaming.finalize_stream();
}

void MURA_Controller_Library::purge_read_buffers() {
    m_streaming.purge_read_buffers();
}

void MURA_Controller_Library::send_soft_trigger() {
    m_streaming.send_soft_trigger();
}

void MURA_Controller_Library::set_hw_trigger_ttl_source(uint8_t ttl_input_index) {
    m_streaming.set_hw_trigger_ttl_source(ttl_input_index);
}

void MURA_Controller_Library::set_ttl_out(uint32_t value) {
    m_streaming.set_ttl_out(value);
}

uint32_t MURA_Controller_Library::get_ttl_in() {
    return m_streaming.get_ttl_in();
}

} // namespace Selvan::MURA

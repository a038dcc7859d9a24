// The switch matrix through the exported API. Hosts route the box's sync input (SMA) or a
// square wave made from the sample clock into the electrode packets' SYNC status bit (output
// SM_Output_StatusBit, or the sync parameters), and a software trigger to the acquisition
// trigger (SM_Output_AcquisitionTrigger) on an edge; what they set is read back. Other
// parameters and outputs keep their earlier answers.

#include "NeuropixAPI.h"

#include "NeuropixAPI_frame.h"

#include <cmath>

namespace Neuropixels {

using namespace Selvan::MURA;
using namespace Selvan::MURA::api;

namespace {

using Routing = npoe_adapter::C_Sync_Timeline::Routing;
using Source = npoe_adapter::C_Sync_Timeline::Source;

constexpr double SAMPLES_PER_SECOND = 30000.0;

// A source the status bit can be routed to, by its switch-matrix input.
bool source_of_input(switchmatrixinput_t input, Source& source) {
    if (input == SM_Input_SMA)
        source = Source::input;
    else if (input == SM_Input_SyncClk)
        source = Source::clock;
    else
        return false;
    return true;
}

bool source_of_parameter(int value, Source& source) {
    if (value == SyncSource_None)
        source = Source::none;
    else if (value == SyncSource_SMA)
        source = Source::input;
    else if (value == SyncSource_Clock)
        source = Source::clock;
    else
        return false;
    return true;
}

int parameter_of_source(Source source) {
    switch (source) {
    case Source::input:
        return SyncSource_SMA;
    case Source::clock:
        return SyncSource_Clock;
    case Source::none:
        break;
    }
    return SyncSource_None;
}

NP_ErrorCode refused_routing(const char* function, const char* what) {
    logging::warning("%s : the box cannot route %s", function, what);
    return NOTSUPPORTED;
}

// The clock's period in samples for a frequency in hertz or a period in milliseconds; false for
// values that give no period of at least two samples.
bool period_of(np_parameter_t parameter, double value, uint32_t& period) {
    double samples = 0;
    if (parameter == NP_PARAM_SYNCFREQUENCY_HZ && value > 0)
        samples = SAMPLES_PER_SECOND / value;
    else if (parameter == NP_PARAM_SYNCPERIOD_MS && value > 0)
        samples = value * SAMPLES_PER_SECOND / 1000.0;
    if (!(samples >= 2) || samples > 1e9)
        return false;
    period = static_cast<uint32_t>(std::lround(samples));
    return true;
}

NP_ErrorCode set_sync_parameter(const char* function, np_parameter_t parameter, double value) {
    if (parameter == NP_PARAM_SYNCSOURCE) {
        Source source{};
        if (!source_of_parameter(static_cast<int>(value), source))
            return refused_routing(function, "that sync source");
        route_sync([&](Routing& routing) { routing.source = source; });
        return SUCCESS;
    }
    uint32_t period = 0;
    if (!period_of(parameter, value, period)) {
        logging::warning("%s : %g is no sync clock the box can make", function, value);
        return PARAMETER_INVALID;
    }
    route_sync([&](Routing& routing) { routing.clock_period_samples = period; });
    return SUCCESS;
}

bool is_sync_parameter(np_parameter_t parameter) {
    return parameter == NP_PARAM_SYNCSOURCE || parameter == NP_PARAM_SYNCFREQUENCY_HZ ||
           parameter == NP_PARAM_SYNCPERIOD_MS;
}

double get_sync_parameter(np_parameter_t parameter) {
    const Routing routing = sync_routing();
    if (parameter == NP_PARAM_SYNCSOURCE)
        return parameter_of_source(routing.source);
    if (parameter == NP_PARAM_SYNCFREQUENCY_HZ)
        return SAMPLES_PER_SECOND / routing.clock_period_samples;
    return routing.clock_period_samples * 1000.0 / SAMPLES_PER_SECOND;
}

} // namespace

NP_ErrorCode NP_APIC setParameter(np_parameter_t paramid, int value) {
    MURA_LOG_SCOPE(1, "setParameter");
    logging::log(1, "%d", static_cast<int>(paramid));
    return guarded("setParameter", FAILED, [&] {
        return is_sync_parameter(paramid) ? set_sync_parameter("setParameter", paramid, value) : SUCCESS;
    });
}

NP_ErrorCode NP_APIC getParameter(np_parameter_t paramid, int* value) {
    if (!is_sync_parameter(paramid))
        return not_supported("getParameter");
    MURA_LOG_SCOPE(1, "getParameter");
    if (!value)
        return PARAMETER_INVALID;
    *value = static_cast<int>(std::lround(get_sync_parameter(paramid)));
    return SUCCESS;
}

NP_ErrorCode NP_APIC setParameter_double(np_parameter_t paramid, double value) {
    if (paramid != NP_PARAM_SYNCFREQUENCY_HZ && paramid != NP_PARAM_SYNCPERIOD_MS)
        return not_supported("setParameter_double");
    MURA_LOG_SCOPE(1, "setParameter_double");
    return guarded("setParameter_double", FAILED,
                   [&] { return set_sync_parameter("setParameter_double", paramid, value); });
}

NP_ErrorCode NP_APIC getParameter_double(np_parameter_t paramid, double* value) {
    if (paramid != NP_PARAM_SYNCFREQUENCY_HZ && paramid != NP_PARAM_SYNCPERIOD_MS)
        return not_supported("getParameter_double");
    MURA_LOG_SCOPE(1, "getParameter_double");
    if (!value)
        return PARAMETER_INVALID;
    *value = get_sync_parameter(paramid);
    return SUCCESS;
}

namespace {

bool software_trigger(switchmatrixinput_t input) {
    return input == SM_Input_SWTrigger1 || input == SM_Input_SWTrigger2;
}

// The software triggers are the box's way to start acquisition; its TTL input (SMA) cannot
// start it through this adapter, and is refused as such.
NP_ErrorCode route_acquisition_trigger(switchmatrixinput_t input, bool connect) {
    if (input == SM_Input_SMA)
        return refused_routing(
            "switchmatrix_set",
            "its TTL input (SMA) to the acquisition trigger; acquisition starts on a software "
            "trigger (setSWTrigger)");
    if (!software_trigger(input))
        return refused_routing("switchmatrix_set", "that input to the acquisition trigger");
    Adapter_State& s = state();
    if (connect)
        s.trigger_input = input;
    else if (s.trigger_input == input)
        s.trigger_input = SM_Input_None;
    return SUCCESS;
}

} // namespace

// Connecting an input routes it to the status bit, in place of the one before; disconnecting
// the routed input leaves the bit at 0. The acquisition trigger takes a software trigger.
NP_ErrorCode NP_APIC switchmatrix_set(int slotID, switchmatrixoutput_t output, switchmatrixinput_t inputline,
                                      bool connect) {
    MURA_LOG_SCOPE(1, "switchmatrix_set");
    logging::log(1, "%d", static_cast<int>(slotID));
    if (output == SM_Output_AcquisitionTrigger)
        return route_acquisition_trigger(inputline, connect);
    if (output != SM_Output_StatusBit)
        return SUCCESS;
    return guarded("switchmatrix_set", FAILED, [&] {
        Source source{};
        if (!source_of_input(inputline, source))
            return refused_routing("switchmatrix_set", "that input to the status bit");
        route_sync([&](Routing& routing) {
            if (connect)
                routing.source = source;
            else if (routing.source == source)
                routing.source = Source::none;
        });
        return SUCCESS;
    });
}

NP_ErrorCode NP_APIC switchmatrix_get(int, switchmatrixoutput_t output, switchmatrixinput_t inputline,
                                      bool* isconnected) {
    if (output != SM_Output_StatusBit && output != SM_Output_AcquisitionTrigger)
        return not_supported("switchmatrix_get");
    MURA_LOG_SCOPE(1, "switchmatrix_get");
    if (!isconnected)
        return PARAMETER_INVALID;
    if (output == SM_Output_AcquisitionTrigger) {
        *isconnected = state().trigger_input == inputline;
        return SUCCESS;
    }
    Source source{};
    *isconnected = source_of_input(inputline, source) && sync_routing().source == source;
    return SUCCESS;
}

NP_ErrorCode NP_APIC switchmatrix_clear(int, switchmatrixoutput_t output) {
    if (output != SM_Output_StatusBit && output != SM_Output_AcquisitionTrigger)
        return not_supported("switchmatrix_clear");
    MURA_LOG_SCOPE(1, "switchmatrix_clear");
    if (output == SM_Output_AcquisitionTrigger)
        state().trigger_input = SM_Input_None;
    else
        route_sync([](Routing& routing) { routing.source = Source::none; });
    return SUCCESS;
}

// The software trigger has no edge; the edge a host sets is remembered and reported back.
NP_ErrorCode NP_APIC setTriggerEdge(int slotID, bool rising) {
    MURA_LOG_SCOPE(1, "setTriggerEdge");
    logging::log(1, "slotID : %d, rising : %d", slotID, rising);
    state().trigger_edge = rising ? triggeredge_rising : triggeredge_falling;
    return SUCCESS;
}

NP_ErrorCode NP_APIC switchmatrix_setOutputTriggerEdge(int slotID, switchmatrixoutput_t output,
                                                       triggeredge_t edge) {
    MURA_LOG_SCOPE(1, "switchmatrix_setOutputTriggerEdge");
    logging::log(1, "slotID : %d, edge : %d", slotID, static_cast<int>(edge));
    if (output != SM_Output_AcquisitionTrigger || (edge != triggeredge_rising && edge != triggeredge_falling))
        return refused_routing("switchmatrix_setOutputTriggerEdge", "that edge to that output");
    state().trigger_edge = edge;
    return SUCCESS;
}

NP_ErrorCode NP_APIC switchmatrix_getOutputTriggerEdge(int, switchmatrixoutput_t output,
                                                       triggeredge_t* edge) {
    if (output != SM_Output_AcquisitionTrigger)
        return not_supported("switchmatrix_getOutputTriggerEdge");
    MURA_LOG_SCOPE(1, "switchmatrix_getOutputTriggerEdge");
    if (!edge)
        return PARAMETER_INVALID;
    *edge = state().trigger_edge;
    return SUCCESS;
}

} // namespace Neuropixels

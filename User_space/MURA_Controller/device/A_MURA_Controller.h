#pragma once

#include "Export.h"
#include "I_InputDataStream.h"
#include "I_MemMapped_AXI.h"
#include "I_MemMapped_XDMA.h"
#include "MURA_Register_Modules.h"

#include <functional>
#include <memory>

namespace Selvan::MURA {

// The one gateway to the MURA box: the transport (its register window, its card-to-host stream
// and the DMA engine's registers) and the FPGA register modules bound to it.
class MURA_EXPORT A_MURA_Controller : public I_MemMapped_AXI,
                                      public I_InputDataStream,
                                      public I_MemMapped_XDMA {
public:
    A_MURA_Controller();
    virtual ~A_MURA_Controller();
    A_MURA_Controller(const A_MURA_Controller&) = delete;
    A_MURA_Controller& operator=(const A_MURA_Controller&) = delete;

    // Opens the device; the name and the flag are ignored by every implementation.
    virtual bool open_driver_connection(const char* driver_name, bool flag) = 0;
    // Releases the device; harmless when nothing is open.
    virtual void close_driver_connection() = 0;
    virtual bool set_extended_property(uint32_t property, uint32_t value) = 0;

    // Builds a fresh controller (simulated or the platform's hardware one) with its modules.
    // A factory, not a singleton: every call yields an independent controller.
    static std::shared_ptr<A_MURA_Controller> get_instance(bool simulation);

    // Test seam: while set, get_instance builds its controller with this function instead of
    // choosing the simulated or hardware class; the modules are created as usual.
    using Instance_Factory = std::function<std::shared_ptr<A_MURA_Controller>(bool simulation)>;
    static void set_instance_factory(Instance_Factory factory);
    static void reset_instance_factory();

    // Completes a controller built elsewhere (the virtual box) with its register modules.
    static std::shared_ptr<A_MURA_Controller> with_modules(std::shared_ptr<A_MURA_Controller> controller);

    // The FPGA register modules bound to this controller's register window.
    MURA_Register_Modules& modules() { return m_modules; }
    const MURA_Register_Modules& modules() const { return m_modules; }

private:
    void create_modules();

    MURA_Register_Modules m_modules;
};

} // namespace Selvan::MURA

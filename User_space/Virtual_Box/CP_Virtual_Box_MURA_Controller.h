#pragma once

#include "CP_Box_Model_MURA_Controller.h"
#include "C_Paced_Stream_Source.h"

#include <memory>

namespace Selvan::MURA::box_model {

// The virtual box's controller: the box model's, with a stream read that waits until the data it
// asks for is due, as the driver's blocking read does, up to its time limit. It waits in one
// piece at most a quarter second, well within the half second the box's FIFOs hold (a read that
// waited longer would find them overflowed), and looks every few milliseconds whether the
// streams changed meanwhile (a stop), when what it waits for will not come. With every stream
// off a read returns after a short wait; a read that does not wait for its whole length takes
// what is due at once.
class CP_Virtual_Box_MURA_Controller : public CP_Box_Model_MURA_Controller {
public:
    CP_Virtual_Box_MURA_Controller(std::shared_ptr<MURA_Box_Model> box,
                                   std::shared_ptr<C_Paced_Stream_Source> source);

    uint32_t read_stream(uint64_t reserved, bool wait_for_full) override;

protected:
    bool wait_for_stream_data(uint32_t zero_reads, std::chrono::steady_clock::duration waited) override;

private:
    void wait_until_due();

    std::shared_ptr<C_Paced_Stream_Source> m_source;
};

} // namespace Selvan::MURA::box_model

#pragma once

namespace Selvan::MURA {

// Names the calling thread as debuggers, top -H and perf show it ("np3 NP0", "np3 demux"), so
// that a host's developer can tell the library's threads from the host's own. Linux keeps 15
// characters; longer names are cut. Where the system has no such call this does nothing.
void name_this_thread(const char* name);

} // namespace Selvan::MURA

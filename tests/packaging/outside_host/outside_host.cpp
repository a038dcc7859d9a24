// A host that knows nothing but the installed header and library: it lists the basestations
// and prints what the library reports about the first one.
#include "NeuropixAPI.h"

#include <cstdio>

int main() {
    Neuropixels::basestationID devices[1] = {};
    const int count = Neuropixels::getDeviceList(devices, 1);
    int major = 0;
    int minor = 0;
    Neuropixels::getAPIVersion(&major, &minor);
    std::printf("basestations: %d, platform %d, id %d, API %d.%d\n", count,
                static_cast<int>(devices[0].platformid), devices[0].ID, major, minor);
    return count == 1 ? 0 : 1;
}

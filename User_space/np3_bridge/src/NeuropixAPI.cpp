// Exported Neuropixels API functions of the adapter. The controller library, the device layer
// and the FPGA modules linked into this library export their classes themselves.

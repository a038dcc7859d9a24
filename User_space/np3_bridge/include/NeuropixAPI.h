#pragma once

// Public header of np3_bridge: version 3 of the published Neuropixels API as this adapter
// exports it, so that a host written against the published header compiles and links against
// np3_bridge unchanged. After the published part come the adapter's own extensions.
//
// The function declarations are generated from api/NeuropixAPI_functions.txt by
// scripts/generate_api.py; edit the table or api/NeuropixAPI.h.in, not this file.

#include <cstddef>
#include <cstdint>
#include <ctime>

#if defined(_WIN32)
#if defined(NP3_BRIDGE_BUILD_DLL)
#define NP_EXPORT __declspec(dllexport)
#else
#define NP_EXPORT __declspec(dllimport)
#endif
#define NP_APIC __stdcall
#define NP_CALLBACK __stdcall
#else
#define NP_EXPORT __attribute__((visibility("default")))
#define NP_APIC
#define NP_CALLBACK
#endif

#define NP1_PROBE_CHANNEL_COUNT 384
#define NP1_PROBE_SUPERFRAMESIZE 12
#define NP1_PROBE_ADC_COUNT 32
#define NP_MAXPAYLOADSIZE 1024

#define SM_Input_(v) (0x01000000 | (v))
#define SM_Output_(v) (0x02000000 | (v))
#define SM_SyncSource_(v) (0x03000000 | (v))

namespace Neuropixels {

const int HARDWAREID_PN_LEN = 40;

typedef enum {
    NPPlatform_None = 0,
    NPPlatform_PXI = 0x1,
    NPPlatform_USB = 0x2,
    NPPlatform_ALL = NPPlatform_PXI | NPPlatform_USB,
} NPPlatformID_t;

typedef enum {
    None = 0,
    BankA = (1 << 0),
    BankB = (1 << 1),
    BankC = (1 << 2),
    BankD = (1 << 3),
    BankE = (1 << 4),
    BankF = (1 << 5),
    BankG = (1 << 6),
    BankH = (1 << 7),
    BankI = (1 << 8),
    BankJ = (1 << 9),
    BankK = (1 << 10),
    BankL = (1 << 11),
    BankM = (1 << 12),
    BankN = (1 << 13),
    BankO = (1 << 14),
    BankP = (1 << 15),
    BankQ = (1 << 16),
} electrodebanks_t;

typedef enum {
    SourceDefault = 0,
    SourceAP = 0,
    SourceLFP = 1,
} streamsource_t;

typedef enum {
    SUCCESS = 0,
    FAILED = 1,
    ALREADY_OPEN = 2,
    NOT_OPEN = 3,
    IIC_ERROR = 4,
    VERSION_MISMATCH = 5,
    PARAMETER_INVALID = 6,
    UART_ACK_ERROR = 7,
    TIMEOUT = 8,
    WRONG_CHANNEL = 9,
    WRONG_BANK = 10,
    WRONG_REF = 11,
    WRONG_INTREF = 12,
    CSV_READ_ERROR = 13,
    BIST_ERROR = 14,
    FILE_OPEN_ERROR = 15,
    READBACK_ERROR = 16,
    READBACK_ERROR_FLEX = 17,
    READBACK_ERROR_HS = 18,
    READBACK_ERROR_BSC = 19,
    TIMESTAMPNOTFOUND = 20,
    FILE_IO_ERR = 21,
    OUTOFMEMORY = 22,
    LINK_IO_ERROR = 23,
    NO_LOCK = 24,
    WRONG_AP = 25,
    WRONG_LFP = 26,
    ERROR_SR_CHAIN_1 = 27,
    ERROR_SR_CHAIN_2 = 28,
    ERROR_SR_CHAIN_3 = 29,
    IO_ERROR = 30,
    NO_SLOT = 31,
    WRONG_SLOT = 32,
    WRONG_PORT = 33,
    STREAM_EOF = 34,
    HDRERR_MAGIC = 35,
    HDRERR_CRC = 36,
    WRONG_PROBESN = 37,
    PROGRAMMINGABORTED = 39,
    VALUE_INVALID = 40,
    WRONG_DOCK_ID = 41,
    INVALID_ARGUMENT = 42,
    NO_BSCONNECT = 43,
    NO_LINK = 44,
    NO_FLEX = 45,
    NO_PROBE = 46,
    NO_HST = 47,
    WRONG_ADC = 48,
    WRONG_SHANK = 49,
    UNKNOWN_STREAMSOURCE = 50,
    ILLEGAL_HANDLE = 51,
    OBJECT_MISMATCH = 52,
    WRONG_DACCHANNEL = 53,
    WRONG_ADCCHANNEL = 54,
    NODATA = 55,
    PROGRAMMING_FAILED = 56,
    NO_IMU = 57,
    NOTSUPPORTED = 0xFE,
    NOTIMPLEMENTED = 0xFF,
} NP_ErrorCode;

typedef enum {
    RECORDING = 0,
    CALIBRATION = 1,
    DIGITAL_TEST = 2,
} probe_opmode_t;

typedef enum {
    PIXEL_MODE = 0,
    CHANNEL_MODE = 1,
    NO_TEST_MODE = 2,
    ADC_MODE = 3,
} testinputmode_t;

typedef enum {
    EXT_REF = 0,
    TIP_REF = 1,
    INT_REF = 2,
    GND_REF = 3,
    NONE_REF = 0xFF,
} channelreference_t;

typedef enum {
    INNER = 0,
    OUTER = 1,
    ALL = 2,
} columnpattern_t;

typedef enum {
    swcap_none = 0,
    swcap_edgeselect = (1 << 0),
    swcap_invert = (1 << 1),
} swcapflags_t;

typedef enum {
    SyncSource_None = SM_SyncSource_(0),
    SyncSource_SMA = SM_SyncSource_(1),
    SyncSource_Clock = SM_SyncSource_(2),
} syncsource_t;

typedef enum {
    SM_Input_None = SM_Input_(0),
    SM_Input_SWTrigger1 = SM_Input_(1),
    SM_Input_SWTrigger2 = SM_Input_(2),
    SM_Input_SMA = SM_Input_(5),
    SM_Input_SMA1 = SM_Input_(6),
    SM_Input_PXI0 = SM_Input_(0x10),
    SM_Input_PXI1 = SM_Input_(0x11),
    SM_Input_PXI2 = SM_Input_(0x12),
    SM_Input_PXI3 = SM_Input_(0x13),
    SM_Input_PXI4 = SM_Input_(0x14),
    SM_Input_PXI5 = SM_Input_(0x15),
    SM_Input_PXI6 = SM_Input_(0x16),
    SM_Input_PXISYNC = SM_Input_(0x17),
    SM_Input_ADC0 = SM_Input_(0x20),
    SM_Input_ADC1 = SM_Input_(0x21),
    SM_Input_ADC2 = SM_Input_(0x22),
    SM_Input_ADC3 = SM_Input_(0x23),
    SM_Input_ADC4 = SM_Input_(0x24),
    SM_Input_ADC5 = SM_Input_(0x25),
    SM_Input_ADC6 = SM_Input_(0x26),
    SM_Input_ADC7 = SM_Input_(0x27),
    SM_Input_ADC8 = SM_Input_(0x28),
    SM_Input_ADC9 = SM_Input_(0x29),
    SM_Input_ADC10 = SM_Input_(0x3A),
    SM_Input_ADC11 = SM_Input_(0x3B),
    SM_Input_ADC12 = SM_Input_(0x3C),
    SM_Input_ADC13 = SM_Input_(0x3D),
    SM_Input_ADC14 = SM_Input_(0x3E),
    SM_Input_ADC15 = SM_Input_(0x3F),
    SM_Input_SyncClk = SM_Input_(0x40),
    SM_Input_TimeStampClk = SM_Input_(0x41),
    SM_Input_ADCClk = SM_Input_(0x42),
} switchmatrixinput_t;

typedef enum {
    SM_Output_None = SM_Output_(0),
    SM_Output_SMA = SM_Output_(1),
    SM_Output_AcquisitionTrigger = SM_Output_(2),
    SM_Output_StatusBit = SM_Output_(3),
    SM_Output_PXI0 = SM_Output_(4),
    SM_Output_PXI1 = SM_Output_(5),
    SM_Output_PXI2 = SM_Output_(6),
    SM_Output_PXI3 = SM_Output_(7),
    SM_Output_PXI4 = SM_Output_(8),
    SM_Output_PXI5 = SM_Output_(9),
    SM_Output_PXI6 = SM_Output_(10),
    SM_Output_PXISYNC = SM_Output_(11),
    SM_Output_SMA1 = SM_Output_(16),
    SM_Output_DAC0 = SM_Output_(32),
    SM_Output_DAC1 = SM_Output_(33),
    SM_Output_DAC2 = SM_Output_(34),
    SM_Output_DAC3 = SM_Output_(35),
    SM_Output_DAC4 = SM_Output_(36),
    SM_Output_DAC5 = SM_Output_(37),
    SM_Output_DAC6 = SM_Output_(38),
    SM_Output_DAC7 = SM_Output_(39),
    SM_Output_DAC8 = SM_Output_(40),
    SM_Output_DAC9 = SM_Output_(41),
    SM_Output_DAC10 = SM_Output_(42),
    SM_Output_DAC11 = SM_Output_(43),
    SM_Output_WavePlayerTrigger = SM_Output_(64),
} switchmatrixoutput_t;

typedef enum {
    triggeredge_rising = 1,
    triggeredge_falling = 2,
} triggeredge_t;

typedef enum {
    swtrigger_none = 1,
    swtrigger1 = 2,
    swtrigger2 = 4,
} swtriggerflags_t;

typedef enum {
    NP_PARAM_BUFFERSIZE = 1,
    NP_PARAM_BUFFERCOUNT = 2,
    NP_PARAM_SYNCMASTER = 3,
    NP_PARAM_SYNCFREQUENCY_HZ = 4,
    NP_PARAM_SYNCPERIOD_MS = 5,
    NP_PARAM_SYNCSOURCE = 6,
    NP_PARAM_SIGNALINVERT = 7,
    NP_PARAM_IGNOREPROBESN = 0x1000,
    NP_PARAM_ALLOWMANUALPXISYNCCONFIG = 0x1001,
} np_parameter_t;

typedef enum {
    NP_DATAMODE_OFF = 0,
    NP_DATAMODE_ELECTRODE = 1,
    NP_DATAMODE_ADC = 2,
} np_datamode_t;

typedef enum {
    ADC_RANGE_2_5V,
    ADC_RANGE_5V,
    ADC_RANGE_10V,
} ADCrange_t;

typedef enum {
    NPSlotEmulatorMode_Off = 0,
    NPSlotEmulatorMode_Static = 1,
    NPSlotEmulatorMode_Linear = 2,
} slotemulatormode_t;

typedef enum {
    NPSlotEmulatorType_NP2,
    NPSlotEmulatorType_NPM,
    NPSlotEmulatorType_NPM2,
    NPSlotEmulatorType_Colibri,
} slotemulatortype_t;

typedef enum {
    NPPortEmulatorMode_Off = 0,
    NPPortEmulatorMode_NP1_0 = 1,
    NPPortEmulatorMode_NHP = 2,
    NPPortEmulatorMode_NPM = 3,
    NPPortEmulatorMode_NPM2b = 4,
    NPPortEmulatorMode_NPM2c = 5,
    NPPortEmulatorMode_Colibri = 6,
} portemulatormode_t;

typedef enum {
    DeviceFound = 1,
    DeviceLost = 2,
    DeviceMapped = 3,
    DeviceUnMapped = 4,
} npsystemevent_t;

typedef enum {
    wavelength_blue,
    wavelength_red,
} wavelength_t;

typedef enum {
    ACC_SCALE_2G,
    ACC_SCALE_4G,
    ACC_SCALE_8G,
    ACC_SCALE_16G,
} accelerometer_scale_t;

typedef enum {
    GYRO_SCALE_250,
    GYRO_SCALE_500,
    GYRO_SCALE_1000,
    GYRO_SCALE_2000,
} gyroscope_scale_t;

struct basestationID {
    NPPlatformID_t platformid;
    int ID;
};

struct firmware_Info {
    int major;
    int minor;
    int build;
    char name[64];
};

// One ADC or probe packet as returned by the packet read calls.
struct PacketInfo {
    uint32_t Timestamp;
    uint16_t Status;
    uint16_t payloadlength;
};

// Twelve AP samples of all channels with their timestamps, one LFP sample of all channels,
// and a status word per AP sample.
struct electrodePacket {
    uint32_t timestamp[NP1_PROBE_SUPERFRAMESIZE];
    int16_t apData[NP1_PROBE_SUPERFRAMESIZE][NP1_PROBE_CHANNEL_COUNT];
    int16_t lfpData[NP1_PROBE_CHANNEL_COUNT];
    uint16_t Status[NP1_PROBE_SUPERFRAMESIZE];
};

#pragma pack(push, 1)
struct HardwareID {
    uint8_t version_Major;
    uint8_t version_Minor;
    uint64_t SerialNumber;
    char ProductNumber[HARDWAREID_PN_LEN];
};
#pragma pack(pop)

struct np_diagstats {
    uint64_t totalbytes;
    uint32_t packetcount;
    uint32_t triggers;
    uint32_t err_badmagic;
    uint32_t err_badcrc;
    uint32_t err_count;
    uint32_t err_serdes;
    uint32_t err_lock;
    uint32_t err_pop;
    uint32_t err_sync;
};

struct np_sourcestats {
    uint32_t timestamp;
    uint32_t packetcount;
    uint32_t samplecount;
    uint32_t fifooverflow;
};

#pragma pack(push, 1)
typedef struct {
    uint32_t MAGIC;
    uint16_t samplecount;
    uint8_t sessionID_seqnr;
    uint8_t format;
    uint32_t timestamp;
    uint8_t status;
    uint8_t sourceid;
    uint16_t crc;
} pckhdr_t;

typedef struct {
    pckhdr_t hdr;
    uint8_t payload[NP_MAXPAYLOADSIZE];
} np_packet_t;

typedef struct {
    uint32_t timestamp;
    uint8_t status;
    uint8_t packet_counter;
    uint8_t delay;
    int16_t accel_x;
    int16_t accel_y;
    int16_t accel_z;
    int16_t gyro_x;
    int16_t gyro_y;
    int16_t gyro_z;
    int16_t temperature;
    int16_t magn_x;
    int16_t magn_y;
    int16_t magn_z;
} IMUPacket;
#pragma pack(pop)

typedef void* np_streamhandle_t;
typedef void* npcallbackhandle_t;
typedef void(NP_CALLBACK* np_packetcallbackfn_t)(const np_packet_t& packet, const void* userdata);
typedef void(NP_CALLBACK* np_systemeventcallbackfn_t)(npsystemevent_t eventtype, const void* userdata,
                                                      const void* eventdata);

// ---------------------------------------------------------------------------------------------
// The published functions.
// ---------------------------------------------------------------------------------------------

NP_EXPORT void NP_APIC getAPIVersion(int* version_major, int* version_minor);
NP_EXPORT size_t NP_APIC getAPIVersionFull(char* buffer, size_t size);
NP_EXPORT size_t NP_APIC getLastErrorMessage(char* bufStart, size_t bufsize);
NP_EXPORT const char* NP_APIC getErrorMessage(NP_ErrorCode code);
NP_EXPORT int NP_APIC getDeviceList(struct basestationID* list, int count);
NP_EXPORT NP_ErrorCode NP_APIC getDeviceInfo(int slotID, struct basestationID* info);
NP_EXPORT bool NP_APIC tryGetSlotID(const basestationID* bsid, int* slotID);
NP_EXPORT NP_ErrorCode NP_APIC scanBS();
NP_EXPORT NP_ErrorCode NP_APIC mapBS(int serialnr, int slot);
NP_EXPORT NP_ErrorCode NP_APIC unmapBS(int slot);
NP_EXPORT NP_ErrorCode NP_APIC destroyHandle(npcallbackhandle_t* phandle);
NP_EXPORT NP_ErrorCode NP_APIC setParameter(np_parameter_t paramid, int value);
NP_EXPORT NP_ErrorCode NP_APIC getParameter(np_parameter_t paramid, int* value);
NP_EXPORT NP_ErrorCode NP_APIC setParameter_double(np_parameter_t paramid, double value);
NP_EXPORT NP_ErrorCode NP_APIC getParameter_double(np_parameter_t paramid, double* value);
NP_EXPORT NP_ErrorCode NP_APIC detectBS(int slotID, bool* detected);
NP_EXPORT NP_ErrorCode NP_APIC openBS(int slotID);
NP_EXPORT NP_ErrorCode NP_APIC closeBS(int slotID);
NP_EXPORT NP_ErrorCode NP_APIC arm(int slotID);
NP_EXPORT NP_ErrorCode NP_APIC setSWTrigger(int slotID);
NP_EXPORT NP_ErrorCode NP_APIC setSWTriggerEx(int slotID, swtriggerflags_t triggerflags);
NP_EXPORT NP_ErrorCode NP_APIC setTriggerEdge(int slotID, bool rising);
NP_EXPORT NP_ErrorCode NP_APIC switchmatrix_set(int slotID, switchmatrixoutput_t output,
                                                switchmatrixinput_t inputline, bool connect);
NP_EXPORT NP_ErrorCode NP_APIC switchmatrix_get(int slotID, switchmatrixoutput_t output,
                                                switchmatrixinput_t inputline, bool* isconnected);
NP_EXPORT NP_ErrorCode NP_APIC switchmatrix_clear(int slotID, switchmatrixoutput_t output);
NP_EXPORT NP_ErrorCode NP_APIC switchmatrix_setInputInversion(int slotID, switchmatrixinput_t input,
                                                              bool invert);
NP_EXPORT NP_ErrorCode NP_APIC switchmatrix_getInputInversion(int slotID, switchmatrixinput_t input,
                                                              bool* invert);
NP_EXPORT NP_ErrorCode NP_APIC switchmatrix_setOutputInversion(int slotID, switchmatrixoutput_t output,
                                                               bool invert);
NP_EXPORT NP_ErrorCode NP_APIC switchmatrix_getOutputInversion(int slotID, switchmatrixoutput_t output,
                                                               bool* invert);
NP_EXPORT NP_ErrorCode NP_APIC switchmatrix_setOutputTriggerEdge(int slotID, switchmatrixoutput_t output,
                                                                 triggeredge_t edge);
NP_EXPORT NP_ErrorCode NP_APIC switchmatrix_getOutputTriggerEdge(int slotID, switchmatrixoutput_t output,
                                                                 triggeredge_t* edge);
NP_EXPORT NP_ErrorCode NP_APIC setDataMode(int slotID, int portID, np_datamode_t mode);
NP_EXPORT NP_ErrorCode NP_APIC getDataMode(int slotID, int portID, np_datamode_t* mode);
NP_EXPORT NP_ErrorCode NP_APIC bs_getTemperature(int slotID, double* temperature_degC);
NP_EXPORT NP_ErrorCode NP_APIC bs_getFirmwareInfo(int slotID, struct firmware_Info* info);
NP_EXPORT NP_ErrorCode NP_APIC bs_updateFirmware(int slotID, const char* filename,
                                                 int (*callback)(size_t byteswritten));
NP_EXPORT NP_ErrorCode NP_APIC bsc_getTemperature(int slotID, double* temperature_degC);
NP_EXPORT NP_ErrorCode NP_APIC bsc_getFirmwareInfo(int slotID, struct firmware_Info* info);
NP_EXPORT NP_ErrorCode NP_APIC bsc_updateFirmware(int slotID, const char* filename,
                                                  int (*callback)(size_t byteswritten));
NP_EXPORT NP_ErrorCode NP_APIC setFileStream(int slotID, const char* filename);
NP_EXPORT NP_ErrorCode NP_APIC enableFileStream(int slotID, bool enable);
NP_EXPORT NP_ErrorCode NP_APIC getBSCSupportedPortCount(int slotID, int* count);
NP_EXPORT NP_ErrorCode NP_APIC getHSSupportedProbeCount(int slotID, int portID, int* count);
NP_EXPORT NP_ErrorCode NP_APIC openPort(int slotID, int portID);
NP_EXPORT NP_ErrorCode NP_APIC closePort(int slotID, int portID);
NP_EXPORT NP_ErrorCode NP_APIC detectHeadStage(int slotID, int portID, bool* detected);
NP_EXPORT NP_ErrorCode NP_APIC detectFlex(int slotID, int portID, int dockID, bool* detected);
NP_EXPORT NP_ErrorCode NP_APIC setHSLed(int slotID, int portID, bool enable);
NP_EXPORT NP_ErrorCode NP_APIC getFlexVersion(int slotID, int portID, int dockID, int* version_major,
                                              int* version_minor);
NP_EXPORT NP_ErrorCode NP_APIC readFlexPN(int slotID, int portID, int dockID, char* pn, size_t maxlen);
NP_EXPORT NP_ErrorCode NP_APIC getHSVersion(int slotID, int portID, int* version_major, int* version_minor);
NP_EXPORT NP_ErrorCode NP_APIC readHSPN(int slotID, int portID, char* pn, size_t maxlen);
NP_EXPORT NP_ErrorCode NP_APIC readHSSN(int slotID, int portID, uint64_t* sn);
NP_EXPORT NP_ErrorCode NP_APIC readProbeSN(int slotID, int portID, int dockID, uint64_t* id);
NP_EXPORT NP_ErrorCode NP_APIC readProbePN(int slotID, int portID, int dockID, char* pn, size_t maxlen);
NP_EXPORT NP_ErrorCode NP_APIC readBSCPN(int slotID, char* pn, size_t len);
NP_EXPORT NP_ErrorCode NP_APIC readBSCSN(int slotID, uint64_t* sn);
NP_EXPORT NP_ErrorCode NP_APIC getBSCVersion(int slotID, int* version_major, int* version_minor);
NP_EXPORT NP_ErrorCode NP_APIC setPortSyncPattern(int slotID, int portID, uint32_t* sync_pattern);
NP_EXPORT NP_ErrorCode NP_APIC getPortSyncPattern(int slotID, int portID, uint32_t* sync_pattern);
NP_EXPORT NP_ErrorCode NP_APIC openProbe(int slotID, int portID, int dockID);
NP_EXPORT NP_ErrorCode NP_APIC closeProbe(int slotID, int portID, int dockID);
NP_EXPORT NP_ErrorCode NP_APIC init(int slotID, int portID, int dockID);
NP_EXPORT NP_ErrorCode NP_APIC writeProbeConfiguration(int slotID, int portID, int dockID, bool readCheck);
NP_EXPORT NP_ErrorCode NP_APIC setADCCalibration(int slotID, int portID, const char* filename);
NP_EXPORT NP_ErrorCode NP_APIC setGainCalibration(int slotID, int portID, int dockID, const char* filename);
NP_EXPORT NP_ErrorCode NP_APIC setProbeSyncPattern(int slotID, int portID, int dockID,
                                                   uint32_t* sync_pattern);
NP_EXPORT NP_ErrorCode NP_APIC getProbeSyncPattern(int slotID, int portID, int dockID,
                                                   uint32_t* sync_pattern);
NP_EXPORT NP_ErrorCode NP_APIC readElectrodeData(int slotID, int portID, int dockID,
                                                 struct electrodePacket* packets, int* actualAmount,
                                                 int requestedAmount);
NP_EXPORT NP_ErrorCode NP_APIC getElectrodeDataFifoState(int slotID, int portID, int dockID,
                                                         int* packetsavailable, int* headroom);
NP_EXPORT NP_ErrorCode NP_APIC setTestSignal(int slotID, int portID, int dockID, bool enable);
NP_EXPORT NP_ErrorCode NP_APIC setOPMODE(int slotID, int portID, int dockID, probe_opmode_t mode);
NP_EXPORT NP_ErrorCode NP_APIC setCALMODE(int slotID, int portID, int dockID, testinputmode_t mode);
NP_EXPORT NP_ErrorCode NP_APIC setREC_NRESET(int slotID, int portID, bool state);
NP_EXPORT NP_ErrorCode NP_APIC readPacket(int slotID, int portID, int dockID, streamsource_t source,
                                          struct PacketInfo* pckinfo, int16_t* data,
                                          int requestedChannelCount, int* actualread);
NP_EXPORT NP_ErrorCode NP_APIC readPackets(int slotID, int portID, int dockID, streamsource_t source,
                                           struct PacketInfo* pckinfo, int16_t* data, int channelcount,
                                           int packetcount, int* packetsread);
NP_EXPORT NP_ErrorCode NP_APIC getPacketFifoStatus(int slotID, int portID, int dockID, streamsource_t source,
                                                   int* packetsavailable, int* headroom);
NP_EXPORT NP_ErrorCode NP_APIC createSlotPacketCallback(int slotID, npcallbackhandle_t* handle,
                                                        np_packetcallbackfn_t callback, const void* userdata);
NP_EXPORT NP_ErrorCode NP_APIC createProbePacketCallback(int slotID, int portID, int dockID,
                                                         streamsource_t source, npcallbackhandle_t* handle,
                                                         np_packetcallbackfn_t callback,
                                                         const void* userdata);
NP_EXPORT NP_ErrorCode NP_APIC unpackData(const np_packet_t* packet, int16_t* output, int samplestoread,
                                          int* actualread);
NP_EXPORT NP_ErrorCode NP_APIC setGain(int slotID, int portID, int dockID, int channel, int ap_gain,
                                       int lfp_gain);
NP_EXPORT NP_ErrorCode NP_APIC getGain(int slotID, int portID, int dockID, int channel, int* APgainselect,
                                       int* LFPgainselect);
NP_EXPORT NP_ErrorCode NP_APIC selectElectrode(int slotID, int portID, int dockID, int channel, int shank,
                                               int bank);
NP_EXPORT NP_ErrorCode NP_APIC selectElectrodeMask(int slotID, int portID, int dockID, int channel, int shank,
                                                   electrodebanks_t bankmask);
NP_EXPORT NP_ErrorCode NP_APIC setReference(int slotID, int portID, int dockID, int channel, int shank,
                                            channelreference_t reference, int intRefElectrodeBank);
NP_EXPORT NP_ErrorCode NP_APIC setAPCornerFrequency(int slotID, int portID, int dockID, int channel,
                                                    bool disableHighPass);
NP_EXPORT NP_ErrorCode NP_APIC setStdb(int slotID, int portID, int dockID, int channel, bool standby);
NP_EXPORT NP_ErrorCode NP_APIC selectColumnPattern(int slotID, int portID, int dockID,
                                                   columnpattern_t pattern);
NP_EXPORT NP_ErrorCode NP_APIC selectElectrodeGroup(int slotID, int portID, int dockID, int channelgroup,
                                                    int bank);
NP_EXPORT NP_ErrorCode NP_APIC selectElectrodeGroupMask(int slotID, int portID, int dockID, int channelgroup,
                                                        electrodebanks_t mask);
NP_EXPORT NP_ErrorCode NP_APIC waveplayer_writeBuffer(int slotID, const int16_t* data, int len);
NP_EXPORT NP_ErrorCode NP_APIC waveplayer_arm(int slotID, bool singleshot);
NP_EXPORT NP_ErrorCode NP_APIC waveplayer_setSampleFrequency(int slotID, double frequency_Hz);
NP_EXPORT NP_ErrorCode NP_APIC waveplayer_getSampleFrequency(int slotID, double* frequency_Hz);
NP_EXPORT NP_ErrorCode NP_APIC ADC_read(int slotID, int ADCChannel, double* voltage);
NP_EXPORT NP_ErrorCode NP_APIC ADC_readComparator(int slotID, int ADCChannel, bool* state);
NP_EXPORT NP_ErrorCode NP_APIC ADC_readComparators(int slotID, uint32_t* flags);
NP_EXPORT NP_ErrorCode NP_APIC ADC_enableProbe(int slotID, bool enable);
NP_EXPORT NP_ErrorCode NP_APIC ADC_getStreamConversionFactor(int slotID, double* lsb_to_voltage,
                                                             int* bitdepth);
NP_EXPORT NP_ErrorCode NP_APIC ADC_setComparatorThreshold(int slotID, int ADCChannel, double vlow,
                                                          double vhigh);
NP_EXPORT NP_ErrorCode NP_APIC ADC_getComparatorThreshold(int slotID, int ADCChannel, double* vlow,
                                                          double* vhigh);
NP_EXPORT NP_ErrorCode NP_APIC ADC_setVoltageRange(int slotID, ADCrange_t range);
NP_EXPORT NP_ErrorCode NP_APIC ADC_getVoltageRange(int slotID, ADCrange_t* range);
NP_EXPORT NP_ErrorCode NP_APIC DAC_setVoltage(int slotID, int DACChannel, double voltage);
NP_EXPORT NP_ErrorCode NP_APIC DAC_setDigitalLevels(int slotID, int DACChannel, double vhigh, double vlow);
NP_EXPORT NP_ErrorCode NP_APIC DAC_enableOutput(int slotID, int DACChannel, bool state);
NP_EXPORT NP_ErrorCode NP_APIC DAC_setProbeSniffer(int slotID, int DACChannel, int portID, int dockID,
                                                   int channelnr, streamsource_t sourcetype);
NP_EXPORT NP_ErrorCode NP_APIC ADC_readPackets(int slotID, struct PacketInfo* pckinfo, int16_t* data,
                                               int channelcount, int packetcount, int* packetsread);
NP_EXPORT NP_ErrorCode NP_APIC ADC_getPacketFifoStatus(int slotID, int* packetsavailable, int* headroom);
NP_EXPORT NP_ErrorCode NP_APIC bistBS(int slotID);
NP_EXPORT NP_ErrorCode NP_APIC bistHB(int slotID, int portID, int dockID);
NP_EXPORT NP_ErrorCode NP_APIC bistStartPRBS(int slotID, int portID);
NP_EXPORT NP_ErrorCode NP_APIC bistStopPRBS(int slotID, int portID, int* prbs_err);
NP_EXPORT NP_ErrorCode NP_APIC bistReadPRBS(int slotID, int portID, int* prbs_err);
NP_EXPORT NP_ErrorCode NP_APIC bistI2CMM(int slotID, int portID, int dockID);
NP_EXPORT NP_ErrorCode NP_APIC bistEEPROM(int slotID, int portID);
NP_EXPORT NP_ErrorCode NP_APIC bistSR(int slotID, int portID, int dockID);
NP_EXPORT NP_ErrorCode NP_APIC bistPSB(int slotID, int portID, int dockID);
NP_EXPORT NP_ErrorCode NP_APIC bistNoise(int slotID, int portID, int dockID);
NP_EXPORT NP_ErrorCode NP_APIC bistSignal(int slotID, int portID, int dockID);
NP_EXPORT NP_ErrorCode NP_APIC HST_GetVersion(int slotID, int portID, int* vmaj, int* vmin);
NP_EXPORT NP_ErrorCode NP_APIC HSTestVDDA1V2(int slotID, int portID);
NP_EXPORT NP_ErrorCode NP_APIC HSTestVDDD1V2(int slotID, int portID);
NP_EXPORT NP_ErrorCode NP_APIC HSTestVDDA1V8(int slotID, int portID);
NP_EXPORT NP_ErrorCode NP_APIC HSTestVDDD1V8(int slotID, int portID);
NP_EXPORT NP_ErrorCode NP_APIC HSTestOscillator(int slotID, int portID);
NP_EXPORT NP_ErrorCode NP_APIC HSTestMCLK(int slotID, int portID);
NP_EXPORT NP_ErrorCode NP_APIC HSTestPCLK(int slotID, int portID);
NP_EXPORT NP_ErrorCode NP_APIC HSTestPSB(int slotID, int portID);
NP_EXPORT NP_ErrorCode NP_APIC HSTestI2C(int slotID, int portID);
NP_EXPORT NP_ErrorCode NP_APIC HSTestNRST(int slotID, int portID);
NP_EXPORT NP_ErrorCode NP_APIC HSTestREC_NRESET(int slotID, int portID);
NP_EXPORT NP_ErrorCode NP_APIC streamOpenFile(const char* filename, int portID, int dockID,
                                              streamsource_t source, np_streamhandle_t* pstream);
NP_EXPORT NP_ErrorCode NP_APIC streamClose(np_streamhandle_t sh);
NP_EXPORT NP_ErrorCode NP_APIC streamSeek(np_streamhandle_t sh, uint64_t filepos, uint32_t* actualtimestamp);
NP_EXPORT NP_ErrorCode NP_APIC streamSetPos(np_streamhandle_t sh, uint64_t filepos);
NP_EXPORT uint64_t NP_APIC streamTell(np_streamhandle_t sh);
NP_EXPORT NP_ErrorCode NP_APIC streamRead(np_streamhandle_t sh, uint32_t* timestamps, int16_t* data,
                                          int samplestoread, int* actualread);
NP_EXPORT NP_ErrorCode NP_APIC streamReadPacket(np_streamhandle_t sh, pckhdr_t* header, int16_t* data,
                                                int samplestoread, int* actualread);
NP_EXPORT NP_ErrorCode NP_APIC getBasestationDriverID(int slotID, char* name, size_t len);
NP_EXPORT NP_ErrorCode NP_APIC getHeadstageDriverID(int slotID, int portID, char* name, size_t len);
NP_EXPORT NP_ErrorCode NP_APIC getFlexDriverID(int slotID, int portID, int dockID, char* name, size_t len);
NP_EXPORT NP_ErrorCode NP_APIC getProbeDriverID(int slotID, int portID, int dockID, char* name, size_t len);
NP_EXPORT NP_ErrorCode NP_APIC getBSCHardwareID(int slotID, struct HardwareID* pHwid);
NP_EXPORT NP_ErrorCode NP_APIC setBSCHardwareID(int slotID, const struct HardwareID* pHwid);
NP_EXPORT NP_ErrorCode NP_APIC getHeadstageHardwareID(int slotID, int portID, struct HardwareID* pHwid);
NP_EXPORT NP_ErrorCode NP_APIC setHeadstageHardwareID(int slotID, int portID, const struct HardwareID* pHwid);
NP_EXPORT NP_ErrorCode NP_APIC getFlexHardwareID(int slotID, int portID, int dockID,
                                                 struct HardwareID* pHwid);
NP_EXPORT NP_ErrorCode NP_APIC setFlexHardwareID(int slotID, int portID, int dockID,
                                                 const struct HardwareID* pHwid);
NP_EXPORT NP_ErrorCode NP_APIC getProbeHardwareID(int slotID, int portID, int dockID,
                                                  struct HardwareID* pHwid);
NP_EXPORT NP_ErrorCode NP_APIC setProbeHardwareID(int slotID, int portID, int dockID,
                                                  const struct HardwareID* pHwid);
NP_EXPORT NP_ErrorCode NP_APIC createSystemEventCallback(npcallbackhandle_t* handle,
                                                         np_systemeventcallbackfn_t callback,
                                                         const void* userdata);
NP_EXPORT NP_ErrorCode NP_APIC writeBSCMM(int slotID, uint32_t address, uint32_t data);
NP_EXPORT NP_ErrorCode NP_APIC readBSCMM(int slotID, uint32_t address, uint32_t* data);
NP_EXPORT NP_ErrorCode NP_APIC writeI2C(int slotID, int portID, uint8_t device, uint8_t address,
                                        uint8_t data);
NP_EXPORT NP_ErrorCode NP_APIC readI2C(int slotID, int portID, uint8_t device, uint8_t address,
                                       uint8_t* data);
NP_EXPORT NP_ErrorCode NP_APIC writeI2Cex(int slotID, int portID, uint8_t device, uint8_t address,
                                          const void* data, size_t len);
NP_EXPORT NP_ErrorCode NP_APIC readI2Cex(int slotID, int portID, uint8_t device, uint8_t address, void* data,
                                         size_t len);
NP_EXPORT NP_ErrorCode NP_APIC writeI2Cflex(int slotID, int portID, int dockID, uint8_t device,
                                            uint8_t address, uint8_t data);
NP_EXPORT NP_ErrorCode NP_APIC readI2Cflex(int slotID, int portID, int dockID, uint8_t device,
                                           uint8_t address, uint8_t* data);
NP_EXPORT NP_ErrorCode NP_APIC setOpticalCalibration(int slotID, int portID, int dockID,
                                                     const char* filename);
NP_EXPORT NP_ErrorCode NP_APIC setOpticalSwitchCalibration(int slotID, int portID, int dockID,
                                                           wavelength_t wavelength, int thermalswitchindex,
                                                           double On_mA, double Off_mA);
NP_EXPORT NP_ErrorCode NP_APIC getOpticalSwitchCalibration(int slotID, int portID, int dockID,
                                                           wavelength_t wavelength, int thermalswitchindex,
                                                           double* On_mA, double* Off_mA);
NP_EXPORT NP_ErrorCode NP_APIC setEmissionSite(int slotID, int portID, int dockID, wavelength_t wavelength,
                                               int site);
NP_EXPORT NP_ErrorCode NP_APIC getEmissionSite(int slotID, int portID, int dockID, wavelength_t wavelength,
                                               int* site);
NP_EXPORT NP_ErrorCode NP_APIC getEmissionSiteAttenuation(int slotID, int portID, int dockID,
                                                          wavelength_t wavelength, int site,
                                                          double* attenuation);
NP_EXPORT NP_ErrorCode NP_APIC disableEmissionPath(int slotID, int portID, int dockID,
                                                   wavelength_t wavelength);
NP_EXPORT NP_ErrorCode NP_APIC IMU_detect(int slot, int port, bool* detected);
NP_EXPORT NP_ErrorCode NP_APIC IMU_enable(int slot, int port, bool enable);
NP_EXPORT NP_ErrorCode NP_APIC IMU_setAccelerometerSampleRateDivider(int slot, int port, uint16_t divider);
NP_EXPORT NP_ErrorCode NP_APIC IMU_setAccelerometerScale(int slot, int port, accelerometer_scale_t scale);
NP_EXPORT NP_ErrorCode NP_APIC IMU_setGyroscopeSampleRateDivider(int slot, int port, uint8_t divider);
NP_EXPORT NP_ErrorCode NP_APIC IMU_setGyroscopeScale(int slot, int port, gyroscope_scale_t scale);
NP_EXPORT NP_ErrorCode NP_APIC IMU_readPackets(int slot, int port, int packets_requested, IMUPacket* packets,
                                               int* packets_read);
NP_EXPORT NP_ErrorCode NP_APIC IMU_getFIFOStatus(int slot, int port, int* packets_available, int* headroom);
NP_EXPORT NP_ErrorCode NP_APIC IMU_getPllTimeBaseCorrection(int slot, int port, int* ppl_timebasecorrection);
NP_EXPORT NP_ErrorCode NP_APIC IMU_DfuRead(int slot, int port, uint8_t* data, size_t len, size_t* bytes_read);
NP_EXPORT NP_ErrorCode NP_APIC IMU_DfuWrite(int slot, int port, const uint8_t* data, size_t len,
                                            size_t* bytes_written);
NP_EXPORT void NP_APIC dbg_setlevel(int level);
NP_EXPORT int NP_APIC dbg_getlevel();
NP_EXPORT void NP_APIC dbg_setlogcallback(int minlevel,
                                          void (*callback)(int level, time_t ts, const char* module,
                                                           const char* msg));
NP_EXPORT void NP_APIC dbg_getversion_datetime(char* dst, size_t maxlen);
NP_EXPORT NP_ErrorCode NP_APIC dbg_setSlotEmulatorMode(int slotID, slotemulatormode_t mode);
NP_EXPORT NP_ErrorCode NP_APIC dbg_getSlotEmulatorMode(int slotID, slotemulatormode_t* mode);
NP_EXPORT NP_ErrorCode NP_APIC dbg_setSlotEmulatorType(int slotID, slotemulatortype_t type);
NP_EXPORT NP_ErrorCode NP_APIC dbg_getSlotEmulatorType(int slotID, slotemulatortype_t* type);
NP_EXPORT NP_ErrorCode NP_APIC dbg_setSlotEmulatorSyncPattern(int slotID, uint32_t* sync_pattern);
NP_EXPORT NP_ErrorCode NP_APIC dbg_getSlotEmulatorSyncPattern(int slotID, uint32_t* sync_pattern);
NP_EXPORT NP_ErrorCode NP_APIC dbg_setPortEmulatorMode(int slotID, int portID,
                                                       portemulatormode_t emulationmode);
NP_EXPORT NP_ErrorCode NP_APIC dbg_getPortEmulatorMode(int slotID, int portID,
                                                       portemulatormode_t* emulationmode);
NP_EXPORT NP_ErrorCode NP_APIC dbg_stats_reset(int slotID);
NP_EXPORT NP_ErrorCode NP_APIC dbg_diagstats_read(int slotID, struct np_diagstats* stats);
NP_EXPORT NP_ErrorCode NP_APIC dbg_sourcestats_read(int slotID, uint8_t sourceID,
                                                    struct np_sourcestats* stats);
NP_EXPORT NP_ErrorCode NP_APIC dbg_read_srchain(int slotID, int portID, int dockID,
                                                uint8_t SRChain_registeraddress, uint8_t* dst, size_t len,
                                                size_t* actualread);
NP_EXPORT NP_ErrorCode NP_APIC setVirtualHeadstage(int slotID, int portID);

extern "C" {
NP_EXPORT void NP_APIC np_getAPIVersion(int* version_major, int* version_minor);
NP_EXPORT size_t NP_APIC np_getAPIVersionFull(char* buffer, size_t size);
NP_EXPORT size_t NP_APIC np_getLastErrorMessage(char* bufStart, size_t bufsize);
NP_EXPORT const char* NP_APIC np_getErrorMessage(NP_ErrorCode code);
NP_EXPORT int NP_APIC np_getDeviceList(struct basestationID* list, int count);
NP_EXPORT NP_ErrorCode NP_APIC np_getDeviceInfo(int slotID, struct basestationID* info);
NP_EXPORT bool NP_APIC np_tryGetSlotID(const basestationID* bsid, int* slotID);
NP_EXPORT NP_ErrorCode NP_APIC np_scanBS();
NP_EXPORT NP_ErrorCode NP_APIC np_mapBS(int serialnr, int slot);
NP_EXPORT NP_ErrorCode NP_APIC np_unmapBS(int slot);
NP_EXPORT NP_ErrorCode NP_APIC np_destroyHandle(npcallbackhandle_t* phandle);
NP_EXPORT NP_ErrorCode NP_APIC np_setParameter(np_parameter_t paramid, int value);
NP_EXPORT NP_ErrorCode NP_APIC np_getParameter(np_parameter_t paramid, int* value);
NP_EXPORT NP_ErrorCode NP_APIC np_setParameter_double(np_parameter_t paramid, double value);
NP_EXPORT NP_ErrorCode NP_APIC np_getParameter_double(np_parameter_t paramid, double* value);
NP_EXPORT NP_ErrorCode NP_APIC np_detectBS(int slotID, bool* detected);
NP_EXPORT NP_ErrorCode NP_APIC np_openBS(int slotID);
NP_EXPORT NP_ErrorCode NP_APIC np_closeBS(int slotID);
NP_EXPORT NP_ErrorCode NP_APIC np_arm(int slotID);
NP_EXPORT NP_ErrorCode NP_APIC np_setSWTrigger(int slotID);
NP_EXPORT NP_ErrorCode NP_APIC np_setSWTriggerEx(int slotID, swtriggerflags_t triggerflags);
NP_EXPORT NP_ErrorCode NP_APIC np_setTriggerEdge(int slotID, bool rising);
NP_EXPORT NP_ErrorCode NP_APIC np_switchmatrix_set(int slotID, switchmatrixoutput_t output,
                                                   switchmatrixinput_t inputline, bool connect);
NP_EXPORT NP_ErrorCode NP_APIC np_switchmatrix_get(int slotID, switchmatrixoutput_t output,
                                                   switchmatrixinput_t inputline, bool* isconnected);
NP_EXPORT NP_ErrorCode NP_APIC np_switchmatrix_clear(int slotID, switchmatrixoutput_t output);
NP_EXPORT NP_ErrorCode NP_APIC np_switchmatrix_setInputInversion(int slotID, switchmatrixinput_t input,
                                                                 bool invert);
NP_EXPORT NP_ErrorCode NP_APIC np_switchmatrix_getInputInversion(int slotID, switchmatrixinput_t input,
                                                                 bool* invert);
NP_EXPORT NP_ErrorCode NP_APIC np_switchmatrix_setOutputInversion(int slotID, switchmatrixoutput_t output,
                                                                  bool invert);
NP_EXPORT NP_ErrorCode NP_APIC np_switchmatrix_getOutputInversion(int slotID, switchmatrixoutput_t output,
                                                                  bool* invert);
NP_EXPORT NP_ErrorCode NP_APIC np_switchmatrix_setOutputTriggerEdge(int slotID, switchmatrixoutput_t output,
                                                                    triggeredge_t edge);
NP_EXPORT NP_ErrorCode NP_APIC np_switchmatrix_getOutputTriggerEdge(int slotID, switchmatrixoutput_t output,
                                                                    triggeredge_t* edge);
NP_EXPORT NP_ErrorCode NP_APIC np_setDataMode(int slotID, int portID, np_datamode_t mode);
NP_EXPORT NP_ErrorCode NP_APIC np_getDataMode(int slotID, int portID, np_datamode_t* mode);
NP_EXPORT NP_ErrorCode NP_APIC np_bs_getTemperature(int slotID, double* temperature_degC);
NP_EXPORT NP_ErrorCode NP_APIC np_bs_getFirmwareInfo(int slotID, struct firmware_Info* info);
NP_EXPORT NP_ErrorCode NP_APIC np_bs_updateFirmware(int slotID, const char* filename,
                                                    int (*callback)(size_t byteswritten));
NP_EXPORT NP_ErrorCode NP_APIC np_bsc_getTemperature(int slotID, double* temperature_degC);
NP_EXPORT NP_ErrorCode NP_APIC np_bsc_getFirmwareInfo(int slotID, struct firmware_Info* info);
NP_EXPORT NP_ErrorCode NP_APIC np_bsc_updateFirmware(int slotID, const char* filename,
                                                     int (*callback)(size_t byteswritten));
NP_EXPORT NP_ErrorCode NP_APIC np_setFileStream(int slotID, const char* filename);
NP_EXPORT NP_ErrorCode NP_APIC np_enableFileStream(int slotID, bool enable);
NP_EXPORT NP_ErrorCode NP_APIC np_getBSCSupportedPortCount(int slotID, int* count);
NP_EXPORT NP_ErrorCode NP_APIC np_getHSSupportedProbeCount(int slotID, int portID, int* count);
NP_EXPORT NP_ErrorCode NP_APIC np_openPort(int slotID, int portID);
NP_EXPORT NP_ErrorCode NP_APIC np_closePort(int slotID, int portID);
NP_EXPORT NP_ErrorCode NP_APIC np_detectHeadStage(int slotID, int portID, bool* detected);
NP_EXPORT NP_ErrorCode NP_APIC np_detectFlex(int slotID, int portID, int dockID, bool* detected);
NP_EXPORT NP_ErrorCode NP_APIC np_setHSLed(int slotID, int portID, bool enable);
NP_EXPORT NP_ErrorCode NP_APIC np_getFlexVersion(int slotID, int portID, int dockID, int* version_major,
                                                 int* version_minor);
NP_EXPORT NP_ErrorCode NP_APIC np_readFlexPN(int slotID, int portID, int dockID, char* pn, size_t maxlen);
NP_EXPORT NP_ErrorCode NP_APIC np_getHSVersion(int slotID, int portID, int* version_major,
                                               int* version_minor);
NP_EXPORT NP_ErrorCode NP_APIC np_readHSPN(int slotID, int portID, char* pn, size_t maxlen);
NP_EXPORT NP_ErrorCode NP_APIC np_readHSSN(int slotID, int portID, uint64_t* sn);
NP_EXPORT NP_ErrorCode NP_APIC np_readProbeSN(int slotID, int portID, int dockID, uint64_t* id);
NP_EXPORT NP_ErrorCode NP_APIC np_readProbePN(int slotID, int portID, int dockID, char* pn, size_t maxlen);
NP_EXPORT NP_ErrorCode NP_APIC np_readBSCPN(int slotID, char* pn, size_t len);
NP_EXPORT NP_ErrorCode NP_APIC np_readBSCSN(int slotID, uint64_t* sn);
NP_EXPORT NP_ErrorCode NP_APIC np_getBSCVersion(int slotID, int* version_major, int* version_minor);
NP_EXPORT NP_ErrorCode NP_APIC np_setPortSyncPattern(int slotID, int portID, uint32_t* sync_pattern);
NP_EXPORT NP_ErrorCode NP_APIC np_getPortSyncPattern(int slotID, int portID, uint32_t* sync_pattern);
NP_EXPORT NP_ErrorCode NP_APIC np_openProbe(int slotID, int portID, int dockID);
NP_EXPORT NP_ErrorCode NP_APIC np_closeProbe(int slotID, int portID, int dockID);
NP_EXPORT NP_ErrorCode NP_APIC np_init(int slotID, int portID, int dockID);
NP_EXPORT NP_ErrorCode NP_APIC np_writeProbeConfiguration(int slotID, int portID, int dockID, bool readCheck);
NP_EXPORT NP_ErrorCode NP_APIC np_setADCCalibration(int slotID, int portID, const char* filename);
NP_EXPORT NP_ErrorCode NP_APIC np_setGainCalibration(int slotID, int portID, int dockID,
                                                     const char* filename);
NP_EXPORT NP_ErrorCode NP_APIC np_setProbeSyncPattern(int slotID, int portID, int dockID,
                                                      uint32_t* sync_pattern);
NP_EXPORT NP_ErrorCode NP_APIC np_getProbeSyncPattern(int slotID, int portID, int dockID,
                                                      uint32_t* sync_pattern);
NP_EXPORT NP_ErrorCode NP_APIC np_readElectrodeData(int slotID, int portID, int dockID,
                                                    struct electrodePacket* packets, int* actualAmount,
                                                    int requestedAmount);
NP_EXPORT NP_ErrorCode NP_APIC np_getElectrodeDataFifoState(int slotID, int portID, int dockID,
                                                            int* packetsavailable, int* headroom);
NP_EXPORT NP_ErrorCode NP_APIC np_setTestSignal(int slotID, int portID, int dockID, bool enable);
NP_EXPORT NP_ErrorCode NP_APIC np_setOPMODE(int slotID, int portID, int dockID, probe_opmode_t mode);
NP_EXPORT NP_ErrorCode NP_APIC np_setCALMODE(int slotID, int portID, int dockID, testinputmode_t mode);
NP_EXPORT NP_ErrorCode NP_APIC np_setREC_NRESET(int slotID, int portID, bool state);
NP_EXPORT NP_ErrorCode NP_APIC np_readPacket(int slotID, int portID, int dockID, streamsource_t source,
                                             struct PacketInfo* pckinfo, int16_t* data,
                                             int requestedChannelCount, int* actualread);
NP_EXPORT NP_ErrorCode NP_APIC np_readPackets(int slotID, int portID, int dockID, streamsource_t source,
                                              struct PacketInfo* pckinfo, int16_t* data, int channelcount,
                                              int packetcount, int* packetsread);
NP_EXPORT NP_ErrorCode NP_APIC np_getPacketFifoStatus(int slotID, int portID, int dockID,
                                                      streamsource_t source, int* packetsavailable,
                                                      int* headroom);
NP_EXPORT NP_ErrorCode NP_APIC np_createSlotPacketCallback(int slotID, npcallbackhandle_t* handle,
                                                           np_packetcallbackfn_t callback,
                                                           const void* userdata);
NP_EXPORT NP_ErrorCode NP_APIC np_createProbePacketCallback(int slotID, int portID, int dockID,
                                                            streamsource_t source, npcallbackhandle_t* handle,
                                                            np_packetcallbackfn_t callback,
                                                            const void* userdata);
NP_EXPORT NP_ErrorCode NP_APIC np_unpackData(const np_packet_t* packet, int16_t* output, int samplestoread,
                                             int* actualread);
NP_EXPORT NP_ErrorCode NP_APIC np_setGain(int slotID, int portID, int dockID, int channel, int ap_gain,
                                          int lfp_gain);
NP_EXPORT NP_ErrorCode NP_APIC np_getGain(int slotID, int portID, int dockID, int channel, int* APgainselect,
                                          int* LFPgainselect);
NP_EXPORT NP_ErrorCode NP_APIC np_selectElectrode(int slotID, int portID, int dockID, int channel, int shank,
                                                  int bank);
NP_EXPORT NP_ErrorCode NP_APIC np_selectElectrodeMask(int slotID, int portID, int dockID, int channel,
                                                      int shank, electrodebanks_t bankmask);
NP_EXPORT NP_ErrorCode NP_APIC np_setReference(int slotID, int portID, int dockID, int channel, int shank,
                                               channelreference_t reference, int intRefElectrodeBank);
NP_EXPORT NP_ErrorCode NP_APIC np_setAPCornerFrequency(int slotID, int portID, int dockID, int channel,
                                                       bool disableHighPass);
NP_EXPORT NP_ErrorCode NP_APIC np_setStdb(int slotID, int portID, int dockID, int channel, bool standby);
NP_EXPORT NP_ErrorCode NP_APIC np_selectColumnPattern(int slotID, int portID, int dockID,
                                                      columnpattern_t pattern);
NP_EXPORT NP_ErrorCode NP_APIC np_selectElectrodeGroup(int slotID, int portID, int dockID, int channelgroup,
                                                       int bank);
NP_EXPORT NP_ErrorCode NP_APIC np_selectElectrodeGroupMask(int slotID, int portID, int dockID,
                                                           int channelgroup, electrodebanks_t mask);
NP_EXPORT NP_ErrorCode NP_APIC np_waveplayer_writeBuffer(int slotID, const int16_t* data, int len);
NP_EXPORT NP_ErrorCode NP_APIC np_waveplayer_arm(int slotID, bool singleshot);
NP_EXPORT NP_ErrorCode NP_APIC np_waveplayer_setSampleFrequency(int slotID, double frequency_Hz);
NP_EXPORT NP_ErrorCode NP_APIC np_waveplayer_getSampleFrequency(int slotID, double* frequency_Hz);
NP_EXPORT NP_ErrorCode NP_APIC np_ADC_read(int slotID, int ADCChannel, double* voltage);
NP_EXPORT NP_ErrorCode NP_APIC np_ADC_readComparator(int slotID, int ADCChannel, bool* state);
NP_EXPORT NP_ErrorCode NP_APIC np_ADC_readComparators(int slotID, uint32_t* flags);
NP_EXPORT NP_ErrorCode NP_APIC np_ADC_enableProbe(int slotID, bool enable);
NP_EXPORT NP_ErrorCode NP_APIC np_ADC_getStreamConversionFactor(int slotID, double* lsb_to_voltage,
                                                                int* bitdepth);
NP_EXPORT NP_ErrorCode NP_APIC np_ADC_setComparatorThreshold(int slotID, int ADCChannel, double vlow,
                                                             double vhigh);
NP_EXPORT NP_ErrorCode NP_APIC np_ADC_getComparatorThreshold(int slotID, int ADCChannel, double* vlow,
                                                             double* vhigh);
NP_EXPORT NP_ErrorCode NP_APIC np_ADC_setVoltageRange(int slotID, ADCrange_t range);
NP_EXPORT NP_ErrorCode NP_APIC np_ADC_getVoltageRange(int slotID, ADCrange_t* range);
NP_EXPORT NP_ErrorCode NP_APIC np_DAC_setVoltage(int slotID, int DACChannel, double voltage);
NP_EXPORT NP_ErrorCode NP_APIC np_DAC_enableOutput(int slotID, int DACChannel, bool state);
NP_EXPORT NP_ErrorCode NP_APIC np_DAC_setDigitalLevels(int slotID, int DACChannel, double vhigh, double vlow);
NP_EXPORT NP_ErrorCode NP_APIC np_DAC_setProbeSniffer(int slotID, int DACChannel, int portID, int dockID,
                                                      int channelnr, streamsource_t sourcetype);
NP_EXPORT NP_ErrorCode NP_APIC np_ADC_readPackets(int slotID, struct PacketInfo* pckinfo, int16_t* data,
                                                  int channelcount, int packetcount, int* packetsread);
NP_EXPORT NP_ErrorCode NP_APIC np_ADC_getPacketFifoStatus(int slotID, int* packetsavailable, int* headroom);
NP_EXPORT NP_ErrorCode NP_APIC np_bistBS(int slotID);
NP_EXPORT NP_ErrorCode NP_APIC np_bistHB(int slotID, int portID, int dockID);
NP_EXPORT NP_ErrorCode NP_APIC np_bistStartPRBS(int slotID, int portID);
NP_EXPORT NP_ErrorCode NP_APIC np_bistStopPRBS(int slotID, int portID, int* prbs_err);
NP_EXPORT NP_ErrorCode NP_APIC np_bistReadPRBS(int slotID, int portID, int* prbs_err);
NP_EXPORT NP_ErrorCode NP_APIC np_bistI2CMM(int slotID, int portID, int dockID);
NP_EXPORT NP_ErrorCode NP_APIC np_bistEEPROM(int slotID, int portID);
NP_EXPORT NP_ErrorCode NP_APIC np_bistSR(int slotID, int portID, int dockID);
NP_EXPORT NP_ErrorCode NP_APIC np_bistPSB(int slotID, int portID, int dockID);
NP_EXPORT NP_ErrorCode NP_APIC np_bistNoise(int slotID, int portID, int dockID);
NP_EXPORT NP_ErrorCode NP_APIC np_bistSignal(int slotID, int portID, int dockID);
NP_EXPORT NP_ErrorCode NP_APIC np_HST_GetVersion(int slotID, int portID, int* vmaj, int* vmin);
NP_EXPORT NP_ErrorCode NP_APIC np_HSTestVDDA1V2(int slotID, int portID);
NP_EXPORT NP_ErrorCode NP_APIC np_HSTestVDDD1V2(int slotID, int portID);
NP_EXPORT NP_ErrorCode NP_APIC np_HSTestVDDA1V8(int slotID, int portID);
NP_EXPORT NP_ErrorCode NP_APIC np_HSTestVDDD1V8(int slotID, int portID);
NP_EXPORT NP_ErrorCode NP_APIC np_HSTestOscillator(int slotID, int portID);
NP_EXPORT NP_ErrorCode NP_APIC np_HSTestMCLK(int slotID, int portID);
NP_EXPORT NP_ErrorCode NP_APIC np_HSTestPCLK(int slotID, int portID);
NP_EXPORT NP_ErrorCode NP_APIC np_HSTestPSB(int slotID, int portID);
NP_EXPORT NP_ErrorCode NP_APIC np_HSTestI2C(int slotID, int portID);
NP_EXPORT NP_ErrorCode NP_APIC np_HSTestNRST(int slotID, int portID);
NP_EXPORT NP_ErrorCode NP_APIC np_HSTestREC_NRESET(int slotID, int portID);
NP_EXPORT NP_ErrorCode NP_APIC np_streamOpenFile(const char* filename, int portID, int dockID,
                                                 streamsource_t source, np_streamhandle_t* pstream);
NP_EXPORT NP_ErrorCode NP_APIC np_streamClose(np_streamhandle_t sh);
NP_EXPORT NP_ErrorCode NP_APIC np_streamSeek(np_streamhandle_t sh, uint64_t filepos,
                                             uint32_t* actualtimestamp);
NP_EXPORT NP_ErrorCode NP_APIC np_streamSetPos(np_streamhandle_t sh, uint64_t filepos);
NP_EXPORT uint64_t NP_APIC np_streamTell(np_streamhandle_t sh);
NP_EXPORT NP_ErrorCode NP_APIC np_streamRead(np_streamhandle_t sh, uint32_t* timestamps, int16_t* data,
                                             int samplestoread, int* actualread);
NP_EXPORT NP_ErrorCode NP_APIC np_streamReadPacket(np_streamhandle_t sh, pckhdr_t* header, int16_t* data,
                                                   int samplestoread, int* actualread);
NP_EXPORT NP_ErrorCode NP_APIC np_getBasestationDriverID(int slotID, char* name, size_t len);
NP_EXPORT NP_ErrorCode NP_APIC np_getHeadstageDriverID(int slotID, int portID, char* name, size_t len);
NP_EXPORT NP_ErrorCode NP_APIC np_getFlexDriverID(int slotID, int portID, int dockID, char* name, size_t len);
NP_EXPORT NP_ErrorCode NP_APIC np_getProbeDriverID(int slotID, int portID, int dockID, char* name,
                                                   size_t len);
NP_EXPORT NP_ErrorCode NP_APIC np_getBSCHardwareID(int slotID, struct HardwareID* pHwid);
NP_EXPORT NP_ErrorCode NP_APIC np_setBSCHardwareID(int slotID, const struct HardwareID* pHwid);
NP_EXPORT NP_ErrorCode NP_APIC np_getHeadstageHardwareID(int slotID, int portID, struct HardwareID* pHwid);
NP_EXPORT NP_ErrorCode NP_APIC np_setHeadstageHardwareID(int slotID, int portID,
                                                         const struct HardwareID* pHwid);
NP_EXPORT NP_ErrorCode NP_APIC np_getFlexHardwareID(int slotID, int portID, int dockID,
                                                    struct HardwareID* pHwid);
NP_EXPORT NP_ErrorCode NP_APIC np_setFlexHardwareID(int slotID, int portID, int dockID,
                                                    const struct HardwareID* pHwid);
NP_EXPORT NP_ErrorCode NP_APIC np_getProbeHardwareID(int slotID, int portID, int dockID,
                                                     struct HardwareID* pHwid);
NP_EXPORT NP_ErrorCode NP_APIC np_setProbeHardwareID(int slotID, int portID, int dockID,
                                                     const struct HardwareID* pHwid);
NP_EXPORT NP_ErrorCode NP_APIC np_createSystemEventCallback(npcallbackhandle_t* handle,
                                                            np_systemeventcallbackfn_t callback,
                                                            const void* userdata);
NP_EXPORT NP_ErrorCode NP_APIC np_writeBSCMM(int slotID, uint32_t address, uint32_t data);
NP_EXPORT NP_ErrorCode NP_APIC np_readBSCMM(int slotID, uint32_t address, uint32_t* data);
NP_EXPORT NP_ErrorCode NP_APIC np_writeI2C(int slotID, int portID, uint8_t device, uint8_t address,
                                           uint8_t data);
NP_EXPORT NP_ErrorCode NP_APIC np_readI2C(int slotID, int portID, uint8_t device, uint8_t address,
                                          uint8_t* data);
NP_EXPORT NP_ErrorCode NP_APIC np_writeI2Cflex(int slotID, int portID, int dockID, uint8_t device,
                                               uint8_t address, uint8_t data);
NP_EXPORT NP_ErrorCode NP_APIC np_readI2Cflex(int slotID, int portID, int dockID, uint8_t device,
                                              uint8_t address, uint8_t* data);
NP_EXPORT void NP_APIC np_dbg_setlevel(int level);
NP_EXPORT int NP_APIC np_dbg_getlevel();
NP_EXPORT void NP_APIC np_dbg_setlogcallback(int minlevel,
                                             void (*callback)(int level, time_t ts, const char* module,
                                                              const char* msg));
NP_EXPORT void NP_APIC np_dbg_getversion_datetime(char* dst, size_t maxlen);
NP_EXPORT NP_ErrorCode NP_APIC np_dbg_setSlotEmulatorMode(int slotID, slotemulatormode_t mode);
NP_EXPORT NP_ErrorCode NP_APIC np_dbg_getSlotEmulatorMode(int slotID, slotemulatormode_t* mode);
NP_EXPORT NP_ErrorCode NP_APIC np_dbg_setSlotEmulatorType(int slotID, slotemulatortype_t type);
NP_EXPORT NP_ErrorCode NP_APIC np_dbg_getSlotEmulatorType(int slotID, slotemulatortype_t* type);
NP_EXPORT NP_ErrorCode NP_APIC np_dbg_setSlotEmulatorSyncPattern(int slotID, uint32_t* sync_pattern);
NP_EXPORT NP_ErrorCode NP_APIC np_dbg_getSlotEmulatorSyncPattern(int slotID, uint32_t* sync_pattern);
NP_EXPORT NP_ErrorCode NP_APIC np_dbg_setPortEmulatorMode(int slotID, int portID,
                                                          portemulatormode_t emulationmode);
NP_EXPORT NP_ErrorCode NP_APIC np_dbg_getPortEmulatorMode(int slotID, int portID,
                                                          portemulatormode_t* emulationmode);
NP_EXPORT NP_ErrorCode NP_APIC np_dbg_stats_reset(int slotID);
NP_EXPORT NP_ErrorCode NP_APIC np_dbg_diagstats_read(int slotID, struct np_diagstats* stats);
NP_EXPORT NP_ErrorCode NP_APIC np_dbg_sourcestats_read(int slotID, uint8_t sourceID,
                                                       struct np_sourcestats* stats);
NP_EXPORT NP_ErrorCode NP_APIC np_dbg_read_srchain(int slotID, int portID, int dockID,
                                                   uint8_t SRChain_registeraddress, uint8_t* dst, size_t len,
                                                   size_t* actualread);
NP_EXPORT NP_ErrorCode NP_APIC np_setVirtualHeadstage(int slotID, int portID);
NP_EXPORT NP_ErrorCode NP_APIC np_setOpticalCalibration(int slotID, int portID, int dockID,
                                                        const char* filename);
NP_EXPORT NP_ErrorCode NP_APIC np_setOpticalSwitchCalibration(int slotID, int portID, int dockID,
                                                              wavelength_t wavelength, int thermalswitchindex,
                                                              double On_mA, double Off_mA);
NP_EXPORT NP_ErrorCode NP_APIC np_getOpticalSwitchCalibration(int slotID, int portID, int dockID,
                                                              wavelength_t wavelength, int thermalswitchindex,
                                                              double* On_mA, double* Off_mA);
NP_EXPORT NP_ErrorCode NP_APIC np_setEmissionSite(int slotID, int portID, int dockID, wavelength_t wavelength,
                                                  int site);
NP_EXPORT NP_ErrorCode NP_APIC np_getEmissionSite(int slotID, int portID, int dockID, wavelength_t wavelength,
                                                  int* site);
NP_EXPORT NP_ErrorCode NP_APIC np_getEmissionSiteAttenuation(int slotID, int portID, int dockID,
                                                             wavelength_t wavelength, int site,
                                                             double* attenuation);
NP_EXPORT NP_ErrorCode NP_APIC np_disableEmissionPath(int slotID, int portID, int dockID,
                                                      wavelength_t wavelength);
NP_EXPORT NP_ErrorCode NP_APIC np_IMU_detect(int slot, int port, bool* detected);
NP_EXPORT NP_ErrorCode NP_APIC np_IMU_enable(int slot, int port, bool enable);
NP_EXPORT NP_ErrorCode NP_APIC np_IMU_setAccelerometerSampleRateDivider(int slot, int port, uint16_t divider);
NP_EXPORT NP_ErrorCode NP_APIC np_IMU_setAccelerometerScale(int slot, int port, accelerometer_scale_t scale);
NP_EXPORT NP_ErrorCode NP_APIC np_IMU_setGyroscopeSampleRateDivider(int slot, int port, uint8_t divider);
NP_EXPORT NP_ErrorCode NP_APIC np_IMU_setGyroscopeScale(int slot, int port, gyroscope_scale_t scale);
NP_EXPORT NP_ErrorCode NP_APIC np_IMU_readPackets(int slot, int port, int packets_requested,
                                                  IMUPacket* packets, int* packets_read);
NP_EXPORT NP_ErrorCode NP_APIC np_IMU_getFIFOStatus(int slot, int port, int* packets_available,
                                                    int* headroom);
NP_EXPORT NP_ErrorCode NP_APIC np_IMU_getPllTimeBaseCorrection(int slot, int port,
                                                               int* ppl_timebasecorrection);
NP_EXPORT NP_ErrorCode NP_APIC np_IMU_DfuRead(int slot, int port, uint8_t* data, size_t len,
                                              size_t* bytes_read);
NP_EXPORT NP_ErrorCode NP_APIC np_IMU_DfuWrite(int slot, int port, const uint8_t* data, size_t len,
                                               size_t* bytes_written);
}

// ---------------------------------------------------------------------------------------------
// Extensions of this adapter (not in the published API): acquisition control, the probe's
// built-in test signal, clearing all electrode selections, and FPGA information of the MURA box.
// ---------------------------------------------------------------------------------------------

// Starts the box's Neuropixels and RHD streams and the adapter's pump thread; only the first
// call after a stop has an effect, whatever port it names.
NP_EXPORT NP_ErrorCode NP_APIC start_acquisition(int slotID, int portID);
// Stops the streams and the pump; readers blocked on empty queues return with what they have.
NP_EXPORT NP_ErrorCode NP_APIC stop_acquisition(int slotID, int portID);
// Switches the probe's pixel test signal on or off.
NP_EXPORT NP_ErrorCode NP_APIC probe_set_bist_mode(int portID, bool enable);
NP_EXPORT NP_ErrorCode NP_APIC clear_all_electrode_to_bank_assignments(int slotID, int portID);
// The number of Neuropixels ports of the loaded FPGA design.
NP_EXPORT NP_ErrorCode NP_APIC get_available_port_capability(int slotID, uint8_t* count);
// FPGA die temperature in degrees Celsius.
NP_EXPORT float NP_APIC bs_get_fpga_temperature_celcius();
// The design signature as eight hexadecimal digits, and the design's build date (DD-MM-YYYY).
// The texts stay valid until the same thread calls the same function again.
NP_EXPORT const char* NP_APIC bs_get_fpga_design_label();
NP_EXPORT const char* NP_APIC bs_get_fpga_design_build_date();

} // namespace Neuropixels

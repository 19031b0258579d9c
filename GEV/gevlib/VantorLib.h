// VantorLib: the GigE Vision protocol library below the GenTL modules.
// Free functions named GEV..., state in a fixed table of 50 devices addressed
// by a handle 1..50; nothing throws, every operation returns a GevStatus.
// Addresses are IPv4 in network byte order, register values in host order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "GevStatus.h"

namespace Vantor {

constexpr int kMaxDevices = 50;
constexpr int kMaxAdapters = 255;
constexpr int kMaxDiscoveredDevices = 255;
constexpr size_t kAdapterNameSize = 261;  // up to 260 characters and a terminator

// ---- Logging
constexpr uint8_t kLogInfo = 1;
constexpr uint8_t kLogWarning = 2;
constexpr uint8_t kLogError = 4;
constexpr uint8_t kLogRegisterData = 8;
constexpr uint8_t kLogTrace = 16;
constexpr uint8_t kLogVerbose = 32;
constexpr uint8_t kDefaultLogMask = kLogInfo | kLogWarning | kLogError;

// Receives the device log; called on any library thread, so it must be thread-safe.
using GevLogCallback = void (*)(uint8_t handle, const char* text, uint8_t level);

// ---- Channel parameters (per open device)
struct GevChannelParameters {
    uint32_t heartbeatPeriod;  // ms between heartbeat reads
    uint32_t commandTimeout;   // ms to wait for one acknowledge
    uint8_t retryCount;        // attempts per command
    uint32_t packetTimeout;    // ms the stream receive thread waits for one datagram
    uint8_t resendCount;       // stream side
    uint32_t streamTimeout;    // ms, stream side
};

GevStatus GEVGetChannelParameter(uint8_t handle, GevChannelParameters* parameters);
GevStatus GEVSetChannelParameter(uint8_t handle, const GevChannelParameters* parameters);

// ---- Register and memory access
GevStatus GEVReadRegister(uint8_t handle, uint32_t address, uint8_t count, uint32_t* values);
GevStatus GEVWriteRegister(uint8_t handle, uint32_t address, uint8_t count, const uint32_t* values);
// `buffer` must hold `size` rounded up to a multiple of 4.
GevStatus GEVReadMemory(uint8_t handle, uint32_t address, uint32_t size, void* buffer);
GevStatus GEVWriteMemory(uint8_t handle, uint32_t address, uint32_t size, const void* data);
// Reads a block of camera memory whose address and size the camera gives in
// two registers. The size register is read before and after the block: 0 or a
// size above `maxSize` is refused, and so is a size that changed meanwhile
// (kGevBadDeviceSize). `table` gets exactly the size the camera gave.
GevStatus GEVReadDeviceTable(uint8_t handle, uint32_t addressRegister, uint32_t sizeRegister,
                             uint32_t maxSize, std::vector<uint8_t>* table);

// ---- Adapters and discovery
struct GevAdapterEntry {
    uint32_t address;
    uint32_t mask;
    char adapterName[kAdapterNameSize];
};

struct GevAdapterList {
    uint32_t count;
    GevAdapterEntry entries[kMaxAdapters];
};

enum GevAccessStatus : uint8_t {
    kAccessFree = 0,
    kAccessExclusive = 1,  // or the privilege read was denied
    kAccessSubnetMismatch = 2,
    kAccessControl = 3,
    kAccessProbeFailed = 4,
    kAccessNotProbed = 5,
};

struct GevDiscoveredDevice {
    uint32_t cameraAddress;
    char manufacturer[32];  // no terminator when all 32 characters are used
    char model[32];
    char deviceVersion[32];
    uint32_t adapterAddress;
    uint32_t adapterMask;
    uint8_t macHigh[2];  // MAC bytes 0-1, as on the wire
    uint8_t macLow[4];   // MAC bytes 2-5, as on the wire
    uint32_t subnetMask;
    uint32_t defaultGateway;
    char adapterName[kAdapterNameSize];
    char serialNumber[16];
    char userName[16];
    uint8_t accessStatus;  // GevAccessStatus
};

struct GevDeviceList {
    uint8_t count;
    GevDiscoveredDevice devices[kMaxDiscoveredDevices];
};

// Progress 0..100; `record` is set only for a device found while no list is given.
using GevDiscoveryCallback = void (*)(uint32_t percent, const GevDiscoveredDevice* record);

GevStatus GEVGetAdapterList(GevAdapterList* list);
GevStatus GEVDiscoverDevices(GevDeviceList* list, GevDiscoveryCallback callback, uint32_t timeoutMs,
                             bool broadcastAck, uint16_t port);
GevStatus GEVDiscoverOnAdapter(GevDeviceList* list, const GevAdapterEntry* adapter,
                               GevDiscoveryCallback callback, uint32_t timeoutMs, bool broadcastAck,
                               uint16_t port);
GevStatus GEVGetAccessStatus(uint32_t adapterAddress, uint32_t adapterMask, uint32_t cameraAddress,
                             uint8_t* accessStatus, uint32_t timeoutMs, uint16_t port);
GevStatus GEVProbeAccess(uint32_t adapterAddress, uint32_t cameraAddress, uint16_t port,
                         uint32_t* privilege, uint32_t timeoutMs);
GevStatus GEVForceIP(uint32_t newAddress, uint32_t subnetMask, uint32_t defaultGateway,
                     const uint8_t mac[6], uint32_t adapterAddress);

// ---- Device connection
enum GevAccessMode : uint8_t {
    kAccessModeOpen = 0,  // read only: no privilege, no heartbeat, no message channel
    kAccessModeExclusive = 1,
    kAccessModeControl = 2,
};

struct GevOpenParams {
    uint32_t cameraAddress;
    uint16_t streamPort;   // 0: any
    uint16_t controlPort;  // 0: any
    uint32_t hostAddress;
    uint32_t subnetMask;
    char adapterName[kAdapterNameSize];
    uint16_t messagePort;  // 0: any
};

GevStatus GEVOpenDevice(uint8_t handle, const GevOpenParams* params, GevLogCallback logCallback,
                        uint8_t reserved, uint8_t accessMode);
// Opens the camera in the first free slot and tells its handle; kGevSlotInUse
// when none is free. Opens of other cameras go on meanwhile: only the slot
// being opened is held while the camera is talked to.
GevStatus GEVOpenFreeDevice(const GevOpenParams* params, GevLogCallback logCallback,
                            uint8_t accessMode, uint8_t* handle);
GevStatus GEVClose(uint8_t handle);
// True while the slot of `handle` is in use (open, or failed and not yet closed).
bool GEVIsOpen(uint8_t handle);
// Makes the library's process-wide state (device table, message channel,
// logging) now. A caller that closes devices from a static destructor of its
// own calls it before that object is made, so that this state outlives it.
void GEVPrepareLibrary();
// True once the heartbeat gave the camera up: it answered nothing for longer
// than its heartbeat time-out. Its acquisition was stopped then; the handle
// stays open until closed.
bool GEVIsDeviceLost(uint8_t handle);
// Runs on the device's heartbeat thread, once, when it gives the camera up
// (GEVIsDeviceLost turns true just before). GEVClose waits for a call in progress.
using GevLostHandler = void (*)(uint8_t handle);
GevStatus GEVSetLostHandler(uint8_t handle, GevLostHandler handler);
GevStatus GEVGetHeartbeatRate(uint8_t handle, uint32_t* timeoutMs);
GevStatus GEVSetHeartbeatRate(uint8_t handle, uint32_t timeoutMs);

// ---- Stream channel
// What is handed out with every image (56 bytes, the layout a filter driver returns too).
struct GevImageInfo {
    uint64_t blockId;
    uint64_t timestamp;
    uint32_t pixelFormat;
    uint32_t sizeX;  // 0xFFFFFFFF for payloads that are not images
    uint32_t sizeY;  // the data size for payloads that are not images
    uint32_t offsetX;
    uint32_t offsetY;
    uint16_t paddingX;
    uint16_t paddingY;
    uint32_t missingPackets;
    uint16_t payloadType;
    uint16_t reserved;
    uint32_t chunkDataLength;
    uint32_t chunkLayoutId;
};
static_assert(sizeof(GevImageInfo) == 56, "GevImageInfo is a 56-byte record");

GevStatus GEVOpenStreamChannel(uint8_t handle, uint32_t hostAddress, uint16_t port,
                               uint32_t multicastGroup);
GevStatus GEVCloseStreamChannel(uint8_t handle);
// Width, height and pixel format 0: only the payload size is checked.
GevStatus GEVAcquisitionStartEx(uint8_t handle, uint32_t frameLimit, uint32_t payloadSize,
                                uint32_t width, uint32_t height, uint32_t pixelFormat);
GevStatus GEVAcquisitionStop(uint8_t handle);
GevStatus GEVGetBufferCount(uint8_t handle, uint16_t* count);
GevStatus GEVSetBufferCount(uint8_t handle, uint16_t count);
GevStatus GEVSetPacketResend(uint8_t handle, bool enable);
// Announces one user ring buffer (slot n uses the n-th announced buffer).
GevStatus GEVSetRingBuffer(uint8_t handle, uint64_t reserved, void* buffer);
GevStatus GEVReleaseRingBuffer(uint8_t handle);
// Gives a slot to the receiver (before the start: marks it free for the start).
// A user buffer's slot is free only once queued.
GevStatus GEVQueueRingBuffer(uint8_t handle, uint64_t slot);
// Takes a free slot back from the receiver, so that its buffer is not written;
// kGevRingSlotBusy when the receiver holds it (being filled, or filled and waiting
// to be handed out).
GevStatus GEVWithdrawRingBuffer(uint8_t handle, uint64_t slot);
// Waits up to the stream time-out until an image can be handed out: 0 when one
// waits, 0xC008 on time-out, kGevAcquisitionEnded once the receive thread has left
// (frame limit reached) and nothing waits, 0xC034 without a ring. The filter
// driver path waits in the hand-out instead and answers 0 at once.
GevStatus GEVWaitForImage(uint8_t handle);

// One part of a multi-part block (payload type 0x000A or 0x400A) as its leader
// describes it, and where it lies in the destination of the hand-out: the parts
// follow one another from `offset` 0 in the leader's order.
struct GevImagePart {
    uint16_t dataType = 0;  // GigE Vision part data type: 1 2D image .. 9 confidence map
    uint32_t pixelFormat = 0;
    uint8_t sourceId = 0;
    uint8_t additionalZones = 0;
    uint32_t zoneDirections = 0;
    uint16_t dataPurposeId = 0;
    uint16_t regionId = 0;
    // Geometry of the image data types; 0 for the others.
    uint32_t sizeX = 0, sizeY = 0, offsetX = 0, offsetY = 0;
    uint16_t paddingX = 0, paddingY = 0;
    uint64_t offset = 0;     // from the start of the destination
    uint64_t length = 0;     // bytes the leader gives for the part
    uint64_t heldSize = 0;   // bytes of it inside the destination: less when it was cut
    uint32_t heldSizeY = 0;  // lines it holds: cut by the trailer or by the destination
};

// What a hand-out says besides the image information.
struct GevImageExtent {
    uint64_t dataSize = 0;            // bytes the camera sent or meant to send for the block
    uint64_t filledSize = 0;          // bytes written into the destination
    bool largerThanBuffer = false;    // dataSize did not fit: the image was cut
    std::vector<GevImagePart> parts;  // multi-part blocks only; empty otherwise
};

// Copies the next image into `destination` (payload size bytes; null: the
// library's own buffer). 0xC010 when packets are missing, 0xC008 on time-out.
GevStatus GEVGetImageBuffer(uint8_t handle, GevImageInfo* info, void* destination);
// The same into a destination of `destinationSize` bytes, which may be smaller
// than the payload size: the geometry handed out never exceeds what it holds.
GevStatus GEVGetImageBufferEx(uint8_t handle, GevImageInfo* info, GevImageExtent* extent,
                              void* destination, uint64_t destinationSize);
// The next image without copying: its ring slot, given back with GEVQueueRingBuffer.
GevStatus GEVGetRingBufferImage(uint8_t handle, GevImageInfo* info, uint16_t* slot);
GevStatus GEVGetRingBufferImageEx(uint8_t handle, GevImageInfo* info, GevImageExtent* extent,
                                  uint16_t* slot);
GevStatus GEVGetFrameRate(uint8_t handle, double* fps);
// Counters of the running or last acquisition (reset by its start). Every block
// the camera sent is started, an underrun (no free slot) or lost (never seen);
// frames dropped after delivery to the hand-out (left at a stop) count as lost too.
struct GevStreamStatistics {
    uint64_t frames;
    uint64_t missingFrames;
    uint64_t lostPackets;      // still missing when their block was given out
    uint64_t resendRequested;  // packets asked for again
    uint64_t resentPackets;    // of those, the ones that came
    uint64_t framesStarted;
    uint64_t underrunFrames;
    uint64_t lostFrames;
};
GevStatus GEVGetStreamStatistics(uint8_t handle, GevStreamStatistics* statistics);
// The camera sends one test packet at its current packet size.
GevStatus GEVTestPacket(uint8_t handle, int32_t* receivedSize);
GevStatus GEVTestFindMaxPacketSize(uint8_t handle, uint16_t* size, uint16_t minimum,
                                   uint16_t maximum, uint16_t step);

// ---- Message channel
struct GevMessageEvent {
    uint16_t eventId;
    uint16_t streamChannel;  // as on the wire, not converted
    uint64_t blockId;
    uint64_t timestamp;
    const uint8_t* data;  // EVENTDATA payload, valid during the handler call only
    unsigned dataLength;
};

// Runs on the library's message thread; must return quickly.
using GevMessageHandler = void (*)(uint8_t handle, const GevMessageEvent* event);

GevStatus GEVSetMessageHandler(uint8_t handle, GevMessageHandler handler);

}  // namespace Vantor

// The device table: 50 slots of device control records, one per open camera,
// addressed by handle - 1, plus the state the whole library shares.
//
// Threads: caller threads open, close and run GVCP exchanges; each slot's
// heartbeat thread, its receive thread and the library's message thread read
// the slot too. The control lock serialises every exchange on the control
// socket and guards the socket and the channel parameters; the stream lock
// guards the stream side. One slot's locks are taken in the order lifecycle,
// stream, control, then the stream's image lock and slot-list locks.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DriverDevice.h"
#include "Event.h"
#include "Socket.h"
#include "StreamBackend.h"
#include "StreamContext.h"
#include "VantorLib.h"

namespace Vantor {

enum ConnectionState : uint8_t {
    kConnected = 0,
    kConnectionLost = 1,    // control channel lost, being retried
    kConnectionFailed = 2,  // given up; reads and writes answer 0x8006
};

struct DeviceRecord {
    // ---- Guarded by the control lock
    Platform::SocketHandle controlSocket = Platform::kInvalidSocket;
    uint16_t controlPort = 0;
    uint32_t requestId = 1;
    uint32_t commandTimeout = 200;  // ms
    uint32_t timeoutSeconds = 0;    // the command timeout split for the socket wait
    uint32_t timeoutMicroseconds = 200000;
    uint8_t retryCount = 3;
    uint8_t resendCount = 10;

    // ---- Set under the control lock, read by the stream side without it: an image
    // wait or the receive thread never waits behind a register access.
    std::atomic<uint32_t> packetTimeout{200};   // ms
    std::atomic<uint32_t> streamTimeout{1000};  // ms

    // ---- Written at open, read-only while the slot is open (streamPort and
    // hostAddress are set again by the stream channel's open, under the stream lock)
    uint16_t streamPort = 0;
    uint32_t hostAddress = 0;
    std::atomic<uint32_t> cameraAddress{0};  // the message thread matches senders with it
    std::string adapterName;
    std::atomic<uint8_t> ownHandle{0};  // also read by the message thread
    uint8_t accessMode = kAccessModeOpen;
    uint16_t gevMajor = 0, gevMinor = 0;
    uint32_t packetDataSize = 0;                  // stream payload bytes per packet
    std::atomic<uint32_t> keepAliveInterval{30};  // s; the message thread reads it
    bool socketsStarted = false;

    // ---- Stream side; idle until the stream channel exists. Written under the
    // stream lock (channel open and close, start and stop, filter driver, user
    // ring); the slot's close clears the socket and packet buffer under the
    // control lock once the acquisition has stopped. The receive thread reads
    // the socket and the multicast group without the lock: callers change them
    // only while no acquisition runs.
    Platform::SocketHandle streamSocket = Platform::kInvalidSocket;
    std::vector<uint8_t> streamPacketBuffer;
    uint32_t multicastGroup = 0;
    bool filterDriverOpen = false;
    // The socket back-end, or the driver's while the driver is enabled; callers
    // without the stream lock may read it.
    std::atomic<StreamBackend*> streamBackend{&SocketStreamBackend()};
    std::unique_ptr<Platform::DriverDevice> driverDevice;  // the filter driver, when open
    uint16_t userBufferCount = 0;                          // announced user ring buffers
    std::atomic<uint32_t> acquisitionIdle{1};

    // ---- Shared with the heartbeat and message threads
    std::atomic<GevLogCallback> logCallback{nullptr};
    std::atomic<uint8_t> logMask{kDefaultLogMask};
    std::atomic<uint8_t> connectionState{kConnected};
    std::atomic<uint32_t> heartbeatPeriod{0};  // ms
    std::atomic<bool> heartbeatStop{false};
    std::atomic<bool> heartbeatRunning{false};
    std::atomic<bool> pendingAck{false};
    std::atomic<bool> deviceOpened{false};
    std::atomic<bool> messageChannelAvailable{false};
    std::atomic<uint16_t> streamSourcePort{0};
    std::atomic<uint32_t> streamKeepAliveTick{0};
    std::atomic<uint16_t> messageSourcePort{0};
    std::atomic<uint32_t> messageKeepAliveTick{0};
    std::atomic<GevMessageHandler> messageHandler{nullptr};  // set under the handler lock
    std::atomic<GevLostHandler> lostHandler{nullptr};

    // Back to the state of a freshly loaded library; the locks, the wake
    // event and the thread object are not part of it.
    void Reset();
};

struct DeviceSlot {
    DeviceSlot() = default;
    DeviceSlot(const DeviceSlot&) = delete;
    DeviceSlot& operator=(const DeviceSlot&) = delete;
    // A host that unloads the library with a camera still open must not be
    // taken down by a running heartbeat thread.
    ~DeviceSlot();

    std::atomic<bool> inUse{false};
    // Claimed by GEVOpenFreeDevice while it opens the slot, so that two opens
    // never pick the same free slot and no table-wide lock is held meanwhile.
    std::atomic<bool> claimed{false};
    DeviceRecord record;
    // Serialises the exchanges on the control socket; guards the fields marked so.
    std::recursive_mutex controlLock;
    // Guards the control socket's handle alone: it changes under both locks, and a
    // send that waits for no answer (a resend request from the receive thread) takes
    // only this one, so it never waits behind a register access and its acknowledge.
    std::mutex controlSocketLock;
    // Guards the record's stream side and `stream` (less what StreamState marks
    // otherwise); taken before the control lock, never while holding it.
    std::recursive_mutex streamLock;
    // Keeps open and close of one slot apart.
    std::mutex lifecycleLock;
    Platform::ManualResetEvent heartbeatWake;
    std::thread heartbeatThread;
    // The stream side; its receive thread is joined before the slot is reused.
    StreamState stream;
};

// The slot of `handle`, or null when the handle lies outside 1..50.
DeviceSlot* SlotOf(uint8_t handle);
// The slot of `handle` when it is open, else null.
DeviceSlot* OpenSlot(uint8_t handle);
// Every slot, for the threads that walk the table.
std::array<DeviceSlot, kMaxDevices>& AllSlots();
bool AnySlotInUse();
// Closes the slot's control socket and puts `next` in its place; call it under
// the control lock.
void ReplaceControlSocket(DeviceSlot& slot, Platform::SocketHandle next);

// Takes the next request id: 1, 2, ... 65535, 1, ...; 0 is never used.
// Call with the control lock held.
uint16_t NextRequestId(DeviceRecord& record);

}  // namespace Vantor

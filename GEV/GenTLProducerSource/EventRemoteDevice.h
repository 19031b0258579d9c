// CEventRemoteDevice: the EVENT_REMOTE_DEVICE object of one device. The
// message-channel feeder (on the protocol library's message thread) queues
// the camera's event messages; EventGetData hands them out as GVCP event
// packets in host byte order. Each device has its own queue, so a flush, a
// close or a wait on one device never touches another device's events.
// Thread-safe: the queue and the kill count are under m_lock.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "EventObj.h"
#include "VantorLib.h"

namespace GenTL {

struct RemoteDeviceEntry {
    uint16_t eventId = 0;
    uint16_t streamChannel = 0;
    uint64_t blockId = 0;
    uint64_t timestamp = 0;
    std::vector<uint8_t> data;
};

class CEventRemoteDevice : public CEventObj {
public:
    // The largest record handed out (EVENT_SIZE_MAX).
    static constexpr size_t kMaxRecordSize = 1024;
    // Entries kept for a consumer that does not read; older ones give way.
    static constexpr size_t kMaxQueued = 1024;

    // Reads the camera's GigE Vision version (for the record layout) and
    // starts taking the events of protocol library handle `handle`.
    explicit CEventRemoteDevice(uint8_t handle);
    ~CEventRemoteDevice() override;

    // Throws resource_in_use_exception "Event already registered" when registered.
    void Register();
    void Unregister();

    bool GetData(void* pBuffer, size_t* piSize, uint64_t iTimeout) override;
    void GetInfo(EVENT_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                 size_t* piSize) override;
    void GetDataInfo(const void* pInBuffer, size_t iInSize, EVENT_DATA_INFO_CMD iInfoCmd,
                     INFO_DATATYPE* piType, void* pOutBuffer, size_t* piOutSize) override;
    void Flush() override;
    // Ends the waits in progress as aborted; later waits are not affected.
    void Kill() override;
    // True, once, on a thread whose last wait here was ended by a kill.
    bool IsKilled() override;
    bool IsRegistered() override;

    // The protocol library's message handler, installed for every device.
    static void MessageHandler(uint8_t handle, const Vantor::GevMessageEvent* event);
    // Makes the process-wide handler table now (see CLibraryController).
    static void PrepareFeeders();

    // What the queue keeps of one message.
    static RemoteDeviceEntry EntryOf(const Vantor::GevMessageEvent& event);
    // The record EventGetData delivers for `entry`: the GVCP event packet in
    // host byte order, standard layout for GigE Vision 1.x, extended otherwise.
    static std::vector<uint8_t> BuildRecord(const RemoteDeviceEntry& entry, uint8_t gevMajor);

private:
    void Push(RemoteDeviceEntry entry);
    void RequireRegistered() const;

    const uint8_t m_handle;
    uint8_t m_gevMajor = 0;
    bool m_enabled = false;  // under m_lock
    uint8_t m_registrations = 0;
    bool m_closing = false;
    size_t m_waiters = 0;
    uint64_t m_kills = 0;
    uint64_t m_fired = 0;  // messages while registered, dropped ones included
    std::deque<RemoteDeviceEntry> m_queue;
};

}  // namespace GenTL

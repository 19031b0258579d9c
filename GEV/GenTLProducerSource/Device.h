// CDevice: one opened camera as a GenTL device. It owns the camera's
// connection in the protocol library (by its handle), the remote port, the
// device register map (heartbeat, GVCP time-out and retries, MAC, stream
// selection) and the error, remote-device and module events.
// Runs on consumer threads; the remote-device event is fed by the protocol
// library's message thread, the module event by its heartbeat thread.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "DeviceInfo.h"
#include "EventModule.h"
#include "EventQueue.h"
#include "EventRemoteDevice.h"
#include "ICommonBase.h"
#include "RegisterMap.h"
#include "RegisterMapModule.h"
#include "VantorLib.h"

namespace GenTL {

class CInterface;
class CDevicePort;
class CDataStream;

class CDevice : public CRegisterMapModule, public std::enable_shared_from_this<CDevice> {
public:
    // Register addresses of the device register map.
    static constexpr uint64_t kRegStreamCount = 0x4;
    static constexpr uint64_t kRegStreamSelector = 0x8;
    static constexpr uint64_t kRegStreamID = 0x80;
    static constexpr uint64_t kRegDeviceID = 0x100;
    static constexpr uint64_t kRegVendor = 0x200;
    static constexpr uint64_t kRegModel = 0x220;
    static constexpr uint64_t kRegIPAddress = 0x240;
    static constexpr uint64_t kRegSubnetMask = 0x244;
    static constexpr uint64_t kRegGateway = 0x248;
    static constexpr uint64_t kRegMAC = 0x24C;
    static constexpr uint64_t kRegTLType = 0x280;
    static constexpr uint64_t kRegHeartbeatTimeout = 0x284;
    static constexpr uint64_t kRegAckTimeout = 0x288;
    static constexpr uint64_t kRegRetryCount = 0x28C;
    static constexpr uint64_t kRegEventSelector = 0x290;
    static constexpr uint64_t kRegEventNotification = 0x294;
    static constexpr uint64_t kRegDisplayName = 0x300;
    static constexpr uint64_t kRegStreamDisplayName = 0x400;
    static constexpr uint64_t kRegXmlAddress = 0x500;

    // The camera is already open in the protocol library under `handle`.
    CDevice(CInterface* parent, std::shared_ptr<CDeviceInfo> record, const std::string& id,
            uint8_t handle, DEVICE_ACCESS_FLAGS flags, const Vantor::GevOpenParams& params);
    ~CDevice() override;

    // IPort: the device register map and description.
    void GetURL(char* sURL, size_t* piSize) override;
    void GetPortInfo(PORT_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                     size_t* piSize) override;
    void GetURLInfo(uint32_t iURLIndex, URL_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                    size_t* piSize) override;

    // IEventSrc: EVENT_ERROR, EVENT_REMOTE_DEVICE and EVENT_MODULE.
    void RegisterEvent(EVENT_TYPE iEventID, CEventObj** ppEvent) override;
    void UnregisterEvent(EVENT_TYPE iEventID) override;

    ICommonBase* GetParent() override;

    std::shared_ptr<CDeviceInfo> DeviceInfo() const { return m_record; }
    const std::string& ID() const { return m_id; }
    uint8_t Handle() const { return m_handle; }
    uint32_t HostAddress() const { return m_hostAddress; }
    DEVICE_ACCESS_FLAGS AccessFlags() const { return m_accessFlags; }
    // DEVICE_INFO_ACCESS_STATUS of a device this process has open: open
    // read/write with control or exclusive access, open read-only otherwise.
    DEVICE_ACCESS_STATUS AccessStatus() const;
    // The camera's time-stamp tick frequency in Hz; 0 when it cannot be read.
    uint64_t TickFrequency() const;
    EVENT_TYPE RequestedEventType() const { return m_requestedEventType; }
    CDevicePort* RemotePort() { return m_remotePort.get(); }
    CEventError& ErrorEvent() { return *m_errorEvent; }
    CEventRemoteDevice& RemoteDeviceEvent() { return *m_remoteEvent; }

    void GetInfo(DEVICE_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer, size_t* piSize);
    // Reads the camera's number of stream channels (kept when the read fails).
    uint32_t GetNumDataStreams();

    // Opens a data stream; "Data stream already open" when `id` is open.
    std::shared_ptr<CDataStream> OpenDataStream(const std::string& id);
    // DevClose: closes the open streams and lets them go; the camera itself
    // closes when the last call holding the device (or a stream) returns.
    void Close();
    // Stops the stream's acquisition (errors ignored), ends its waits and
    // drops it; the object goes with the last call that holds it.
    void CloseDataStream(CDataStream* stream);

    // The protocol library's lost-camera handler, installed for every device.
    static void LostHandler(uint8_t handle);
    // Makes the process-wide device table of the handler now (see CLibraryController).
    static void PrepareLostHandler();

private:
    // The camera was given up: the error event says so, and the module event
    // where the consumer registered it and left its notification on.
    void OnLost();
    void BuildRegisterMap();
    void SelectStream(uint32_t index);
    static void OnAccess(uint64_t address, uint32_t* value, void* context);
    static void OnWrite(uint64_t address, uint32_t* value, void* context);

    uint8_t m_handle;
    uint32_t m_hostAddress;
    std::unique_ptr<CEventError> m_errorEvent;
    std::string m_id;
    // A handle to hand out only: the interface may close first.
    CInterface* m_parent;
    std::shared_ptr<CDevicePort> m_remotePort;
    // Kept for a failed read; consumers may count on several threads.
    std::atomic<uint32_t> m_streamChannelCount{1};
    std::shared_ptr<CDeviceInfo> m_record;
    DEVICE_ACCESS_FLAGS m_accessFlags;
    std::unique_ptr<CEventRemoteDevice> m_remoteEvent;
    std::unique_ptr<CEventModule> m_moduleEvent;
    // EventNotification of DeviceLost, read on the heartbeat thread.
    std::atomic<bool> m_lostNotification{true};
    EVENT_TYPE m_requestedEventType = 0;
    // Open streams, in opening order; with their own lock, as the stream
    // selector register reads them too.
    std::mutex m_streamsLock;
    std::vector<std::shared_ptr<CDataStream>> m_streams;
};

}  // namespace GenTL

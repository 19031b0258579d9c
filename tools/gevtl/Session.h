// The transport-layer system module with its interfaces open, the cameras they
// discover, and the naming rules that pick one of those cameras.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "GenTLLibrary.h"

namespace Gevtl {

struct DeviceEntry {
    size_t index = 0;  // position in `list`
    std::string interfaceId;
    GenTL::IF_HANDLE iface = nullptr;
    std::string id, vendor, model, serial, userName, ip, mac;
    std::string adapter;        // the host address the camera was found through
    int32_t accessStatus = -1;  // DEVICE_ACCESS_STATUS, -1 when the producer does not tell
};

std::string AccessStatusText(int32_t status);

class Session {
public:
    explicit Session(GenTLLibrary& library);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session();

    GenTLLibrary& Library() const { return m_library; }
    GenTL::TL_HANDLE System() const { return m_system; }

    // Updates the interface list, opens every interface and asks each for its
    // cameras, waiting up to `timeoutMs` per interface.
    const std::vector<DeviceEntry>& Discover(uint64_t timeoutMs);
    const std::vector<DeviceEntry>& Devices() const { return m_devices; }

    // The camera named by its ID, serial number, user name, IP address or index
    // in Discover()'s order. Throws when nothing or more than one camera matches.
    const DeviceEntry& Find(const std::string& name) const;
    // Like Find, but null when nothing matches.
    const DeviceEntry* FindOrNull(const std::string& name) const;

    // The interface's handle by ID (opened by Discover), the first one for an empty ID,
    // null when there is no such interface.
    GenTL::IF_HANDLE Interface(const std::string& id = {}) const;

private:
    void ReadAddresses(GenTL::IF_HANDLE iface, std::vector<DeviceEntry>& devices) const;

    GenTLLibrary& m_library;
    GenTL::TL_HANDLE m_system = nullptr;
    std::vector<std::pair<std::string, GenTL::IF_HANDLE>> m_interfaces;
    std::vector<DeviceEntry> m_devices;
};

// An opened camera: the device module, closed on destruction, and its remote port.
class OpenedDevice {
public:
    OpenedDevice(Session& session, const DeviceEntry& entry, GenTL::DEVICE_ACCESS_FLAGS flags);
    OpenedDevice(const OpenedDevice&) = delete;
    OpenedDevice& operator=(const OpenedDevice&) = delete;
    ~OpenedDevice();

    GenTL::DEV_HANDLE Handle() const { return m_device; }
    GenTL::PORT_HANDLE RemotePort() const { return m_remote; }

private:
    GenTLLibrary& m_library;
    GenTL::DEV_HANDLE m_device = nullptr;
    GenTL::PORT_HANDLE m_remote = nullptr;
};

}  // namespace Gevtl

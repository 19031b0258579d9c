// Discovery across all interfaces and camera lookup by any of its names.
#include "Session.h"

#include <cstdio>
#include <stdexcept>

#include "Addresses.h"
#include "GenApiPortBridge.h"

namespace Gevtl {

using namespace GenTL;

namespace {

std::string InfoText(GenTLLibrary& lib, IF_HANDLE iface, const std::string& id,
                     DEVICE_INFO_CMD command) {
    INFO_DATATYPE type = 0;
    size_t size = 0;
    if (lib.IFGetDeviceInfo(iface, id.c_str(), command, &type, nullptr, &size) != GC_ERR_SUCCESS ||
        size == 0)
        return {};
    std::string text(size, '\0');
    if (lib.IFGetDeviceInfo(iface, id.c_str(), command, &type, text.data(), &size) !=
        GC_ERR_SUCCESS)
        return {};
    text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
    return text;
}

}  // namespace

std::string AccessStatusText(int32_t status) {
    switch (status) {
        case DEVICE_ACCESS_STATUS_READWRITE:
            return "ReadWrite";
        case DEVICE_ACCESS_STATUS_READONLY:
            return "ReadOnly";
        case DEVICE_ACCESS_STATUS_NOACCESS:
            return "NoAccess";
        case DEVICE_ACCESS_STATUS_BUSY:
            return "Busy";
        case DEVICE_ACCESS_STATUS_OPEN_READWRITE:
            return "OpenReadWrite";
        case DEVICE_ACCESS_STATUS_OPEN_READONLY:
            return "OpenReadOnly";
        case DEVICE_ACCESS_STATUS_UNKNOWN:
            return "Unknown";
        default:
            return status < 0 ? "-" : std::to_string(status);
    }
}

Session::Session(GenTLLibrary& library) : m_library(library) {
    m_library.Check("TLOpen", m_library.TLOpen(&m_system));
}

Session::~Session() {
    for (auto& entry : m_interfaces) m_library.IFClose(entry.second);
    m_library.TLClose(m_system);
}

const std::vector<DeviceEntry>& Session::Discover(uint64_t timeoutMs) {
    m_library.Check("TLUpdateInterfaceList",
                    m_library.TLUpdateInterfaceList(m_system, nullptr, timeoutMs));
    uint32_t count = 0;
    m_library.Check("TLGetNumInterfaces", m_library.TLGetNumInterfaces(m_system, &count));
    m_devices.clear();
    for (uint32_t i = 0; i < count; ++i) {
        char idText[512] = {};
        size_t size = sizeof idText;
        m_library.Check("TLGetInterfaceID", m_library.TLGetInterfaceID(m_system, i, idText, &size));
        const std::string interfaceId = idText;
        IF_HANDLE iface = Interface(interfaceId);
        if (iface == nullptr) {
            m_library.Check("TLOpenInterface",
                            m_library.TLOpenInterface(m_system, interfaceId.c_str(), &iface));
            m_interfaces.emplace_back(interfaceId, iface);
        }
        m_library.Check("IFUpdateDeviceList",
                        m_library.IFUpdateDeviceList(iface, nullptr, timeoutMs));
        uint32_t devices = 0;
        m_library.Check("IFGetNumDevices", m_library.IFGetNumDevices(iface, &devices));
        std::vector<DeviceEntry> found;
        for (uint32_t d = 0; d < devices; ++d) {
            char deviceId[512] = {};
            size = sizeof deviceId;
            m_library.Check("IFGetDeviceID", m_library.IFGetDeviceID(iface, d, deviceId, &size));
            DeviceEntry entry;
            entry.interfaceId = interfaceId;
            entry.iface = iface;
            entry.id = deviceId;
            entry.vendor = InfoText(m_library, iface, entry.id, DEVICE_INFO_VENDOR);
            entry.model = InfoText(m_library, iface, entry.id, DEVICE_INFO_MODEL);
            entry.serial = InfoText(m_library, iface, entry.id, DEVICE_INFO_SERIAL_NUMBER);
            entry.userName = InfoText(m_library, iface, entry.id, DEVICE_INFO_USER_DEFINED_NAME);
            INFO_DATATYPE type = 0;
            int32_t access = 0;
            size = sizeof access;
            if (m_library.IFGetDeviceInfo(iface, deviceId, DEVICE_INFO_ACCESS_STATUS, &type,
                                          &access, &size) == GC_ERR_SUCCESS)
                entry.accessStatus = access;
            found.push_back(entry);
        }
        ReadAddresses(iface, found);
        for (auto& entry : found) {
            entry.index = m_devices.size();
            m_devices.push_back(entry);
        }
    }
    return m_devices;
}

// IP and MAC are not device-info commands: the interface's GenApi description
// shows them for the camera its DeviceSelector points at. A producer without
// those features leaves the columns empty.
void Session::ReadAddresses(IF_HANDLE iface, std::vector<DeviceEntry>& devices) const {
    if (devices.empty()) return;
    try {
        auto port =
            GenApiBridge::GenApiPort::FromPort(iface, GenApiBridge::PortFunctionsOf(m_library));
        if (port.Node("DeviceSelector") == nullptr || port.Node("GevDeviceIPAddress") == nullptr)
            return;
        const int64_t count = port.GetInteger("DeviceCount");
        for (int64_t i = 0; i < count; ++i) {
            port.SetInteger("DeviceSelector", i);
            const std::string id = port.GetString("DeviceID");
            for (auto& entry : devices) {
                if (entry.id != id) continue;
                entry.ip = IpText(port.GetInteger("GevDeviceIPAddress"));
                if (port.Node("GevDeviceMACAddress") != nullptr)
                    entry.mac = MacText(port.GetInteger("GevDeviceMACAddress"));
                if (port.Node("GevAdapterIPAddress") != nullptr)
                    entry.adapter = IpText(port.GetInteger("GevAdapterIPAddress"));
            }
        }
    } catch (const std::exception&) {
        // The columns stay empty; listing the cameras does not depend on them.
    }
}

const DeviceEntry& Session::Find(const std::string& name) const {
    if (const DeviceEntry* entry = FindOrNull(name)) return *entry;
    throw std::runtime_error("no camera named \"" + name + "\" (" +
                             std::to_string(m_devices.size()) + " found)");
}

const DeviceEntry* Session::FindOrNull(const std::string& name) const {
    // The most specific names first: an exact ID, then serial, user name and IP.
    for (const auto& entry : m_devices)
        if (entry.id == name) return &entry;
    const DeviceEntry* match = nullptr;
    int matches = 0;
    for (const auto& entry : m_devices) {
        if ((!entry.serial.empty() && entry.serial == name) ||
            (!entry.userName.empty() && entry.userName == name) ||
            (!entry.ip.empty() && entry.ip == name)) {
            match = &entry;
            ++matches;
        }
    }
    if (matches == 1) return match;
    if (matches > 1) throw std::runtime_error("\"" + name + "\" names more than one camera");
    if (!name.empty() && name.size() < 10 &&
        name.find_first_not_of("0123456789") == std::string::npos) {
        const size_t index = std::stoul(name);
        if (index < m_devices.size()) return &m_devices[index];
    }
    return nullptr;
}

IF_HANDLE Session::Interface(const std::string& id) const {
    for (const auto& entry : m_interfaces)
        if (id.empty() || entry.first == id) return entry.second;
    return nullptr;
}

OpenedDevice::OpenedDevice(Session& session, const DeviceEntry& entry, DEVICE_ACCESS_FLAGS flags)
    : m_library(session.Library()) {
    m_library.Check("IFOpenDevice",
                    m_library.IFOpenDevice(entry.iface, entry.id.c_str(), flags, &m_device));
    const GC_ERROR status = m_library.DevGetPort(m_device, &m_remote);
    if (status != GC_ERR_SUCCESS) {
        const std::string text = m_library.LastErrorText();
        m_library.DevClose(m_device);
        throw GenTLError("DevGetPort", status, text);
    }
}

OpenedDevice::~OpenedDevice() {
    m_library.DevClose(m_device);
}

}  // namespace Gevtl

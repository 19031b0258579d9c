#include "Interface.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "DebugOutput.h"
#include "Device.h"
#include "ErrorReport.h"
#include "Exceptions.h"
#include "InfoCopy.h"
#include "LibraryController.h"
#include "LibraryInfo.h"
#include "ModuleInfo.h"
#include "PortInfo.h"
#include "RegisterMapPort.h"
#include "Socket.h"
#include "StringFormat.h"
#include "TL.h"

namespace GenTL {

using Platform::Format;

namespace {

constexpr int kXmlResourceNumber = 116;
constexpr const char* kXmlResourceType = "INTERFACEREGS";
constexpr const char* kURLFormat = "Local:KRTLI.xml;%x;%x;";
constexpr uint64_t kInitialRegisterSlots = 100;
constexpr uint64_t kDefaultDiscoveryTimeout = 1000;
constexpr uint64_t kQuickDiscoveryTimeout = 500;
constexpr uint32_t kTimestampFrequency = 1000000000;

// The protocol library's device log, written to the producer's debug output.
void DeviceLogToDebugOutput(uint8_t /*handle*/, const char* text, uint8_t /*level*/) {
    Platform::DebugOutput(std::string(text) + "\n");
}

}  // namespace

CInterface::CInterface(std::shared_ptr<CInterfaceInfo> info, CTL* system)
    : CErrorEventModule(kInitialRegisterSlots),
      m_info(std::move(info)),
      m_system(system),
      m_table(new Vantor::GevDeviceList()) {
    BuildRegisterMap();
}

CInterface::~CInterface() {
    Close();
    CLibraryController::Instance().ForgetModule(this);
}

void CInterface::BuildRegisterMap() {
    CRegisterMap& map = m_registerMap;
    map.DefineRegister(kRegDeviceUpdate, kAccessWO, 0, false, &OnWrite, this);
    map.DefineRegister(kRegIgnoreSubnet, kAccessRW, 0, false, &OnWrite, this, &OnRead);
    map.DefineRegister(kRegOpenedCount, kAccessRO, 0, false);
    map.DefineString(kRegID, kAccessRO, m_info->GetID(), 256, false);
    map.DefineString(kRegTLTypeText, kAccessRO, "GigE Vision", 32, false);
    map.DefineString(kRegDisplayName, kAccessRO, m_info->GetDisplayName(), 256, false);
    map.DefineRegister(kRegDeviceCount, kAccessRO, 0, false, nullptr, this, &OnRead);
    map.DefineRegister(kRegDeviceSelector, kAccessRW, 0, false, &OnWrite, this, &OnRead);
    map.DefineString(kRegDeviceID, kAccessRO, "???", 256, false);
    map.DefineString(kRegVendor, kAccessRO, "???", 32, false);
    map.DefineString(kRegModel, kAccessRO, "???", 32, false);
    map.DefineString(kRegUserName, kAccessRO, "???", 16, false);
    map.DefineString(kRegSerial, kAccessRO, "???", 16, false);
    for (uint64_t address : {kRegIPAddress, kRegSubnetMask, kRegGateway})
        map.DefineRegister(address, kAccessRO, 0, false, nullptr, this, &OnRead);
    map.DefineRegister64(kRegMAC, kAccessRO, 0, false, true, nullptr, this, &OnRead);
    map.DefineRegister(kRegAdapterAddress, kAccessRO, 0, false, nullptr, this, &OnRead);
    map.DefineRegister(kRegOpenFlags, kAccessRO, 0, false);
    map.DefineRegister(kRegOpenedCount, kAccessRO, 0, false);
    map.DefineRegister(kRegAccessStatus, kAccessRO, 0, false, nullptr, this, &OnRead);
    map.DefineRegister(kRegAccessible, kAccessRO, 0, false);
    map.DefineRegister(kRegTLType, kAccessRO, 2, false);
    map.DefineRegister(kRegReserved, kAccessRO, 0, false, nullptr, this, &OnRead);
    map.DefineRegister(kRegForceIp, kAccessWO, 0, false, &OnWrite, this);
    for (uint64_t address : {kRegForceIpAddress, kRegForceIpMask, kRegForceIpGateway})
        map.DefineRegister(address, kAccessRW, 0, false, &OnWrite, this, &OnRead);
    map.DefineRegister64(kRegForceIpMAC, kAccessRW, 0, false, true, &OnWrite, this, &OnRead);
    map.DefineRegister(kRegForceIpAdapter, kAccessRW, 0, false, &OnWrite, this, &OnRead);
    map.DefineRegister(kRegForceIpStatus, kAccessRO, 0, false, nullptr, this, &OnRead);

    PlaceXml(kXmlResourceNumber, kXmlResourceType, kRegXmlAddress);
}

// ---- Register notifications --------------------------------------------------

void CInterface::OnWrite(uint64_t address, uint32_t* value, void* context) {
    auto* self = static_cast<CInterface*>(context);
    switch (address) {
        case kRegDeviceUpdate:
            self->UpdateDeviceList(nullptr, kQuickDiscoveryTimeout);
            break;
        case kRegDeviceSelector: {
            std::lock_guard<std::recursive_mutex> guard(self->m_lock);
            if (!self->m_discovered.empty()) self->ShowDevice(*value);
            break;
        }
        case kRegForceIp:
            self->ForceIp();
            break;
        default:
            self->m_registerMap.Poke(address, *value);
            break;
    }
}

void CInterface::OnRead(uint64_t address, uint32_t* value, void* context) {
    auto* self = static_cast<CInterface*>(context);
    std::lock_guard<std::recursive_mutex> guard(self->m_lock);
    const CDeviceInfo* record = self->m_selected < self->m_discovered.size()
                                    ? self->m_discovered[self->m_selected].get()
                                    : nullptr;
    switch (address) {
        case kRegDeviceSelector:
            if (!self->m_discovered.empty()) self->ShowDevice(*value);
            break;
        case kRegIPAddress:
            if (record) *value = Platform::NetworkToHost32(record->ipAddress);
            break;
        case kRegSubnetMask:
            if (record) *value = Platform::NetworkToHost32(record->subnetMask);
            break;
        case kRegGateway:
            if (record) *value = Platform::NetworkToHost32(record->gateway);
            break;
        case kRegAdapterAddress:
            if (record) *value = Platform::NetworkToHost32(record->adapterAddress);
            break;
        case kRegMAC:
            if (record) *value = static_cast<uint32_t>(record->macValue >> 32);
            break;
        case kRegMAC + 4:
            if (record) *value = Platform::NetworkToHost32(static_cast<uint32_t>(record->macValue));
            break;
        case kRegDeviceCount:
        case kRegAccessStatus:
            std::this_thread::yield();
            break;
        default:
            // Stored values read as they stand.
            break;
    }
}

void CInterface::ShowRecord(const CDeviceInfo& record) {
    CRegisterMap& map = m_registerMap;
    map.PokeString(kRegDeviceID, record.GetID());
    map.PokeString(kRegVendor, record.vendorName);
    map.PokeString(kRegModel, record.modelName);
    map.PokeString(kRegUserName, record.userDefinedName);
    map.PokeString(kRegSerial, record.serialNumber);
    map.Poke(kRegIPAddress, record.ipAddress);
    map.Poke(kRegSubnetMask, record.subnetMask);
    map.Poke(kRegGateway, record.gateway);
    map.Poke(kRegAdapterAddress, record.adapterAddress);
    map.Poke64(kRegMAC, record.macValue, false);
    const int32_t status = AccessStatusOf(record);
    map.Poke(kRegAccessStatus, static_cast<uint32_t>(status));
    // A device this process has open cannot be opened again.
    const bool accessible =
        status == DEVICE_ACCESS_STATUS_READWRITE || status == DEVICE_ACCESS_STATUS_READONLY;
    map.Poke(kRegAccessible, accessible ? 1 : 0);
}

void CInterface::ShowDevice(uint32_t index) {
    // A selector beyond the list keeps showing the last device chosen.
    if (index >= m_discovered.size()) return;
    m_selected = static_cast<uint8_t>(index);
    ShowRecord(*m_discovered[index]);
}

void CInterface::ForceIp() {
    CRegisterMap& map = m_registerMap;
    const uint64_t macValue = map.Peek64(kRegForceIpMAC, false);
    const uint32_t address = map.Peek(kRegForceIpAddress);
    const uint32_t mask = map.Peek(kRegForceIpMask);
    const uint32_t adapter = map.Peek(kRegForceIpAdapter);
    if (address == 0 || mask == 0 || adapter == 0 || macValue == 0) {
        map.Poke(kRegForceIpStatus, static_cast<uint32_t>(GC_ERR_INVALID_PARAMETER));
        return;
    }
    // Bytes in address order, each register least significant byte first.
    const uint32_t low = map.Peek(kRegForceIpMAC);
    const uint32_t high = map.Peek(kRegForceIpMAC + 4);
    const uint8_t mac[6] = {static_cast<uint8_t>(low),       static_cast<uint8_t>(low >> 8),
                            static_cast<uint8_t>(low >> 16), static_cast<uint8_t>(low >> 24),
                            static_cast<uint8_t>(high),      static_cast<uint8_t>(high >> 8)};
    const Vantor::GevStatus status =
        Vantor::GEVForceIP(Platform::HostToNetwork32(address), Platform::HostToNetwork32(mask),
                           Platform::HostToNetwork32(map.Peek(kRegForceIpGateway)), mac,
                           Platform::HostToNetwork32(adapter));
    map.Poke(kRegForceIpStatus, status);
}

// ---- Port ------------------------------------------------------------------

void CInterface::GetURL(char* sURL, size_t* piSize) {
    if (piSize == nullptr) throw invalid_parameter_exception("Invalid Buffer Size");
    const std::string url = FormatLocalURL(kURLFormat, kRegXmlAddress, m_xmlSize);
    const std::string delivered = url.substr(0, url.size() - 1);
    const size_t required = url.size() + 1;
    if (sURL == nullptr) {
        *piSize = required;
        return;
    }
    if (*piSize < required) {
        *piSize = required;
        throw invalid_parameter_exception("Invalid Buffer Size");
    }
    std::memcpy(sURL, delivered.c_str(), delivered.size() + 1);
    *piSize = required;
}

void CInterface::GetPortInfo(PORT_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                             size_t* piSize) {
    const PortInfoTexts texts{m_info->GetID(), "TLInterface", "InterfacePort",
                              FormatVersion(GetLibraryVersion())};
    AnswerPortInfo(texts, iInfoCmd, piType, pBuffer, piSize);
}

void CInterface::GetURLInfo(uint32_t iURLIndex, URL_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                            void* pBuffer, size_t* piSize) {
    AnswerOwnURLInfo(kURLFormat, kRegXmlAddress, iURLIndex, iInfoCmd, piType, pBuffer, piSize);
}

ICommonBase* CInterface::GetParent() {
    return m_system;
}

// ---- Devices ---------------------------------------------------------------

uint32_t CInterface::GetNumDevices() const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return static_cast<uint32_t>(m_discovered.size());
}

std::string CInterface::GetDeviceID(uint32_t index) const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (index >= m_discovered.size())
        throw invalid_index_exception(Format("Error accessing DeviceID %d", index));
    return m_discovered[index]->GetID();
}

void CInterface::UpdateDeviceList(bool8_t* pbChanged, uint64_t timeout) {
    if (timeout == GENTL_INFINITE) timeout = kDefaultDiscoveryTimeout;
    // Longer waits than a 32-bit count of milliseconds are cut, not wrapped.
    const uint32_t timeoutMs = static_cast<uint32_t>(std::min<uint64_t>(timeout, UINT32_MAX));
    const bool ignoreSubnet = m_registerMap.Peek(kRegIgnoreSubnet) != 0;
    // One discovery or open at a time on this interface; the lists stay
    // readable meanwhile, under their own lock.
    std::lock_guard<std::recursive_mutex> discovery(m_discoveryLock);
    // The status is not examined: the table is used as filled.
    Vantor::GEVDiscoverDevices(m_table.get(), nullptr, timeoutMs, ignoreSubnet, 0);
    std::lock_guard<std::recursive_mutex> guard(m_lock);

    std::vector<std::shared_ptr<CDeviceInfo>> fresh;
    for (int i = 0; i < m_table->count; ++i) {
        auto record = std::make_shared<CDeviceInfo>(m_table->devices[i]);
        m_registerMap.Poke(kRegAccessStatus, static_cast<uint32_t>(record->accessStatus));
        fresh.push_back(std::move(record));
    }

    // Keep the record objects that are still there: an opened device shares its record.
    std::vector<std::shared_ptr<CDeviceInfo>> current;
    current.swap(m_discovered);
    for (auto& record : fresh) {
        auto same = std::find_if(current.begin(), current.end(), [&](const auto& existing) {
            return existing->GetID() == record->GetID();
        });
        if (same == current.end()) continue;
        if ((*same)->accessStatus != record->accessStatus)
            (*same)->accessStatus = record->accessStatus;
        // The addresses may have moved (FORCEIP, another adapter).
        (*same)->ipAddress = record->ipAddress;
        (*same)->subnetMask = record->subnetMask;
        (*same)->gateway = record->gateway;
        (*same)->adapterAddress = record->adapterAddress;
        m_discovered.push_back(*same);
        current.erase(same);
        record.reset();
    }
    bool changed = false;
    for (auto& record : fresh) {
        if (!record) continue;
        m_discovered.push_back(std::move(record));
        changed = true;
    }
    if (!current.empty()) changed = true;
    if (pbChanged != nullptr) *pbChanged = changed ? 1 : 0;
    m_registerMap.Poke(kRegDeviceCount, static_cast<uint32_t>(m_discovered.size()));
}

int32_t CInterface::AccessStatusOf(const CDeviceInfo& record) const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    for (const auto& device : m_openedDevices)
        if (device && device->DeviceInfo().get() == &record) return device->AccessStatus();
    return record.accessStatus;
}

std::shared_ptr<CDeviceInfo> CInterface::FindDeviceInfo(const std::string& id) const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    for (const auto& device : m_openedDevices)
        if (device && device->DeviceInfo()->Matches(id)) return device->DeviceInfo();
    for (const auto& record : m_discovered)
        if (record->Matches(id)) return record;
    return nullptr;
}

void CInterface::GetDeviceInfo(const std::string& id, DEVICE_INFO_CMD iInfoCmd,
                               INFO_DATATYPE* piType, void* pBuffer, size_t* piSize) {
    if (piSize == nullptr) {
        throw invalid_parameter_exception(
            Format("Specified iSize is invalid: iSize = 0x%p.", piSize));
    }
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    std::shared_ptr<CDeviceInfo> record = FindDeviceInfo(id);
    if (!record) throw std::runtime_error("Unable to find device  " + id);
    switch (iInfoCmd) {
        case DEVICE_INFO_ACCESS_STATUS:
            return CopyInfoInt32(piType, pBuffer, piSize, AccessStatusOf(*record));
        case DEVICE_INFO_TIMESTAMP_FREQUENCY: {
            const uint64_t frequency = kTimestampFrequency;
            if (*piSize != 0 && *piSize < sizeof frequency) {
                throw buffer_too_small_exception(
                    Format("Prepared buffer is too small. Required: %d. Prepared: %d.",
                           sizeof frequency, *piSize));
            }
            return CopyInfoValue(piType, pBuffer, piSize, INFO_DATATYPE_UINT64, frequency);
        }
        default:
            if (record->CopyInfo(iInfoCmd, piType, pBuffer, piSize)) return;
            throw implementation_exception(
                Format("Requested iID is not implemented; iID = %d.", iInfoCmd));
    }
}

std::shared_ptr<CDevice> CInterface::OpenDevice(const std::string& id, DEVICE_ACCESS_FLAGS flags) {
    if (flags > DEVICE_ACCESS_EXCLUSIVE) throw access_exception("Device access denied");
    // The discovery table is read under its lock; the open itself runs without
    // it, so that a camera slow to answer holds no other open.
    std::unique_lock<std::recursive_mutex> discovery(m_discoveryLock);
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        for (const auto& device : m_openedDevices)
            if (device && device->DeviceInfo()->Matches(id))
                throw resource_in_use_exception("Device already open");
    }

    auto discovered = [&]() -> std::shared_ptr<CDeviceInfo> {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        for (const auto& record : m_discovered)
            if (record->Matches(id)) return record;
        return nullptr;
    };
    std::shared_ptr<CDeviceInfo> record = discovered();
    if (!record) {
        UpdateDeviceList(nullptr, kQuickDiscoveryTimeout);
        record = discovered();
    }
    if (!record) throw invalid_id_exception("Device not available or invalid id");

    // The table entry of the record: same IP address (from the display name) and MAC.
    const std::string display = record->GetDisplayName();
    const uint32_t ip = Platform::ParseAddress(display.substr(display.rfind('@') + 1).c_str());
    const Vantor::GevDiscoveredDevice* entry = nullptr;
    for (int i = 0; i < m_table->count; ++i) {
        const Vantor::GevDiscoveredDevice& candidate = m_table->devices[i];
        if (candidate.cameraAddress == ip && std::memcmp(candidate.macHigh, record->mac, 2) == 0 &&
            std::memcmp(candidate.macLow, record->mac + 2, 4) == 0) {
            entry = &candidate;
            m_tableIndex = static_cast<uint8_t>(i + 1);
            break;
        }
    }
    if (entry == nullptr) throw invalid_id_exception("Device not available or invalid id");

    Vantor::GevOpenParams params{};
    params.cameraAddress = entry->cameraAddress;
    params.hostAddress = entry->adapterAddress;
    params.subnetMask = entry->adapterMask;
    std::memcpy(params.adapterName, entry->adapterName, sizeof params.adapterName);
    discovery.unlock();
    std::unique_lock<std::recursive_mutex> recordGuard(m_lock);
    record->openFlags = flags;
    uint8_t accessMode = Vantor::kAccessModeOpen;
    if (flags == DEVICE_ACCESS_CONTROL) {
        accessMode = Vantor::kAccessModeControl;
        record->accessStatus = DEVICE_ACCESS_STATUS_READONLY;
    } else if (flags == DEVICE_ACCESS_EXCLUSIVE) {
        accessMode = Vantor::kAccessModeExclusive;
        record->accessStatus = DEVICE_ACCESS_STATUS_NOACCESS;
    }
    recordGuard.unlock();

    std::shared_ptr<CDevice> device;
    {
        // A free slot of the protocol library (the position in the discovered
        // list may belong to another open camera after a new discovery), taken
        // without a lock, so that a camera slow to answer holds no other open.
        uint8_t handle = 0;
        const Vantor::GevStatus status =
            Vantor::GEVOpenFreeDevice(&params, &DeviceLogToDebugOutput, accessMode, &handle);
        if (status == Vantor::kGevOpenedByOther) {
            m_registerMap.Poke(kRegAccessStatus, DEVICE_ACCESS_STATUS_NOACCESS);
            m_registerMap.Poke(kRegAccessible, 0);
            std::lock_guard<std::recursive_mutex> guard(m_lock);
            record->accessStatus = DEVICE_ACCESS_STATUS_NOACCESS;
            return nullptr;
        }
        if (status != Vantor::kGevOk) {
            ReportError(ErrorEvent(), "Unable to open the device " + id, status);
            throw access_exception(Format("Unable to open the device %s. Error %04X", id, status));
        }
        try {
            device = std::make_shared<CDevice>(this, record, id, handle, flags, params);
        } catch (...) {
            Vantor::GEVClose(handle);
            throw;
        }
    }
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_openedDevices.push_back(device);

    CRegisterMap& map = m_registerMap;
    map.Poke(kRegDeviceCount, static_cast<uint32_t>(m_discovered.size()));
    map.Poke(kRegOpenedCount, static_cast<uint32_t>(m_openedDevices.size()));
    map.Poke(kRegOpenFlags, flags);
    ShowRecord(*record);
    return device;
}

void CInterface::RemoveDevice(const CDevice* device) {
    std::shared_ptr<CDevice> leaving;
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        auto it = std::find_if(m_openedDevices.begin(), m_openedDevices.end(),
                               [&](const auto& entry) { return entry.get() == device; });
        if (it == m_openedDevices.end()) return;
        leaving = std::move(*it);
        m_openedDevices.erase(it);
        m_registerMap.Poke(kRegOpenedCount, static_cast<uint32_t>(m_openedDevices.size()));
    }
    // Closed outside the lock: closing a camera talks to it.
    leaving->Close();
    leaving.reset();
}

void CInterface::Close() {
    std::vector<std::shared_ptr<CDevice>> devices;
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        m_open = false;
        devices.swap(m_openedDevices);
        m_discovered.clear();
    }
    for (const auto& device : devices) device->Close();
    devices.clear();
}

}  // namespace GenTL

#include "LibraryController.h"

#include <algorithm>
#include <cassert>

#include "Device.h"
#include "EventRemoteDevice.h"
#include "LastError.h"
#include "LibraryGlobals.h"
#include "TL.h"

namespace GenTL {

CLibraryController& CLibraryController::Instance() {
    static CLibraryController controller;
    return controller;
}

CLibraryController::CLibraryController() {
    // Everything the destructor uses is made before this object, so that it
    // is destroyed after it: a consumer that exits or unloads the library
    // without GCCloseLib has its cameras closed through live state.
    PrepareLastError();
    CEventRemoteDevice::PrepareFeeders();
    CDevice::PrepareLostHandler();
    Vantor::GEVPrepareLibrary();
}

CLibraryController::~CLibraryController() {
    // Library unload: whatever the consumer left open goes with it.
    m_initialised = false;
    if (m_systemOpen) CloseAll();
    ClearRegistries();
}

GC_ERROR CLibraryController::InitLib() {
    LibraryGlobals& globals = Globals();
    if (m_initialised) {
        if (globals.multiThread) {
            RecordLastError(GC_ERR_SUCCESS, "GC_ERR_RESOURCE_IN_USE");
            globals.pendingResourceInUse = true;
        } else {
            RecordLastError(GC_ERR_RESOURCE_IN_USE, "GC_ERR_RESOURCE_IN_USE");
        }
        return GC_ERR_RESOURCE_IN_USE;
    }
    m_initialised = true;
    m_PIFClose = &IFClose;
    RecordLastError(GC_ERR_SUCCESS, "GC_ERR_SUCCESS");
    return GC_ERR_SUCCESS;
}

GC_ERROR CLibraryController::CloseLib() {
    LibraryGlobals& globals = Globals();
    uint32_t count = globals.attachedThreads.load();
    while (count > 0 && !globals.attachedThreads.compare_exchange_weak(count, count - 1)) {
    }
    if (count == 1) globals.multiThread = false;

    GC_ERROR result = GC_ERR_SUCCESS;
    if (!m_initialised) {
        RecordLastError(GC_ERR_NOT_INITIALIZED, "GC_ERR_NOT_INITIALIZED");
        result = GC_ERR_NOT_INITIALIZED;
    }
    m_initialised = false;
    if (m_systemOpen) CloseAll();
    ClearRegistries();
    if (result == GC_ERR_SUCCESS) RecordLastError(GC_ERR_SUCCESS, "GC_ERR_SUCCESS");
    globals.pendingResourceInUse = false;
    return result;
}

GC_ERROR CLibraryController::CheckInitialised() const {
    NoteCallingThread();
    if (!m_initialised) {
        RecordLastError(GC_ERR_NOT_INITIALIZED, "GC_ERR_NOT_INITIALIZED");
        return GC_ERR_NOT_INITIALIZED;
    }
    return GC_ERR_SUCCESS;
}

GC_ERROR CLibraryController::CheckSystem() const {
    if (GC_ERROR error = CheckInitialised()) return error;
    if (!m_systemOpen) {
        RecordLastError(GC_ERR_INVALID_HANDLE, "GC_ERR_INVALID_HANDLE");
        return GC_ERR_INVALID_HANDLE;
    }
    return GC_ERR_SUCCESS;
}

GC_ERROR CLibraryController::CheckInterface() {
    if (GC_ERROR error = CheckSystem()) return error;
    if (NumInterfaces() == 0) {
        RecordLastError(GC_ERR_INVALID_HANDLE, "GC_ERR_INVALID_HANDLE");
        return GC_ERR_INVALID_HANDLE;
    }
    return GC_ERR_SUCCESS;
}

std::shared_ptr<CTL> CLibraryController::GetTL() const {
    std::lock_guard<std::mutex> guard(m_systemLock);
    return m_tl;
}

std::shared_ptr<CTL> CLibraryController::OpenTL(bool* created) {
    std::lock_guard<std::mutex> guard(m_systemLock);
    *created = !m_tl;
    if (!m_tl) {
        m_tl = std::make_shared<CTL>();
        m_systemOpen = true;
    }
    return m_tl;
}

void CLibraryController::CloseAll() {
    // Taken out under the lock, closed outside it: a close waits on calls in
    // flight, and those may look up the registry meanwhile.
    std::vector<std::pair<std::string, ModuleRef>> interfaces;
    {
        CAutoLock interfaceGuard(m_interfaceLock);
        interfaces = m_interfaces;
    }
    for (const auto& entry : interfaces) {
        if (entry.second != nullptr && m_PIFClose != nullptr)
            m_PIFClose(ToHandle(entry.second.get()));
    }
    interfaces.clear();
    ClearRegistries();
    std::shared_ptr<CTL> tl;
    {
        std::lock_guard<std::mutex> guard(m_systemLock);
        tl.swap(m_tl);
        m_systemOpen = false;
    }
    // The module goes with the last call that still holds it.
}

void CLibraryController::ClearRegistries() {
    {
        CAutoLock guard(m_bufferLock);
        m_buffers.clear();
    }
    {
        CAutoLock guard(m_dataStreamLock);
        m_dataStreams.clear();
    }
    {
        CAutoLock guard(m_devicePortLock);
        m_devicePorts.clear();
    }
    {
        CAutoLock guard(m_deviceLock);
        m_devices.clear();
    }
    std::vector<std::pair<std::string, ModuleRef>> interfaces;
    {
        CAutoLock guard(m_interfaceLock);
        interfaces.swap(m_interfaces);
    }
    {
        CAutoLock guard(m_eventLock);
        m_events.clear();
    }
}

// ---- Open interfaces -------------------------------------------------------

GC_ERROR CLibraryController::AddInterface(const std::string& id, const ModuleRef& iface,
                                          ModuleRef* registered) {
    CAutoLock guard(m_interfaceLock);
    for (const auto& entry : m_interfaces) {
        if (entry.first == id || entry.second == iface) {
            if (registered != nullptr) *registered = entry.second;
            return GC_ERR_RESOURCE_IN_USE;
        }
    }
    m_interfaces.emplace_back(id, iface);
    if (registered != nullptr) *registered = iface;
    return GC_ERR_SUCCESS;
}

ModuleRef CLibraryController::FindInterface(const void* hIface) {
    CAutoLock guard(m_interfaceLock);
    for (const auto& entry : m_interfaces) {
        if (entry.second != nullptr && ToHandle(entry.second.get()) == hIface) return entry.second;
    }
    return nullptr;
}

ModuleRef CLibraryController::TakeInterface(const void* hIface) {
    CAutoLock interfaceGuard(m_interfaceLock);
    auto it = std::find_if(m_interfaces.begin(), m_interfaces.end(), [&](const auto& entry) {
        return ToHandle(entry.second.get()) == hIface;
    });
    if (it == m_interfaces.end()) return nullptr;
    ModuleRef iface = std::move(it->second);
    m_interfaces.erase(it);
    CAutoLock deviceGuard(m_deviceLock);
    m_devices.erase(std::remove_if(m_devices.begin(), m_devices.end(),
                                   [&](const auto& entry) { return entry.first == iface.get(); }),
                    m_devices.end());
    return iface;
}

size_t CLibraryController::NumInterfaces() {
    CAutoLock guard(m_interfaceLock);
    return m_interfaces.size();
}

// ---- Open devices ----------------------------------------------------------

void CLibraryController::AddDevice(ICommonBase* parentIface,
                                   const std::weak_ptr<ICommonBase>& device) {
    CAutoLock guard(m_deviceLock);
    m_devices.emplace_back(parentIface, device);
}

ModuleRef CLibraryController::FindDevice(const void* hDevice, ICommonBase** parentIface) {
    CAutoLock guard(m_deviceLock);
    for (const auto& entry : m_devices) {
        std::shared_ptr<ICommonBase> device = entry.second.lock();
        if (device && ToHandle(device.get()) == hDevice) {
            if (parentIface != nullptr) *parentIface = entry.first;
            return device;
        }
    }
    return nullptr;
}

ModuleRef CLibraryController::FindDevice(const ICommonBase* parentIface, const std::string& id) {
    CAutoLock guard(m_deviceLock);
    for (const auto& entry : m_devices) {
        if (entry.first != parentIface) continue;
        std::shared_ptr<ICommonBase> device = entry.second.lock();
        auto* concrete = dynamic_cast<CDevice*>(device.get());
        if (concrete != nullptr && concrete->ID() == id) return device;
    }
    return nullptr;
}

ModuleRef CLibraryController::TakeDevice(const void* hDevice, ICommonBase** parentIface) {
    CAutoLock deviceGuard(m_deviceLock);
    ICommonBase* parent = nullptr;
    ModuleRef device = FindDevice(hDevice, &parent);
    if (!device) return nullptr;
    {
        CAutoLock streamGuard(m_dataStreamLock);
        m_dataStreams.erase(device.get());
    }
    {
        CAutoLock portGuard(m_devicePortLock);
        m_devicePorts.erase(device.get());
    }
    m_devices.erase(std::remove_if(m_devices.begin(), m_devices.end(),
                                   [&](const auto& entry) {
                                       auto live = entry.second.lock();
                                       return !live || live == device;
                                   }),
                    m_devices.end());
    if (parentIface != nullptr) *parentIface = parent;
    return device;
}

size_t CLibraryController::NumDevices() {
    CAutoLock guard(m_deviceLock);
    return static_cast<size_t>(
        std::count_if(m_devices.begin(), m_devices.end(),
                      [](const auto& entry) { return !entry.second.expired(); }));
}

// ---- Remote device ports ---------------------------------------------------

void CLibraryController::RegisterDevicePort(const ModuleRef& device, ICommonBase* port) {
    CAutoLock guard(m_devicePortLock);
    m_devicePorts[device.get()] = {port, device};
}

ModuleRef CLibraryController::FindDevicePort(const void* hPort, ModuleRef* device) {
    CAutoLock guard(m_devicePortLock);
    for (const auto& entry : m_devicePorts) {
        ICommonBase* port = entry.second.first;
        if (port == nullptr || ToHandle(port) != hPort) continue;
        ModuleRef owner = entry.second.second.lock();
        if (!owner) return nullptr;
        if (device != nullptr) *device = owner;
        // The port is the device's member: holding the device holds the port.
        return ModuleRef(owner, port);
    }
    return nullptr;
}

// ---- Data streams ----------------------------------------------------------

void CLibraryController::AddDataStream(ICommonBase* device, const ModuleRef& stream) {
    CAutoLock guard(m_dataStreamLock);
    m_dataStreams[device].push_back(stream);
}

ModuleRef CLibraryController::FindDataStream(const void* hDataStream, ICommonBase** device) {
    CAutoLock guard(m_dataStreamLock);
    for (const auto& entry : m_dataStreams) {
        for (const auto& weak : entry.second) {
            ModuleRef stream = weak.lock();
            if (stream && ToHandle(stream.get()) == hDataStream) {
                if (device != nullptr) *device = entry.first;
                return stream;
            }
        }
    }
    return nullptr;
}

ModuleRef CLibraryController::TakeDataStream(const void* hDataStream) {
    CAutoLock guard(m_dataStreamLock);
    for (auto& entry : m_dataStreams) {
        auto& streams = entry.second;
        for (auto it = streams.begin(); it != streams.end(); ++it) {
            ModuleRef stream = it->lock();
            if (stream && ToHandle(stream.get()) == hDataStream) {
                streams.erase(it);
                return stream;
            }
        }
    }
    return nullptr;
}

size_t CLibraryController::NumDataStreams() {
    CAutoLock guard(m_dataStreamLock);
    size_t count = 0;
    for (const auto& entry : m_dataStreams)
        for (const auto& weak : entry.second) count += weak.expired() ? 0 : 1;
    return count;
}

// ---- Announced buffers -----------------------------------------------------

void CLibraryController::AddBuffer(ICommonBase* stream, const ModuleRef& buffer) {
    CAutoLock guard(m_bufferLock);
    m_buffers.emplace_back(stream, buffer);
}

ModuleRef CLibraryController::FindBuffer(const void* hBuffer, ICommonBase** stream) {
    CAutoLock guard(m_bufferLock);
    for (const auto& entry : m_buffers) {
        ModuleRef buffer = entry.second.lock();
        if (buffer && ToHandle(buffer.get()) == hBuffer) {
            if (stream != nullptr) *stream = entry.first;
            return buffer;
        }
    }
    return nullptr;
}

void CLibraryController::RemoveBuffer(const void* hBuffer) {
    CAutoLock guard(m_bufferLock);
    m_buffers.erase(std::remove_if(m_buffers.begin(), m_buffers.end(),
                                   [&](const auto& e) {
                                       ModuleRef live = e.second.lock();
                                       return !live || ToHandle(live.get()) == hBuffer;
                                   }),
                    m_buffers.end());
}

// ---- Registered events -----------------------------------------------------

void CLibraryController::AddEvent(const EventRecord& record) {
    CAutoLock guard(m_eventLock);
    m_events[static_cast<const void*>(record.event)] = record;
}

bool CLibraryController::FindEvent(const void* hEvent, EventRecord* record) {
    CAutoLock guard(m_eventLock);
    auto it = m_events.find(hEvent);
    if (it == m_events.end()) return false;
    ModuleRef owner = it->second.owner.lock();
    if (!owner) return false;
    if (record != nullptr) {
        *record = it->second;
        record->held = std::move(owner);
    }
    return true;
}

void CLibraryController::RemoveEvent(const void* hEvent) {
    CAutoLock guard(m_eventLock);
    m_events.erase(hEvent);
}

void CLibraryController::RemoveEvent(const ICommonBase* source, EVENT_TYPE type) {
    CAutoLock guard(m_eventLock);
    for (auto it = m_events.begin(); it != m_events.end(); ++it) {
        if (it->second.source == source && it->second.type == type) {
            m_events.erase(it);
            return;
        }
    }
}

void CLibraryController::ForgetModule(const ICommonBase* module) {
    const ICommonBase* port = nullptr;
    {
        CAutoLock guard(m_devicePortLock);
        auto it = m_devicePorts.find(const_cast<ICommonBase*>(module));
        if (it != m_devicePorts.end()) {
            port = it->second.first;
            m_devicePorts.erase(it);
        }
    }
    {
        CAutoLock guard(m_dataStreamLock);
        m_dataStreams.erase(const_cast<ICommonBase*>(module));
    }
    CAutoLock guard(m_eventLock);
    for (auto it = m_events.begin(); it != m_events.end();) {
        if (it->second.source == module || (port != nullptr && it->second.source == port))
            it = m_events.erase(it);
        else
            ++it;
    }
}

// ---- Handle lookups --------------------------------------------------------

ModuleRef CLibraryController::FindEventSource(const void* handle) {
    if (handle == nullptr) return nullptr;
    if (std::shared_ptr<CTL> tl = GetTL(); tl && ToHandle(tl.get()) == handle) return tl;
    if (ModuleRef iface = FindInterface(handle)) return iface;
    if (ModuleRef device = FindDevice(handle)) return device;
    return FindDataStream(handle);
}

ModuleRef CLibraryController::FindPortObject(const void* handle) {
    if (ModuleRef source = FindEventSource(handle)) return source;
    if (handle == nullptr) return nullptr;
    if (ModuleRef port = FindDevicePort(handle)) return port;
    return FindBuffer(handle);
}

}  // namespace GenTL

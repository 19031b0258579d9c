#include "LibraryController.h"

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
    for (const auto& entry : m_interfaces.Snapshot()) {
        if (entry.object != nullptr && m_PIFClose != nullptr) m_PIFClose(ToHandle(entry.object));
    }
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
    // The cleared entries, the interfaces among them, go after the locks are left.
    auto buffers = m_buffers.Clear();
    auto streams = m_dataStreams.Clear();
    auto ports = m_devicePorts.Clear();
    auto devices = m_devices.Clear();
    auto interfaces = m_interfaces.Clear();
    auto events = m_events.Clear();
}

// ---- Open interfaces -------------------------------------------------------

GC_ERROR CLibraryController::AddInterface(const std::string& id, const ModuleRef& iface,
                                          ModuleRef* registered) {
    CAutoLock guard(m_interfaces.Lock());
    decltype(m_interfaces)::Entry existing;
    if (m_interfaces.FindIf([&](const auto& e) { return e.key == id || e.value == iface; },
                            &existing)) {
        if (registered != nullptr) *registered = existing.value;
        return GC_ERR_RESOURCE_IN_USE;
    }
    m_interfaces.Add(id, iface.get(), iface);
    if (registered != nullptr) *registered = iface;
    return GC_ERR_SUCCESS;
}

ModuleRef CLibraryController::FindInterface(const void* hIface) {
    decltype(m_interfaces)::Entry entry;
    return m_interfaces.Find(hIface, &entry) ? entry.value : nullptr;
}

ModuleRef CLibraryController::TakeInterface(const void* hIface) {
    CAutoLock interfaceGuard(m_interfaces.Lock());
    decltype(m_interfaces)::Entry entry;
    if (!m_interfaces.Take(hIface, &entry)) return nullptr;
    ICommonBase* iface = entry.value.get();
    m_devices.RemoveIf([iface](const auto& e) { return e.key == iface; });
    return entry.value;
}

size_t CLibraryController::NumInterfaces() {
    return m_interfaces.CountLive();
}

// ---- Open devices ----------------------------------------------------------

void CLibraryController::AddDevice(ICommonBase* parentIface,
                                   const std::weak_ptr<ICommonBase>& device) {
    m_devices.Add(parentIface, device.lock().get(), device);
}

ModuleRef CLibraryController::FindDevice(const void* hDevice, ICommonBase** parentIface) {
    decltype(m_devices)::Entry entry;
    if (!m_devices.Find(hDevice, &entry)) return nullptr;
    ModuleRef device = entry.value.lock();
    if (device && parentIface != nullptr) *parentIface = entry.key;
    return device;
}

ModuleRef CLibraryController::FindDevice(const ICommonBase* parentIface, const std::string& id) {
    // Walked outside the lock: a device made strong here may be the last
    // reference, and its close must not run under a registry lock.
    for (const auto& entry : m_devices.Snapshot()) {
        if (entry.key != parentIface) continue;
        ModuleRef device = entry.value.lock();
        auto* concrete = dynamic_cast<CDevice*>(device.get());
        if (concrete != nullptr && concrete->ID() == id) return device;
    }
    return nullptr;
}

ModuleRef CLibraryController::TakeDevice(const void* hDevice, ICommonBase** parentIface) {
    // The device lock spans the stream and port removals (lock order: device,
    // then data stream and device port), so no lookup sees half of it.
    CAutoLock deviceGuard(m_devices.Lock());
    decltype(m_devices)::Entry entry;
    if (!m_devices.Take(hDevice, &entry)) return nullptr;
    ModuleRef device = entry.value.lock();
    if (!device) return nullptr;
    ICommonBase* owner = device.get();
    m_dataStreams.RemoveIf([owner](const auto& e) { return e.key == owner; });
    m_devicePorts.RemoveIf([owner](const auto& e) { return e.key == owner; });
    m_devices.RemoveIf([](const auto& e) { return !IsLive(e.value); });
    if (parentIface != nullptr) *parentIface = entry.key;
    return device;
}

size_t CLibraryController::NumDevices() {
    return m_devices.CountLive();
}

// ---- Remote device ports ---------------------------------------------------

void CLibraryController::RegisterDevicePort(const ModuleRef& device, ICommonBase* port) {
    CAutoLock guard(m_devicePorts.Lock());
    ICommonBase* owner = device.get();
    m_devicePorts.RemoveIf([owner](const auto& e) { return e.key == owner; });
    m_devicePorts.Add(owner, port, device);
}

ModuleRef CLibraryController::FindDevicePort(const void* hPort, ModuleRef* device) {
    decltype(m_devicePorts)::Entry entry;
    if (!m_devicePorts.Find(hPort, &entry)) return nullptr;
    ModuleRef owner = entry.value.lock();
    if (!owner) return nullptr;
    if (device != nullptr) *device = owner;
    // The port is the device's member: holding the device holds the port.
    return ModuleRef(owner, entry.object);
}

// ---- Data streams ----------------------------------------------------------

void CLibraryController::AddDataStream(ICommonBase* device, const ModuleRef& stream) {
    m_dataStreams.Add(device, stream.get(), stream);
}

ModuleRef CLibraryController::FindDataStream(const void* hDataStream, ICommonBase** device) {
    decltype(m_dataStreams)::Entry entry;
    if (!m_dataStreams.Find(hDataStream, &entry)) return nullptr;
    ModuleRef stream = entry.value.lock();
    if (stream && device != nullptr) *device = entry.key;
    return stream;
}

ModuleRef CLibraryController::TakeDataStream(const void* hDataStream) {
    decltype(m_dataStreams)::Entry entry;
    return m_dataStreams.Take(hDataStream, &entry) ? entry.value.lock() : nullptr;
}

size_t CLibraryController::NumDataStreams() {
    return m_dataStreams.CountLive();
}

// ---- Announced buffers -----------------------------------------------------

void CLibraryController::AddBuffer(ICommonBase* stream, const ModuleRef& buffer) {
    m_buffers.Add(stream, buffer.get(), buffer);
}

ModuleRef CLibraryController::FindBuffer(const void* hBuffer, ICommonBase** stream) {
    decltype(m_buffers)::Entry entry;
    if (!m_buffers.Find(hBuffer, &entry)) return nullptr;
    ModuleRef buffer = entry.value.lock();
    if (buffer && stream != nullptr) *stream = entry.key;
    return buffer;
}

void CLibraryController::RemoveBuffer(const void* hBuffer) {
    m_buffers.RemoveIf([hBuffer](const auto& e) {
        return !IsLive(e.value) || decltype(m_buffers)::HasHandle(e, hBuffer);
    });
}

// ---- Registered events -----------------------------------------------------

void CLibraryController::AddEvent(const EventRecord& record) {
    CAutoLock guard(m_events.Lock());
    CEventObj* event = record.event;
    m_events.RemoveIf([event](const auto& e) { return e.object == event; });
    m_events.Add(record.source, event, record);
}

bool CLibraryController::FindEvent(const void* hEvent, EventRecord* record) {
    decltype(m_events)::Entry entry;
    if (!m_events.Find(hEvent, &entry)) return false;
    ModuleRef owner = entry.value.owner.lock();
    if (!owner) return false;
    if (record != nullptr) {
        *record = std::move(entry.value);
        record->held = std::move(owner);
    }
    return true;
}

void CLibraryController::RemoveEvent(const void* hEvent) {
    m_events.RemoveIf([hEvent](const auto& e) { return decltype(m_events)::HasHandle(e, hEvent); });
}

void CLibraryController::RemoveEvent(const ICommonBase* source, EVENT_TYPE type) {
    m_events.RemoveIf(
        [source, type](const auto& e) { return e.key == source && e.value.type == type; });
}

void CLibraryController::ForgetModule(const ICommonBase* module) {
    const ICommonBase* port = nullptr;
    for (const auto& entry :
         m_devicePorts.RemoveIf([module](const auto& e) { return e.key == module; }))
        port = entry.object;
    m_dataStreams.RemoveIf([module](const auto& e) { return e.key == module; });
    m_events.RemoveIf([module, port](const auto& e) {
        return e.key == module || (port != nullptr && e.key == port);
    });
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

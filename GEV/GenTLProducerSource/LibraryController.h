// The one process-wide object behind the exports: it owns the system module,
// keeps a registry of everything opened below it so that every handle a
// consumer passes is looked up before it is used, and tears it all down.
// Thread-safe: each registry has its own recursive lock; when several are held
// the order is interface, device, then data-stream or device-port lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include "CriticalSection.h"
#include "GenTL.h"
#include "ICommonBase.h"
#include "ModuleRegistry.h"

namespace GenTL {

class CTL;
class CEventObj;

class CLibraryController {
public:
    using IFCloseFunction = GC_ERROR (*)(IF_HANDLE);

    struct EventRecord {
        CEventObj* event = nullptr;
        ICommonBase* source = nullptr;
        EVENT_TYPE type = 0;
        // The source module, held weakly by the registry and strongly by a lookup:
        // the event object lives as long as its module.
        std::weak_ptr<ICommonBase> owner;
        ModuleRef held;
    };

    static CLibraryController& Instance();
    virtual ~CLibraryController();

    // Library life: GCInitLib and GCCloseLib.
    GC_ERROR InitLib();
    GC_ERROR CloseLib();
    bool IsInitialised() const { return m_initialised; }

    // Entry checks: record the bare code name and return it on failure.
    GC_ERROR CheckInitialised() const;
    GC_ERROR CheckSystem() const;
    GC_ERROR CheckInterface();

    // The system module, or null.
    std::shared_ptr<CTL> GetTL() const;
    // The one system module: made when there is none (`created` says whether
    // this call made it), so two racing TLOpen share one module.
    std::shared_ptr<CTL> OpenTL(bool* created);
    // Closes every interface (and so every device below it) and drops the system module.
    void CloseAll();

    // Open interfaces: (ID, module) in opening order. The registry owns them.
    GC_ERROR AddInterface(const std::string& id, const ModuleRef& iface, ModuleRef* registered);
    ModuleRef FindInterface(const void* hIface);
    // Unregisters the interface and the devices it opened; only one caller gets it.
    ModuleRef TakeInterface(const void* hIface);
    size_t NumInterfaces();

    // Open devices: (parent interface, device), devices held weakly.
    void AddDevice(ICommonBase* parentIface, const std::weak_ptr<ICommonBase>& device);
    ModuleRef FindDevice(const void* hDevice, ICommonBase** parentIface = nullptr);
    // The open device of `parentIface` whose ID is `id`, or null.
    ModuleRef FindDevice(const ICommonBase* parentIface, const std::string& id);
    // Unregisters the device with its streams and port; only one caller gets it.
    ModuleRef TakeDevice(const void* hDevice, ICommonBase** parentIface = nullptr);
    size_t NumDevices();

    // Remote device ports, by device. A port lookup holds its device.
    void RegisterDevicePort(const ModuleRef& device, ICommonBase* port);
    ModuleRef FindDevicePort(const void* hPort, ModuleRef* device = nullptr);

    // Data streams, by device, held weakly (the device owns them).
    void AddDataStream(ICommonBase* device, const ModuleRef& stream);
    ModuleRef FindDataStream(const void* hDataStream, ICommonBase** device = nullptr);
    // Unregisters the stream; only one caller gets it.
    ModuleRef TakeDataStream(const void* hDataStream);
    size_t NumDataStreams();

    // Announced buffers: (data stream, buffer record), records held weakly.
    void AddBuffer(ICommonBase* stream, const ModuleRef& buffer);
    ModuleRef FindBuffer(const void* hBuffer, ICommonBase** stream = nullptr);
    void RemoveBuffer(const void* hBuffer);

    // Registered events, keyed by event handle. A found record holds its
    // source module (`held`), or the lookup fails.
    void AddEvent(const EventRecord& record);
    bool FindEvent(const void* hEvent, EventRecord* record);
    void RemoveEvent(const void* hEvent);
    // Removes the event registered on `source` for `type`, if any.
    void RemoveEvent(const ICommonBase* source, EVENT_TYPE type);

    // Forgets every entry that refers to `module` (its remote port, its
    // streams, the events it raised): called as a module object goes, so no
    // registry keeps a handle to a destroyed object.
    void ForgetModule(const ICommonBase* module);

    // Any registered module or port whose handle is `handle` (the system
    // module included), or null: the only way a port handle becomes an object.
    ModuleRef FindPortObject(const void* handle);

    // A registered event source: system, interface, device or data stream.
    ModuleRef FindEventSource(const void* handle);

    IFCloseFunction m_PIFClose = nullptr;

private:
    CLibraryController();
    void ClearRegistries();

    // Read by the entry checks of every thread.
    std::atomic<bool> m_initialised{false};
    std::atomic<bool> m_systemOpen{false};

    mutable std::mutex m_systemLock;
    std::shared_ptr<CTL> m_tl;
    // Each registry has its own lock. Interfaces are owned here and keyed by
    // ID; devices by their interface, held weakly (the interface owns them);
    // remote ports by their device, holding the device weakly; data streams by
    // device and buffers by data stream, held weakly; events by their source.
    CModuleRegistry<std::string, ICommonBase, ModuleRef> m_interfaces;
    CModuleRegistry<ICommonBase*, ICommonBase, std::weak_ptr<ICommonBase>> m_devices;
    CModuleRegistry<ICommonBase*, ICommonBase, std::weak_ptr<ICommonBase>> m_devicePorts;
    CModuleRegistry<ICommonBase*, ICommonBase, std::weak_ptr<ICommonBase>> m_dataStreams;
    CModuleRegistry<ICommonBase*, ICommonBase, std::weak_ptr<ICommonBase>> m_buffers;
    CModuleRegistry<const ICommonBase*, CEventObj, EventRecord> m_events;
};

// An event stays registered as long as its source module lives.
inline bool IsLive(const CLibraryController::EventRecord& record) {
    return !record.owner.expired();
}

}  // namespace GenTL

// The one process-wide object behind the exports: it owns the system module,
// keeps a registry of everything opened below it so that every handle a
// consumer passes is looked up before it is used, and tears it all down.
// Thread-safe: each registry has its own recursive lock; when several are held
// the order is interface, device, then data-stream or device-port lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "CriticalSection.h"
#include "GenTL.h"
#include "ICommonBase.h"

namespace GenTL {

class CTL;
class CEventObj;

class CLibraryController {
public:
    using IFCloseFunction = GC_ERROR (*)(IF_HANDLE);

    struct EventRecord {
        CEventObj* event;
        ICommonBase* source;
        EVENT_TYPE type;
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

    // The system module.
    CTL* GetTL() const { return m_pTL; }
    CTL* CreateTL();
    void CloseAll();

    // Open interfaces: (ID, handle) in opening order.
    GC_ERROR AddInterface(const std::string& id, ICommonBase* iface, ICommonBase** registered);
    bool IsInterfaceOpen(const void* hIface);
    ICommonBase* FindInterface(const void* hIface);
    void RemoveInterface(const void* hIface);
    size_t NumInterfaces();

    // Open devices: (parent interface, device), devices held weakly.
    void AddDevice(ICommonBase* parentIface, const std::weak_ptr<ICommonBase>& device);
    std::shared_ptr<ICommonBase> FindDevice(const void* hDevice,
                                            ICommonBase** parentIface = nullptr);
    // The open device of `parentIface` whose ID is `id`, or null.
    std::shared_ptr<ICommonBase> FindDevice(const ICommonBase* parentIface, const std::string& id);
    void RemoveDevice(const void* hDevice);
    size_t NumDevices();

    // Remote device ports, by device.
    void RegisterDevicePort(ICommonBase* device, ICommonBase* port);
    ICommonBase* FindDevicePort(const void* hPort, ICommonBase** device = nullptr);

    // Data streams, by device.
    void AddDataStream(ICommonBase* device, ICommonBase* stream);
    ICommonBase* FindDataStream(const void* hDataStream, ICommonBase** device = nullptr);
    void RemoveDataStream(const void* hDataStream);
    size_t NumDataStreams();

    // Announced buffers: (data stream, buffer record).
    void AddBuffer(ICommonBase* stream, ICommonBase* buffer);
    ICommonBase* FindBuffer(const void* hBuffer, ICommonBase** stream = nullptr);
    void RemoveBuffer(const void* hBuffer);

    // Registered events, keyed by event handle.
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
    ICommonBase* FindPortObject(const void* handle);

    // A registered event source: system, interface, device or data stream.
    ICommonBase* FindEventSource(const void* handle);

    IFCloseFunction m_PIFClose = nullptr;

private:
    CLibraryController() = default;
    void ClearRegistries();

    // Read by the entry checks of every thread without a lock.
    std::atomic<bool> m_initialised{false};
    std::atomic<CTL*> m_pTL{nullptr};

    CCriticalSection m_interfaceLock;
    std::vector<std::pair<std::string, ICommonBase*>> m_interfaces;
    CCriticalSection m_deviceLock;
    std::vector<std::pair<ICommonBase*, std::weak_ptr<ICommonBase>>> m_devices;
    CCriticalSection m_devicePortLock;
    std::map<ICommonBase*, ICommonBase*> m_devicePorts;
    CCriticalSection m_dataStreamLock;
    std::map<ICommonBase*, std::vector<ICommonBase*>> m_dataStreams;
    CCriticalSection m_bufferLock;
    std::vector<std::pair<ICommonBase*, ICommonBase*>> m_buffers;
    CCriticalSection m_eventLock;
    std::map<const void*, EventRecord> m_events;
};

}  // namespace GenTL

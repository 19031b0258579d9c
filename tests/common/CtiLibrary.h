// Loads a GenTL producer (.cti; GEVTLKRV.dll on Windows) with dlopen or
// LoadLibrary and resolves its exported functions, as a consumer does. One instance per test keeps
// the library loaded; GCCloseLib in TearDown returns it to a clean state.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <stdexcept>
#include <string>

#include "GenTL.h"

namespace TestSupport {

// One entry a line; clang-format 14 does not settle on a layout for this list.
// clang-format off
#define GEVTLKRV_FUNCTIONS(X) \
    X(GCGetInfo) \
    X(GCGetLastError) \
    X(GCInitLib) \
    X(GCCloseLib) \
    X(GCReadPort) \
    X(GCWritePort) \
    X(GCReadPortStacked) \
    X(GCWritePortStacked) \
    X(GCGetPortURL) \
    X(GCGetPortInfo) \
    X(GCGetNumPortURLs) \
    X(GCGetPortURLInfo) \
    X(GCRegisterEvent) \
    X(GCUnregisterEvent) \
    X(EventGetData) \
    X(EventGetDataInfo) \
    X(EventGetInfo) \
    X(EventFlush) \
    X(EventKill) \
    X(TLOpen) \
    X(TLClose) \
    X(TLGetInfo) \
    X(TLGetNumInterfaces) \
    X(TLGetInterfaceID) \
    X(TLGetInterfaceInfo) \
    X(TLOpenInterface) \
    X(TLUpdateInterfaceList) \
    X(IFClose) \
    X(IFGetInfo) \
    X(IFGetNumDevices) \
    X(IFGetDeviceID) \
    X(IFUpdateDeviceList) \
    X(IFGetDeviceInfo) \
    X(IFOpenDevice) \
    X(IFGetParentTL) \
    X(DevGetPort) \
    X(DevGetNumDataStreams) \
    X(DevGetDataStreamID) \
    X(DevOpenDataStream) \
    X(DevGetInfo) \
    X(DevClose) \
    X(DevGetParentIF) \
    X(DSAnnounceBuffer) \
    X(DSAllocAndAnnounceBuffer) \
    X(DSAnnounceCompositeBuffer) \
    X(DSFlushQueue) \
    X(DSStartAcquisition) \
    X(DSStopAcquisition) \
    X(DSGetInfo) \
    X(DSGetBufferID) \
    X(DSClose) \
    X(DSRevokeBuffer) \
    X(DSQueueBuffer) \
    X(DSGetParentDev) \
    X(DSGetBufferInfo) \
    X(DSGetBufferInfoStacked) \
    X(DSGetBufferChunkData) \
    X(DSGetNumBufferParts) \
    X(DSGetBufferPartInfo) \
    X(DSGetBufferPartInfoStacked) \
    X(DSGetNumFlows) \
    X(DSGetFlowInfo) \
    X(DSGetNumBufferSegments) \
    X(DSGetBufferSegmentInfo)
// clang-format on

class CtiLibrary {
public:
    explicit CtiLibrary(const std::string& path = GEVTLKRV_CTI_PATH) {
        m_handle = Open(path);
#define GEVTLKRV_RESOLVE(name) name = Resolve<decltype(&GenTL::name)>(#name);
        GEVTLKRV_FUNCTIONS(GEVTLKRV_RESOLVE)
#undef GEVTLKRV_RESOLVE
    }
    CtiLibrary(const CtiLibrary&) = delete;
    CtiLibrary& operator=(const CtiLibrary&) = delete;
    ~CtiLibrary() {
        if (m_handle != nullptr) Close(m_handle);
    }

    // The last-error record as (code, text).
    std::pair<GenTL::GC_ERROR, std::string> LastError() {
        GenTL::GC_ERROR code = 0;
        char text[4096] = {};
        size_t size = sizeof text;
        GCGetLastError(&code, text, &size);
        return {code, text};
    }
    std::string LastErrorText() {
        return LastError().second;
    }

    void* Handle() const {
        return m_handle;
    }

#define GEVTLKRV_DECLARE(name) decltype(&GenTL::name) name = nullptr;
    GEVTLKRV_FUNCTIONS(GEVTLKRV_DECLARE)
#undef GEVTLKRV_DECLARE

private:
#if defined(_WIN32)
    static void* Open(const std::string& path) {
        HMODULE module = LoadLibraryA(path.c_str());
        if (module == nullptr)
            throw std::runtime_error("LoadLibrary " + path + ": error " +
                                     std::to_string(GetLastError()));
        return reinterpret_cast<void*>(module);
    }
    static void Close(void* handle) {
        FreeLibrary(static_cast<HMODULE>(handle));
    }
    template <class F>
    F Resolve(const char* name) {
        FARPROC symbol = GetProcAddress(static_cast<HMODULE>(m_handle), name);
        if (symbol == nullptr) throw std::runtime_error(std::string("missing export ") + name);
        return reinterpret_cast<F>(reinterpret_cast<void*>(symbol));
    }
#else
    static void* Open(const std::string& path) {
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) throw std::runtime_error(std::string("dlopen: ") + dlerror());
        return handle;
    }
    static void Close(void* handle) {
        dlclose(handle);
    }
    template <class F>
    F Resolve(const char* name) {
        void* symbol = dlsym(m_handle, name);
        if (symbol == nullptr) throw std::runtime_error(std::string("missing export ") + name);
        return reinterpret_cast<F>(symbol);
    }
#endif

    void* m_handle = nullptr;
};

}  // namespace TestSupport

// The producer (.cti) the tool drives: loaded with dlopen, its GenTL exports
// resolved by name, the library opened with GCInitLib for the object's lifetime.
#pragma once

#include <stdexcept>
#include <string>

#include "GenTL.h"

namespace Gevtl {

// One entry a line; clang-format 14 does not settle on a layout for this list.
// clang-format off
#define GEVTL_FUNCTIONS(X) \
    X(GCGetInfo) \
    X(GCGetLastError) \
    X(GCInitLib) \
    X(GCCloseLib) \
    X(GCReadPort) \
    X(GCWritePort) \
    X(GCGetPortURL) \
    X(GCGetPortInfo) \
    X(GCGetNumPortURLs) \
    X(GCGetPortURLInfo) \
    X(GCRegisterEvent) \
    X(GCUnregisterEvent) \
    X(EventGetData) \
    X(EventGetDataInfo) \
    X(EventFlush) \
    X(EventKill) \
    X(TLOpen) \
    X(TLClose) \
    X(TLGetNumInterfaces) \
    X(TLGetInterfaceID) \
    X(TLOpenInterface) \
    X(TLUpdateInterfaceList) \
    X(IFClose) \
    X(IFGetNumDevices) \
    X(IFGetDeviceID) \
    X(IFUpdateDeviceList) \
    X(IFGetDeviceInfo) \
    X(IFOpenDevice) \
    X(DevGetPort) \
    X(DevGetNumDataStreams) \
    X(DevGetDataStreamID) \
    X(DevOpenDataStream) \
    X(DevClose) \
    X(DSAllocAndAnnounceBuffer) \
    X(DSFlushQueue) \
    X(DSStartAcquisition) \
    X(DSStopAcquisition) \
    X(DSGetInfo) \
    X(DSClose) \
    X(DSRevokeBuffer) \
    X(DSQueueBuffer) \
    X(DSGetBufferInfo) \
    X(DSGetNumBufferParts) \
    X(DSGetBufferPartInfo)
// clang-format on

// A failed GenTL call: the call's name, its GC_ERROR and the producer's error text.
class GenTLError : public std::runtime_error {
public:
    GenTLError(const std::string& call, GenTL::GC_ERROR code, const std::string& text)
        : std::runtime_error(call + " failed: " + text + " (GC_ERROR " + std::to_string(code) +
                             ")"),
          m_code(code) {}
    GenTL::GC_ERROR Code() const { return m_code; }

private:
    GenTL::GC_ERROR m_code;
};

class GenTLLibrary {
public:
    explicit GenTLLibrary(const std::string& path);
    GenTLLibrary(const GenTLLibrary&) = delete;
    GenTLLibrary& operator=(const GenTLLibrary&) = delete;
    ~GenTLLibrary();

    const std::string& Path() const { return m_path; }

    // The producer's last-error text for this thread.
    std::string LastErrorText() const;
    // Throws GenTLError for anything but GC_ERR_SUCCESS.
    void Check(const char* call, GenTL::GC_ERROR status) const;
    // A GCGetInfo text of the producer ("" when it has none).
    std::string ProducerInfo(GenTL::TL_INFO_CMD command) const;
    // Custom info commands mean something only to the producer that defines them.
    bool IsGevtlkrv() const;

#define GEVTL_DECLARE(name) decltype(&GenTL::name) name = nullptr;
    GEVTL_FUNCTIONS(GEVTL_DECLARE)
#undef GEVTL_DECLARE

private:
    std::string m_path;
    void* m_handle = nullptr;
    bool m_initialized = false;
};

// The .cti to load: `explicitPath` if given; with `fromSearchPath` the first *.cti in
// the directories of GENICAM_GENTL64_PATH; else GEVTLKRV.cti beside the installed tool
// or the one built with it, and failing those the search path. Throws when none exists.
std::string FindProducer(const std::string& explicitPath, bool fromSearchPath);

}  // namespace Gevtl

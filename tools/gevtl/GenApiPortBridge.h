// Binds a GenTL module port to Aravis's GenApi engine: an ArvDevice whose memory and
// register accesses go through GCReadPort/GCWritePort, and the consumer-side fetch of the
// module's "Local:" XML description from that same port.
#pragma once

#include <arv.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "GenTL.h"

namespace GenApiBridge {

// The GenTL port exports the bridge calls, resolved from a loaded producer.
struct PortFunctions {
    decltype(&GenTL::GCReadPort) readPort = nullptr;
    decltype(&GenTL::GCWritePort) writePort = nullptr;
    decltype(&GenTL::GCGetPortURL) getPortURL = nullptr;
    decltype(&GenTL::GCGetPortURLInfo) getPortURLInfo = nullptr;
    // Optional: a refused access then carries the producer's error text.
    decltype(&GenTL::GCGetLastError) getLastError = nullptr;
};

// Picks the port exports out of anything that resolved them by their GenTL names
// (TestSupport::CtiLibrary, or a tool's own loader).
template <class Library>
PortFunctions PortFunctionsOf(const Library& library) {
    return {library.GCReadPort, library.GCWritePort, library.GCGetPortURL, library.GCGetPortURLInfo,
            library.GCGetLastError};
}

struct GObjectUnref {
    void operator()(gpointer object) const {
        if (object != nullptr) g_object_unref(object);
    }
};
template <class T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct GErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
using GErrorPtr = std::unique_ptr<GError, GErrorFree>;

// An ArvDevice serving `port`. Accesses that the port refuses fail with an
// ARV_DEVICE_ERROR carrying the GC_ERROR in its message.
GObjectPtr<ArvDevice> CreatePortDevice(GenTL::PORT_HANDLE port, const PortFunctions& functions);

// GC_ERROR of the device's latest port access (GC_ERR_SUCCESS after a good one).
GenTL::GC_ERROR LastPortError(ArvDevice* device);

// A "Local:<file>;<hex address>;<hex size>" URL; a trailing ';' and a "?..." query after
// the size are accepted. Anything else gives nullopt.
struct LocalUrl {
    std::string fileName;
    uint64_t address = 0;
    uint64_t size = 0;
};
std::optional<LocalUrl> ParseLocalUrl(const std::string& url);

enum class UrlSource { PortUrl, PortUrlInfo };

// URL index 0 of the port, through GCGetPortURL or GCGetPortURLInfo(URL_INFO_URL).
// Throws std::runtime_error naming the failing call and its GC_ERROR.
std::string ReadPortUrl(GenTL::PORT_HANDLE port, const PortFunctions& functions,
                        UrlSource source = UrlSource::PortUrl);

// The XML text named by the port's URL, read with GCReadPort, trailing NULs removed.
std::string FetchPortXml(GenTL::PORT_HANDLE port, const PortFunctions& functions,
                         UrlSource source = UrlSource::PortUrl);

// Parses `xml` into a GenApi document bound to `device`, and makes it the device's
// genicam so arv_device_* feature calls work too. Throws if Aravis rejects the text.
GObjectPtr<ArvGc> CreateGenApi(ArvDevice* device, const std::string& xml);

// A port device and its GenApi document, with typed feature access that throws
// std::runtime_error (feature name and GError text) on any failure.
class GenApiPort {
public:
    GenApiPort(GenTL::PORT_HANDLE port, const PortFunctions& functions, const std::string& xml);
    // Fetches the XML through the port first, as a consumer does.
    static GenApiPort FromPort(GenTL::PORT_HANDLE port, const PortFunctions& functions,
                               UrlSource source = UrlSource::PortUrl);

    ArvDevice* Device() const { return m_device.get(); }
    ArvGc* Gc() const { return m_gc.get(); }
    const std::string& Xml() const { return m_xml; }

    // The node of that name, or null.
    ArvGcNode* Node(const std::string& name) const;

    int64_t GetInteger(const std::string& name) const;
    void SetInteger(const std::string& name, int64_t value) const;
    std::string GetString(const std::string& name) const;
    std::string GetEnumeration(const std::string& name) const;
    // Selects the entry of that name.
    void SetEnumeration(const std::string& name, const std::string& entry) const;
    int64_t GetEnumerationValue(const std::string& name) const;
    bool GetBoolean(const std::string& name) const;
    void SetBoolean(const std::string& name, bool value) const;
    void Execute(const std::string& name) const;
    bool IsAvailable(const std::string& name) const;

private:
    template <class T>
    T* NodeAs(const std::string& name, GType type) const;

    std::string m_xml;
    GObjectPtr<ArvDevice> m_device;  // declared before the document: outlives it
    GObjectPtr<ArvGc> m_gc;
};

}  // namespace GenApiBridge

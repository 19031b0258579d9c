// Port-backed ArvDevice, "Local:" URL handling and typed GenApi feature access.
#include "GenApiPortBridge.h"

#include <cctype>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "ZipArchive.h"

using GenApiBridge::PortFunctions;

// ---- The GObject type: an ArvDevice whose accesses go to one GenTL port.

struct _GenApiBridgePortDevice {
    ArvDevice parent_instance;
    GenTL::PORT_HANDLE port;
    PortFunctions functions;
    GenTL::GC_ERROR lastError;
    gchar* xml;  // text of the attached document, g_free'd
    gsize xmlSize;
    ArvGc* genicam;  // weak: the document belongs to whoever created it
};

G_DECLARE_FINAL_TYPE(GenApiBridgePortDevice, genapi_bridge_port_device, GENAPI_BRIDGE, PORT_DEVICE,
                     ArvDevice)
G_DEFINE_TYPE(GenApiBridgePortDevice, genapi_bridge_port_device, ARV_TYPE_DEVICE)

namespace {

// Maps a refused port access to the closest Aravis device error, so GenApi reports it
// with a meaningful code.
int DeviceErrorCode(GenTL::GC_ERROR code) {
    switch (code) {
        case GenTL::GC_ERR_INVALID_ADDRESS:
            return ARV_DEVICE_ERROR_PROTOCOL_ERROR_INVALID_ADDRESS;
        case GenTL::GC_ERR_ACCESS_DENIED:
            return ARV_DEVICE_ERROR_PROTOCOL_ERROR_ACCESS_DENIED;
        case GenTL::GC_ERR_INVALID_PARAMETER:
            return ARV_DEVICE_ERROR_PROTOCOL_ERROR_INVALID_PARAMETER;
        default:
            return ARV_DEVICE_ERROR_PROTOCOL_ERROR;
    }
}

gboolean Transfer(ArvDevice* device, bool write, guint64 address, guint32 size, void* buffer,
                  GError** error) {
    auto* self = GENAPI_BRIDGE_PORT_DEVICE(device);
    size_t transferred = size;
    GenTL::GC_ERROR status;
    if (write) {
        status = self->functions.writePort == nullptr
                     ? GenTL::GC_ERR_NOT_IMPLEMENTED
                     : self->functions.writePort(self->port, address, buffer, &transferred);
    } else {
        status = self->functions.readPort == nullptr
                     ? GenTL::GC_ERR_NOT_IMPLEMENTED
                     : self->functions.readPort(self->port, address, buffer, &transferred);
    }
    self->lastError = status;
    if (status == GenTL::GC_ERR_SUCCESS) return TRUE;
    // Read at once: GenApi may make further port calls before the error reaches the caller.
    char text[512] = "";
    if (self->functions.getLastError != nullptr) {
        GenTL::GC_ERROR code = 0;
        size_t textSize = sizeof text;
        if (self->functions.getLastError(&code, text, &textSize) != GenTL::GC_ERR_SUCCESS)
            text[0] = '\0';
    }
    g_set_error(error, ARV_DEVICE_ERROR, DeviceErrorCode(status),
                "%s at 0x%" G_GINT64_MODIFIER "x, %u bytes failed with GC_ERROR %d%s%s",
                write ? "GCWritePort" : "GCReadPort", address, size, status,
                text[0] != '\0' ? ": " : "", text);
    return FALSE;
}

gboolean ReadMemory(ArvDevice* device, guint64 address, guint32 size, void* buffer,
                    GError** error) {
    return Transfer(device, false, address, size, buffer, error);
}

gboolean WriteMemory(ArvDevice* device, guint64 address, guint32 size, void* buffer,
                     GError** error) {
    return Transfer(device, true, address, size, buffer, error);
}

// The module ports hand out register words in host order, so a register is just a
// 4-byte memory access.
gboolean ReadRegister(ArvDevice* device, guint64 address, guint32* value, GError** error) {
    return Transfer(device, false, address, sizeof *value, value, error);
}

gboolean WriteRegister(ArvDevice* device, guint64 address, guint32 value, GError** error) {
    return Transfer(device, true, address, sizeof value, &value, error);
}

const char* GetGenicamXml(ArvDevice* device, size_t* size) {
    auto* self = GENAPI_BRIDGE_PORT_DEVICE(device);
    if (size != nullptr) *size = self->xmlSize;
    return self->xml;
}

ArvGc* GetGenicam(ArvDevice* device) {
    return GENAPI_BRIDGE_PORT_DEVICE(device)->genicam;
}

void Finalize(GObject* object) {
    auto* self = GENAPI_BRIDGE_PORT_DEVICE(object);
    g_clear_pointer(&self->xml, g_free);
    if (self->genicam != nullptr)
        g_object_remove_weak_pointer(G_OBJECT(self->genicam),
                                     reinterpret_cast<gpointer*>(&self->genicam));
    G_OBJECT_CLASS(genapi_bridge_port_device_parent_class)->finalize(object);
}

}  // namespace

static void genapi_bridge_port_device_init(GenApiBridgePortDevice* self) {
    self->port = nullptr;
    self->functions = PortFunctions{};
    self->lastError = GenTL::GC_ERR_SUCCESS;
    self->xml = nullptr;
    self->xmlSize = 0;
    self->genicam = nullptr;
}

static void genapi_bridge_port_device_class_init(GenApiBridgePortDeviceClass* klass) {
    G_OBJECT_CLASS(klass)->finalize = Finalize;
    ArvDeviceClass* device = ARV_DEVICE_CLASS(klass);
    device->read_memory = ReadMemory;
    device->write_memory = WriteMemory;
    device->read_register = ReadRegister;
    device->write_register = WriteRegister;
    device->get_genicam_xml = GetGenicamXml;
    device->get_genicam = GetGenicam;
}

namespace GenApiBridge {

namespace {

// Called right after the failed call, so the producer's last error is that call's.
std::string GcErrorText(const char* call, GenTL::GC_ERROR status, const PortFunctions& functions) {
    std::string text = std::string(call) + " failed with GC_ERROR " + std::to_string(status);
    if (functions.getLastError != nullptr) {
        GenTL::GC_ERROR code = 0;
        char message[512] = "";
        size_t size = sizeof message;
        if (functions.getLastError(&code, message, &size) == GenTL::GC_ERR_SUCCESS &&
            message[0] != '\0')
            text += std::string(": ") + message;
    }
    return text;
}

bool ParseHex(const std::string& text, uint64_t* value) {
    size_t start = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) start = 2;
    if (start == text.size() || text.size() - start > 16) return false;
    uint64_t result = 0;
    for (size_t i = start; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (!std::isxdigit(c)) return false;
        const int digit = std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10;
        result = result * 16 + static_cast<uint64_t>(digit);
    }
    *value = result;
    return true;
}

std::string TakeGError(const std::string& what, GError* error) {
    GErrorPtr owned(error);
    return what + ": " + (owned ? owned->message : "failed without an error report");
}

}  // namespace

GObjectPtr<ArvDevice> CreatePortDevice(GenTL::PORT_HANDLE port, const PortFunctions& functions) {
    auto* self = static_cast<GenApiBridgePortDevice*>(
        g_object_new(genapi_bridge_port_device_get_type(), nullptr));
    self->port = port;
    self->functions = functions;
    return GObjectPtr<ArvDevice>(ARV_DEVICE(self));
}

GenTL::GC_ERROR LastPortError(ArvDevice* device) {
    return GENAPI_BRIDGE_PORT_DEVICE(device)->lastError;
}

std::optional<LocalUrl> ParseLocalUrl(const std::string& url) {
    static const char kScheme[] = "local:";
    const size_t schemeLength = sizeof kScheme - 1;
    if (url.size() < schemeLength) return std::nullopt;
    for (size_t i = 0; i < schemeLength; ++i)
        if (std::tolower(static_cast<unsigned char>(url[i])) != kScheme[i]) return std::nullopt;

    std::string rest = url.substr(schemeLength);
    const size_t query = rest.find('?');
    if (query != std::string::npos) rest.erase(query);
    if (!rest.empty() && rest.back() == ';') rest.pop_back();

    std::vector<std::string> fields;
    size_t begin = 0;
    for (;;) {
        const size_t end = rest.find(';', begin);
        fields.push_back(rest.substr(begin, end - begin));
        if (end == std::string::npos) break;
        begin = end + 1;
    }
    if (fields.size() != 3 || fields[0].empty()) return std::nullopt;
    LocalUrl result;
    result.fileName = fields[0];
    if (!ParseHex(fields[1], &result.address) || !ParseHex(fields[2], &result.size))
        return std::nullopt;
    return result;
}

std::string ReadPortUrl(GenTL::PORT_HANDLE port, const PortFunctions& functions, UrlSource source) {
    std::vector<char> text;
    size_t size = 0;
    GenTL::GC_ERROR status;
    if (source == UrlSource::PortUrl) {
        if (functions.getPortURL == nullptr) throw std::runtime_error("no GCGetPortURL");
        status = functions.getPortURL(port, nullptr, &size);
        if (status != GenTL::GC_ERR_SUCCESS)
            throw std::runtime_error(GcErrorText("GCGetPortURL (size)", status, functions));
        text.assign(size + 1, '\0');
        status = functions.getPortURL(port, text.data(), &size);
        if (status != GenTL::GC_ERR_SUCCESS)
            throw std::runtime_error(GcErrorText("GCGetPortURL", status, functions));
    } else {
        if (functions.getPortURLInfo == nullptr) throw std::runtime_error("no GCGetPortURLInfo");
        GenTL::INFO_DATATYPE type = 0;
        status = functions.getPortURLInfo(port, 0, GenTL::URL_INFO_URL, &type, nullptr, &size);
        if (status != GenTL::GC_ERR_SUCCESS)
            throw std::runtime_error(GcErrorText("GCGetPortURLInfo (size)", status, functions));
        text.assign(size + 1, '\0');
        status = functions.getPortURLInfo(port, 0, GenTL::URL_INFO_URL, &type, text.data(), &size);
        if (status != GenTL::GC_ERR_SUCCESS)
            throw std::runtime_error(GcErrorText("GCGetPortURLInfo", status, functions));
        if (type != GenTL::INFO_DATATYPE_STRING)
            throw std::runtime_error("GCGetPortURLInfo: URL type is " + std::to_string(type));
    }
    return std::string(text.data());  // up to the first NUL
}

std::string FetchPortXml(GenTL::PORT_HANDLE port, const PortFunctions& functions,
                         UrlSource source) {
    const std::string url = ReadPortUrl(port, functions, source);
    const std::optional<LocalUrl> local = ParseLocalUrl(url);
    if (!local) throw std::runtime_error("not a Local: URL: \"" + url + "\"");
    if (local->size == 0) throw std::runtime_error("empty description in URL \"" + url + "\"");
    if (functions.readPort == nullptr) throw std::runtime_error("no GCReadPort");

    std::string xml(local->size, '\0');
    size_t size = xml.size();
    const GenTL::GC_ERROR status = functions.readPort(port, local->address, xml.data(), &size);
    if (status != GenTL::GC_ERR_SUCCESS)
        throw std::runtime_error(GcErrorText("GCReadPort of the description", status, functions));
    if (IsZipName(local->fileName)) return UnzipSingleFile(xml);
    const size_t end = xml.find_last_not_of('\0');
    xml.erase(end == std::string::npos ? 0 : end + 1);
    return xml;
}

GObjectPtr<ArvGc> CreateGenApi(ArvDevice* device, const std::string& xml) {
    GObjectPtr<ArvGc> gc(arv_gc_new(device, xml.data(), xml.size()));
    if (!gc) throw std::runtime_error("Aravis rejected the GenApi description");
    if (arv_gc_get_node(gc.get(), "Root") == nullptr)
        throw std::runtime_error("GenApi description without a Root node");

    auto* self = GENAPI_BRIDGE_PORT_DEVICE(device);
    if (self->genicam != nullptr)
        g_object_remove_weak_pointer(G_OBJECT(self->genicam),
                                     reinterpret_cast<gpointer*>(&self->genicam));
    self->genicam = gc.get();
    g_object_add_weak_pointer(G_OBJECT(self->genicam), reinterpret_cast<gpointer*>(&self->genicam));
    g_free(self->xml);
    self->xml = g_strndup(xml.data(), xml.size());
    self->xmlSize = xml.size();
    return gc;
}

// ---- GenApiPort

GenApiPort::GenApiPort(GenTL::PORT_HANDLE port, const PortFunctions& functions,
                       const std::string& xml)
    : m_xml(xml), m_device(CreatePortDevice(port, functions)), m_gc(CreateGenApi(Device(), xml)) {}

GenApiPort GenApiPort::FromPort(GenTL::PORT_HANDLE port, const PortFunctions& functions,
                                UrlSource source) {
    return GenApiPort(port, functions, FetchPortXml(port, functions, source));
}

ArvGcNode* GenApiPort::Node(const std::string& name) const {
    return arv_gc_get_node(m_gc.get(), name.c_str());
}

template <class T>
T* GenApiPort::NodeAs(const std::string& name, GType type) const {
    ArvGcNode* node = Node(name);
    if (node == nullptr) throw std::runtime_error("no GenApi node " + name);
    if (!G_TYPE_CHECK_INSTANCE_TYPE(node, type))
        throw std::runtime_error(name + " is a " + G_OBJECT_TYPE_NAME(node) + ", not a " +
                                 g_type_name(type));
    return reinterpret_cast<T*>(node);
}

int64_t GenApiPort::GetInteger(const std::string& name) const {
    GError* error = nullptr;
    const gint64 value =
        arv_gc_integer_get_value(NodeAs<ArvGcInteger>(name, ARV_TYPE_GC_INTEGER), &error);
    if (error != nullptr) throw std::runtime_error(TakeGError(name, error));
    return value;
}

void GenApiPort::SetInteger(const std::string& name, int64_t value) const {
    GError* error = nullptr;
    arv_gc_integer_set_value(NodeAs<ArvGcInteger>(name, ARV_TYPE_GC_INTEGER), value, &error);
    if (error != nullptr) throw std::runtime_error(TakeGError(name, error));
}

std::string GenApiPort::GetString(const std::string& name) const {
    GError* error = nullptr;
    const char* value =
        arv_gc_string_get_value(NodeAs<ArvGcString>(name, ARV_TYPE_GC_STRING), &error);
    if (error != nullptr) throw std::runtime_error(TakeGError(name, error));
    return value != nullptr ? value : "";
}

std::string GenApiPort::GetEnumeration(const std::string& name) const {
    GError* error = nullptr;
    const char* value = arv_gc_enumeration_get_string_value(
        NodeAs<ArvGcEnumeration>(name, ARV_TYPE_GC_ENUMERATION), &error);
    if (error != nullptr) throw std::runtime_error(TakeGError(name, error));
    return value != nullptr ? value : "";
}

void GenApiPort::SetEnumeration(const std::string& name, const std::string& entry) const {
    GError* error = nullptr;
    arv_gc_enumeration_set_string_value(NodeAs<ArvGcEnumeration>(name, ARV_TYPE_GC_ENUMERATION),
                                        entry.c_str(), &error);
    if (error != nullptr) throw std::runtime_error(TakeGError(name, error));
}

int64_t GenApiPort::GetEnumerationValue(const std::string& name) const {
    GError* error = nullptr;
    const gint64 value = arv_gc_enumeration_get_int_value(
        NodeAs<ArvGcEnumeration>(name, ARV_TYPE_GC_ENUMERATION), &error);
    if (error != nullptr) throw std::runtime_error(TakeGError(name, error));
    return value;
}

bool GenApiPort::GetBoolean(const std::string& name) const {
    GError* error = nullptr;
    const gboolean value =
        arv_gc_boolean_get_value(NodeAs<ArvGcBoolean>(name, ARV_TYPE_GC_BOOLEAN), &error);
    if (error != nullptr) throw std::runtime_error(TakeGError(name, error));
    return value != FALSE;
}

void GenApiPort::SetBoolean(const std::string& name, bool value) const {
    GError* error = nullptr;
    arv_gc_boolean_set_value(NodeAs<ArvGcBoolean>(name, ARV_TYPE_GC_BOOLEAN), value, &error);
    if (error != nullptr) throw std::runtime_error(TakeGError(name, error));
}

void GenApiPort::Execute(const std::string& name) const {
    GError* error = nullptr;
    arv_gc_command_execute(NodeAs<ArvGcCommand>(name, ARV_TYPE_GC_COMMAND), &error);
    if (error != nullptr) throw std::runtime_error(TakeGError(name, error));
}

bool GenApiPort::IsAvailable(const std::string& name) const {
    GError* error = nullptr;
    const gboolean available = arv_gc_feature_node_is_available(
        NodeAs<ArvGcFeatureNode>(name, ARV_TYPE_GC_FEATURE_NODE), &error);
    if (error != nullptr) throw std::runtime_error(TakeGError(name, error));
    return available != FALSE;
}

}  // namespace GenApiBridge

// The five module XML descriptions as a consumer's GenApi sees them: the system one read
// through the built library's port, the others from the resource files, all parsed by
// Aravis and checked against the module register layouts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "CtiLibrary.h"
#include "GenApiPortBridge.h"

#ifndef GEVTLKRV_RESOURCE_DIR
#error "GEVTLKRV_RESOURCE_DIR must name the directory of the module XML descriptions"
#endif

using GenApiBridge::GenApiPort;
using GenApiBridge::PortFunctions;

namespace {

// ---- Register layouts: register node, byte address, byte length, access mode.

struct RegisterEntry {
    const char* node;
    uint64_t address;
    uint64_t length;
    ArvGcAccessMode access;
};

constexpr ArvGcAccessMode RO = ARV_GC_ACCESS_MODE_RO;
constexpr ArvGcAccessMode WO = ARV_GC_ACCESS_MODE_WO;
constexpr ArvGcAccessMode RW = ARV_GC_ACCESS_MODE_RW;

const std::vector<RegisterEntry> kSystemRegisters = {
    {"InterfaceCount", 0x04, 4, RO},    {"r_InterfaceSelector", 0x08, 4, RW},
    {"TLType_Val", 0x0C, 4, RO},        {"r_InterfaceUpdateList", 0x44, 4, RW},
    {"TLVendorName", 0x48, 64, RO},     {"TLModelName", 0x88, 64, RO},
    {"TLVersion", 0xC8, 16, RO},        {"GenTLVersionMinor", 0xD8, 4, RO},
    {"GenTLVersionMajor", 0xDC, 4, RO}, {"TLID", 0x100, 256, RO},
    {"TLPath", 0x200, 1024, RO},        {"InterfaceID", 0x740, 256, RO},
};

const std::vector<RegisterEntry> kInterfaceRegisters = {
    {"InterfaceID", 0x000, 256, RO},
    {"InterfaceDisplayName", 0x100, 256, RO},
    {"r_UpdateDeviceList", 0x280, 4, WO},
    {"IgnoreSubnetReg", 0x284, 4, RW},
    {"DeviceID", 0x380, 256, RO},
    {"DeviceCount", 0x480, 4, RO},
    {"r_DeviceSelector", 0x484, 4, RW},
    {"DeviceVendorName", 0x488, 32, RO},
    {"DeviceModelName", 0x4A8, 32, RO},
    {"DeviceUserID", 0x4C8, 16, RO},
    {"DeviceSerialNumber", 0x4D8, 16, RO},
    {"GevDeviceIPAddressReg", 0x4E8, 4, RO},
    {"GevDeviceSubnetMaskReg", 0x4EC, 4, RO},
    {"GevDeviceGatewayReg", 0x4F0, 4, RO},
    {"GevDeviceMACAddressReg", 0x4F4, 8, RO},
    {"DeviceMACAddress", 0x4F4, 32, RO},
    {"GevAdapterIPAddressReg", 0x4FC, 4, RO},
    {"DeviceAccessStatusReg", 0x52C, 4, RO},
    {"DevicesOpen", 0x530, 4, RO},
    {"r_DeviceIsAccessible", 0x534, 4, RO},
    {"TLType_Val", 0x538, 4, RO},
    {"r_ForceIp", 0x540, 4, WO},
    {"ForceIpIpAddressReg", 0x544, 4, RW},
    {"ForceIpSubnetMaskReg", 0x548, 4, RW},
    {"ForceIpGatewayReg", 0x54C, 4, RW},
    {"ForceIpMACAddressReg", 0x550, 8, RW},
    {"ForceIpAdapterIpAddressReg", 0x558, 4, RW},
    {"ForceIpStatusReg", 0x55C, 4, RO},
};

const std::vector<RegisterEntry> kDeviceRegisters = {
    {"StreamCount", 0x04, 4, RO},
    {"r_StreamSelector", 0x08, 4, RW},
    {"StreamID", 0x80, 128, RO},
    {"DeviceID", 0x100, 256, RO},
    {"DeviceVendorName", 0x200, 32, RO},
    {"DeviceModelName", 0x220, 32, RO},
    {"GevDeviceIPAddressReg", 0x240, 4, RO},
    {"GevDeviceSubnetMaskReg", 0x244, 4, RO},
    {"GevDeviceGatewayReg", 0x248, 4, RO},
    {"GevDeviceMACAddressReg", 0x24C, 8, RO},
    {"TLType_Val", 0x280, 4, RO},
    {"HeartbeatTimeout", 0x284, 4, RW},
    {"GVCPAckTimeoutReg", 0x288, 4, RW},
    {"GVCPRetryCountReg", 0x28C, 4, RW},
    {"DeviceDisplayName", 0x300, 256, RO},
    {"StreamDisplayName", 0x400, 256, RO},
    {"EventSelectorReg", 0x290, 4, RW},
    {"EventNotificationReg", 0x294, 4, RW},
    // On the event port: the 16 bytes of a DeviceLost module event.
    {"EventDeviceLost", 0x0, 8, RO},
    {"EventDeviceLostTimestamp", 0x8, 8, RO},
};

const std::vector<RegisterEntry> kDataStreamRegisters = {
    {"StreamAnnouncedBufferCount", 0x04, 4, RO},
    {"TLType_Val", 0x08, 4, RO},
    {"EnablePacketResendReg", 0x10, 4, RW},
    {"PacketResendCount", 0x14, 4, RW},
    {"PacketTimeout", 0x18, 4, RW},
    {"ImageTimeout", 0x1C, 4, RW},
    {"PacketSize", 0x20, 4, RO},
    {"r_FindMaxPacketSize", 0x24, 4, WO},
    {"RingBufferCountReg", 0x28, 4, RW},
    {"EnableFilterDriverReg", 0x2C, 4, RW},
    {"StreamPayloadSize", 0x38, 4, RO},
    {"StreamAnnounceBufferMinimum", 0x40, 4, RO},
    {"StreamID", 0x80, 64, RO},
    {"StreamDisplayname", 0x100, 256, RO},
    {"pStreamBufferHandlingMode", 0x200, 4, RW},
    {"FilterDriverVersion", 0x204, 32, RO},
    {"UseUserBufferReg", 0x224, 4, RW},
    {"StreamStartedFrameCount", 0x228, 8, RO},
    {"StreamDeliveredFrameCount", 0x230, 8, RO},
    {"StreamLostFrameCount", 0x238, 8, RO},
    {"StreamIncompleteFrameCount", 0x240, 8, RO},
    {"StreamDiscardedFrameCount", 0x248, 8, RO},
    {"StreamMissingFrameCount", 0x250, 8, RO},
    {"StreamResendRequestedPacketCount", 0x258, 8, RO},
    {"StreamResentPacketCount", 0x260, 8, RO},
    {"StreamMissingPacketCount", 0x268, 8, RO},
    {"StreamInputBufferCount", 0x270, 4, RO},
    {"StreamOutputBufferCount", 0x0C, 4, RO},
    {"StreamIsGrabbingReg", 0x50, 4, RO},
};

const std::vector<RegisterEntry> kBufferRegisters = {
    {"TimestampReg", 0x10, 8, RO},
};

// ---- Features: name, GenApi kind, integer representation, whether a category holds it.

enum class Kind { Integer, String, Enumeration, Command, Boolean };

struct FeatureEntry {
    const char* name;
    Kind kind;
    ArvGcRepresentation representation = ARV_GC_REPRESENTATION_UNDEFINED;
    bool categorized = true;
};

constexpr ArvGcRepresentation IPV4 = ARV_GC_REPRESENTATION_IPV4_ADDRESS;
constexpr ArvGcRepresentation MAC = ARV_GC_REPRESENTATION_MAC_ADDRESS;
constexpr ArvGcRepresentation HEX = ARV_GC_REPRESENTATION_HEX_NUMBER;
constexpr ArvGcRepresentation ANY = ARV_GC_REPRESENTATION_UNDEFINED;

const std::vector<FeatureEntry> kSystemFeatures = {
    {"InterfaceCount", Kind::Integer},
    {"InterfaceSelector", Kind::Integer},
    {"TLType", Kind::Enumeration},
    {"InterfaceUpdateList", Kind::Command},
    {"TLVendorName", Kind::String},
    {"TLModelName", Kind::String},
    {"TLVersion", Kind::String},
    {"GenTLVersionMinor", Kind::Integer},
    {"GenTLVersionMajor", Kind::Integer},
    {"TLID", Kind::String},
    {"TLPath", Kind::String},
    {"InterfaceID", Kind::String},
};

const std::vector<FeatureEntry> kInterfaceFeatures = {
    {"InterfaceID", Kind::String},
    {"InterfaceDisplayName", Kind::String},
    {"DeviceUpdateList", Kind::Command},
    {"IgnoreSubnet", Kind::Boolean},
    {"DeviceID", Kind::String},
    {"DeviceCount", Kind::Integer},
    {"DeviceSelector", Kind::Integer},
    {"DeviceVendorName", Kind::String},
    {"DeviceModelName", Kind::String},
    {"DeviceUserID", Kind::String},
    {"DeviceSerialNumber", Kind::String},
    {"GevDeviceIPAddress", Kind::Integer, IPV4},
    {"GevDeviceSubnetMask", Kind::Integer, IPV4},
    {"GevDeviceGateway", Kind::Integer, IPV4},
    {"GevDeviceMACAddress", Kind::Integer, MAC},
    {"DeviceMACAddress", Kind::String, ANY, false},
    {"GevAdapterIPAddress", Kind::Integer, IPV4},
    {"DeviceAccessStatus", Kind::Enumeration},
    {"DevicesOpen", Kind::Integer, ANY, false},
    {"DeviceIsAccessible", Kind::Boolean},
    {"InterfaceType", Kind::Enumeration},
    {"ForceIp", Kind::Command},
    {"ForceIpIpAddress", Kind::Integer, IPV4},
    {"ForceIpSubnetMask", Kind::Integer, IPV4},
    {"ForceIpGateway", Kind::Integer, IPV4},
    {"ForceIpMACAddress", Kind::Integer, MAC},
    {"ForceIpAdapterIpAddress", Kind::Integer, IPV4},
    {"ForceIpStatus", Kind::Integer, HEX},
};

const std::vector<FeatureEntry> kDeviceFeatures = {
    {"StreamCount", Kind::Integer},
    {"StreamSelector", Kind::Integer},
    {"StreamID", Kind::String},
    {"DeviceID", Kind::String},
    {"DeviceVendorName", Kind::String},
    {"DeviceModelName", Kind::String},
    {"GevDeviceIPAddress", Kind::Integer, IPV4},
    {"GevDeviceSubnetMask", Kind::Integer, IPV4},
    {"GevDeviceGateway", Kind::Integer, IPV4},
    {"GevDeviceMACAddress", Kind::Integer, MAC},
    {"DeviceType", Kind::Enumeration},
    {"HeartbeatTimeout", Kind::Integer},
    {"GVCPAckTimeout", Kind::Integer},
    {"GVCPRetryCount", Kind::Integer},
    {"DeviceDisplayName", Kind::String, ANY, false},
    {"StreamDisplayName", Kind::String},
    {"EventSelector", Kind::Enumeration},
    {"EventNotification", Kind::Enumeration},
    {"EventDeviceLost", Kind::Integer},
    {"EventDeviceLostTimestamp", Kind::Integer},
};

const std::vector<FeatureEntry> kDataStreamFeatures = {
    {"StreamAcquisitionModeSelector", Kind::Enumeration},
    {"StreamAnnouncedBufferCount", Kind::Integer},
    {"StreamType", Kind::Enumeration},
    {"EnablePacketResend", Kind::Boolean},
    {"PacketResendCount", Kind::Integer},
    {"PacketTimeout", Kind::Integer},
    {"ImageTimeout", Kind::Integer},
    {"PacketSize", Kind::Integer},
    {"FindMaxPacketSize", Kind::Command},
    {"RingBufferCount", Kind::Integer},
    {"EnableFilterDriver", Kind::Boolean},
    {"StreamPayloadSize", Kind::Integer},
    {"StreamAnnounceBufferMinimum", Kind::Integer},
    {"StreamID", Kind::String},
    {"StreamDisplayname", Kind::String},
    {"StreamBufferHandlingMode", Kind::Enumeration},
    {"FilterDriverVersion", Kind::String},
    {"UseUserBuffer", Kind::Boolean},
    {"Settings_Update", Kind::Command},
    {"StreamStartedFrameCount", Kind::Integer},
    {"StreamDeliveredFrameCount", Kind::Integer},
    {"StreamLostFrameCount", Kind::Integer},
    {"StreamIncompleteFrameCount", Kind::Integer},
    {"StreamDiscardedFrameCount", Kind::Integer},
    {"StreamMissingFrameCount", Kind::Integer},
    {"StreamResendRequestedPacketCount", Kind::Integer},
    {"StreamResentPacketCount", Kind::Integer},
    {"StreamMissingPacketCount", Kind::Integer},
    {"StreamInputBufferCount", Kind::Integer},
    {"StreamOutputBufferCount", Kind::Integer},
    {"StreamIsGrabbing", Kind::Boolean},
};

const std::vector<FeatureEntry> kBufferFeatures = {
    {"CMD_Info_Update", Kind::Command},
    {"TimestampReg", Kind::Integer},
};

// ---- Root attributes of each description.

struct DescriptionEntry {
    const char* file;
    const char* port;
    const char* modelName;
    const char* toolTip;
    const char* schemaVersion;    // major.minor.subminor
    const char* documentVersion;  // major.minor.subminor
    std::vector<const char*> categories;
    const std::vector<RegisterEntry>* registers;
    const std::vector<FeatureEntry>* features;
    // Ports of module events, besides the module's own.
    std::vector<const char*> eventPorts = {};
};

const std::vector<DescriptionEntry> kDescriptions = {
    {"KRTL.xml",
     "TLPort",
     "GEVTLKRV",
     "TL RegisterMap",
     "1.0.1",
     "1.0.2",
     {"SystemInformation", "InterfaceEnumeration"},
     &kSystemRegisters,
     &kSystemFeatures},
    {"KRTLI.xml",
     "InterfacePort",
     "GEVTLKRV",
     "TL Interface RegisterMap",
     "1.1.0",
     "1.1.0",
     {"CAT_Info", "CAT_DeviceDiscovery", "CAT_DeviceEnum", "CAT_IP_Configuration"},
     &kInterfaceRegisters,
     &kInterfaceFeatures},
    {"KRDEVTL.xml",
     "DevicePort",
     "GEVTLKRV",
     "TL Device RegisterMap",
     "1.1.0",
     "1.0.5",
     {"DeviceInformation", "DeviceParameter", "TransportParameter", "Stream", "EventControl"},
     &kDeviceRegisters,
     &kDeviceFeatures,
     {"EventDeviceLostPort"}},
    {"KRDS.xml",
     "StreamPort",
     "GEVTLKRV",
     "GenICam TL DataStream Interface",
     "1.0.1",
     "1.0.9",
     {"Info", "StreamParameter"},
     &kDataStreamRegisters,
     &kDataStreamFeatures},
    {"KRGEVTLBuf.xml",
     "BufferPort",
     "GEVTLKRV_Buffer",
     "Buffer RegisterMap",
     "1.0.1",
     "1.0.3",
     {"CAT_BufferInfo"},
     &kBufferRegisters,
     &kBufferFeatures},
};

void PrintTo(const DescriptionEntry& description, std::ostream* out) {
    *out << description.file;
}

std::string ReadResourceFile(const std::string& name) {
    std::ifstream file(std::string(GEVTLKRV_RESOURCE_DIR) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// ---- A register memory standing in for a module port, for the descriptions whose
// modules cannot be reached yet. The PORT_HANDLE is the FakePort itself.

struct FakePort {
    std::vector<uint8_t> memory = std::vector<uint8_t>(0x1000, 0);
    std::vector<std::pair<uint64_t, size_t>> writes;

    void Set32(uint64_t address, uint32_t value) { std::memcpy(&memory[address], &value, 4); }
    void Set64(uint64_t address, uint64_t value) { std::memcpy(&memory[address], &value, 8); }
    void SetText(uint64_t address, const char* text) {
        std::memcpy(&memory[address], text, std::strlen(text) + 1);
    }
    uint32_t Get32(uint64_t address) const {
        uint32_t value;
        std::memcpy(&value, &memory[address], 4);
        return value;
    }
    uint64_t Get64(uint64_t address) const {
        uint64_t value;
        std::memcpy(&value, &memory[address], 8);
        return value;
    }
};

GenTL::GC_ERROR FakeRead(GenTL::PORT_HANDLE handle, uint64_t address, void* buffer, size_t* size) {
    auto* port = static_cast<FakePort*>(handle);
    if (address + *size > port->memory.size()) return GenTL::GC_ERR_INVALID_ADDRESS;
    std::memcpy(buffer, &port->memory[address], *size);
    return GenTL::GC_ERR_SUCCESS;
}

GenTL::GC_ERROR FakeWrite(GenTL::PORT_HANDLE handle, uint64_t address, const void* buffer,
                          size_t* size) {
    auto* port = static_cast<FakePort*>(handle);
    if (address + *size > port->memory.size()) return GenTL::GC_ERR_INVALID_ADDRESS;
    std::memcpy(&port->memory[address], buffer, *size);
    port->writes.emplace_back(address, *size);
    return GenTL::GC_ERR_SUCCESS;
}

const PortFunctions kFakeFunctions{FakeRead, FakeWrite, nullptr, nullptr};

// ---- Checks shared by the file and port paths.

void CollectCategorized(ArvGc* gc, const char* category, std::set<std::string>* names) {
    ArvGcNode* node = arv_gc_get_node(gc, category);
    ASSERT_NE(node, nullptr) << category;
    ASSERT_TRUE(ARV_IS_GC_CATEGORY(node)) << category;
    for (const GSList* item = arv_gc_category_get_features(ARV_GC_CATEGORY(node)); item != nullptr;
         item = item->next) {
        const char* name = static_cast<const char*>(item->data);
        names->insert(name);
        if (ARV_IS_GC_CATEGORY(arv_gc_get_node(gc, name))) CollectCategorized(gc, name, names);
    }
}

void ExpectRegisterLayout(ArvGc* gc, const std::vector<RegisterEntry>& table, const char* portName,
                          const std::vector<const char*>& eventPorts) {
    std::set<std::string> expected;
    for (const RegisterEntry& entry : table) {
        SCOPED_TRACE(entry.node);
        expected.insert(entry.node);
        ArvGcNode* node = arv_gc_get_node(gc, entry.node);
        ASSERT_NE(node, nullptr);
        ASSERT_TRUE(ARV_IS_GC_REGISTER(node)) << G_OBJECT_TYPE_NAME(node);
        GError* error = nullptr;
        EXPECT_EQ(arv_gc_register_get_address(ARV_GC_REGISTER(node), &error), entry.address);
        EXPECT_EQ(error, nullptr);
        EXPECT_EQ(arv_gc_register_get_length(ARV_GC_REGISTER(node), &error), entry.length);
        EXPECT_EQ(error, nullptr);
        g_clear_error(&error);
        EXPECT_EQ(arv_gc_feature_node_get_actual_access_mode(ARV_GC_FEATURE_NODE(node)),
                  entry.access);
    }
    // No register outside the layout, and every one on the module's port.
    ArvDomNode* root = ARV_DOM_NODE(arv_dom_document_get_document_element(ARV_DOM_DOCUMENT(gc)));
    int ports = 0;
    for (ArvDomNode* child = arv_dom_node_get_first_child(root); child != nullptr;
         child = arv_dom_node_get_next_sibling(child)) {
        if (ARV_IS_GC_PORT(child)) {
            const std::string name = arv_gc_feature_node_get_name(ARV_GC_FEATURE_NODE(child));
            if (name == portName)
                ++ports;
            else
                EXPECT_NE(std::find(eventPorts.begin(), eventPorts.end(), name), eventPorts.end())
                    << "port " << name << " is neither the module's nor an event's";
        }
        if (!ARV_IS_GC_REGISTER(child)) continue;
        const char* name = arv_gc_feature_node_get_name(ARV_GC_FEATURE_NODE(child));
        EXPECT_EQ(expected.count(name), 1u) << "register " << name << " is not in the layout";
    }
    EXPECT_EQ(ports, 1);
}

void ExpectFeatures(ArvGc* gc, const DescriptionEntry& description) {
    std::set<std::string> categorized;
    CollectCategorized(gc, "Root", &categorized);
    for (const char* category : description.categories)
        EXPECT_EQ(categorized.count(category), 1u) << category << " is not under Root";

    for (const FeatureEntry& feature : *description.features) {
        SCOPED_TRACE(feature.name);
        ArvGcNode* node = arv_gc_get_node(gc, feature.name);
        ASSERT_NE(node, nullptr) << "missing feature";
        switch (feature.kind) {
            case Kind::Integer:
                ASSERT_TRUE(ARV_IS_GC_INTEGER(node)) << G_OBJECT_TYPE_NAME(node);
                EXPECT_EQ(arv_gc_integer_get_representation(ARV_GC_INTEGER(node)),
                          feature.representation);
                break;
            case Kind::String:
                EXPECT_TRUE(ARV_IS_GC_STRING(node)) << G_OBJECT_TYPE_NAME(node);
                break;
            case Kind::Enumeration:
                EXPECT_TRUE(ARV_IS_GC_ENUMERATION(node)) << G_OBJECT_TYPE_NAME(node);
                break;
            case Kind::Command:
                EXPECT_TRUE(ARV_IS_GC_COMMAND(node)) << G_OBJECT_TYPE_NAME(node);
                break;
            case Kind::Boolean:
                EXPECT_TRUE(ARV_IS_GC_BOOLEAN(node)) << G_OBJECT_TYPE_NAME(node);
                break;
        }
        EXPECT_EQ(categorized.count(feature.name), feature.categorized ? 1u : 0u)
            << (feature.categorized ? "not reachable from Root" : "must not be in a category");
    }
}

// Attributes of the RegisterDescription start tag, read from the text: Aravis keeps only
// the ones it uses.
std::map<std::string, std::string> RootAttributes(const std::string& xml) {
    std::map<std::string, std::string> attributes;
    const size_t begin = xml.find("<RegisterDescription");
    if (begin == std::string::npos) return attributes;
    const std::string tag = xml.substr(begin, xml.find('>', begin) - begin);
    auto isName = [](char c) {
        return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == ':';
    };
    auto isBlank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    // name = "value", the value up to the next quote.
    for (size_t i = 0; i < tag.size();) {
        if (!isName(tag[i])) {
            ++i;
            continue;
        }
        const size_t nameBegin = i;
        while (i < tag.size() && isName(tag[i])) ++i;
        const std::string name = tag.substr(nameBegin, i - nameBegin);
        size_t at = i;
        while (at < tag.size() && isBlank(tag[at])) ++at;
        if (at >= tag.size() || tag[at] != '=') continue;
        ++at;
        while (at < tag.size() && isBlank(tag[at])) ++at;
        if (at >= tag.size() || tag[at] != '"') continue;
        const size_t end = tag.find('"', at + 1);
        if (end == std::string::npos) break;
        attributes[name] = tag.substr(at + 1, end - at - 1);
        i = end + 1;
    }
    return attributes;
}

// 8-4-4-4-12 hexadecimal digits.
bool IsGuid(const std::string& text) {
    const size_t groups[] = {8, 4, 4, 4, 12};
    size_t at = 0;
    for (size_t group = 0; group < 5; ++group) {
        if (group > 0 && (at >= text.size() || text[at++] != '-')) return false;
        for (size_t digit = 0; digit < groups[group]; ++digit, ++at)
            if (at >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[at])))
                return false;
    }
    return at == text.size();
}

// Four dot-separated decimal numbers, as "1.0.0.1".
bool IsFourPartVersion(const std::string& text) {
    size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && (at >= text.size() || text[at++] != '.')) return false;
        const size_t digits = at;
        while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) ++at;
        if (at == digits) return false;
    }
    return at == text.size();
}

// The name getters of the register description node hand out the node's own strings.
std::string NodeText(const char* text) {
    return text != nullptr ? text : "";
}

void ExpectRootAttributes(ArvGc* gc, const std::string& xml, const DescriptionEntry& description) {
    ArvDomElement* root = arv_dom_document_get_document_element(ARV_DOM_DOCUMENT(gc));
    ASSERT_TRUE(ARV_IS_GC_REGISTER_DESCRIPTION_NODE(root));
    auto* node = ARV_GC_REGISTER_DESCRIPTION_NODE(root);
    EXPECT_EQ(NodeText(arv_gc_register_description_node_get_model_name(node)),
              description.modelName);
    EXPECT_EQ(NodeText(arv_gc_register_description_node_get_vendor_name(node)), "Tarvane");
    auto version = [](guint major, guint minor, guint subMinor) {
        return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(subMinor);
    };
    EXPECT_EQ(version(arv_gc_register_description_node_get_schema_major_version(node),
                      arv_gc_register_description_node_get_schema_minor_version(node),
                      arv_gc_register_description_node_get_schema_subminor_version(node)),
              description.schemaVersion);
    EXPECT_EQ(version(arv_gc_register_description_node_get_major_version(node),
                      arv_gc_register_description_node_get_minor_version(node),
                      arv_gc_register_description_node_get_subminor_version(node)),
              description.documentVersion);

    std::map<std::string, std::string> attributes = RootAttributes(xml);
    EXPECT_EQ(attributes["StandardNameSpace"], "None");
    EXPECT_EQ(attributes["ToolTip"], description.toolTip);
    EXPECT_TRUE(IsGuid(attributes["ProductGuid"])) << attributes["ProductGuid"];
    EXPECT_TRUE(IsGuid(attributes["VersionGuid"])) << attributes["VersionGuid"];
    EXPECT_NE(attributes["ProductGuid"], attributes["VersionGuid"]);
    const std::string schema = description.schemaVersion;
    EXPECT_EQ(attributes["xmlns"], "http://www.genicam.org/GenApi/Version_" + schema.substr(0, 1) +
                                       "_" + schema.substr(2, 1));
}

void ExpectDescription(ArvGc* gc, const std::string& xml, const DescriptionEntry& description) {
    ExpectRootAttributes(gc, xml, description);
    ExpectFeatures(gc, description);
    ExpectRegisterLayout(gc, *description.registers, description.port, description.eventPorts);
}

// ---- The resource files, parsed by Aravis.

class ResourceDescriptionTest : public ::testing::TestWithParam<DescriptionEntry> {};

TEST_P(ResourceDescriptionTest, ParsesWithEveryFeatureAtItsRegister) {
    const DescriptionEntry& description = GetParam();
    const std::string xml = ReadResourceFile(description.file);
    ASSERT_FALSE(xml.empty()) << description.file;
    FakePort memory;
    GenApiPort port(&memory, kFakeFunctions, xml);
    ExpectDescription(port.Gc(), xml, description);
    EXPECT_TRUE(memory.writes.empty());
}

INSTANTIATE_TEST_SUITE_P(Modules, ResourceDescriptionTest, ::testing::ValuesIn(kDescriptions),
                         [](const auto& info) {
                             std::string name = info.param.file;
                             name.erase(name.find('.'));
                             return name;
                         });

// ---- Behaviour of the descriptions over a register memory.

struct ModuleFixture {
    explicit ModuleFixture(const char* file)
        : port(&memory, kFakeFunctions, ReadResourceFile(file)) {}
    FakePort memory;
    GenApiPort port;
};

struct SelectorEntry {
    const char* file;
    const char* selector;
    const char* availability;
    uint64_t countAddress;
    uint64_t selectorAddress;
    std::vector<const char*> selected;
};

const std::vector<SelectorEntry> kSelectors = {
    {"KRTL.xml", "InterfaceSelector", "TLIndexAvailable", 0x04, 0x08, {"InterfaceID"}},
    {"KRTLI.xml",
     "DeviceSelector",
     "DeviceIndexAvailable",
     0x480,
     0x484,
     {"DeviceID", "DeviceVendorName", "DeviceModelName", "DeviceUserID", "DeviceSerialNumber",
      "DeviceAccessStatus", "DeviceIsAccessible", "GevDeviceIPAddress", "GevDeviceSubnetMask",
      "GevDeviceGateway", "GevDeviceMACAddress", "DeviceMACAddress", "GevAdapterIPAddress"}},
    {"KRDEVTL.xml",
     "StreamSelector",
     "StreramIndexAvailable",
     0x04,
     0x08,
     {"StreamID", "StreamDisplayName"}},
};

TEST(ModuleXmlSelectors, RangeAndAvailabilityFollowTheCount) {
    for (const SelectorEntry& entry : kSelectors) {
        SCOPED_TRACE(entry.selector);
        ModuleFixture module(entry.file);
        GenApiPort& port = module.port;

        ArvGcNode* node = port.Node(entry.selector);
        ASSERT_NE(node, nullptr);
        std::set<std::string> selected;
        for (const GSList* item = arv_gc_selector_get_selected_features(ARV_GC_SELECTOR(node));
             item != nullptr; item = item->next)
            selected.insert(arv_gc_feature_node_get_name(ARV_GC_FEATURE_NODE(item->data)));
        EXPECT_EQ(selected, std::set<std::string>(entry.selected.begin(), entry.selected.end()));

        module.memory.Set32(entry.countAddress, 0);
        EXPECT_FALSE(port.IsAvailable(entry.selector));
        EXPECT_EQ(port.GetInteger(entry.availability), 0);

        module.memory.Set32(entry.countAddress, 3);
        EXPECT_TRUE(port.IsAvailable(entry.selector));
        EXPECT_EQ(port.GetInteger(entry.availability), 1);
        GError* error = nullptr;
        EXPECT_EQ(arv_gc_integer_get_min(ARV_GC_INTEGER(node), &error), 0);
        EXPECT_EQ(arv_gc_integer_get_max(ARV_GC_INTEGER(node), &error), 2);
        EXPECT_EQ(error, nullptr);
        g_clear_error(&error);

        port.SetInteger(entry.selector, 2);
        EXPECT_EQ(module.memory.Get32(entry.selectorAddress), 2u);
        module.memory.Set32(entry.selectorAddress, 1);
        EXPECT_EQ(port.GetInteger(entry.selector), 1);
    }
}

// Device features of the interface are available only while devices were found.
TEST(ModuleXmlSelectors, SelectedDeviceFeaturesNeedADevice) {
    ModuleFixture module("KRTLI.xml");
    for (const char* feature : kSelectors[1].selected) {
        SCOPED_TRACE(feature);
        module.memory.Set32(0x480, 0);
        EXPECT_FALSE(module.port.IsAvailable(feature));
        module.memory.Set32(0x480, 1);
        EXPECT_TRUE(module.port.IsAvailable(feature));
    }
}

struct EnumerationEntry {
    const char* file;
    const char* feature;
    uint64_t address;  // 0 with `constant`: the value is part of the description
    bool constant;
    std::vector<std::pair<int64_t, const char*>> entries;
};

const std::vector<EnumerationEntry> kEnumerations = {
    {"KRTL.xml", "TLType", 0x0C, false, {{2, "GEV"}}},
    {"KRTLI.xml", "InterfaceType", 0x538, false, {{2, "GEV"}}},
    {"KRTLI.xml",
     "DeviceAccessStatus",
     0x52C,
     false,
     {{1, "ReadWrite"},
      {2, "ReadOnly"},
      {3, "NoAccess"},
      {5, "OpenReadWrite"},
      {6, "OpenReadOnly"}}},
    {"KRDEVTL.xml", "DeviceType", 0x280, false, {{2, "GEV"}}},
    {"KRDEVTL.xml", "EventSelector", 0x290, false, {{0, "DeviceLost"}}},
    {"KRDEVTL.xml", "EventNotification", 0x294, false, {{0, "Off"}, {1, "On"}}},
    {"KRDS.xml", "StreamType", 0x08, false, {{2, "GEV"}}},
    {"KRDS.xml",
     "StreamBufferHandlingMode",
     0x200,
     false,
     {{1, "OldestFirst"}, {2, "OldestFirstOverwrite"}, {3, "NewestOnly"}}},
    {"KRDS.xml", "StreamAcquisitionModeSelector", 0, true, {{0, "Default"}}},
};

TEST(ModuleXmlEnumerations, EntriesMapRegisterValuesToNames) {
    for (const EnumerationEntry& entry : kEnumerations) {
        SCOPED_TRACE(entry.feature);
        ModuleFixture module(entry.file);
        ArvGcNode* node = module.port.Node(entry.feature);
        ASSERT_TRUE(ARV_IS_GC_ENUMERATION(node));
        EXPECT_EQ(g_slist_length(const_cast<GSList*>(
                      arv_gc_enumeration_get_entries(ARV_GC_ENUMERATION(node)))),
                  entry.entries.size());
        for (const auto& [value, name] : entry.entries) {
            if (!entry.constant) module.memory.Set32(entry.address, static_cast<uint32_t>(value));
            EXPECT_EQ(module.port.GetEnumeration(entry.feature), name);
            EXPECT_EQ(module.port.GetEnumerationValue(entry.feature), value);
        }
        EXPECT_TRUE(module.memory.writes.empty());
    }
}

struct BooleanEntry {
    const char* file;
    const char* feature;
    uint64_t address;
    bool writable;
};

const std::vector<BooleanEntry> kBooleans = {
    {"KRTLI.xml", "IgnoreSubnet", 0x284, true},
    {"KRTLI.xml", "DeviceIsAccessible", 0x534, false},
    {"KRDS.xml", "EnablePacketResend", 0x10, true},
    {"KRDS.xml", "EnableFilterDriver", 0x2C, true},
    {"KRDS.xml", "UseUserBuffer", 0x224, true},
    {"KRDS.xml", "StreamIsGrabbing", 0x50, false},
};

TEST(ModuleXmlBooleans, OneIsTrueZeroIsFalse) {
    for (const BooleanEntry& entry : kBooleans) {
        SCOPED_TRACE(entry.feature);
        ModuleFixture module(entry.file);
        module.memory.Set32(entry.address, 1);
        EXPECT_TRUE(module.port.GetBoolean(entry.feature));
        module.memory.Set32(entry.address, 0);
        EXPECT_FALSE(module.port.GetBoolean(entry.feature));
        if (!entry.writable) continue;
        module.port.SetBoolean(entry.feature, true);
        EXPECT_EQ(module.memory.Get32(entry.address), 1u);
        module.port.SetBoolean(entry.feature, false);
        EXPECT_EQ(module.memory.Get32(entry.address), 0u);
    }
}

// DeviceIsAccessible is bit 0 of its register; the other bits do not count.
TEST(ModuleXmlBooleans, DeviceIsAccessibleReadsBitZeroOnly) {
    ModuleFixture module("KRTLI.xml");
    module.memory.Set32(0x534, 0xFFFFFFFEu);
    EXPECT_FALSE(module.port.GetBoolean("DeviceIsAccessible"));
    module.memory.Set32(0x534, 0x00000003u);
    EXPECT_TRUE(module.port.GetBoolean("DeviceIsAccessible"));
}

struct CommandEntry {
    const char* file;
    const char* feature;
    int64_t address;  // -1: a command without register
};

const std::vector<CommandEntry> kCommands = {
    {"KRTL.xml", "InterfaceUpdateList", 0x44}, {"KRTLI.xml", "DeviceUpdateList", 0x280},
    {"KRTLI.xml", "ForceIp", 0x540},           {"KRDS.xml", "FindMaxPacketSize", 0x24},
    {"KRDS.xml", "Settings_Update", -1},       {"KRGEVTLBuf.xml", "CMD_Info_Update", -1},
};

TEST(ModuleXmlCommands, ExecuteWritesOneToTheCommandRegister) {
    for (const CommandEntry& entry : kCommands) {
        SCOPED_TRACE(entry.feature);
        ModuleFixture module(entry.file);
        EXPECT_NO_THROW(module.port.Execute(entry.feature));
        if (entry.address < 0) {
            EXPECT_TRUE(module.memory.writes.empty());
            continue;
        }
        ASSERT_EQ(module.memory.writes.size(), 1u);
        EXPECT_EQ(module.memory.writes[0],
                  std::make_pair(static_cast<uint64_t>(entry.address), static_cast<size_t>(4)));
        EXPECT_EQ(module.memory.Get32(entry.address), 1u);
    }
}

struct RangeEntry {
    const char* file;
    const char* feature;
    int64_t minimum;
    int64_t maximum;
};

const std::vector<RangeEntry> kRanges = {
    {"KRDEVTL.xml", "GVCPAckTimeout", 40, 2000},
    {"KRDEVTL.xml", "GVCPRetryCount", 0, 10},
    {"KRDS.xml", "RingBufferCount", 1, 65535},
};

TEST(ModuleXmlIntegers, FixedRanges) {
    for (const RangeEntry& entry : kRanges) {
        SCOPED_TRACE(entry.feature);
        ModuleFixture module(entry.file);
        ArvGcNode* node = module.port.Node(entry.feature);
        ASSERT_TRUE(ARV_IS_GC_INTEGER(node));
        GError* error = nullptr;
        EXPECT_EQ(arv_gc_integer_get_min(ARV_GC_INTEGER(node), &error), entry.minimum);
        EXPECT_EQ(arv_gc_integer_get_max(ARV_GC_INTEGER(node), &error), entry.maximum);
        EXPECT_EQ(error, nullptr);
        g_clear_error(&error);
    }
}

// IPv4 registers read the word as stored (little-endian); the MAC registers hold
// the six address bytes in wire order, then two zero bytes, whatever the top bit.
TEST(ModuleXmlIntegers, AddressesReadTheirRegistersLittleEndian) {
    ModuleFixture module("KRTLI.xml");
    module.memory.Set32(0x480, 1);
    module.memory.Set32(0x4E8, 0xC0A80A14u);
    module.memory.Set32(0x4F4, 0xD4C3B2A1u);  // bytes A1 B2 C3 D4
    module.memory.Set32(0x4F8, 0x0000F6E5u);  // bytes E5 F6 00 00
    module.memory.Set32(0x55C, 0x8003u);
    EXPECT_EQ(module.port.GetInteger("GevDeviceIPAddress"), 0xC0A80A14);
    EXPECT_EQ(module.port.GetInteger("GevDeviceMACAddress"), 0xA1B2C3D4E5F6);
    EXPECT_EQ(module.port.GetInteger("ForceIpStatus"), 0x8003);

    module.port.SetInteger("ForceIpMACAddress", 0x112233445566);
    EXPECT_EQ(module.memory.Get32(0x550), 0x44332211u);
    EXPECT_EQ(module.memory.Get32(0x554), 0x00006655u);
    EXPECT_EQ(module.port.GetInteger("ForceIpMACAddress"), 0x112233445566);
    module.port.SetInteger("ForceIpIpAddress", 0x0A000001);
    EXPECT_EQ(module.memory.Get32(0x544), 0x0A000001u);
}

TEST(ModuleXmlStrings, TextRegistersStopAtTheFirstNul) {
    ModuleFixture module("KRDS.xml");
    module.memory.SetText(0x204, "Filter driver not enabled");
    module.memory.SetText(0x80, "Stream0");
    EXPECT_EQ(module.port.GetString("FilterDriverVersion"), "Filter driver not enabled");
    EXPECT_EQ(module.port.GetString("StreamID"), "Stream0");
}

// ---- The consumer's reading of "Local:" URLs.

TEST(LocalUrl, FileAddressAndSizeInHexadecimal) {
    for (const char* url : {"Local:KRTL.xml;940;1b2c", "Local:KRTL.xml;940;1b2c;",
                            "local:KRTL.xml;0x940;0x1B2C?SchemaVersion=1.0.1"}) {
        SCOPED_TRACE(url);
        const auto local = GenApiBridge::ParseLocalUrl(url);
        ASSERT_TRUE(local.has_value());
        EXPECT_EQ(local->fileName, "KRTL.xml");
        EXPECT_EQ(local->address, 0x940u);
        EXPECT_EQ(local->size, 0x1B2Cu);
    }
    for (const char* url : {"File:///KRTL.xml", "Local:KRTL.xml;940", "Local:;940;10",
                            "Local:KRTL.xml;94g;10", "Local:KRTL.xml;940;10;;", ""}) {
        SCOPED_TRACE(url);
        EXPECT_FALSE(GenApiBridge::ParseLocalUrl(url).has_value());
    }
}

// ---- The system module of the built library, read as a consumer reads it.

class SystemModuleXmlTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(m_cti.GCInitLib(), GenTL::GC_ERR_SUCCESS);
        ASSERT_EQ(m_cti.TLOpen(&m_system), GenTL::GC_ERR_SUCCESS) << m_cti.LastErrorText();
        ASSERT_NE(m_system, nullptr);
    }
    void TearDown() override {
        if (m_system != nullptr) {
            EXPECT_EQ(m_cti.TLClose(m_system), GenTL::GC_ERR_SUCCESS);
        }
        m_cti.GCCloseLib();
    }

    PortFunctions Functions() const { return GenApiBridge::PortFunctionsOf(m_cti); }

    std::string LibraryInfo(GenTL::TL_INFO_CMD command) {
        GenTL::INFO_DATATYPE type = 0;
        char text[2048] = {};
        size_t size = sizeof text;
        EXPECT_EQ(m_cti.GCGetInfo(command, &type, text, &size), GenTL::GC_ERR_SUCCESS);
        EXPECT_EQ(type, GenTL::INFO_DATATYPE_STRING);
        return text;
    }

    uint32_t ReadWord(uint64_t address) {
        uint32_t value = 0xDEADBEEF;
        size_t size = sizeof value;
        EXPECT_EQ(m_cti.GCReadPort(m_system, address, &value, &size), GenTL::GC_ERR_SUCCESS);
        return value;
    }

    TestSupport::CtiLibrary m_cti;
    GenTL::TL_HANDLE m_system = nullptr;
};

TEST_F(SystemModuleXmlTest, UrlNamesTheDescriptionInsideThePort) {
    const std::string url = GenApiBridge::ReadPortUrl(m_system, Functions());
    EXPECT_EQ(
        GenApiBridge::ReadPortUrl(m_system, Functions(), GenApiBridge::UrlSource::PortUrlInfo),
        url);
    const auto local = GenApiBridge::ParseLocalUrl(url);
    ASSERT_TRUE(local.has_value()) << url;
    EXPECT_EQ(local->fileName, "KRTL.xml");
    EXPECT_EQ(local->address, 0x940u);

    // The description is the resource file, padded with 1 to 4 NULs to whole words.
    const std::string file = ReadResourceFile("KRTL.xml");
    EXPECT_EQ(local->size % 4, 0u);
    EXPECT_GT(local->size, file.size());
    EXPECT_LE(local->size, file.size() + 4);
    EXPECT_EQ(GenApiBridge::FetchPortXml(m_system, Functions()), file);
}

TEST_F(SystemModuleXmlTest, DescriptionFromThePortHasTheSystemLayout) {
    const GenApiPort port = GenApiPort::FromPort(m_system, Functions());
    ExpectDescription(port.Gc(), port.Xml(), kDescriptions[0]);
}

TEST_F(SystemModuleXmlTest, EveryFeatureReadsTheRegisterMap) {
    const GenApiPort port = GenApiPort::FromPort(m_system, Functions());
    const std::string path = GEVTLKRV_CTI_PATH;

    EXPECT_EQ(port.GetString("TLVendorName"), "Tarvane GmbH");
    EXPECT_EQ(port.GetString("TLModelName"), "GEVTLKRV");
    EXPECT_EQ(port.GetEnumeration("TLType"), "GEV");
    EXPECT_EQ(port.GetEnumerationValue("TLType"), 2);
    EXPECT_EQ(port.GetInteger("GenTLVersionMajor"), 1);
    EXPECT_EQ(port.GetInteger("GenTLVersionMinor"), 6);
    EXPECT_EQ(port.GetString("TLID"), "GEVTLKRV.cti");
    EXPECT_EQ(port.GetString("TLID"), path.substr(path.rfind('/') + 1));
    EXPECT_EQ(port.GetString("TLPath"), path);
    EXPECT_EQ(port.GetString("TLPath"), LibraryInfo(GenTL::TL_INFO_PATHNAME));
    const std::string version = port.GetString("TLVersion");
    EXPECT_TRUE(IsFourPartVersion(version)) << version;
    EXPECT_EQ(version, LibraryInfo(GenTL::TL_INFO_VERSION));

    // Before the first update there is no interface to select.
    EXPECT_EQ(port.GetInteger("InterfaceCount"), 0);
    EXPECT_FALSE(port.IsAvailable("InterfaceSelector"));
    EXPECT_EQ(port.GetString("InterfaceID"), "");
    EXPECT_EQ(GenApiBridge::LastPortError(port.Device()), GenTL::GC_ERR_SUCCESS);
}

TEST_F(SystemModuleXmlTest, InterfaceSelectionAfterTheListUpdate) {
    const GenApiPort port = GenApiPort::FromPort(m_system, Functions());
    ASSERT_EQ(m_cti.TLUpdateInterfaceList(m_system, nullptr, 100), GenTL::GC_ERR_SUCCESS);

    EXPECT_EQ(port.GetInteger("InterfaceCount"), 1);
    EXPECT_TRUE(port.IsAvailable("InterfaceSelector"));
    GError* error = nullptr;
    auto* selector = ARV_GC_INTEGER(port.Node("InterfaceSelector"));
    EXPECT_EQ(arv_gc_integer_get_min(selector, &error), 0);
    EXPECT_EQ(arv_gc_integer_get_max(selector, &error), 0);
    EXPECT_EQ(error, nullptr);
    g_clear_error(&error);

    port.SetInteger("InterfaceSelector", 0);
    EXPECT_EQ(port.GetInteger("InterfaceSelector"), 0);
    EXPECT_EQ(port.GetString("InterfaceID"), "GigE Interface");
}

TEST_F(SystemModuleXmlTest, InterfaceUpdateListWritesTheCommandRegister) {
    const GenApiPort port = GenApiPort::FromPort(m_system, Functions());
    EXPECT_EQ(ReadWord(0x44), 0u);
    EXPECT_NO_THROW(port.Execute("InterfaceUpdateList"));
    EXPECT_EQ(GenApiBridge::LastPortError(port.Device()), GenTL::GC_ERR_SUCCESS);
    EXPECT_EQ(ReadWord(0x44), 1u);
}

// A refused access surfaces as a GenApi error carrying the port's GC_ERROR.
TEST_F(SystemModuleXmlTest, RefusedWriteBecomesAGenApiError) {
    const GenApiPort port = GenApiPort::FromPort(m_system, Functions());
    GError* error = nullptr;
    const guint32 value = 5;
    EXPECT_FALSE(arv_device_write_register(port.Device(), 0x04, value, &error));
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->domain, ARV_DEVICE_ERROR);
    EXPECT_EQ(error->code, ARV_DEVICE_ERROR_PROTOCOL_ERROR_ACCESS_DENIED);
    g_clear_error(&error);
    EXPECT_EQ(GenApiBridge::LastPortError(port.Device()), GenTL::GC_ERR_ACCESS_DENIED);
    EXPECT_EQ(port.GetInteger("InterfaceCount"), 0);
}

}  // namespace

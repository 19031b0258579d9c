// `gevtl get`, `set`, `features` and `info`: GenApi features through a module port.
#include <iostream>

#include "FeatureValue.h"
#include "GenApiPortBridge.h"
#include "ModulePort.h"

namespace Gevtl {

namespace {

GenApiBridge::GenApiPort OpenGenApi(Context& context, const ModulePort& port) {
    return GenApiBridge::GenApiPort::FromPort(port.Handle(),
                                              GenApiBridge::PortFunctionsOf(context.Library()));
}

ArvGcFeatureNode* FeatureNode(const GenApiBridge::GenApiPort& genApi, const std::string& name) {
    ArvGcNode* node = genApi.Node(name);
    if (node == nullptr || !ARV_IS_GC_FEATURE_NODE(node))
        throw std::runtime_error("no feature " + name);
    return ARV_GC_FEATURE_NODE(node);
}

std::string ValueText(const GenApiBridge::GenApiPort& genApi, const std::string& name) {
    return ReadFeatureText(FeatureNode(genApi, name));
}

int RunGet(Context& context) {
    ModulePort port(context, GenTL::DEVICE_ACCESS_READONLY);
    auto genApi = OpenGenApi(context, port);
    const auto& words = context.Args().Positional();
    if (words.size() <= port.FirstArgument()) throw UsageError("missing FEATURE");
    const bool named = words.size() > port.FirstArgument() + 1;
    for (size_t i = port.FirstArgument(); i < words.size(); ++i) {
        const std::string value = ValueText(genApi, words[i]);
        std::cout << (named ? words[i] + " = " : "") << value << "\n";
    }
    return 0;
}

int RunSet(Context& context) {
    ModulePort port(context, GenTL::DEVICE_ACCESS_CONTROL);
    auto genApi = OpenGenApi(context, port);
    const auto& words = context.Args().Positional();
    if (words.size() <= port.FirstArgument()) throw UsageError("missing FEATURE=VALUE");
    for (size_t i = port.FirstArgument(); i < words.size(); ++i) {
        const size_t equals = words[i].find('=');
        ArvGcFeatureNode* node = FeatureNode(genApi, words[i].substr(0, equals));
        if (equals == std::string::npos) {
            WriteFeatureText(node, nullptr);  // a bare name executes a command
        } else {
            const std::string value = words[i].substr(equals + 1);
            WriteFeatureText(node, &value);
        }
    }
    return 0;
}

void PrintCategory(const GenApiBridge::GenApiPort& genApi, const std::string& name, int depth,
                   bool values) {
    ArvGcNode* node = genApi.Node(name);
    if (node == nullptr || !ARV_IS_GC_FEATURE_NODE(node)) return;
    auto* feature = ARV_GC_FEATURE_NODE(node);
    if (!arv_gc_feature_node_is_implemented(feature, nullptr)) return;
    const std::string indent(depth * 2, ' ');
    if (ARV_IS_GC_CATEGORY(node)) {
        if (depth > 0) std::cout << indent << name << "\n";
        for (const GSList* child = arv_gc_category_get_features(ARV_GC_CATEGORY(node));
             child != nullptr; child = child->next)
            PrintCategory(genApi, static_cast<const char*>(child->data), depth + 1, values);
        return;
    }
    std::string line = indent + name + " (" + arv_dom_node_get_node_name(ARV_DOM_NODE(node)) + ")";
    if (values && !ARV_IS_GC_COMMAND(node) &&
        arv_gc_feature_node_get_actual_access_mode(feature) != ARV_GC_ACCESS_MODE_WO &&
        arv_gc_feature_node_is_available(feature, nullptr)) {
        try {
            line += " = " + ReadFeatureText(feature);
        } catch (const std::runtime_error& error) {
            line += " = <" + std::string(error.what()) + ">";
        }
    }
    std::cout << line << "\n";
}

int RunFeatures(Context& context) {
    ModulePort port(context, GenTL::DEVICE_ACCESS_READONLY);
    auto genApi = OpenGenApi(context, port);
    PrintCategory(genApi, "Root", 0, !context.Args().Has("--names"));
    return 0;
}

int RunInfo(Context& context) {
    const DeviceEntry& device = context.Device(context.Word(0, "DEVICE"));
    std::cout << "ID:           " << device.id << "\n"
              << "Vendor:       " << device.vendor << "\n"
              << "Model:        " << device.model << "\n"
              << "Serial:       " << device.serial << "\n"
              << "User name:    " << device.userName << "\n"
              << "IP:           " << device.ip << "\n"
              << "MAC:          " << device.mac << "\n"
              << "Interface:    " << device.interfaceId << "\n"
              << "Access:       " << AccessStatusText(device.accessStatus) << "\n";
    ModulePort port(context, GenTL::DEVICE_ACCESS_READONLY);
    auto genApi = OpenGenApi(context, port);
    for (const char* name : {"DeviceVendorName", "DeviceModelName", "DeviceVersion",
                             "DeviceFirmwareVersion", "DeviceSerialNumber", "DeviceUserID", "Width",
                             "Height", "PixelFormat", "PayloadSize", "AcquisitionMode"}) {
        ArvGcNode* node = genApi.Node(name);
        if (node == nullptr || !ARV_IS_GC_FEATURE_NODE(node)) continue;
        std::string label = std::string(name) + ":";
        label.resize(std::max<size_t>(label.size() + 1, 24), ' ');
        try {
            std::cout << label << ReadFeatureText(ARV_GC_FEATURE_NODE(node)) << "\n";
        } catch (const std::runtime_error& error) {
            std::cout << label << "<" << error.what() << ">\n";
        }
    }
    return 0;
}

}  // namespace

Command GetCommand() {
    return {"get", "DEVICE FEATURE...", "print GenApi feature values", {ModuleOption()}, RunGet};
}

Command SetCommand() {
    return {"set",
            "DEVICE FEATURE=VALUE...",
            "set GenApi features in order (a bare command name executes it)",
            {ModuleOption()},
            RunSet};
}

Command FeaturesCommand() {
    return {"features",
            "DEVICE",
            "print the GenApi feature tree with values",
            {ModuleOption(), {"--names", false, "names and types only, no values read"}},
            RunFeatures};
}

Command InfoCommand() {
    return {"info",
            "DEVICE",
            "describe a camera: its listing and main features",
            {ModuleOption()},
            RunInfo};
}

}  // namespace Gevtl

// Representation-aware conversions between GenApi values and the tool's text.
#include "FeatureValue.h"

#include <cstdio>
#include <memory>
#include <stdexcept>

#include "Addresses.h"
#include "CommandLine.h"

namespace Gevtl {

namespace {

[[noreturn]] void Throw(ArvGcFeatureNode* node, GError* error) {
    // The port device's message already holds the producer's text of a refused access.
    const std::string text =
        std::string(arv_gc_feature_node_get_name(node)) + ": " + error->message;
    g_error_free(error);
    throw std::runtime_error(text);
}

ArvGcRepresentation Representation(ArvGcFeatureNode* node) {
    if (!ARV_IS_GC_INTEGER(node)) return ARV_GC_REPRESENTATION_UNDEFINED;
    return arv_gc_integer_get_representation(ARV_GC_INTEGER(node));
}

}  // namespace

std::string ReadFeatureText(ArvGcFeatureNode* node) {
    GError* error = nullptr;
    const ArvGcRepresentation representation = Representation(node);
    if (representation == ARV_GC_REPRESENTATION_IPV4_ADDRESS ||
        representation == ARV_GC_REPRESENTATION_MAC_ADDRESS ||
        representation == ARV_GC_REPRESENTATION_HEX_NUMBER) {
        const gint64 value = arv_gc_integer_get_value(ARV_GC_INTEGER(node), &error);
        if (error != nullptr) Throw(node, error);
        if (representation == ARV_GC_REPRESENTATION_IPV4_ADDRESS) return IpText(value);
        if (representation == ARV_GC_REPRESENTATION_MAC_ADDRESS) return MacText(value);
        char text[32];
        std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
        return text;
    }
    const char* value = arv_gc_feature_node_get_value_as_string(node, &error);
    if (error != nullptr) Throw(node, error);
    return value != nullptr ? value : "";
}

void WriteFeatureText(ArvGcFeatureNode* node, const std::string* text) {
    GError* error = nullptr;
    if (text == nullptr) {
        if (!ARV_IS_GC_COMMAND(node))
            throw UsageError(std::string(arv_gc_feature_node_get_name(node)) +
                             " is not a command: give =VALUE");
        arv_gc_command_execute(ARV_GC_COMMAND(node), &error);
        if (error != nullptr) Throw(node, error);
        return;
    }
    const ArvGcRepresentation representation = Representation(node);
    std::optional<int64_t> address;
    if (representation == ARV_GC_REPRESENTATION_IPV4_ADDRESS) address = ParseIp(*text);
    if (representation == ARV_GC_REPRESENTATION_MAC_ADDRESS) address = ParseMac(*text);
    if (address) {
        arv_gc_integer_set_value(ARV_GC_INTEGER(node), *address, &error);
    } else {
        arv_gc_feature_node_set_value_from_string(node, text->c_str(), &error);
    }
    if (error != nullptr) Throw(node, error);
}

}  // namespace Gevtl

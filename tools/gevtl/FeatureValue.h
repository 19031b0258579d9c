// A GenApi feature's value as text, in the form its representation asks for:
// IPv4 addresses dotted, MAC addresses with colons, hex numbers as 0x...
#pragma once

#include <arv.h>

#include <string>

namespace Gevtl {

// Throws std::runtime_error "NAME: message" when the value cannot be read.
std::string ReadFeatureText(ArvGcFeatureNode* node);

// Sets the value from text; IPv4 and MAC features also take their address form.
// A command feature given no value is executed. Throws like ReadFeatureText.
void WriteFeatureText(ArvGcFeatureNode* node, const std::string* text);

}  // namespace Gevtl

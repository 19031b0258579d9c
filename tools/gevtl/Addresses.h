// IPv4 and MAC addresses as the tool prints and reads them; values are in the
// GenApi form: IPv4 as a host-order 32-bit number, MAC in the low 48 bits.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace Gevtl {

std::string IpText(int64_t value);
std::string MacText(int64_t value);  // lower-case, colon-separated

std::optional<int64_t> ParseIp(const std::string& text);
std::optional<int64_t> ParseMac(const std::string& text);  // ':' or '-' separated

}  // namespace Gevtl

// Address text conversions shared by listing, features and FORCEIP.
#include "Addresses.h"

#include <arpa/inet.h>

#include <cstdio>

namespace Gevtl {

std::string IpText(int64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", unsigned(value >> 24) & 0xFF,
                  unsigned(value >> 16) & 0xFF, unsigned(value >> 8) & 0xFF,
                  unsigned(value) & 0xFF);
    return text;
}

std::string MacText(int64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", unsigned(value >> 40) & 0xFF,
                  unsigned(value >> 32) & 0xFF, unsigned(value >> 24) & 0xFF,
                  unsigned(value >> 16) & 0xFF, unsigned(value >> 8) & 0xFF,
                  unsigned(value) & 0xFF);
    return text;
}

std::optional<int64_t> ParseIp(const std::string& text) {
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1) return std::nullopt;
    return static_cast<int64_t>(ntohl(address.s_addr));
}

std::optional<int64_t> ParseMac(const std::string& text) {
    unsigned bytes[6];
    char separators[5];
    int consumed = 0;
    if (std::sscanf(text.c_str(), "%2x%c%2x%c%2x%c%2x%c%2x%c%2x%n", &bytes[0], &separators[0],
                    &bytes[1], &separators[1], &bytes[2], &separators[2], &bytes[3], &separators[3],
                    &bytes[4], &separators[4], &bytes[5], &consumed) != 11 ||
        static_cast<size_t>(consumed) != text.size())
        return std::nullopt;
    for (char separator : separators)
        if (separator != ':' && separator != '-') return std::nullopt;
    int64_t mac = 0;
    for (unsigned byte : bytes) mac = (mac << 8) | byte;
    return mac;
}

}  // namespace Gevtl

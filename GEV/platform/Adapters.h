// The host's IPv4 network adapters: one entry per address, loopback included.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Platform {

struct AdapterAddress {
    std::string name;  // the adapter's system name
    uint32_t address;  // network order
    uint32_t mask;     // network order
    uint32_t mtu;      // bytes, 0 when unknown
};

// Fills `adapters` with every IPv4 address of every adapter that is up.
// Returns false when the system's adapter list cannot be read.
bool ListAdapters(std::vector<AdapterAddress>& adapters);

// The MTU of the adapter that holds `address` (network order); 0 when unknown.
uint32_t AdapterMtu(uint32_t address);

}  // namespace Platform

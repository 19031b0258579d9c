#include "Adapters.h"

// clang-format off
#include <winsock2.h>
#include <iphlpapi.h>
// clang-format on

#include <vector>

#include "Socket.h"

namespace Platform {
namespace {

// Calls `query(buffer, &size)` with a buffer grown until the list fits;
// false when the system cannot give it.
template <class Query>
bool ReadList(std::vector<unsigned char>& buffer, Query query) {
    ULONG size = 16 * 1024;
    for (int attempt = 0; attempt < 4; ++attempt) {
        buffer.resize(size);
        const ULONG result = query(buffer.data(), &size);
        if (result == ERROR_SUCCESS) return true;
        if (result != ERROR_BUFFER_OVERFLOW) return false;
    }
    return false;
}

}  // namespace

bool ListAdapters(std::vector<AdapterAddress>& adapters) {
    adapters.clear();
    std::vector<unsigned char> buffer;
    const bool read = ReadList(buffer, [](unsigned char* data, ULONG* size) {
        return GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(data), size);
    });
    if (!read) return false;
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()); adapter != nullptr;
         adapter = adapter->Next) {
        for (IP_ADDR_STRING* entry = &adapter->IpAddressList; entry != nullptr;
             entry = entry->Next) {
            const uint32_t address = ParseAddress(entry->IpAddress.String);
            // An adapter without a link lists the address 0.0.0.0.
            if (address == 0) continue;
            adapters.push_back(AdapterAddress{adapter->AdapterName, address,
                                              ParseAddress(entry->IpMask.String),
                                              AdapterMtu(address)});
        }
    }
    return true;
}

uint32_t AdapterMtu(uint32_t address) {
    std::vector<unsigned char> buffer;
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    const bool read = ReadList(buffer, [flags](unsigned char* data, ULONG* size) {
        return GetAdaptersAddresses(AF_INET, flags, nullptr,
                                    reinterpret_cast<IP_ADAPTER_ADDRESSES*>(data), size);
    });
    if (!read) return 0;
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter != nullptr;
         adapter = adapter->Next) {
        for (IP_ADAPTER_UNICAST_ADDRESS* entry = adapter->FirstUnicastAddress; entry != nullptr;
             entry = entry->Next) {
            const sockaddr* socketAddress = entry->Address.lpSockaddr;
            if (socketAddress == nullptr || socketAddress->sa_family != AF_INET) continue;
            if (reinterpret_cast<const sockaddr_in*>(socketAddress)->sin_addr.s_addr == address)
                return adapter->Mtu;
        }
    }
    return 0;
}

}  // namespace Platform

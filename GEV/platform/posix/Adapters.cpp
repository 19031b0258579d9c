#include "Adapters.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace Platform {
namespace {

uint32_t InterfaceMtu(const char* name) {
    int probe = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return 0;
    ifreq request{};
    std::strncpy(request.ifr_name, name, IFNAMSIZ - 1);
    uint32_t mtu =
        ioctl(probe, SIOCGIFMTU, &request) == 0 ? static_cast<uint32_t>(request.ifr_mtu) : 0;
    ::close(probe);
    return mtu;
}

uint32_t AddressOf(const sockaddr* address) {
    return address != nullptr && address->sa_family == AF_INET
               ? reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr
               : 0;
}

}  // namespace

bool ListAdapters(std::vector<AdapterAddress>& adapters) {
    adapters.clear();
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
        if ((entry->ifa_flags & IFF_UP) == 0) continue;
        adapters.push_back(AdapterAddress{entry->ifa_name, AddressOf(entry->ifa_addr),
                                          AddressOf(entry->ifa_netmask),
                                          InterfaceMtu(entry->ifa_name)});
    }
    freeifaddrs(list);
    return true;
}

uint32_t AdapterMtu(uint32_t address) {
    std::vector<AdapterAddress> adapters;
    if (!ListAdapters(adapters)) return 0;
    for (const AdapterAddress& adapter : adapters)
        if (adapter.address == address) return adapter.mtu;
    return 0;
}

}  // namespace Platform

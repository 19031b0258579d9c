// Adapter list, discovery broadcast and acknowledges, the access-status probe
// and FORCEIP. No device slot is used: each operation has sockets of its own.
#include <algorithm>
#include <atomic>
#include <vector>

#include "Adapters.h"
#include "Clock.h"
#include "DiscoveryAck.h"
#include "DiscoveryList.h"
#include "GevLog.h"
#include "GvcpPackets.h"
#include "UdpUtility.h"
#include "VantorLib.h"

namespace Vantor {
namespace {

constexpr uint32_t kPrivilegeRegister = 0x0A00;
constexpr uint32_t kBroadcastAddress = 0xFFFFFFFFu;
constexpr uint32_t kDefaultDiscoveryTimeout = 2000;
constexpr uint32_t kDiscoveryWaitMs = 100;
constexpr uint32_t kProbeTimeout = 200;

// Progress of a whole discovery, for the callback's percentage. One discovery
// at a time is assumed; atomics only keep concurrent callers well-defined.
std::atomic<uint32_t> g_discoveryStart{0};
std::atomic<uint32_t> g_discoveryTotal{0};

// Sort key: the network-order bytes read as a little-endian number, so the
// last octet of the dotted address weighs most.
uint32_t SortKey(uint32_t networkAddress) {
    const auto* octet = reinterpret_cast<const uint8_t*>(&networkAddress);
    return (uint32_t{octet[3]} << 24) | (uint32_t{octet[2]} << 16) | (uint32_t{octet[1]} << 8) |
           octet[0];
}

void SortDevices(GevDeviceList& list) {
    for (int i = 0; i < list.count; ++i)
        for (int j = i + 1; j < list.count; ++j)
            if (SortKey(list.devices[i].cameraAddress) > SortKey(list.devices[j].cameraAddress))
                std::swap(list.devices[i], list.devices[j]);
}

uint32_t Percentage() {
    uint32_t total = g_discoveryTotal;
    uint32_t unit = total / 100;
    if (unit == 0) return 100;
    return std::min<uint32_t>((Platform::TickCount() - g_discoveryStart) / unit, 100);
}

// The wait of each of the three probe attempts (t, 2t, 4t) so that all the
// probes of one adapter end within `budgetMs`.
uint32_t ProbeWait(uint32_t budgetMs, uint32_t spentMs) {
    const uint32_t left = spentMs < budgetMs ? budgetMs - spentMs : 0;
    return std::min(kProbeTimeout, left / 7);
}

}  // namespace

GevStatus GEVGetAdapterList(GevAdapterList* list) {
    if (list == nullptr) return kGevAdapterListFailed;
    list->count = 0;
    std::vector<Platform::AdapterAddress> adapters;
    if (!Platform::ListAdapters(adapters)) return kGevAdapterListFailed;
    for (const Platform::AdapterAddress& adapter : adapters) {
        if (adapter.address == 0) continue;
        if (list->count >= kMaxAdapters) break;
        GevAdapterEntry& entry = list->entries[list->count++];
        entry.address = adapter.address;
        entry.mask = adapter.mask;
        CopyName(entry.adapterName, sizeof entry.adapterName, adapter.name.c_str());
    }
    return kGevOk;
}

GevStatus GEVDiscoverDevices(GevDeviceList* list, GevDiscoveryCallback callback, uint32_t timeoutMs,
                             bool broadcastAck, uint16_t port) {
    std::vector<GevAdapterEntry> entries;
    {
        GevAdapterList adapters;
        GevStatus status = GEVGetAdapterList(&adapters);
        if (adapters.count == 0) return status;
        entries.assign(adapters.entries, adapters.entries + adapters.count);
    }
    const uint32_t perAdapter = timeoutMs == 0 ? kDefaultDiscoveryTimeout : timeoutMs;
    g_discoveryTotal = static_cast<uint32_t>(entries.size()) * perAdapter;
    g_discoveryStart = Platform::TickCount();
    if (list != nullptr) list->count = 0;

    GevStatus result = kGevOk;
    GevDeviceList found;
    for (const GevAdapterEntry& adapter : entries) {
        GevStatus status = GEVDiscoverOnAdapter(list != nullptr ? &found : nullptr, &adapter,
                                                callback, timeoutMs, broadcastAck, port);
        if (status != kGevOk) result = status;
        if (list == nullptr) continue;
        for (int i = 0; i < found.count && list->count < kMaxDiscoveredDevices; ++i)
            list->devices[list->count++] = found.devices[i];
    }
    g_discoveryTotal = 0;
    if (list != nullptr) SortDevices(*list);
    return result;
}

GevStatus GEVDiscoverOnAdapter(GevDeviceList* list, const GevAdapterEntry* adapter,
                               GevDiscoveryCallback callback, uint32_t timeoutMs, bool broadcastAck,
                               uint16_t port) {
    if (adapter == nullptr) return kGevAdapterListFailed;
    const bool started = StartSocketsOrWarn();
    if (timeoutMs == 0) timeoutMs = kDefaultDiscoveryTimeout;
    if (list != nullptr) list->count = 0;
    // A pass of its own (not part of GEVDiscoverDevices) measures its own progress.
    const bool ownProgress = g_discoveryTotal == 0;
    if (ownProgress) {
        g_discoveryTotal = timeoutMs;
        g_discoveryStart = Platform::TickCount();
    }

    GevStatus status = kGevOk;
    Platform::SocketHandle socket = OpenUdpSocket(adapter->address, port, true, false, false);
    if (socket == Platform::kInvalidSocket) {
        DevicelessLog("[ERROR] -Create socket failed. Adapter: %s, Ip: %08X\n",
                      adapter->adapterName, adapter->address);
        status = kGevSocketCreateFailed;
    } else {
        uint8_t command[Gvcp::kHeaderSize];
        size_t size = Gvcp::BuildDiscovery(command, broadcastAck);
        if (Platform::SendTo(socket, command, size, kBroadcastAddress, Gvcp::kPort) !=
            static_cast<int>(size)) {
            DevicelessLog("[ERROR] -Send discovery command failed. Adapter: %s, Ip: %08X\n",
                          adapter->adapterName, adapter->address);
            status = kGevSendFailed;
        } else {
            const uint32_t sentAt = Platform::TickCount();
            uint8_t ack[Gvcp::kDiscoveryAckSize];
            uint32_t malformed = 0;
            for (;;) {
                int ready = Platform::WaitReadableMs(socket, kDiscoveryWaitMs);
                if (ready < 0) {
                    DevicelessLog(
                        "[ERROR] -Socket error receive discovery acknowledge. Adapter: %s, Ip: "
                        "%08X\n",
                        adapter->adapterName, adapter->address);
                    status = kGevSelectFailed;
                    break;
                }
                if (ready > 0) {
                    uint32_t sender = 0;
                    int received = Platform::ReceiveFrom(socket, ack, sizeof ack, &sender);
                    if (received < 0) {
                        DevicelessLog(
                            "[ERROR] -Receive discovery acknowledge failed. Adapter: %s, Ip: "
                            "%08X\n",
                            adapter->adapterName, adapter->address);
                        status = kGevReceiveFailed;
                        break;
                    }
                    GevDiscoveredDevice record{};
                    uint16_t ackStatus = 0;
                    DiscoveryTake take =
                        TakeDiscoveryAck(ack, static_cast<size_t>(received), sender, *adapter,
                                         broadcastAck, list, &record, &ackStatus);
                    if (take == DiscoveryTake::kListFull) break;
                    if (take == DiscoveryTake::kMalformed) ++malformed;
                    if (take == DiscoveryTake::kListed || take == DiscoveryTake::kFound) {
                        if (ackStatus != 0) status = ackStatus;
                        if (take == DiscoveryTake::kFound) {
                            record.accessStatus = kAccessNotProbed;
                            if (callback != nullptr) callback(Percentage(), &record);
                        }
                    }
                }
                if (callback != nullptr) callback(Percentage(), nullptr);
                if (Platform::TickCount() - sentAt >= timeoutMs) break;
            }
            if (malformed > 0)
                DevicelessLog(
                    "[WARNING] -%u malformed discovery acknowledges dropped. Adapter: %s, Ip: "
                    "%08X\n",
                    malformed, adapter->adapterName, adapter->address);
        }
        CloseUdpSocket(socket);
    }

    if (list != nullptr) {
        // Probing all listed cameras takes no longer than the discovery itself.
        const uint32_t probeStart = Platform::TickCount();
        for (int i = 0; i < list->count; ++i) {
            GevDiscoveredDevice& device = list->devices[i];
            const uint32_t wait = ProbeWait(timeoutMs, Platform::TickCount() - probeStart);
            if (wait == 0) {
                const bool inSubnet = (device.adapterAddress & device.adapterMask) ==
                                      (device.cameraAddress & device.adapterMask);
                device.accessStatus = inSubnet ? kAccessProbeFailed : kAccessSubnetMismatch;
                continue;
            }
            GEVGetAccessStatus(device.adapterAddress, device.adapterMask, device.cameraAddress,
                               &device.accessStatus, wait, port);
        }
        SortDevices(*list);
    }
    if (ownProgress) g_discoveryTotal = 0;
    if (started) Platform::StopSockets();
    return status;
}

GevStatus GEVGetAccessStatus(uint32_t adapterAddress, uint32_t adapterMask, uint32_t cameraAddress,
                             uint8_t* accessStatus, uint32_t timeoutMs, uint16_t port) {
    if (accessStatus == nullptr) return kGevOk;
    if ((adapterAddress & adapterMask) != (cameraAddress & adapterMask)) {
        *accessStatus = kAccessSubnetMismatch;
        return kGevOk;
    }
    uint32_t privilege = 0;
    GevStatus status = GEVProbeAccess(adapterAddress, cameraAddress, port, &privilege, timeoutMs);
    if (status == kGevStatusAccessDenied)
        *accessStatus = kAccessExclusive;
    else if (status != kGevOk)
        *accessStatus = kAccessProbeFailed;
    else if (privilege & 0x2)
        *accessStatus = kAccessControl;
    else
        *accessStatus = (privilege & 0x1) ? kAccessExclusive : kAccessFree;
    return kGevOk;
}

GevStatus GEVProbeAccess(uint32_t adapterAddress, uint32_t cameraAddress, uint16_t port,
                         uint32_t* privilege, uint32_t timeoutMs) {
    Platform::SocketHandle socket = OpenUdpSocket(adapterAddress, port, false, false, false);
    if (socket == Platform::kInvalidSocket) return kGevSocketCreateFailed;

    GevStatus status = kGevTimeout;
    uint8_t command[Gvcp::kHeaderSize + 4];
    uint32_t wait = timeoutMs;
    for (uint16_t attempt = 1; attempt <= 3; ++attempt, wait *= 2) {
        size_t size = Gvcp::BuildReadReg(command, attempt, kPrivilegeRegister, 1);
        if (Platform::SendTo(socket, command, size, cameraAddress, Gvcp::kPort) !=
            static_cast<int>(size)) {
            status = kGevSendFailed;
            break;
        }
        int ready = Platform::WaitReadableMs(socket, wait);
        if (ready == 0) continue;
        if (ready < 0) {
            status = kGevSelectFailed;
            break;
        }
        uint8_t ack[Gvcp::kHeaderSize + 4];
        int received = Platform::ReceiveFrom(socket, ack, sizeof ack);
        Gvcp::AckHeader header{};
        if (received < 0) {
            status = kGevReceiveFailed;
        } else if (!Gvcp::ParseAckHeader(ack, static_cast<size_t>(received), &header)) {
            status = kGevUnexpectedAck;
        } else if (header.status != 0) {
            status = header.status;
        } else if (header.code == Gvcp::kReadRegAck &&
                   Gvcp::ParseReadRegValues(ack, static_cast<size_t>(received), privilege, 1) ==
                       1) {
            status = kGevOk;
        } else {
            status = kGevUnexpectedAck;
        }
        break;
    }
    CloseUdpSocket(socket);
    return status;
}

GevStatus GEVForceIP(uint32_t newAddress, uint32_t subnetMask, uint32_t defaultGateway,
                     const uint8_t mac[6], uint32_t adapterAddress) {
    if (mac == nullptr) return kGevSendFailed;
    if (!StartSocketsOrWarn()) return kGevSocketCreateFailed;
    Platform::SocketHandle socket = OpenUdpSocket(adapterAddress, 0, true, false, false);
    uint8_t command[Gvcp::kForceIpCmdSize];
    size_t size = Gvcp::BuildForceIp(command, mac, newAddress, subnetMask, defaultGateway);
    auto send = [&] {
        return socket != Platform::kInvalidSocket &&
               Platform::SendTo(socket, command, size, kBroadcastAddress, Gvcp::kPort) ==
                   static_cast<int>(size);
    };

    GevStatus status = kGevOk;
    if (newAddress == 0) {
        status = send() ? kGevOk : kGevSendFailed;
    } else {
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (!send()) {
                status = kGevSendFailed;
                break;
            }
            int ready = Platform::WaitReadableMs(socket, 1000);
            if (ready == 0) {
                DevicelessLog("[WARNING] -FORCEIP select timed out\n");
                status = kGevTimeout;
                continue;
            }
            if (ready < 0) {
                DevicelessLog("[ERROR] -FORCEIP select produced an error %d\n",
                              Platform::LastSocketError());
                status = kGevSelectFailed;
                break;
            }
            uint8_t ack[Gvcp::kForceIpAckSize];
            int received = Platform::ReceiveFrom(socket, ack, sizeof ack);
            if (received < 0) {
                status = kGevReceiveFailed;
            } else if (received >= 4 && ack[3] == Gvcp::kForceIpAck) {
                status = kGevOk;
                break;
            } else {
                status = kGevUnexpectedAck;
            }
        }
    }
    CloseUdpSocket(socket);
    Platform::StopSockets();
    return status;
}

}  // namespace Vantor

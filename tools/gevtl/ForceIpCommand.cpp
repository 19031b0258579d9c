// `gevtl forceip`: FORCEIP sent by the interface module to the camera of a MAC address.
#include <cstdio>
#include <iostream>

#include "Addresses.h"
#include "GenApiPortBridge.h"
#include "Tool.h"

namespace Gevtl {

namespace {

int64_t IpArgument(const std::string& text) {
    const auto value = ParseIp(text);
    if (!value) throw UsageError("not an IPv4 address: " + text);
    return *value;
}

int RunForceIp(Context& context) {
    const auto parsedMac = ParseMac(context.Word(0, "MAC"));
    if (!parsedMac) throw UsageError("not a MAC address: " + context.Word(0, "MAC"));
    const int64_t mac = *parsedMac;
    const int64_t ip = IpArgument(context.Word(1, "IP"));
    const int64_t mask = IpArgument(context.Word(2, "MASK"));
    const int64_t gateway = IpArgument(context.Word(3, "GATEWAY"));
    Session& session = context.Discovered();

    // The camera's own interface when it is listed; else the one asked for or the first.
    GenTL::IF_HANDLE iface = session.Interface(context.Args().Value("--interface"));
    const std::string macText = MacText(mac);
    const DeviceEntry* listed = nullptr;
    for (const auto& device : session.Devices())
        if (device.mac == macText) listed = &device;
    if (listed != nullptr && !context.Args().Has("--interface")) iface = listed->iface;
    if (iface == nullptr) throw std::runtime_error("no interface to send FORCEIP from");

    auto port =
        GenApiBridge::GenApiPort::FromPort(iface, GenApiBridge::PortFunctionsOf(context.Library()));
    int64_t adapter = 0;
    if (context.Args().Has("--adapter")) {
        adapter = IpArgument(context.Args().Value("--adapter"));
    } else if (listed != nullptr) {
        const int64_t count = port.GetInteger("DeviceCount");
        for (int64_t i = 0; i < count; ++i) {
            port.SetInteger("DeviceSelector", i);
            if (port.GetString("DeviceID") == listed->id)
                adapter = port.GetInteger("GevAdapterIPAddress");
        }
    }
    if (adapter == 0) throw UsageError("camera not listed: give --adapter IP of the host side");

    port.SetInteger("ForceIpIpAddress", ip);
    port.SetInteger("ForceIpSubnetMask", mask);
    port.SetInteger("ForceIpGateway", gateway);
    port.SetInteger("ForceIpMACAddress", mac);
    port.SetInteger("ForceIpAdapterIpAddress", adapter);
    port.Execute("ForceIp");
    const int64_t status = port.GetInteger("ForceIpStatus");
    if (status != 0) {
        std::fprintf(stderr, "gevtl forceip: FORCEIP failed, status 0x%08llx\n",
                     static_cast<unsigned long long>(status));
        return 1;
    }
    std::cout << macText << " now at " << context.Word(1, "IP") << "\n";
    return 0;
}

}  // namespace

Command ForceIpCommand() {
    return {"forceip",
            "MAC IP MASK GATEWAY",
            "give the camera of that MAC address a new IP configuration",
            {{"--interface", true, "interface ID to send from (default: the camera's)"},
             {"--adapter", true, "host address to send from when the camera is not listed"}},
            RunForceIp};
}

}  // namespace Gevtl

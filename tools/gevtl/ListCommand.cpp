// `gevtl list`: one row per camera found on any interface.
#include <algorithm>
#include <iostream>

#include "Tool.h"

namespace Gevtl {

void PrintDeviceTable(const std::vector<DeviceEntry>& devices, std::ostream& out) {
    const std::vector<std::string> header = {"#",         "ID", "VENDOR", "MODEL",   "SERIAL",
                                             "USER NAME", "IP", "MAC",    "ADAPTER", "ACCESS"};
    std::vector<std::vector<std::string>> rows = {header};
    for (const auto& device : devices) {
        rows.push_back({std::to_string(device.index), device.id, device.vendor, device.model,
                        device.serial, device.userName.empty() ? "-" : device.userName,
                        device.ip.empty() ? "-" : device.ip, device.mac.empty() ? "-" : device.mac,
                        device.adapter.empty() ? device.interfaceId : device.adapter,
                        AccessStatusText(device.accessStatus)});
    }
    std::vector<size_t> widths(header.size(), 0);
    for (const auto& row : rows)
        for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
    for (const auto& row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            std::string cell = row[i];
            if (i + 1 < row.size()) cell.resize(widths[i] + 2, ' ');
            line += cell;
        }
        out << line << "\n";
    }
}

namespace {

int RunList(Context& context) {
    const auto& devices = context.Discovered().Devices();
    PrintDeviceTable(devices, std::cout);
    if (devices.empty()) std::cerr << "no camera found\n";
    return 0;
}

}  // namespace

Command ListCommand() {
    return {
        "list", "[options]", "list the cameras on every interface of the producer", {}, RunList};
}

}  // namespace Gevtl

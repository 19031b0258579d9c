// `gevtl xml`: the GenApi description named by a port's first URL.
#include <fstream>
#include <iostream>

#include "GenApiPortBridge.h"
#include "ModulePort.h"

namespace Gevtl {

namespace {

int RunXml(Context& context) {
    ModulePort port(context, GenTL::DEVICE_ACCESS_READONLY);
    const std::string xml =
        GenApiBridge::FetchPortXml(port.Handle(), GenApiBridge::PortFunctionsOf(context.Library()));
    const std::string output = context.Args().Value("-o");
    if (output.empty() || output == "-") {
        std::cout << xml;
        return std::cout.good() ? 0 : 1;
    }
    std::ofstream file(output, std::ios::binary);
    file.write(xml.data(), static_cast<std::streamsize>(xml.size()));
    file.close();
    if (!file) throw std::runtime_error("cannot write " + output);
    return 0;
}

}  // namespace

Command XmlCommand() {
    return {"xml",
            "DEVICE [-o FILE]",
            "print or save the GenApi description (zipped ones are unpacked)",
            {ModuleOption(), {"-o", true, "write to FILE instead of standard output"}},
            RunXml};
}

}  // namespace Gevtl

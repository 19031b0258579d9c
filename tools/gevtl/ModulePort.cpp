// Port selection by module name; the device and stream are closed again on destruction.
#include "ModulePort.h"

namespace Gevtl {

using namespace GenTL;

OptionSpec ModuleOption() {
    return {"--module", true,
            "system|interface|device|stream: that transport-layer module's port instead of the "
            "camera's (system needs no DEVICE)"};
}

ModulePort::ModulePort(Context& context, DEVICE_ACCESS_FLAGS flags) : m_library(context.Library()) {
    const std::string module = context.Args().Value("--module", "remote");
    if (module == "system") {
        m_port = context.Discovered().System();
        m_firstArgument = 0;
        return;
    }
    if (module != "remote" && module != "interface" && module != "device" && module != "stream")
        throw UsageError("--module is system, interface, device or stream, not " + module);
    const DeviceEntry& entry = context.Device(context.Word(0, "DEVICE"));
    if (module == "interface") {
        m_port = entry.iface;
        return;
    }
    m_device = std::make_unique<OpenedDevice>(context.Discovered(), entry, flags);
    if (module == "remote") {
        m_port = m_device->RemotePort();
    } else if (module == "device") {
        m_port = m_device->Handle();
    } else {
        char id[256] = {};
        size_t size = sizeof id;
        m_library.Check("DevGetDataStreamID",
                        m_library.DevGetDataStreamID(m_device->Handle(), 0, id, &size));
        m_library.Check("DevOpenDataStream",
                        m_library.DevOpenDataStream(m_device->Handle(), id, &m_stream));
        m_port = m_stream;
    }
}

ModulePort::~ModulePort() {
    if (m_stream != nullptr) m_library.DSClose(m_stream);
}

}  // namespace Gevtl

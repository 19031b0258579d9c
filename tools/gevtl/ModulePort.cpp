// Port selection by module name; the device and stream are closed again on destruction.
#include "ModulePort.h"

namespace Gevtl {

using namespace GenTL;

OptionSpec ModuleOption() {
    return {"--module", true,
            "system|interface|device|stream: that transport-layer module's port instead of the "
            "camera's (system needs no DEVICE; interface takes an interface ID, a camera, or "
            "nothing for the first interface)"};
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
    if (module == "interface") {
        SelectInterface(context);
        return;
    }
    const DeviceEntry& entry = context.Device(context.Word(0, "DEVICE"));
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

void ModulePort::SelectInterface(Context& context) {
    Session& session = context.Discovered();
    const auto& words = context.Args().Positional();
    if (!words.empty()) {
        if (IF_HANDLE iface = session.Interface(words[0])) {
            m_port = iface;
            return;
        }
        if (const DeviceEntry* entry = session.FindOrNull(words[0])) {
            m_port = entry->iface;
            return;
        }
    }
    // No interface or camera named: the words are the command's own.
    m_port = session.Interface();
    m_firstArgument = 0;
    if (m_port == nullptr) throw std::runtime_error("the producer offers no interface");
}

ModulePort::~ModulePort() {
    if (m_stream != nullptr) m_library.DSClose(m_stream);
}

}  // namespace Gevtl

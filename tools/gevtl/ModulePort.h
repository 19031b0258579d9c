// The port a command works on: the camera's remote port by default, or with
// --module the system, interface, device or stream module's own port.
#pragma once

#include <memory>
#include <string>

#include "Tool.h"

namespace Gevtl {

// The --module option shared by the port commands.
OptionSpec ModuleOption();

class ModulePort {
public:
    // Positional word 0 names the camera, except with --module system, which needs none,
    // and --module interface, where it may name an interface or a camera or be left out.
    // FirstArgument() is the index of the words after the name.
    ModulePort(Context& context, GenTL::DEVICE_ACCESS_FLAGS flags);
    ModulePort(const ModulePort&) = delete;
    ModulePort& operator=(const ModulePort&) = delete;
    ~ModulePort();

    GenTL::PORT_HANDLE Handle() const { return m_port; }
    size_t FirstArgument() const { return m_firstArgument; }
    OpenedDevice* Device() const { return m_device.get(); }

private:
    void SelectInterface(Context& context);

    GenTLLibrary& m_library;
    std::unique_ptr<OpenedDevice> m_device;
    GenTL::DS_HANDLE m_stream = nullptr;
    GenTL::PORT_HANDLE m_port = nullptr;
    size_t m_firstArgument = 1;
};

}  // namespace Gevtl

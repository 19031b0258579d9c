// What every subcommand shares: its table entry, the loaded producer and the
// discovered cameras, created on first use.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "GenTLLibrary.h"
#include "Session.h"

namespace Gevtl {

class Context {
public:
    explicit Context(Arguments arguments) : m_arguments(std::move(arguments)) {}

    const Arguments& Args() const { return m_arguments; }
    // The positional word `index`, or UsageError naming `what`.
    const std::string& Word(size_t index, const char* what) const;

    GenTLLibrary& Library();
    // The system module with its interfaces open and their cameras discovered.
    Session& Discovered();
    const DeviceEntry& Device(const std::string& name) { return Discovered().Find(name); }

private:
    Arguments m_arguments;
    std::unique_ptr<GenTLLibrary> m_library;
    std::unique_ptr<Session> m_session;
    bool m_discovered = false;
};

struct Command {
    const char* name;
    const char* usage;  // after "gevtl NAME "
    const char* summary;
    std::vector<OptionSpec> options;  // besides the common ones
    int (*run)(Context&);
};

// The `list` table: one row per camera, with a header.
void PrintDeviceTable(const std::vector<DeviceEntry>& devices, std::ostream& out);

// Options every subcommand takes: --cti, --gentl-path, --timeout, --help.
const std::vector<OptionSpec>& CommonOptions();

// The subcommands, each defined in its own file.
Command ListCommand();
Command GetCommand();
Command SetCommand();
Command FeaturesCommand();
Command InfoCommand();
Command ReadCommand();
Command WriteCommand();
Command XmlCommand();
Command GrabCommand();
Command EventsCommand();
Command ForceIpCommand();
Command DemoCommand();

}  // namespace Gevtl

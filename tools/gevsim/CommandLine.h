// The gevsim command line: a declarative table of options, each filling in the
// settings it names, and the usage text made from the same table.
#pragma once

#include <string>

#include "CameraConfig.h"
#include "StreamFaults.h"

namespace GevSim {

struct CommandLineSettings {
    CameraConfig camera;
    bool silent = false;
    double lossRatio = 0;  // stream packets lost on first transmission
    bool spareOnePacket = false;
    double duplicateRatio = 0;
    double reorderRatio = 0;
    uint32_t reorderDistance = 3;
    uint64_t lossSeed = 0;  // of every ratio
    bool verbose = false;
    bool help = false;
};

// False (with `error`) on an unknown option, a missing value or a bad value.
bool ParseCommandLine(int argc, const char* const* argv, CommandLineSettings* settings,
                      std::string* error);
// The stream fault options, switched on in `faults` (one seed for every ratio).
void ApplyStreamFaults(const CommandLineSettings& settings, StreamFaults* faults);
std::string Usage();

}  // namespace GevSim

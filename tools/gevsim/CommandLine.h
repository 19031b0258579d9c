// The gevsim command line: a declarative table of options, each filling in the
// settings it names, and the usage text made from the same table.
#pragma once

#include <string>

#include "CameraConfig.h"

namespace GevSim {

struct CommandLineSettings {
    CameraConfig camera;
    bool silent = false;
    double lossRatio = 0;  // stream packets lost on first transmission
    uint64_t lossSeed = 0;
    bool verbose = false;
    bool help = false;
};

// False (with `error`) on an unknown option, a missing value or a bad value.
bool ParseCommandLine(int argc, const char* const* argv, CommandLineSettings* settings,
                      std::string* error);
std::string Usage();

}  // namespace GevSim

// One acquisition through GenTL with the live progress line and the closing
// summary; shared by `grab` and `demo`.
#pragma once

#include <cstdint>
#include <string>

#include "Tool.h"

namespace Gevtl {

struct GrabOptions {
    uint64_t count = 10;
    uint64_t buffers = 8;
    uint64_t frameTimeoutMs = 3000;
    bool zeroCopy = false;
    bool packetResend = false;
    std::string handlingMode;  // the stream's buffer handling mode, when set
    bool verbose = false;
    std::string saveDirectory;  // every complete frame, when set
    bool pgm = false;
    std::string lastFramePath;  // the last complete frame alone, when set
};

// Acquires `options.count` frames from `entry`; 0 when all came.
int Grab(Context& context, const DeviceEntry& entry, const GrabOptions& options);

}  // namespace Gevtl

// The simulator on this namespace's loopback, opened through the protocol
// library alone as handle 1 with control access.
#pragma once

#include <cstring>

#include "BenchRegisters.h"
#include "Socket.h"
#include "VantorLib.h"

namespace Bench {

inline bool OpenLibraryCamera() {
    Vantor::GevOpenParams params{};
    params.cameraAddress = Platform::ParseAddress(kCameraAddress);
    params.hostAddress = Platform::ParseAddress("127.0.0.1");
    params.subnetMask = Platform::ParseAddress("255.0.0.0");
    std::strcpy(params.adapterName, "lo");
    return Vantor::GEVOpenDevice(1, &params, nullptr, 0, Vantor::kAccessModeControl) ==
           Vantor::kGevOk;
}

}  // namespace Bench

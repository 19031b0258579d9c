// A kernel driver reached as a device file: control requests and reads. The
// filter driver path of the stream side talks to its driver only through
// this, so tests can put a double in its place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace Platform {

class DriverDevice {
public:
    virtual ~DriverDevice() = default;
    // Sends control request `code`; false on failure, with the system's error
    // number in *error. *returned gets the bytes written to `out`.
    virtual bool Control(uint32_t code, const void* in, size_t inSize, void* out, size_t outSize,
                         size_t* returned, uint32_t* error) = 0;
    // Reads up to `size` bytes into `buffer` (whose first bytes may carry a
    // request); false on failure, with the system's error number in *error.
    virtual bool Read(void* buffer, size_t size, size_t* returned, uint32_t* error) = 0;
};

using DriverDeviceFactory = std::function<std::unique_ptr<DriverDevice>(const std::string& path)>;

// Opens the device file at `path`; null when it cannot be opened.
std::unique_ptr<DriverDevice> OpenDriverDevice(const std::string& path);
// Makes the factory's process-wide state now (see PrepareDebugOutput).
void PrepareDriverDevices();

// Replaces how devices are opened (tests install a double); an empty
// function restores the system's own.
void SetDriverDeviceFactory(DriverDeviceFactory factory);

}  // namespace Platform

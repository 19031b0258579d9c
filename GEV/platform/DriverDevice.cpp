#include "DriverDevice.h"

#include <mutex>

#include "SystemParts.h"

namespace Platform {
namespace {

std::mutex& FactoryLock() {
    static std::mutex lock;
    return lock;
}

DriverDeviceFactory& Factory() {
    static DriverDeviceFactory factory;
    return factory;
}

}  // namespace

void PrepareDriverDevices() {
    FactoryLock();
    Factory();
}

std::unique_ptr<DriverDevice> OpenDriverDevice(const std::string& path) {
    DriverDeviceFactory factory;
    {
        std::lock_guard<std::mutex> guard(FactoryLock());
        factory = Factory();
    }
    if (factory) return factory(path);
    return System::OpenDriverDevice(path);
}

void SetDriverDeviceFactory(DriverDeviceFactory factory) {
    std::lock_guard<std::mutex> guard(FactoryLock());
    Factory() = std::move(factory);
}

}  // namespace Platform

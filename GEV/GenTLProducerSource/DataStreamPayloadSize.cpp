// The data stream's payload size: the camera's PayloadSize feature, read
// through the remote device port, or a stand-in while it cannot be read.
#include <algorithm>

#include "DataStream.h"
#include "Device.h"
#include "DevicePort.h"

namespace GenTL {

void CDataStream::RefreshPayloadSize() {
    // Read before the lock: the camera may take its time to answer.
    CDevicePort* port = m_device->RemotePort();
    const std::optional<uint64_t> camera = port ? port->CameraPayloadSize() : std::nullopt;
    std::lock_guard<std::mutex> guard(m_announcedLock);
    m_cameraPayloadKnown = camera.has_value();
    PublishPayloadSize(camera ? *camera : LargestAnnouncedLocked());
}

uint64_t CDataStream::LargestAnnouncedLocked() const {
    uint64_t largest = 0;
    for (const auto& record : m_announced) largest = std::max<uint64_t>(largest, record->Size());
    return largest != 0 ? largest : kDefaultPayloadSize;
}

void CDataStream::PublishPayloadSize(uint64_t size) {
    m_payloadSize = size;
    m_registerMap.Poke(kRegPayloadSize,
                       static_cast<uint32_t>(std::min<uint64_t>(size, UINT32_MAX)));
}

}  // namespace GenTL

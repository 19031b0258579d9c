// The remote device port's view of the camera's PayloadSize feature, which the
// data stream reports as its payload size.
#include <algorithm>
#include <cstring>
#include <exception>
#include <vector>

#include "CameraDescription.h"
#include "Device.h"
#include "DevicePort.h"
#include "GenApiXml.h"
#include "Socket.h"

namespace GenTL {

namespace {

constexpr char kPayloadSizeFeature[] = "PayloadSize";

}  // namespace

bool CDevicePort::ReadCamera(uint64_t address, size_t length, uint8_t* out) {
    if (length == 0 || address > UINT32_MAX || UINT32_MAX - address < length) return false;
    const uint8_t handle = m_device->Handle();
    if (length == 4 && address % 4 == 0) {
        uint32_t value = 0;
        if (Vantor::GEVReadRegister(handle, static_cast<uint32_t>(address), 1, &value) !=
            Vantor::kGevOk)
            return false;
        // The camera's byte order, as its description declares its registers in.
        const uint32_t wire = Platform::HostToNetwork32(value);
        std::memcpy(out, &wire, 4);
        return true;
    }
    // Memory is read in whole, aligned registers: the bytes wanted are cut out.
    const uint64_t first = address & ~uint64_t{3};
    const uint64_t end = (address + length + 3) & ~uint64_t{3};
    std::vector<uint8_t> words(static_cast<size_t>(end - first));
    for (uint64_t at = first; at < end;) {
        const uint32_t chunk = static_cast<uint32_t>(std::min<uint64_t>(end - at, 512));
        if (Vantor::GEVReadMemory(handle, static_cast<uint32_t>(at), chunk,
                                  words.data() + (at - first)) != Vantor::kGevOk)
            return false;
        at += chunk;
    }
    std::memcpy(out, words.data() + (address - first), length);
    return true;
}

std::optional<uint64_t> CDevicePort::CameraPayloadSize() try {
    std::lock_guard<std::mutex> guard(m_payloadLock);
    bool readFailed = false;
    const RegisterReader read = [&](uint64_t address, size_t length, uint8_t* out) {
        const bool ok = ReadCamera(address, length, out);
        readFailed = readFailed || !ok;
        return ok;
    };
    if (!m_payloadChainRead) {
        const DescriptionUrl url = ParseDescriptionUrl(FirstURL());
        const std::optional<std::string> xml = ReadCameraDescription(url, read);
        if (xml) m_payloadChain = GenApiIntegerNode::Compile(GenApiXml(*xml), kPayloadSizeFeature);
        // A description that could not be read is tried again at the next
        // call; one that was read, or that is beyond reach, is settled.
        m_payloadChainRead = !readFailed && !url.text.empty();
    }
    if (!m_payloadChain) return std::nullopt;
    const std::optional<int64_t> value = m_payloadChain->Evaluate(read);
    // The library's acquisition takes a 32-bit payload size; none is empty.
    if (!value || *value <= 0 || *value > int64_t{UINT32_MAX}) return std::nullopt;
    return static_cast<uint64_t>(*value);
} catch (const std::exception&) {
    // Out of memory for a camera's outsized description: unknown, as anything else.
    return std::nullopt;
}

}  // namespace GenTL

#include "DevicePort.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "Device.h"
#include "ErrorReport.h"
#include "Exceptions.h"
#include "InfoCopy.h"
#include "LibraryInfo.h"
#include "PortInfo.h"
#include "RegisterMap.h"
#include "Socket.h"
#include "StringFormat.h"

namespace GenTL {

using Platform::Format;

namespace {

constexpr uint32_t kFirstURLAddress = 0x0200;
constexpr size_t kFirstURLSize = 512;
constexpr size_t kChunk = 512;
// Enough of a description to hold its RegisterDescription start tag.
constexpr size_t kDescriptionHead = 2048;

size_t RoundUp4(size_t size) {
    return (size + 3) & ~size_t{3};
}

std::string Hex(uint64_t address) {
    return Format("%I64x", address);
}

}  // namespace

int64_t CDevicePort::ReadBlock(uint64_t address, void* pBuffer, size_t* piSize) {
    // Answered as every register-map port answers a missing buffer.
    CRegisterMap::ValidateBuffer(pBuffer, *piSize);
    const uint8_t handle = m_device->Handle();
    auto* out = static_cast<uint8_t*>(pBuffer);
    if (*piSize == 4) {
        uint32_t value = 0;
        Vantor::GevStatus status =
            Vantor::GEVReadRegister(handle, static_cast<uint32_t>(address), 1, &value);
        if (status != Vantor::kGevOk) {
            ReportError(m_device->ErrorEvent(),
                        "Error GEVReadRegister at address 0x" + Hex(address), status);
            *piSize = 0;
            return -static_cast<int64_t>(status);
        }
        // The consumer sees the register's bytes in the camera's big-endian order.
        const uint32_t wire = Platform::HostToNetwork32(value);
        std::memcpy(out, &wire, 4);
        return 4;
    }
    const size_t requested = *piSize;
    size_t done = 0;
    // The library reads whole registers: the chunk lands in a bounce buffer
    // and only the requested bytes reach the caller.
    std::vector<uint8_t> chunkBuffer(RoundUp4(kChunk));
    while (done < requested) {
        const size_t remaining = requested - done;
        const size_t chunk = RoundUp4(std::min(remaining, kChunk));
        const uint64_t at = address + done;
        Vantor::GevStatus status = Vantor::GEVReadMemory(
            handle, static_cast<uint32_t>(at), static_cast<uint32_t>(chunk), chunkBuffer.data());
        if (status != Vantor::kGevOk) {
            ReportError(m_device->ErrorEvent(), "Error GEVReadMemory at address 0x" + Hex(at),
                        status);
            *piSize = done;
            return -static_cast<int64_t>(status);
        }
        const size_t useful = std::min(chunk, remaining);
        std::memcpy(out + done, chunkBuffer.data(), useful);
        done += useful;
    }
    return static_cast<int64_t>(requested);
}

int64_t CDevicePort::WriteBlock(uint64_t address, const void* pBuffer, size_t* piSize) {
    // Answered as every register-map port answers a missing buffer.
    CRegisterMap::ValidateBuffer(pBuffer, *piSize);
    const uint8_t handle = m_device->Handle();
    const auto* in = static_cast<const uint8_t*>(pBuffer);
    if (*piSize == 4) {
        uint32_t wire = 0;
        std::memcpy(&wire, in, 4);
        const uint32_t value = Platform::NetworkToHost32(wire);
        Vantor::GevStatus status =
            Vantor::GEVWriteRegister(handle, static_cast<uint32_t>(address), 1, &value);
        if (status != Vantor::kGevOk) {
            ReportError(m_device->ErrorEvent(),
                        "Error GEVWriteRegister at address 0x" + Hex(address), status);
            *piSize = 0;
            return -static_cast<int64_t>(status);
        }
        return 4;
    }
    const size_t requested = *piSize;
    size_t done = 0;
    // The rounded tail of a chunk is sent as zeros, never as bytes past the caller's data.
    std::vector<uint8_t> chunkBuffer(RoundUp4(kChunk));
    while (done < requested) {
        const size_t remaining = requested - done;
        const size_t chunk = RoundUp4(std::min(remaining, kChunk));
        const size_t useful = std::min(chunk, remaining);
        std::fill(chunkBuffer.begin(), chunkBuffer.end(), 0);
        std::memcpy(chunkBuffer.data(), in + done, useful);
        const uint64_t at = address + done;
        Vantor::GevStatus status = Vantor::GEVWriteMemory(
            handle, static_cast<uint32_t>(at), static_cast<uint32_t>(chunk), chunkBuffer.data());
        if (status != Vantor::kGevOk) {
            ReportError(m_device->ErrorEvent(), "Error GEVWriteMemory at address 0x" + Hex(at),
                        status);
            *piSize = done;
            return -static_cast<int64_t>(status);
        }
        done += useful;
    }
    return static_cast<int64_t>(requested);
}

void CDevicePort::ReadRegister(uint64_t address, uint32_t* value) {
    Vantor::GevStatus status =
        Vantor::GEVReadRegister(m_device->Handle(), static_cast<uint32_t>(address), 1, value);
    if (status != Vantor::kGevOk)
        ReportError(m_device->ErrorEvent(), "Error GEVReadRegister at address 0x" + Hex(address),
                    status);
}

void CDevicePort::WriteRegister(uint64_t address, uint32_t value) {
    Vantor::GevStatus status =
        Vantor::GEVWriteRegister(m_device->Handle(), static_cast<uint32_t>(address), 1, &value);
    if (status != Vantor::kGevOk)
        ReportError(m_device->ErrorEvent(), "Error GEVWriteRegister at address 0x" + Hex(address),
                    status);
}

std::string CDevicePort::FirstURL() {
    char url[kFirstURLSize + 1] = {};
    Vantor::GevStatus status =
        Vantor::GEVReadMemory(m_device->Handle(), kFirstURLAddress, kFirstURLSize, url);
    if (status != Vantor::kGevOk) {
        ReportError(m_device->ErrorEvent(), "Error GEVReadMemory at address 0x200", status);
        // Without the camera's URL the consumer gets an empty one, not stale bytes.
        return std::string();
    }
    return std::string(url, strnlen(url, kFirstURLSize));
}

void CDevicePort::GetURL(char* sURL, size_t* piSize) {
    const std::string url = FirstURL();
    std::vector<char> text(url.begin(), url.end());
    text.push_back('\0');
    text.push_back('\0');
    CopyInfoRaw(nullptr, sURL, piSize, INFO_DATATYPE_STRING, text.data(), text.size());
}

void CDevicePort::GetPortInfo(PORT_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                              size_t* piSize) {
    PortInfoTexts texts{m_device->DeviceInfo()->GetID(), "Device", "Device",
                        m_device->DeviceInfo()->version};
    texts.bigEndian = true;
    if (!CopyPortInfo(iInfoCmd, piType, pBuffer, piSize, texts))
        throw implementation_exception(
            Format("Requested iInfoCmd is not implemented; iInfoCmd = %d.", iInfoCmd));
}

void CDevicePort::GetNumURLs(uint32_t* piNumURLs) {
    *piNumURLs = 1;
}

void CDevicePort::GetURLInfo(uint32_t iURLIndex, URL_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                             void* pBuffer, size_t* piSize) {
    if (iURLIndex != 0) {
        throw invalid_index_exception(
            Format("Specified iURLIndex is invalid: iURLIndex = 0x%p.", iURLIndex));
    }
    DescriptionUrl description = ParseDescriptionUrl(FirstURL());
    const bool versionWanted =
        iInfoCmd >= URL_INFO_SCHEMA_VER_MAJOR && iInfoCmd <= URL_INFO_FILE_VER_SUBMINOR;
    if (versionWanted) ReadCameraDescriptionVersions(&description);
    AnswerDescriptionUrlInfo(description, iInfoCmd, piType, pBuffer, piSize);
}

void CDevicePort::ReadCameraDescriptionVersions(DescriptionUrl* description) {
    // Only a plain description in the camera's memory shows its start tag;
    // a zipped one, or one elsewhere, keeps what its URL says.
    const std::string& name = description->fileName;
    const bool plain = name.size() > 4 && (name.compare(name.size() - 4, 4, ".xml") == 0 ||
                                           name.compare(name.size() - 4, 4, ".XML") == 0);
    if (description->scheme != URL_SCHEME_LOCAL || !plain || !description->address ||
        !description->size || *description->address > UINT32_MAX)
        return;
    const size_t length =
        static_cast<size_t>(std::min<uint64_t>(*description->size, kDescriptionHead));
    std::vector<char> head(RoundUp4(length) + 1, '\0');
    const Vantor::GevStatus status =
        Vantor::GEVReadMemory(m_device->Handle(), static_cast<uint32_t>(*description->address),
                              static_cast<uint32_t>(RoundUp4(length)), head.data());
    if (status != Vantor::kGevOk) {
        ReportError(m_device->ErrorEvent(), "Error GEVReadMemory of the description's start",
                    status);
        return;
    }
    ReadDescriptionVersions(std::string(head.data(), length), description);
}

void CDevicePort::RegisterEvent(EVENT_TYPE iEventID, CEventObj** /*ppEvent*/) {
    throw implementation_exception(Format("Requested iID is not implemented; iID = %d.", iEventID));
}

void CDevicePort::UnregisterEvent(EVENT_TYPE iEventID) {
    throw implementation_exception(Format("Requested iID is not implemented; iID = %d.", iEventID));
}

ICommonBase* CDevicePort::GetParent() {
    return m_device;
}

}  // namespace GenTL

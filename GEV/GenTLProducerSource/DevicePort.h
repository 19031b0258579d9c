// CDevicePort: the remote device port, the consumer's way to the camera's own
// registers, memory and GenApi description over GVCP. A 4-byte access is one
// register in the camera's (big-endian) byte order; any other size is memory
// in 512-byte chunks. Runs on consumer threads; the protocol library's control
// lock serialises the exchanges.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "DescriptionUrl.h"
#include "GenApiIntegerNode.h"
#include "ICommonBase.h"

namespace GenTL {

class CDevice;

class CDevicePort : public ICommonBase {
public:
    explicit CDevicePort(CDevice* device) : m_device(device) {}
    ~CDevicePort() override = default;

    int64_t ReadBlock(uint64_t address, void* pBuffer, size_t* piSize) override;
    int64_t WriteBlock(uint64_t address, const void* pBuffer, size_t* piSize) override;
    void ReadRegister(uint64_t address, uint32_t* value) override;
    void WriteRegister(uint64_t address, uint32_t value) override;
    void GetURL(char* sURL, size_t* piSize) override;
    void GetPortInfo(PORT_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                     size_t* piSize) override;
    void GetNumURLs(uint32_t* piNumURLs) override;
    void GetURLInfo(uint32_t iURLIndex, URL_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                    size_t* piSize) override;

    // No event is raised on the remote port.
    void RegisterEvent(EVENT_TYPE iEventID, CEventObj** ppEvent) override;
    void UnregisterEvent(EVENT_TYPE iEventID) override;

    ICommonBase* GetParent() override;
    CDevice* Device() const { return m_device; }

    // The camera's PayloadSize feature now, evaluated from its registers through
    // the node chain of its description, which is read and compiled once per
    // device. Nothing when the description or the chain is beyond what the
    // producer understands, or a read fails. Thread-safe.
    std::optional<uint64_t> CameraPayloadSize();

private:
    // The camera's first URL text (up to its first zero byte).
    std::string FirstURL();
    // The versions declared at the start of the camera's description, where
    // its URL points into the camera's memory at a plain XML file.
    void ReadCameraDescriptionVersions(DescriptionUrl* description);

    // Reads camera memory for the description and its registers, raising no
    // error event: what fails here only leaves the payload size unknown.
    bool ReadCamera(uint64_t address, size_t length, uint8_t* out);

    CDevice* m_device;
    std::mutex m_payloadLock;
    bool m_payloadChainRead = false;                  // under m_payloadLock
    std::optional<GenApiIntegerNode> m_payloadChain;  // under m_payloadLock
};

}  // namespace GenTL

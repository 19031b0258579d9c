// CDeviceInfo: one discovered camera as the interface module keeps it and the
// device module reads it (identity, addresses, MAC, access status). Shared
// between both; written only on consumer threads.
#pragma once

#include <cstdint>
#include <string>

#include "GenTL.h"
#include "VantorLib.h"

namespace GenTL {

class CDeviceInfo {
public:
    CDeviceInfo() = default;
    // Built from a record of the protocol library's discovered device list.
    explicit CDeviceInfo(const Vantor::GevDiscoveredDevice& record);
    virtual ~CDeviceInfo() = default;

    virtual std::string GetID() const { return m_id; }
    // vendor ":" model ":" serial "@" dotted IP address
    virtual std::string GetDisplayName() const;
    // True when `id` names this device: the model before the last "@", the
    // MAC after it with "-" for ":" (both exact).
    bool Matches(const std::string& id) const;
    // Answers the DEVICE_INFO_CMD values the record holds (the identity
    // texts); false for the others, which depend on the asking module.
    bool CopyInfo(DEVICE_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                  size_t* piSize) const;

    // Discovered access status (0..5) as a GenTL DEVICE_ACCESS_STATUS.
    static int32_t MapAccessStatus(uint8_t discovered);

    int32_t accessStatus = 0;
    uint32_t openFlags = 0;
    std::string version;
    std::string vendorName;
    std::string modelName;
    std::string userDefinedName;
    std::string serialNumber;
    uint32_t ipAddress = 0;  // network order
    uint32_t subnetMask = 0;
    uint32_t gateway = 0;
    uint64_t macValue = 0;  // b3 b2 b1 b0 b4 b5 0 0, most significant first
    std::string macText;    // "02:00:5E:10:00:01"
    uint32_t adapterAddress = 0;
    uint8_t mac[6] = {};

private:
    std::string m_id;
};

}  // namespace GenTL

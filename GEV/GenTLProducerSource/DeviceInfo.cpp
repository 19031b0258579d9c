#include "DeviceInfo.h"

#include <cstring>

#include "InfoCopy.h"
#include "LibraryInfo.h"
#include "Socket.h"
#include "StringFormat.h"

namespace GenTL {
namespace {

// A name field of the discovery acknowledge: up to `size` characters, maybe
// without a terminator.
std::string Field(const char* text, size_t size) {
    return std::string(text, strnlen(text, size));
}

}  // namespace

CDeviceInfo::CDeviceInfo(const Vantor::GevDiscoveredDevice& record) {
    accessStatus = MapAccessStatus(record.accessStatus);
    version = Field(record.deviceVersion, sizeof record.deviceVersion);
    vendorName = Field(record.manufacturer, sizeof record.manufacturer);
    modelName = Field(record.model, sizeof record.model);
    userDefinedName = Field(record.userName, sizeof record.userName);
    serialNumber = Field(record.serialNumber, sizeof record.serialNumber);
    ipAddress = record.cameraAddress;
    subnetMask = record.subnetMask;
    gateway = record.defaultGateway;
    adapterAddress = record.adapterAddress;
    std::memcpy(mac, record.macHigh, 2);
    std::memcpy(mac + 2, record.macLow, 4);
    macValue = (uint64_t{mac[3]} << 56) | (uint64_t{mac[2]} << 48) | (uint64_t{mac[1]} << 40) |
               (uint64_t{mac[0]} << 32) | (uint64_t{mac[4]} << 24) | (uint64_t{mac[5]} << 16);
    macText = Platform::Format("%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3],
                               mac[4], mac[5]);
    m_id = Platform::Format("%s@%02X-%02X-%02X-%02X-%02X-%02X", modelName, mac[0], mac[1], mac[2],
                            mac[3], mac[4], mac[5]);
}

std::string CDeviceInfo::GetDisplayName() const {
    char address[16];
    return vendorName + ":" + modelName + ":" + serialNumber + "@" +
           Platform::AddressText(ipAddress, address);
}

bool CDeviceInfo::Matches(const std::string& id) const {
    const size_t at = id.rfind('@');
    if (at == std::string::npos) return false;
    std::string macPart = id.substr(at + 1);
    for (char& c : macPart)
        if (c == '-') c = ':';
    return id.compare(0, at, modelName) == 0 && at == modelName.size() && macPart == macText;
}

int32_t CDeviceInfo::MapAccessStatus(uint8_t discovered) {
    switch (discovered) {
        case Vantor::kAccessFree:
            return DEVICE_ACCESS_STATUS_READWRITE;
        case Vantor::kAccessExclusive:
            return DEVICE_ACCESS_STATUS_NOACCESS;
        case Vantor::kAccessSubnetMismatch:
            return 1000;
        case Vantor::kAccessControl:
            return DEVICE_ACCESS_STATUS_READONLY;
        default:
            // The probe failed or did not run: nothing is known.
            return DEVICE_ACCESS_STATUS_UNKNOWN;
    }
}

bool CDeviceInfo::CopyInfo(DEVICE_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                           size_t* piSize) const {
    std::string text;
    switch (iInfoCmd) {
        case DEVICE_INFO_ID:
            text = GetID();
            break;
        case DEVICE_INFO_DISPLAYNAME:
            text = GetDisplayName();
            break;
        case DEVICE_INFO_TLTYPE:
            text = kTLType;
            break;
        case DEVICE_INFO_VENDOR:
            text = vendorName;
            break;
        case DEVICE_INFO_MODEL:
            text = modelName;
            break;
        case DEVICE_INFO_USER_DEFINED_NAME:
            text = userDefinedName;
            break;
        case DEVICE_INFO_SERIAL_NUMBER:
            text = serialNumber;
            break;
        case DEVICE_INFO_VERSION:
            text = version;
            break;
        default:
            return false;
    }
    CopyInfoString(piType, pBuffer, piSize, text);
    return true;
}

}  // namespace GenTL

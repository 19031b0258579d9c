// CInterface: the one GenTL interface, "GigE", standing for every IPv4
// adapter of the host. It runs discovery, keeps the discovered device records
// (CDeviceInfo), presents them through its register map and info queries,
// sends FORCEIP, and opens cameras as device modules, which it owns.
// Runs on consumer threads: one discovery at a time (m_discoveryLock, held
// across its exchanges; an open holds it only while reading the table), the
// lists under m_lock (never held across an exchange).
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "DeviceInfo.h"
#include "ErrorEventModule.h"
#include "ICommonBase.h"
#include "InterfaceInfo.h"
#include "RegisterMap.h"
#include "VantorLib.h"

namespace GenTL {

class CTL;
class CDevice;

class CInterface : public CErrorEventModule {
public:
    // Register addresses of the interface register map.
    static constexpr uint64_t kRegID = 0x000;
    static constexpr uint64_t kRegDisplayName = 0x100;
    static constexpr uint64_t kRegTLTypeText = 0x200;
    static constexpr uint64_t kRegDeviceUpdate = 0x280;
    static constexpr uint64_t kRegIgnoreSubnet = 0x284;
    static constexpr uint64_t kRegDeviceID = 0x380;
    static constexpr uint64_t kRegDeviceCount = 0x480;
    static constexpr uint64_t kRegDeviceSelector = 0x484;
    static constexpr uint64_t kRegVendor = 0x488;
    static constexpr uint64_t kRegModel = 0x4A8;
    static constexpr uint64_t kRegUserName = 0x4C8;
    static constexpr uint64_t kRegSerial = 0x4D8;
    static constexpr uint64_t kRegIPAddress = 0x4E8;
    static constexpr uint64_t kRegSubnetMask = 0x4EC;
    static constexpr uint64_t kRegGateway = 0x4F0;
    static constexpr uint64_t kRegMAC = 0x4F4;
    static constexpr uint64_t kRegAdapterAddress = 0x4FC;
    static constexpr uint64_t kRegOpenFlags = 0x528;
    static constexpr uint64_t kRegAccessStatus = 0x52C;
    static constexpr uint64_t kRegOpenedCount = 0x530;
    static constexpr uint64_t kRegAccessible = 0x534;
    static constexpr uint64_t kRegTLType = 0x538;
    static constexpr uint64_t kRegReserved = 0x53C;
    static constexpr uint64_t kRegForceIp = 0x540;
    static constexpr uint64_t kRegForceIpAddress = 0x544;
    static constexpr uint64_t kRegForceIpMask = 0x548;
    static constexpr uint64_t kRegForceIpGateway = 0x54C;
    static constexpr uint64_t kRegForceIpMAC = 0x550;
    static constexpr uint64_t kRegForceIpAdapter = 0x558;
    static constexpr uint64_t kRegForceIpStatus = 0x55C;
    static constexpr uint64_t kRegXmlAddress = 0x700;

    CInterface(std::shared_ptr<CInterfaceInfo> info, CTL* system);
    ~CInterface() override;

    // IPort: the interface register map and description.
    void GetURL(char* sURL, size_t* piSize) override;
    void GetPortInfo(PORT_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                     size_t* piSize) override;
    void GetURLInfo(uint32_t iURLIndex, URL_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                    size_t* piSize) override;

    ICommonBase* GetParent() override;

    // The opened device, or null when the camera is held by another application.
    std::shared_ptr<CDevice> OpenDevice(const std::string& id, DEVICE_ACCESS_FLAGS flags);
    uint32_t GetNumDevices() const;
    std::string GetDeviceID(uint32_t index) const;
    void UpdateDeviceList(bool8_t* pbChanged, uint64_t timeout);
    // Drops the opened-device entry of `device` (DevClose); the camera closes
    // when no call holds the device any more.
    void RemoveDevice(const CDevice* device);
    // Closes every device and empties both lists (IFClose).
    void Close();
    // False once closed: an open racing with IFClose must not keep its device.
    bool IsOpen() const {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        return m_open;
    }
    const CInterfaceInfo& Info() const { return *m_info; }
    void GetDeviceInfo(const std::string& id, DEVICE_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                       void* pBuffer, size_t* piSize);
    std::shared_ptr<CDeviceInfo> FindDeviceInfo(const std::string& id) const;
    // What the camera answered in discovery, or the open status of a device
    // this process has open.
    int32_t AccessStatusOf(const CDeviceInfo& record) const;

private:
    void BuildRegisterMap();
    void ShowDevice(uint32_t index);
    void ShowRecord(const CDeviceInfo& record);
    void ForceIp();
    static void OnWrite(uint64_t address, uint32_t* value, void* context);
    static void OnRead(uint64_t address, uint32_t* value, void* context);

    std::shared_ptr<CInterfaceInfo> m_info;
    CTL* m_system;  // a handle to hand out only: the system module may close first
    std::recursive_mutex m_discoveryLock;
    // Recursive: register hooks run inside the module's own calls.
    mutable std::recursive_mutex m_lock;
    bool m_open = true;  // under m_lock
    // Owned here; the controller's registry holds them weakly.
    std::vector<std::shared_ptr<CDevice>> m_openedDevices;
    std::vector<std::shared_ptr<CDeviceInfo>> m_discovered;
    std::unique_ptr<Vantor::GevDeviceList> m_table;  // under m_discoveryLock
    uint8_t m_tableIndex = 0;
    uint8_t m_selected = 0;  // under m_lock
};

}  // namespace GenTL

// The system module (GenTL TL module): root of the module tree, created by
// TLOpen and owned by the library controller. It keeps the interface list
// (one interface, "GigE", for all adapters), serves the system register map
// and XML description through its port, and raises error events.
// Runs on consumer threads; its interface lists have a lock of their own.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ErrorEventModule.h"
#include "ICommonBase.h"
#include "InterfaceInfo.h"
#include "RegisterMap.h"

namespace GenTL {

class CInterface;

class CTL : public CErrorEventModule {
public:
    // Register addresses of the system register map.
    static constexpr uint64_t kRegInterfaceCount = 0x004;
    static constexpr uint64_t kRegInterfaceSelector = 0x008;
    static constexpr uint64_t kRegTLType = 0x00C;
    static constexpr uint64_t kRegInterfaceUpdateList = 0x044;
    static constexpr uint64_t kRegVendorName = 0x048;
    static constexpr uint64_t kRegModelName = 0x088;
    static constexpr uint64_t kRegVersion = 0x0C8;
    static constexpr uint64_t kRegGenTLVersionMinor = 0x0D8;
    static constexpr uint64_t kRegGenTLVersionMajor = 0x0DC;
    static constexpr uint64_t kRegTLID = 0x100;
    static constexpr uint64_t kRegTLPath = 0x200;
    static constexpr uint64_t kRegDisplayName = 0x600;
    static constexpr uint64_t kRegTLTypeText = 0x700;
    static constexpr uint64_t kRegInterfaceID = 0x740;
    static constexpr uint64_t kRegReserved = 0x840;
    static constexpr uint64_t kRegXmlAddress = 0x940;

    CTL();
    ~CTL() override;

    // IPort: the system register map and description.
    void GetURL(char* sURL, size_t* piSize) override;
    void GetPortInfo(PORT_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                     size_t* piSize) override;
    void GetURLInfo(uint32_t iURLIndex, URL_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                    size_t* piSize) override;

    ICommonBase* GetParent() override { return nullptr; }

    // Fills the register map; always succeeds and hands out this module.
    bool Open(CTL** phSystem);
    uint32_t GetNumInterfaces();
    std::string GetInterfaceID(uint32_t index);
    void UpdateInterfaceList(bool8_t* pbChanged, uint64_t timeout);
    void GetInfo(TL_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer, size_t* piSize);
    // The interface module named `id`: the one already open under that name,
    // or a new one. The controller's registry owns it.
    std::shared_ptr<CInterface> OpenInterface(const std::string& id);
    void GetInterfaceInfo(const std::string& id, INTERFACE_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                          void* pBuffer, size_t* piSize);

private:
    static void OnInterfaceSelector(uint64_t address, uint32_t* value, void* context);
    std::string GetURLText() const;
    // TL_INFO_ID, the description's TLID and the port's ID: the library's file name.
    static std::string SystemID();

    // Recursive: the interface selector's hook runs inside UpdateInterfaceList.
    std::recursive_mutex m_lock;
    std::vector<std::weak_ptr<CInterface>> m_openInterfaces;        // under m_lock
    std::vector<std::shared_ptr<CInterfaceInfo>> m_interfaceInfos;  // under m_lock
    bool m_listUpdated = false;                                     // under m_lock
};

}  // namespace GenTL

// The base of every module whose port is a register map (system, interface,
// device, buffer): block and register access go to the map, and the module's
// GenApi description is placed inside it. The owning module's thread rules apply.
#pragma once

#include <cstdint>
#include <string>

#include "ICommonBase.h"
#include "RegisterMap.h"

namespace GenTL {

class CRegisterMapModule : public ICommonBase {
public:
    int64_t ReadBlock(uint64_t address, void* pBuffer, size_t* piSize) override;
    int64_t WriteBlock(uint64_t address, const void* pBuffer, size_t* piSize) override;
    void ReadRegister(uint64_t address, uint32_t* value) override;
    void WriteRegister(uint64_t address, uint32_t value) override;

    CRegisterMap& RegisterMap() { return m_registerMap; }

protected:
    explicit CRegisterMapModule(uint64_t initialSlots) : m_registerMap(initialSlots) {}

    // Loads embedded description `number` of `type` and defines it read-only
    // at `address`; its padded size is kept in m_xmlSize.
    void PlaceXml(int number, const char* type, uint64_t address);

    CRegisterMap m_registerMap;
    std::string m_xml;
    uint32_t m_xmlSize = 0;
};

}  // namespace GenTL

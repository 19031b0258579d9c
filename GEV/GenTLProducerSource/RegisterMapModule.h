// The base of every module whose port is a register map (system, interface,
// device, buffer): block and register access go to the map, and the module's
// GenApi description is placed inside it. The owning module's thread rules apply.
#pragma once

#include <cstdint>
#include <string>

#include "ICommonBase.h"
#include "PortInfo.h"
#include "RegisterMap.h"

namespace GenTL {

class CRegisterMapModule : public ICommonBase {
public:
    int64_t ReadBlock(uint64_t address, void* pBuffer, size_t* piSize) override;
    int64_t WriteBlock(uint64_t address, const void* pBuffer, size_t* piSize) override;
    void ReadRegister(uint64_t address, uint32_t* value) override;
    void WriteRegister(uint64_t address, uint32_t value) override;

    // One description per module.
    void GetNumURLs(uint32_t* piNumURLs) override { *piNumURLs = 1; }

    CRegisterMap& RegisterMap() { return m_registerMap; }

protected:
    explicit CRegisterMapModule(uint64_t initialSlots) : m_registerMap(initialSlots) {}

    // Loads embedded description `number` of `type` and defines it read-only
    // at `address`; its padded size is kept in m_xmlSize.
    void PlaceXml(int number, const char* type, uint64_t address);

    // The description's "Local:" URL (from `urlFormat`) with its trailing ";"
    // delivered as the terminator; `piSize` gets the size needed. False, with
    // nothing copied, when `sURL` is shorter than that.
    bool CopyOwnURL(const char* urlFormat, uint64_t xmlAddress, char* sURL, size_t* piSize) const;
    // PORT_INFO_CMD answers with the module's texts; an unknown command is
    // not implemented.
    static void AnswerPortInfo(const PortInfoTexts& texts, PORT_INFO_CMD iInfoCmd,
                               INFO_DATATYPE* piType, void* pBuffer, size_t* piSize);
    // URL_INFO_CMD answers for URL index 0, whose text get URL delivers as
    // `url`, with the versions the module's own description declares; another
    // index is an invalid index.
    void AnswerURLInfo(uint32_t iURLIndex, const std::string& url, URL_INFO_CMD iInfoCmd,
                       INFO_DATATYPE* piType, void* pBuffer, size_t* piSize) const;
    // The same for the module's "Local:" URL made from `urlFormat`.
    void AnswerOwnURLInfo(const char* urlFormat, uint64_t xmlAddress, uint32_t iURLIndex,
                          URL_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                          size_t* piSize) const;

    CRegisterMap m_registerMap;
    std::string m_xml;
    uint32_t m_xmlSize = 0;
};

}  // namespace GenTL

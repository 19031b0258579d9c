#include "RegisterMapModule.h"

#include <cstring>
#include <vector>

#include "DescriptionUrl.h"
#include "Exceptions.h"
#include "ModuleInfo.h"
#include "RegisterMapPort.h"
#include "StringFormat.h"

namespace GenTL {

int64_t CRegisterMapModule::ReadBlock(uint64_t address, void* pBuffer, size_t* piSize) {
    ReadMapBlock(m_registerMap, address, pBuffer, *piSize);
    return static_cast<int64_t>(*piSize);
}

int64_t CRegisterMapModule::WriteBlock(uint64_t address, const void* pBuffer, size_t* piSize) {
    WriteMapBlock(m_registerMap, address, pBuffer, *piSize);
    return static_cast<int64_t>(*piSize);
}

void CRegisterMapModule::ReadRegister(uint64_t address, uint32_t* value) {
    *value = m_registerMap.Read(address);
}

void CRegisterMapModule::WriteRegister(uint64_t address, uint32_t value) {
    m_registerMap.Write(address, value);
}

void CRegisterMapModule::PlaceXml(int number, const char* type, uint64_t address) {
    m_xmlSize = LoadXmlResource(Platform::ModuleInstance(), number, type, &m_xml);
    std::vector<uint32_t> words(m_xmlSize / 4);
    std::memcpy(words.data(), m_xml.data(), m_xmlSize);
    m_registerMap.DefineBlock(address, kAccessRO, words.data(), m_xmlSize, false);
}

bool CRegisterMapModule::CopyOwnURL(const char* urlFormat, uint64_t xmlAddress, char* sURL,
                                    size_t* piSize) const {
    std::string url = FormatLocalURL(urlFormat, xmlAddress, m_xmlSize);
    const size_t required = url.size() + 1;
    if (sURL != nullptr) {
        if (*piSize < required) return false;
        url.back() = '\0';  // the trailing ";" becomes the terminator
        std::memcpy(sURL, url.c_str(), url.size() + 1);
    }
    *piSize = required;
    return true;
}

void CRegisterMapModule::AnswerPortInfo(const PortInfoTexts& texts, PORT_INFO_CMD iInfoCmd,
                                        INFO_DATATYPE* piType, void* pBuffer, size_t* piSize) {
    if (!CopyPortInfo(iInfoCmd, piType, pBuffer, piSize, texts))
        throw implementation_exception(
            Platform::Format("Requested iInfoCmd is not implemented; iInfoCmd = %d.", iInfoCmd));
}

void CRegisterMapModule::AnswerURLInfo(uint32_t iURLIndex, const std::string& url,
                                       URL_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                                       size_t* piSize) const {
    if (iURLIndex != 0) {
        throw invalid_index_exception(
            Platform::Format("Specified iURLIndex is invalid: iURLIndex = 0x%p.", iURLIndex));
    }
    DescriptionUrl description = ParseDescriptionUrl(url);
    ReadDescriptionVersions(m_xml, &description);
    AnswerDescriptionUrlInfo(description, iInfoCmd, piType, pBuffer, piSize);
}

void CRegisterMapModule::AnswerOwnURLInfo(const char* urlFormat, uint64_t xmlAddress,
                                          uint32_t iURLIndex, URL_INFO_CMD iInfoCmd,
                                          INFO_DATATYPE* piType, void* pBuffer,
                                          size_t* piSize) const {
    std::string url = FormatLocalURL(urlFormat, xmlAddress, m_xmlSize);
    url.pop_back();  // delivered without its trailing ";"
    AnswerURLInfo(iURLIndex, url, iInfoCmd, piType, pBuffer, piSize);
}

}  // namespace GenTL

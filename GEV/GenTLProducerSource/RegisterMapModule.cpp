#include "RegisterMapModule.h"

#include <cstring>
#include <vector>

#include "ModuleInfo.h"
#include "RegisterMapPort.h"

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

}  // namespace GenTL

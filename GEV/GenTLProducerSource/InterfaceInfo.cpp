#include "InterfaceInfo.h"

#include <algorithm>
#include <cctype>

#include "Exceptions.h"
#include "InfoCopy.h"
#include "LibraryInfo.h"
#include "StringFormat.h"

namespace GenTL {
namespace {

std::string UpperCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

}  // namespace

CInterfaceInfo::CInterfaceInfo(const std::string& idPrefix, const std::string& name)
    : m_idPrefix(UpperCase(idPrefix)), m_name(name), m_displayName(name + " Interface") {}

void CInterfaceInfo::GetInfo(INTERFACE_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                             size_t* piSize) const {
    switch (iInfoCmd) {
        case INTERFACE_INFO_ID:
            return CopyInfoString(piType, pBuffer, piSize, GetID());
        case INTERFACE_INFO_DISPLAYNAME:
            return CopyInfoString(piType, pBuffer, piSize, m_displayName);
        case INTERFACE_INFO_TLTYPE:
            return CopyInfoString(piType, pBuffer, piSize, kTLType);
        default:
            throw implementation_exception(
                Platform::Format("Requested iID is not implemented; iID = %d.", iInfoCmd));
    }
}

std::string CInterfaceInfo::GetID() const {
    return m_idPrefix + m_name + " Interface";
}

bool CInterfaceInfo::MatchesName(const std::string& id) const {
    return UpperCase(id).find(UpperCase(m_name)) != std::string::npos;
}

}  // namespace GenTL

// The record that describes one available GenTL interface: its ID, name and
// display name, and the info queries about it.
#pragma once

#include <cstddef>
#include <string>

#include "GenTL.h"

namespace GenTL {

class CInterfaceInfo {
public:
    CInterfaceInfo(const std::string& idPrefix, const std::string& name);
    virtual ~CInterfaceInfo() = default;

    // INTERFACE_INFO_ID, _DISPLAYNAME and _TLTYPE; other commands are not implemented.
    virtual void GetInfo(INTERFACE_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                         size_t* piSize) const;
    // Prefix, name and " Interface": "GigE Interface".
    virtual std::string GetID() const;
    // True when the name, upper-cased, occurs within `id`, upper-cased.
    virtual bool MatchesName(const std::string& id) const;
    virtual const std::string& GetDisplayName() const { return m_displayName; }
    virtual const std::string& GetName() const { return m_name; }
    virtual const std::string& GetIDPrefix() const { return m_idPrefix; }

private:
    std::string m_idPrefix;
    std::string m_name;
    std::string m_displayName;
};

}  // namespace GenTL

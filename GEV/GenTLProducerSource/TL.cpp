#include "TL.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "Exceptions.h"
#include "InfoCopy.h"
#include "Interface.h"
#include "LibraryInfo.h"
#include "ModuleInfo.h"
#include "PortInfo.h"
#include "RegisterMapPort.h"
#include "StringFormat.h"

namespace GenTL {

using Platform::Format;

namespace {

constexpr int kXmlResourceNumber = 115;
constexpr const char* kXmlResourceType = "TLREGS";
constexpr const char* kURLFormat = "Local:KRTL.xml;%x;%x;";
constexpr size_t kURLBufferSize = 512;
constexpr uint64_t kInitialRegisterSlots = 100;
constexpr const char* kInterfaceName = "GigE";

}  // namespace

CTL::CTL() : CErrorEventModule(kInitialRegisterSlots) {}

CTL::~CTL() {
    ReleaseErrorEvent();
    m_interfaceInfos.clear();
}

bool CTL::Open(CTL** phSystem) {
    CRegisterMap& map = m_registerMap;
    map.DefineRegister(kRegInterfaceCount, kAccessRO,
                       static_cast<uint32_t>(m_interfaceInfos.size()), false);
    map.DefineRegister(kRegInterfaceSelector, kAccessRW, 0, false, &CTL::OnInterfaceSelector, this,
                       nullptr);
    map.DefineRegister(kRegTLType, kAccessRO, 2, false);
    map.DefineRegister(kRegInterfaceUpdateList, kAccessRW, 0, false);
    map.DefineString(kRegVendorName, kAccessRO, GenTL::kVendorName, 64, false);
    map.DefineString(kRegModelName, kAccessRO, GenTL::kModelName, 64, false);
    map.DefineString(kRegVersion, kAccessRO, FormatVersion(GetLibraryVersion()), 16, false);
    map.DefineString(kRegTLTypeText, kAccessRO, GenTL::kTLType, 64, false);
    map.DefineString(kRegDisplayName, kAccessRO, GenTL::kDisplayName, 256, false);
    map.DefineRegister(kRegGenTLVersionMinor, kAccessRO, GenTL::kGenTLVersionMinor, false);
    map.DefineRegister(kRegGenTLVersionMajor, kAccessRO, GenTL::kGenTLVersionMajor, false);
    const std::string path = LibraryPath().substr(0, 1024);
    map.DefineString(kRegTLPath, kAccessRO, path, 1024, false);
    map.DefineString(kRegTLID, kAccessRO, SystemID(), 256, false);
    map.DefineString(kRegDisplayName, kAccessRO, GenTL::kDisplayName, 64, false);
    map.DefineString(kRegTLTypeText, kAccessRO, GenTL::kTLType, 64, false);
    map.DefineString(kRegInterfaceID, kAccessRO, "", 256, false);
    map.DefineString(kRegReserved, kAccessRO, "", 256, false);
    map.Write(kRegInterfaceSelector, 0);

    PlaceXml(kXmlResourceNumber, kXmlResourceType, kRegXmlAddress);
    *phSystem = this;
    return true;
}

void CTL::OnInterfaceSelector(uint64_t address, uint32_t* value, void* context) {
    auto* tl = static_cast<CTL*>(context);
    if (address != kRegInterfaceSelector) return;
    std::lock_guard<std::recursive_mutex> guard(tl->m_lock);
    // The ID TLGetInterfaceID gives and TLOpenInterface takes.
    std::string id;
    if (!tl->m_interfaceInfos.empty() && *value < tl->m_interfaceInfos.size()) {
        id = tl->m_interfaceInfos[*value]->GetID();
    }
    tl->m_registerMap.PokeString(kRegInterfaceID, id);
}

std::string CTL::SystemID() {
    std::string fileName;
    if (!LibraryFileName(LibraryPath().substr(0, 1024), &fileName))
        throw std::runtime_error("Invalid module name.");
    return fileName;
}

// ---- Port ------------------------------------------------------------------

std::string CTL::GetURLText() const {
    std::string url = FormatLocalURL(kURLFormat, kRegXmlAddress, m_xmlSize);
    if (url.size() + 2 > kURLBufferSize) throw std::length_error("URL exceeds its buffer");
    return url;
}

void CTL::GetURL(char* sURL, size_t* piSize) {
    if (piSize == nullptr) throw invalid_parameter_exception("Invalid Buffer Size");
    const std::string url = GetURLText();
    // Delivered without the final ";", but sized for the whole text and a NUL.
    const std::string delivered = url.substr(0, url.size() - 1);
    const size_t required = url.size() + 1;
    if (sURL == nullptr) {
        *piSize = required;
        return;
    }
    if (*piSize < required) {
        *piSize = required;
        throw invalid_parameter_exception("Invalid Buffer Size");
    }
    std::memcpy(sURL, delivered.c_str(), delivered.size() + 1);
    sURL[delivered.size() + 1] = '\0';
    *piSize = required;
}

void CTL::GetPortInfo(PORT_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                      size_t* piSize) {
    const PortInfoTexts texts{SystemID(), "TLSystem", "TLPort", FormatVersion(GetLibraryVersion())};
    AnswerPortInfo(texts, iInfoCmd, piType, pBuffer, piSize);
}

void CTL::GetURLInfo(uint32_t iURLIndex, URL_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                     void* pBuffer, size_t* piSize) {
    const std::string url = GetURLText();
    AnswerURLInfo(iURLIndex, url.substr(0, url.size() - 1), iInfoCmd, piType, pBuffer, piSize);
}

// ---- Events ----------------------------------------------------------------

// ---- Interfaces ------------------------------------------------------------

uint32_t CTL::GetNumInterfaces() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    const auto count = static_cast<uint32_t>(m_interfaceInfos.size());
    m_registerMap.Poke(kRegInterfaceCount, count);
    return count;
}

std::string CTL::GetInterfaceID(uint32_t index) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (index >= m_interfaceInfos.size()) {
        throw invalid_index_exception(Format("Requested iIndex (%d) is invalid.", index));
    }
    return m_interfaceInfos[index]->GetID();
}

void CTL::UpdateInterfaceList(bool8_t* pbChanged, uint64_t /*timeout*/) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    std::vector<std::shared_ptr<CInterfaceInfo>> fresh;
    fresh.push_back(std::make_shared<CInterfaceInfo>("", kInterfaceName));

    // Keep the record objects that still exist, so handed-out records stay valid.
    std::vector<std::shared_ptr<CInterfaceInfo>> current;
    current.swap(m_interfaceInfos);
    bool changed = false;
    for (auto& record : fresh) {
        auto same = std::find_if(current.begin(), current.end(), [&](const auto& existing) {
            return existing->GetID() == record->GetID();
        });
        if (same != current.end()) {
            m_interfaceInfos.push_back(*same);
            current.erase(same);
            record.reset();
        }
    }
    for (auto& record : fresh) {
        if (!record) continue;
        m_interfaceInfos.push_back(record);
        changed = true;
    }
    if (!current.empty()) changed = true;
    if (pbChanged != nullptr) *pbChanged = changed ? 1 : 0;

    m_registerMap.Poke(kRegInterfaceCount, static_cast<uint32_t>(m_interfaceInfos.size()));
    m_registerMap.Write(kRegInterfaceSelector, 0);
    m_listUpdated = true;
}

void CTL::GetInfo(TL_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer, size_t* piSize) {
    switch (iInfoCmd) {
        case TL_INFO_NAME: {
            std::string name;
            if (!LibraryFileName(LibraryPath(), &name))
                throw std::runtime_error("Invalid Module Name");
            return CopyInfoString(piType, pBuffer, piSize, name);
        }
        case TL_INFO_PATHNAME:
            return CopyInfoString(piType, pBuffer, piSize, LibraryPath().substr(0, 1024));
        case TL_INFO_ID:
            return CopyInfoString(piType, pBuffer, piSize, SystemID());
        default:
            return CopyCommonTLInfo(iInfoCmd, piType, pBuffer, piSize);
    }
}

std::shared_ptr<CInterface> CTL::OpenInterface(const std::string& id) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (!m_listUpdated) UpdateInterfaceList(nullptr, 200);
    m_openInterfaces.erase(std::remove_if(m_openInterfaces.begin(), m_openInterfaces.end(),
                                          [](const auto& open) { return open.expired(); }),
                           m_openInterfaces.end());
    for (const auto& weak : m_openInterfaces) {
        std::shared_ptr<CInterface> open = weak.lock();
        // A closed one may live on while a call still holds it: it is not reopened.
        if (open && open->IsOpen() && open->Info().GetName() == id) return open;
    }
    auto record = std::find_if(m_interfaceInfos.begin(), m_interfaceInfos.end(),
                               [&](const auto& info) { return info->MatchesName(id); });
    if (record == m_interfaceInfos.end()) {
        throw invalid_id_exception(Format("Requested interface name '%s' is invalid.", id));
    }
    auto copy = std::make_shared<CInterfaceInfo>(**record);
    auto iface = std::make_shared<CInterface>(copy, this);
    m_openInterfaces.push_back(iface);
    return iface;
}

void CTL::GetInterfaceInfo(const std::string& id, INTERFACE_INFO_CMD iInfoCmd,
                           INFO_DATATYPE* piType, void* pBuffer, size_t* piSize) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    auto record = std::find_if(m_interfaceInfos.begin(), m_interfaceInfos.end(),
                               [&](const auto& info) { return info->GetID() == id; });
    if (record == m_interfaceInfos.end()) {
        throw invalid_id_exception(Format("Requested strIfaceID '%s' is invalid.", id));
    }
    (*record)->GetInfo(iInfoCmd, piType, pBuffer, piSize);
}

}  // namespace GenTL

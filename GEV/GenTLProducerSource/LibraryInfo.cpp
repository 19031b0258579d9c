#include "LibraryInfo.h"

#include "Exceptions.h"
#include "InfoCopy.h"
#include "ModuleInfo.h"
#include "StringFormat.h"

namespace GenTL {

std::string LibraryPath() {
    return Platform::ModulePath();
}

bool LibraryFileName(const std::string& path, std::string* name) {
    const size_t separator = path.rfind(Platform::kPathSeparator);
    if (separator == std::string::npos) return false;
    *name = path.substr(separator + 1);
    return true;
}

uint64_t GetLibraryVersion() {
    return Platform::ReadFileVersion(LibraryPath().substr(0, 2048));
}

std::string FormatVersion(uint64_t version) {
    return Platform::Format("%d.%d.%d.%d", (version >> 48) & 0xFFFF, (version >> 32) & 0xFFFF,
                            (version >> 16) & 0xFFFF, version & 0xFFFF);
}

void CopyCommonTLInfo(TL_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer, size_t* piSize) {
    switch (iInfoCmd) {
        case TL_INFO_VENDOR:
            return CopyInfoString(piType, pBuffer, piSize, kVendorName);
        case TL_INFO_MODEL:
            return CopyInfoString(piType, pBuffer, piSize, kModelName);
        case TL_INFO_VERSION:
            return CopyInfoString(piType, pBuffer, piSize, FormatVersion(GetLibraryVersion()));
        case TL_INFO_TLTYPE:
            return CopyInfoString(piType, pBuffer, piSize, kTLType);
        case TL_INFO_DISPLAYNAME:
            return CopyInfoString(piType, pBuffer, piSize, kDisplayName);
        case TL_INFO_CHAR_ENCODING:
            return CopyInfoInt32(piType, pBuffer, piSize, TL_CHAR_ENCODING_ASCII);
        case TL_INFO_GENTL_VER_MAJOR:
            return CopyInfoValue(piType, pBuffer, piSize, INFO_DATATYPE_UINT32, kGenTLVersionMajor);
        case TL_INFO_GENTL_VER_MINOR:
            return CopyInfoValue(piType, pBuffer, piSize, INFO_DATATYPE_UINT32, kGenTLVersionMinor);
        default:
            throw implementation_exception(Platform::Format(
                "Requested iInfoCmd is not implemented; iInfoCmd = %d.", iInfoCmd));
    }
}

}  // namespace GenTL

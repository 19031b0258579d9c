#include "PortInfo.h"

#include "InfoCopy.h"
#include "LibraryInfo.h"

namespace GenTL {

bool CopyPortInfo(PORT_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer, size_t* piSize,
                  const PortInfoTexts& texts) {
    switch (iInfoCmd) {
        case PORT_INFO_ID:
            CopyInfoString(piType, pBuffer, piSize, texts.id);
            return true;
        case PORT_INFO_VENDOR:
            CopyInfoString(piType, pBuffer, piSize, GenTL::kVendorName);
            return true;
        case PORT_INFO_MODEL:
            CopyInfoString(piType, pBuffer, piSize, GenTL::kModelName);
            return true;
        case PORT_INFO_TLTYPE:
            CopyInfoString(piType, pBuffer, piSize, GenTL::kTLType);
            return true;
        case PORT_INFO_MODULE:
            CopyInfoString(piType, pBuffer, piSize, texts.module);
            return true;
        case PORT_INFO_LITTLE_ENDIAN:
            CopyInfoBool(piType, pBuffer, piSize, !texts.bigEndian);
            return true;
        case PORT_INFO_BIG_ENDIAN:
            CopyInfoBool(piType, pBuffer, piSize, texts.bigEndian);
            return true;
        case PORT_INFO_ACCESS_READ:
        case PORT_INFO_ACCESS_WRITE:
            CopyInfoBool(piType, pBuffer, piSize, true);
            return true;
        case PORT_INFO_ACCESS_NA:
        case PORT_INFO_ACCESS_NI:
            CopyInfoBool(piType, pBuffer, piSize, false);
            return true;
        case PORT_INFO_VERSION:
            CopyInfoString(piType, pBuffer, piSize, texts.version);
            return true;
        case PORT_INFO_PORTNAME:
            CopyInfoString(piType, pBuffer, piSize, texts.portName);
            return true;
        default:
            return false;
    }
}

}  // namespace GenTL

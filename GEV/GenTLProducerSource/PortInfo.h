// The port info answers that every module port gives in the same
// shape, each with its own texts and numbers.
#pragma once

#include <cstddef>
#include <string>

#include "GenTL.h"

namespace GenTL {

struct PortInfoTexts {
    std::string id;
    const char* module;
    const char* portName;
    std::string version;
    bool bigEndian = false;  // the remote device port; module register maps are little-endian
};

// Delivers PORT_INFO_CMD values; false for a command it does not know.
bool CopyPortInfo(PORT_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer, size_t* piSize,
                  const PortInfoTexts& texts);

}  // namespace GenTL

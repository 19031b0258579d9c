// The camera's GenApi description (gevsim.xml), embedded in the library at build time.
#pragma once

#include <string_view>

namespace GevSim {

std::string_view EmbeddedXml();

}  // namespace GevSim

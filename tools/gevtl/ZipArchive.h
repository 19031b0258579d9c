// GenApi descriptions shipped as a zip archive ("Local:name.zip;..."), unpacked with libzip.
#pragma once

#include <string>

namespace GenApiBridge {

// True when the description's file name ends in ".zip" (any case).
bool IsZipName(const std::string& fileName);

// The content of the first file in the archive held in `archive` (the XML description).
// Throws std::runtime_error with libzip's message when the data is not a readable archive.
std::string UnzipSingleFile(const std::string& archive);

}  // namespace GenApiBridge

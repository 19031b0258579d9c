#include "CameraDescription.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "ZipArchive.h"

namespace GenTL {
namespace {

bool EndsWith(const std::string& name, const char* suffix) {
    const std::string tail(suffix);
    if (name.size() < tail.size()) return false;
    for (size_t i = 0; i < tail.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(name[name.size() - tail.size() + i])) !=
            tail[i])
            return false;
    return true;
}

}  // namespace

std::optional<std::string> ReadCameraDescription(const DescriptionUrl& url,
                                                 const RegisterReader& read) {
    const bool zipped = EndsWith(url.fileName, ".zip");
    if (url.scheme != URL_SCHEME_LOCAL || !url.address || !url.size || *url.size == 0 ||
        *url.size > kMaxCameraDescription || *url.address > UINT32_MAX ||
        *url.address + *url.size > uint64_t{UINT32_MAX} + 1 ||
        (!zipped && !EndsWith(url.fileName, ".xml")) || !read)
        return std::nullopt;
    std::string file(static_cast<size_t>(*url.size), '\0');
    for (size_t done = 0; done < file.size();) {
        const size_t chunk = std::min(kDescriptionChunk, file.size() - done);
        if (!read(*url.address + done, chunk, reinterpret_cast<uint8_t*>(&file[done])))
            return std::nullopt;
        done += chunk;
    }
    if (!zipped) {
        // A camera may pad its file with zero bytes after the text.
        const size_t end = file.find('\0');
        if (end != std::string::npos) file.resize(end);
        return file;
    }
    return UnzipFirstFile(file, kMaxCameraDescription);
}

}  // namespace GenTL

// The camera's own GenApi description, read whole from its memory where its
// first URL points ("Local:name;address;size"): a plain XML file as it is, a
// zipped one unpacked. A description elsewhere (a file or web address), too
// large, or unreadable gives nothing.
#pragma once

#include <optional>
#include <string>

#include "DescriptionUrl.h"
#include "GenApiIntegerNode.h"

namespace GenTL {

// The largest description read from a camera, packed or unpacked.
constexpr size_t kMaxCameraDescription = 16u * 1024 * 1024;
// Bytes per memory read while the description is fetched.
constexpr size_t kDescriptionChunk = 512;

std::optional<std::string> ReadCameraDescription(const DescriptionUrl& url,
                                                 const RegisterReader& read);

}  // namespace GenTL

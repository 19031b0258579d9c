// What URL info tells of a GenApi description: the parts of its URL ("Local:",
// "File:" or "http:", with an optional "?SchemaVersion=" query) and the
// versions its RegisterDescription tag declares. Both texts may come from a
// camera, so every field is parsed defensively and may be missing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "GenTL.h"

namespace GenTL {

struct DescriptionVersion {
    int32_t major = 0;
    int32_t minor = 0;
    int32_t subMinor = 0;
};

struct DescriptionUrl {
    std::string text;  // as delivered by get URL
    std::optional<URL_SCHEME_ID> scheme;
    std::string fileName;             // without the path
    std::optional<uint64_t> address;  // "Local:" only
    std::optional<uint64_t> size;     // "Local:" only
    std::optional<DescriptionVersion> schemaVersion;
    std::optional<DescriptionVersion> fileVersion;
};

// Splits `url`; what it cannot read stays unset.
DescriptionUrl ParseDescriptionUrl(const std::string& url);

// The schema and file versions declared by the RegisterDescription start tag
// at the beginning of `xml` (SchemaMajorVersion..., MajorVersion...); each
// stays unset unless all three of its numbers are there.
void ReadDescriptionVersions(const std::string& xml, DescriptionUrl* description);

// Answers URL_INFO_CMD for `description`: a value it does not have is
// GC_ERR_NOT_AVAILABLE (a SHA1 hash always), an unknown command
// GC_ERR_NOT_IMPLEMENTED.
void AnswerDescriptionUrlInfo(const DescriptionUrl& description, URL_INFO_CMD iInfoCmd,
                              INFO_DATATYPE* piType, void* pBuffer, size_t* piSize);

}  // namespace GenTL

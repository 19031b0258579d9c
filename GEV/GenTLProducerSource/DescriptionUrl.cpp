#include "DescriptionUrl.h"

#include <cctype>
#include <cstdlib>

#include "Exceptions.h"
#include "InfoCopy.h"
#include "StringFormat.h"

namespace GenTL {
namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// A whole hexadecimal number of at most 16 digits; nothing else around it.
std::optional<uint64_t> Hex(const std::string& text) {
    if (text.empty() || text.size() > 16) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        const int digit = std::isdigit(static_cast<unsigned char>(c))
                              ? c - '0'
                              : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        value = value * 16 + static_cast<uint64_t>(digit);
    }
    return value;
}

// A decimal number that fits an int32_t.
std::optional<int32_t> Decimal(const std::string& text) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    int32_t value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

// "major.minor.subminor".
std::optional<DescriptionVersion> Version(const std::string& text) {
    const size_t first = text.find('.');
    const size_t second = first == std::string::npos ? first : text.find('.', first + 1);
    if (second == std::string::npos) return std::nullopt;
    auto major = Decimal(text.substr(0, first));
    auto minor = Decimal(text.substr(first + 1, second - first - 1));
    auto subMinor = Decimal(text.substr(second + 1));
    if (!major || !minor || !subMinor) return std::nullopt;
    return DescriptionVersion{*major, *minor, *subMinor};
}

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The value of attribute `name` in `tag`, or nothing; names must stand alone,
// so "MajorVersion" is not found inside "SchemaMajorVersion".
std::optional<std::string> Attribute(const std::string& tag, const std::string& name) {
    for (size_t at = tag.find(name); at != std::string::npos; at = tag.find(name, at + 1)) {
        if (at > 0 && !std::isspace(static_cast<unsigned char>(tag[at - 1]))) continue;
        size_t i = at + name.size();
        while (i < tag.size() && std::isspace(static_cast<unsigned char>(tag[i]))) ++i;
        if (i >= tag.size() || tag[i] != '=') continue;
        ++i;
        while (i < tag.size() && std::isspace(static_cast<unsigned char>(tag[i]))) ++i;
        if (i >= tag.size() || (tag[i] != '"' && tag[i] != '\'')) continue;
        const size_t end = tag.find(tag[i], i + 1);
        if (end == std::string::npos) return std::nullopt;
        return tag.substr(i + 1, end - i - 1);
    }
    return std::nullopt;
}

std::optional<DescriptionVersion> AttributeVersion(const std::string& tag,
                                                   const std::string& prefix) {
    auto major = Attribute(tag, prefix + "MajorVersion");
    auto minor = Attribute(tag, prefix + "MinorVersion");
    auto subMinor = Attribute(tag, prefix + "SubMinorVersion");
    if (!major || !minor || !subMinor) return std::nullopt;
    auto a = Decimal(*major), b = Decimal(*minor), c = Decimal(*subMinor);
    if (!a || !b || !c) return std::nullopt;
    return DescriptionVersion{*a, *b, *c};
}

void NotAvailable(const char* what) {
    throw not_available_exception(Platform::Format("%s is not available for this URL.", what));
}

}  // namespace

DescriptionUrl ParseDescriptionUrl(const std::string& url) {
    DescriptionUrl parsed;
    parsed.text = url;
    const size_t colon = url.find(':');
    if (colon == std::string::npos) return parsed;
    const std::string scheme = Lower(url.substr(0, colon));
    std::string rest = url.substr(colon + 1);
    const size_t query = rest.find('?');
    if (query != std::string::npos) {
        const std::string parameters = rest.substr(query + 1);
        rest.erase(query);
        const std::string key = "schemaversion=";
        const size_t at = Lower(parameters).find(key);
        if (at != std::string::npos) {
            const size_t start = at + key.size();
            const size_t end = parameters.find('&', start);
            parsed.schemaVersion = Version(parameters.substr(start, end - start));
        }
    }
    // "Local:///name" and "file:///path" are the same as without the slashes.
    const size_t slashes = rest.find_first_not_of('/');
    if (scheme == "local") {
        parsed.scheme = URL_SCHEME_LOCAL;
        rest.erase(0, slashes == std::string::npos ? rest.size() : slashes);
        const size_t first = rest.find(';');
        const size_t second = first == std::string::npos ? first : rest.find(';', first + 1);
        parsed.fileName = FileNameOf(rest.substr(0, first));
        if (second != std::string::npos) {
            parsed.address = Hex(rest.substr(first + 1, second - first - 1));
            // A trailing ";" after the size is tolerated; after a bad address
            // the size is not trusted either.
            std::string size = rest.substr(second + 1);
            if (!size.empty() && size.back() == ';') size.pop_back();
            if (parsed.address) parsed.size = Hex(size);
        }
    } else if (scheme == "file") {
        parsed.scheme = URL_SCHEME_FILE;
        parsed.fileName = FileNameOf(rest);
    } else if (scheme == "http" || scheme == "https") {
        parsed.scheme = URL_SCHEME_HTTP;
        parsed.fileName = FileNameOf(rest);
    }
    return parsed;
}

void ReadDescriptionVersions(const std::string& xml, DescriptionUrl* description) {
    const size_t begin = xml.find("<RegisterDescription");
    if (begin == std::string::npos) return;
    const size_t end = xml.find('>', begin);
    if (end == std::string::npos) return;
    const std::string tag = xml.substr(begin, end - begin);
    // The URL's query, when it has one, is what the camera vouches for.
    if (!description->schemaVersion) description->schemaVersion = AttributeVersion(tag, "Schema");
    description->fileVersion = AttributeVersion(tag, "");
}

void AnswerDescriptionUrlInfo(const DescriptionUrl& description, URL_INFO_CMD iInfoCmd,
                              INFO_DATATYPE* piType, void* pBuffer, size_t* piSize) {
    auto version = [&](const std::optional<DescriptionVersion>& known, const char* what,
                       int32_t DescriptionVersion::*part) {
        if (!known) NotAvailable(what);
        CopyInfoInt32(piType, pBuffer, piSize, (*known).*part);
    };
    switch (iInfoCmd) {
        case URL_INFO_URL:
            return CopyInfoString(piType, pBuffer, piSize, description.text);
        case URL_INFO_SCHEMA_VER_MAJOR:
            return version(description.schemaVersion, "The schema version",
                           &DescriptionVersion::major);
        case URL_INFO_SCHEMA_VER_MINOR:
            return version(description.schemaVersion, "The schema version",
                           &DescriptionVersion::minor);
        case URL_INFO_FILE_VER_MAJOR:
            return version(description.fileVersion, "The file version", &DescriptionVersion::major);
        case URL_INFO_FILE_VER_MINOR:
            return version(description.fileVersion, "The file version", &DescriptionVersion::minor);
        case URL_INFO_FILE_VER_SUBMINOR:
            return version(description.fileVersion, "The file version",
                           &DescriptionVersion::subMinor);
        case URL_INFO_FILE_SHA1_HASH:
            return NotAvailable("The SHA1 hash of the file");
        case URL_INFO_FILE_REGISTER_ADDRESS:
            if (!description.address) NotAvailable("The register address of the file");
            return CopyInfoValue(piType, pBuffer, piSize, INFO_DATATYPE_UINT64,
                                 *description.address);
        case URL_INFO_FILE_SIZE:
            if (!description.size) NotAvailable("The size of the file");
            return CopyInfoValue(piType, pBuffer, piSize, INFO_DATATYPE_UINT64, *description.size);
        case URL_INFO_SCHEME:
            if (!description.scheme) NotAvailable("The scheme");
            return CopyInfoInt32(piType, pBuffer, piSize, *description.scheme);
        case URL_INFO_FILENAME:
            if (description.fileName.empty()) NotAvailable("The file name");
            return CopyInfoString(piType, pBuffer, piSize, description.fileName);
        default:
            throw implementation_exception(Platform::Format(
                "Requested iInfoCmd is not implemented; iInfoCmd = %d.", iInfoCmd));
    }
}

}  // namespace GenTL

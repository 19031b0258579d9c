// A camera's URL and the start of its description, as the remote port reads
// them: the input up to its first NUL is the URL, the rest the XML. Whatever
// they hold, the parts found are consistent and every answer is a GenTL code.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "DescriptionUrl.h"
#include "Exceptions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace GenTL;
    const char* text = reinterpret_cast<const char*>(data);
    const size_t urlLength = strnlen(text, size);
    const std::string url(text, urlLength);
    const std::string xml =
        urlLength < size ? std::string(text + urlLength + 1, size - urlLength - 1) : std::string();
    DescriptionUrl parsed = ParseDescriptionUrl(url);
    ReadDescriptionVersions(xml, &parsed);
    if (parsed.fileName.find_first_of("/\\") != std::string::npos) std::abort();
    if ((parsed.address || parsed.size) && parsed.scheme != URL_SCHEME_LOCAL) std::abort();
    for (const auto& version : {parsed.schemaVersion, parsed.fileVersion})
        if (version && (version->major < 0 || version->minor < 0 || version->subMinor < 0))
            std::abort();
    for (int32_t command = 0; command <= 11; ++command) {
        INFO_DATATYPE type = 0;
        uint8_t buffer[1100];
        size_t bufferSize = sizeof buffer;
        try {
            AnswerDescriptionUrlInfo(parsed, command, &type, buffer, &bufferSize);
            if (bufferSize > sizeof buffer) std::abort();
        } catch (const gentl_exception&) {
            // A code the consumer gets: fine.
        }
    }
    return 0;
}

// A camera's zipped description as the producer unpacks it: the bytes as a
// zip archive and as raw DEFLATE data. Whatever they hold, the output stays
// within its limit, and an archive that unpacks matches its own CRC.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Inflate.h"
#include "ZipArchive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace GenTL;
    constexpr size_t kLimit = 64 * 1024;
    const auto raw = Inflate(data, size, kLimit);
    if (raw && raw->size() > kLimit) std::abort();
    const std::string archive(reinterpret_cast<const char*>(data), size);
    const auto file = UnzipFirstFile(archive, kLimit);
    if (file && file->size() > kLimit) std::abort();
    return 0;
}

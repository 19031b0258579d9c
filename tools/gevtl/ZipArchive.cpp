// In-memory zip extraction through libzip's source API.
#include "ZipArchive.h"

#include <zip.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <stdexcept>

namespace GenApiBridge {

namespace {

struct ZipClose {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct ZipFileClose {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};

}  // namespace

bool IsZipName(const std::string& fileName) {
    if (fileName.size() < 4) return false;
    std::string tail = fileName.substr(fileName.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return tail == ".zip";
}

std::string UnzipSingleFile(const std::string& archive) {
    zip_error_t error;
    zip_error_init(&error);
    // The source does not free the buffer (freep 0): `archive` outlives it.
    zip_source_t* source = zip_source_buffer_create(archive.data(), archive.size(), 0, &error);
    if (source == nullptr) {
        const std::string text = zip_error_strerror(&error);
        zip_error_fini(&error);
        throw std::runtime_error("zip: " + text);
    }
    std::unique_ptr<zip_t, ZipClose> zip(zip_open_from_source(source, ZIP_RDONLY, &error));
    if (!zip) {
        zip_source_free(source);
        const std::string text = zip_error_strerror(&error);
        zip_error_fini(&error);
        throw std::runtime_error("zip: " + text);
    }
    zip_error_fini(&error);
    if (zip_get_num_entries(zip.get(), 0) < 1) throw std::runtime_error("zip: empty archive");

    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(zip.get(), 0, 0, &stat) != 0 || (stat.valid & ZIP_STAT_SIZE) == 0)
        throw std::runtime_error(std::string("zip: ") + zip_strerror(zip.get()));
    std::unique_ptr<zip_file_t, ZipFileClose> file(zip_fopen_index(zip.get(), 0, 0));
    if (!file) throw std::runtime_error(std::string("zip: ") + zip_strerror(zip.get()));
    std::string text(stat.size, '\0');
    const zip_int64_t read = zip_fread(file.get(), text.data(), text.size());
    if (read < 0 || static_cast<zip_uint64_t>(read) != stat.size)
        throw std::runtime_error("zip: short read of " + std::string(stat.name ? stat.name : "?"));
    return text;
}

}  // namespace GenApiBridge

// PNG through libpng's write API, PGM by hand (a header and the samples, big-endian).
#include "ImageWriter.h"

#include <png.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

namespace Gevtl {

namespace {

constexpr uint64_t kMono8 = 0x01080001;
constexpr uint64_t kMono10 = 0x01100003;
constexpr uint64_t kMono12 = 0x01100005;
constexpr uint64_t kMono16 = 0x01100007;

unsigned SignificantBits(uint64_t format) {
    switch (format) {
        case kMono8:
            return 8;
        case kMono10:
            return 10;
        case kMono12:
            return 12;
        case kMono16:
            return 16;
        default:
            return 0;
    }
}

struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// One line as big-endian samples, the order both PNG and PGM store.
std::vector<uint8_t> Line(const Image& image, size_t y, unsigned bits) {
    const size_t bytes = image.width * (bits / 8);
    const uint8_t* line = image.pixels + y * (bytes + image.linePadding);
    std::vector<uint8_t> out(line, line + bytes);
    if (bits == 16)
        for (size_t x = 0; x + 1 < out.size(); x += 2) std::swap(out[x], out[x + 1]);
    return out;
}

void WritePng(std::FILE* file, const Image& image, unsigned bits) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) throw std::runtime_error("libpng: no write struct");
    png_infop info = png_create_info_struct(png);
    // Rows are built before libpng may longjmp, so no destructor is skipped by it.
    std::vector<std::vector<uint8_t>> rows;
    for (size_t y = 0; y < image.height; ++y) rows.push_back(Line(image, y, bits));
    std::vector<png_bytep> pointers;
    for (auto& row : rows) pointers.push_back(row.data());
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("libpng: write failed");
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width),
                 static_cast<png_uint_32>(image.height), static_cast<int>(bits),
                 PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_color_8 significant{};
    significant.gray = static_cast<png_byte>(SignificantBits(image.pixelFormat));
    png_set_sBIT(png, info, &significant);
    png_set_rows(png, info, pointers.data());
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
}

void WritePgm(std::FILE* file, const Image& image, unsigned bits) {
    const unsigned maxValue = (1u << SignificantBits(image.pixelFormat)) - 1;
    std::fprintf(file, "P5\n%zu %zu\n%u\n", image.width, image.height, maxValue);
    for (size_t y = 0; y < image.height; ++y) {
        const auto line = Line(image, y, bits);
        if (std::fwrite(line.data(), 1, line.size(), file) != line.size())
            throw std::runtime_error("short write");
    }
}

}  // namespace

unsigned StoredBits(uint64_t pixelFormat) {
    const unsigned bits = SignificantBits(pixelFormat);
    return bits == 0 ? 0 : (bits == 8 ? 8 : 16);
}

void WriteImage(const std::string& path, const Image& image, bool pgm) {
    const unsigned bits = StoredBits(image.pixelFormat);
    if (bits == 0) {
        char text[64];
        std::snprintf(text, sizeof text, "pixel format 0x%08llx is not saved as grey",
                      static_cast<unsigned long long>(image.pixelFormat));
        throw std::runtime_error(text);
    }
    if (image.pixels == nullptr || image.width == 0 || image.height == 0)
        throw std::runtime_error("buffer describes no image");
    std::unique_ptr<std::FILE, FileClose> file(std::fopen(path.c_str(), "wb"));
    if (!file) throw std::runtime_error("cannot create " + path);
    if (pgm)
        WritePgm(file.get(), image, bits);
    else
        WritePng(file.get(), image, bits);
    if (std::fflush(file.get()) != 0 || std::ferror(file.get()))
        throw std::runtime_error("cannot write " + path);
}

}  // namespace Gevtl

// Decodes frames saved by `gevtl grab` with libpng and checks the simulator's
// pattern: pixel (x, y) of the frame with block id b is (x + y + b) & MASK, b taken
// from the file name frame-<b>.png. MASK 0xFF wants 8-bit grey files, a wider one
// (0x3FF, 0xFFF, 0xFFFF) 16-bit grey.
//
//   png-pattern-check WIDTH HEIGHT MASK FILE...   exit 0 when every file holds its pattern
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// The grey samples of `path` in `bits` (8 or 16) per pixel, or an empty vector (with a
// message) when it is not a readable grey PNG of that depth.
std::vector<uint32_t> Decode(const std::string& path, int bits, png_uint_32* width,
                             png_uint_32* height) {
    std::unique_ptr<std::FILE, FileClose> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        std::fprintf(stderr, "%s: cannot open\n", path.c_str());
        return {};
    }
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<uint8_t> row;
    std::vector<uint32_t> samples;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::fprintf(stderr, "%s: libpng could not decode it\n", path.c_str());
        return {};
    }
    png_init_io(png, file.get());
    png_read_info(png, info);
    *width = png_get_image_width(png, info);
    *height = png_get_image_height(png, info);
    if (png_get_color_type(png, info) != PNG_COLOR_TYPE_GRAY ||
        png_get_bit_depth(png, info) != bits) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::fprintf(stderr, "%s: not %d-bit grey\n", path.c_str(), bits);
        return {};
    }
    row.resize(png_get_rowbytes(png, info));
    samples.reserve(size_t(*width) * *height);
    for (png_uint_32 y = 0; y < *height; ++y) {
        png_read_row(png, row.data(), nullptr);
        for (png_uint_32 x = 0; x < *width; ++x)
            samples.push_back(bits == 8 ? row[x] : (uint32_t(row[2 * x]) << 8 | row[2 * x + 1]));
    }
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return samples;
}

bool Check(const std::string& path, png_uint_32 expectedWidth, png_uint_32 expectedHeight,
           uint32_t mask) {
    const size_t slash = path.find_last_of('/');
    const std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
    unsigned long long block = 0;
    if (std::sscanf(name.c_str(), "frame-%llu.png", &block) != 1) {
        std::fprintf(stderr, "%s: no frame id in the name\n", path.c_str());
        return false;
    }
    png_uint_32 width = 0, height = 0;
    const std::vector<uint32_t> pixels = Decode(path, mask > 0xFF ? 16 : 8, &width, &height);
    if (pixels.empty()) return false;
    if (width != expectedWidth || height != expectedHeight) {
        std::fprintf(stderr, "%s: %ux%u, expected %ux%u\n", path.c_str(), width, height,
                     expectedWidth, expectedHeight);
        return false;
    }
    for (png_uint_32 y = 0; y < height; ++y) {
        for (png_uint_32 x = 0; x < width; ++x) {
            const uint32_t expected = static_cast<uint32_t>(x + y + block) & mask;
            const uint32_t actual = pixels[size_t(y) * width + x];
            if (actual != expected) {
                std::fprintf(stderr, "%s: pixel (%u, %u) is %u, expected %u\n", path.c_str(), x, y,
                             actual, expected);
                return false;
            }
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: png-pattern-check WIDTH HEIGHT MASK FILE...\n");
        return 2;
    }
    const auto width = static_cast<png_uint_32>(std::strtoul(argv[1], nullptr, 10));
    const auto height = static_cast<png_uint_32>(std::strtoul(argv[2], nullptr, 10));
    const auto mask = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 0));
    int bad = 0;
    for (int i = 4; i < argc; ++i)
        if (!Check(argv[i], width, height, mask)) ++bad;
    std::printf("%d of %d frames hold the pattern\n", argc - 4 - bad, argc - 4);
    return bad == 0 ? 0 : 1;
}

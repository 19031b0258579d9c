// The tool's pieces that need no camera: zipped descriptions, argument parsing and
// image files.
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>
#include <zip.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Addresses.h"
#include "CommandLine.h"
#include "ImageWriter.h"
#include "ZipArchive.h"

namespace {

std::string TempPath(const std::string& name) {
    return (testing::TempDir().empty() ? std::string("/tmp/") : testing::TempDir()) + name + "-" +
           std::to_string(getpid());
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// An archive of one deflated file, made by libzip itself, as its bytes.
std::string MakeZip(const std::string& entryName, const std::string& content) {
    const std::string path = TempPath("description.zip");
    std::remove(path.c_str());
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    EXPECT_NE(archive, nullptr);
    zip_source_t* source = zip_source_buffer(archive, content.data(), content.size(), 0);
    EXPECT_GE(zip_file_add(archive, entryName.c_str(), source, ZIP_FL_OVERWRITE), 0);
    EXPECT_EQ(zip_close(archive), 0);
    std::string bytes = ReadFile(path);
    std::remove(path.c_str());
    return bytes;
}

TEST(ZipArchive, RecognisesZipNames) {
    EXPECT_TRUE(GenApiBridge::IsZipName("camera.zip"));
    EXPECT_TRUE(GenApiBridge::IsZipName("CAMERA.ZIP"));
    EXPECT_FALSE(GenApiBridge::IsZipName("camera.xml"));
    EXPECT_FALSE(GenApiBridge::IsZipName("zip"));
}

TEST(ZipArchive, UnpacksTheDescription) {
    std::string xml = "<?xml version=\"1.0\"?>\n<RegisterDescription>";
    for (int i = 0; i < 500; ++i) xml += "<Integer Name=\"F" + std::to_string(i) + "\"/>";
    xml += "</RegisterDescription>\n";
    std::string archive = MakeZip("camera.xml", xml);
    ASSERT_FALSE(archive.empty());
    EXPECT_LT(archive.size(), xml.size()) << "deflated";
    EXPECT_EQ(GenApiBridge::UnzipSingleFile(archive), xml);
    // Descriptions are read in whole registers: trailing bytes after the archive.
    archive.append(16, '\0');
    EXPECT_EQ(GenApiBridge::UnzipSingleFile(archive), xml);
}

TEST(ZipArchive, RejectsWhatIsNoArchive) {
    EXPECT_THROW(GenApiBridge::UnzipSingleFile("<RegisterDescription/>"), std::runtime_error);
    std::string archive = MakeZip("camera.xml", std::string(4000, 'x'));
    archive.resize(archive.size() / 2);
    EXPECT_THROW(GenApiBridge::UnzipSingleFile(archive), std::runtime_error);
}

TEST(Arguments, OptionsAnywhereAndPositionalWords) {
    const std::vector<Gevtl::OptionSpec> specs = {
        {"-n", true, ""}, {"--save", true, ""}, {"--pgm", false, ""}};
    Gevtl::Arguments args({"cam", "-n", "20", "--save=out", "--pgm", "--", "-x"}, specs);
    EXPECT_EQ(args.Positional(), (std::vector<std::string>{"cam", "-x"}));
    EXPECT_EQ(args.Number("-n", 0), 20u);
    EXPECT_EQ(args.Value("--save"), "out");
    EXPECT_TRUE(args.Has("--pgm"));
    EXPECT_FALSE(args.Has("--other"));
    EXPECT_THROW(Gevtl::Arguments({"--bad"}, specs), Gevtl::UsageError);
    EXPECT_THROW(Gevtl::Arguments({"-n"}, specs), Gevtl::UsageError);
    EXPECT_THROW(Gevtl::Arguments({"--pgm=1"}, specs), Gevtl::UsageError);
    // A negative number is a word, not an option.
    EXPECT_EQ(Gevtl::Arguments({"-5"}, specs).Positional().size(), 1u);
}

TEST(Arguments, Numbers) {
    EXPECT_EQ(Gevtl::ParseInteger("0x224"), 0x224);
    EXPECT_EQ(Gevtl::ParseInteger("4096"), 4096);
    EXPECT_EQ(Gevtl::ParseInteger("-3"), -3);
    EXPECT_EQ(Gevtl::ParseInteger("0xFFFFFFFF"), 0xFFFFFFFFll);
    EXPECT_THROW(Gevtl::ParseInteger("12abc"), Gevtl::UsageError);
    EXPECT_THROW(Gevtl::ParseInteger(""), Gevtl::UsageError);
}

TEST(Addresses, TextBothWays) {
    EXPECT_EQ(Gevtl::IpText(0x7F000002), "127.0.0.2");
    EXPECT_EQ(Gevtl::MacText(0x02005E100001), "02:00:5e:10:00:01");
    EXPECT_EQ(Gevtl::ParseIp("169.254.10.2"), 0xA9FE0A02);
    EXPECT_EQ(Gevtl::ParseMac("02:00:5E:10:00:01"), 0x02005E100001);
    EXPECT_EQ(Gevtl::ParseMac("02-00-5e-10-00-01"), 0x02005E100001);
    EXPECT_FALSE(Gevtl::ParseIp("169.254.10"));
    EXPECT_FALSE(Gevtl::ParseIp("camera"));
    EXPECT_FALSE(Gevtl::ParseMac("02:00:5e:10:00"));
    EXPECT_FALSE(Gevtl::ParseMac("02:00:5e:10:00:01:07"));
    EXPECT_FALSE(Gevtl::ParseMac("02.00.5e.10.00.01"));
}

// Reads a grey PNG back as samples.
std::vector<uint32_t> ReadPng(const std::string& path, int* depth, png_uint_32* width,
                              png_uint_32* height) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    std::vector<uint32_t> samples;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return samples;
    *width = image.width;
    *height = image.height;
    *depth = (image.format & PNG_FORMAT_FLAG_LINEAR) ? 16 : 8;
    // The simplified API gives 16-bit linear data in host order.
    std::vector<uint8_t> raw(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, raw.data(), 0, nullptr)) return samples;
    for (size_t i = 0; i < size_t(image.width) * image.height; ++i) {
        if (*depth == 8) {
            samples.push_back(raw[i]);
        } else {
            uint16_t value;
            std::memcpy(&value, &raw[2 * i], 2);
            samples.push_back(value);
        }
    }
    return samples;
}

TEST(ImageWriter, Mono8WithPaddingIsEightBitGrey) {
    const size_t width = 5, height = 3, padding = 3;
    std::vector<uint8_t> pixels;
    for (size_t y = 0; y < height; ++y) {
        for (size_t x = 0; x < width; ++x) pixels.push_back(static_cast<uint8_t>(10 * y + x));
        pixels.insert(pixels.end(), padding, 0xEE);
    }
    Gevtl::Image image{pixels.data(), width, height, padding, 0x01080001};
    const std::string path = TempPath("mono8.png");
    Gevtl::WriteImage(path, image, false);
    int depth = 0;
    png_uint_32 w = 0, h = 0;
    const auto samples = ReadPng(path, &depth, &w, &h);
    std::remove(path.c_str());
    ASSERT_EQ(samples.size(), width * height);
    EXPECT_EQ(depth, 8);
    for (size_t y = 0; y < height; ++y)
        for (size_t x = 0; x < width; ++x) EXPECT_EQ(samples[y * width + x], 10 * y + x);
}

TEST(ImageWriter, Mono16AsSixteenBitPngAndPgm) {
    const size_t width = 4, height = 2;
    std::vector<uint16_t> pixels = {0x0000, 0x0102, 0x1234, 0xFFFF, 0x8000, 0x00FF, 0x7F7F, 1};
    Gevtl::Image image{reinterpret_cast<const uint8_t*>(pixels.data()), width, height, 0,
                       0x01100007};
    const std::string pgm = TempPath("mono16.pgm");
    Gevtl::WriteImage(pgm, image, true);
    const std::string bytes = ReadFile(pgm);
    std::remove(pgm.c_str());
    const std::string header = "P5\n4 2\n65535\n";
    ASSERT_EQ(bytes.size(), header.size() + 16);
    EXPECT_EQ(bytes.substr(0, header.size()), header);
    EXPECT_EQ(uint8_t(bytes[header.size() + 4]), 0x12) << "big-endian samples";
    EXPECT_EQ(uint8_t(bytes[header.size() + 5]), 0x34);

    const std::string png = TempPath("mono16.png");
    Gevtl::WriteImage(png, image, false);
    std::FILE* file = std::fopen(png.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    png_structp reader = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(reader);
    png_init_io(reader, file);
    png_read_png(reader, info, PNG_TRANSFORM_IDENTITY, nullptr);
    EXPECT_EQ(png_get_bit_depth(reader, info), 16);
    EXPECT_EQ(png_get_color_type(reader, info), PNG_COLOR_TYPE_GRAY);
    png_bytepp rows = png_get_rows(reader, info);
    for (size_t y = 0; y < height; ++y)
        for (size_t x = 0; x < width; ++x)
            EXPECT_EQ(uint32_t(rows[y][2 * x]) << 8 | rows[y][2 * x + 1], pixels[y * width + x]);
    png_destroy_read_struct(&reader, &info, nullptr);
    std::fclose(file);
    std::remove(png.c_str());
}

TEST(ImageWriter, RefusesFormatsItCannotShowAsGrey) {
    uint8_t pixels[12] = {};
    Gevtl::Image rgb{pixels, 2, 2, 0, 0x02180014};  // RGB8
    EXPECT_THROW(Gevtl::WriteImage(TempPath("rgb.png"), rgb, false), std::runtime_error);
    EXPECT_EQ(Gevtl::StoredBits(0x01100005), 16u);
    EXPECT_EQ(Gevtl::StoredBits(0x01080001), 8u);
}

}  // namespace

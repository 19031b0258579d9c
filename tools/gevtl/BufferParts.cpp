#include "BufferParts.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "ImageWriter.h"

namespace Gevtl {

namespace {

const char* DataTypeName(size_t type) {
    switch (type) {
        case GenTL::PART_DATATYPE_2D_IMAGE:
            return "2D image";
        case GenTL::PART_DATATYPE_2D_PLANE_BIPLANAR:
        case GenTL::PART_DATATYPE_2D_PLANE_TRIPLANAR:
        case GenTL::PART_DATATYPE_2D_PLANE_QUADPLANAR:
            return "2D plane";
        case GenTL::PART_DATATYPE_3D_IMAGE:
            return "3D image";
        case GenTL::PART_DATATYPE_3D_PLANE_BIPLANAR:
        case GenTL::PART_DATATYPE_3D_PLANE_TRIPLANAR:
        case GenTL::PART_DATATYPE_3D_PLANE_QUADPLANAR:
            return "3D plane";
        case GenTL::PART_DATATYPE_CONFIDENCE_MAP:
            return "confidence map";
        case GenTL::PART_DATATYPE_CHUNKDATA:
            return "chunk data";
        case GenTL::PART_DATATYPE_JPEG:
            return "JPEG";
        case GenTL::PART_DATATYPE_JPEG2000:
            return "JPEG 2000";
        default:
            return type >= GenTL::PART_DATATYPE_CUSTOM_ID ? "custom" : "unknown";
    }
}

struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

void WriteRaw(const std::string& path, const BufferPart& part) {
    std::unique_ptr<std::FILE, FileClose> file(std::fopen(path.c_str(), "wb"));
    if (!file) throw std::runtime_error("cannot create " + path);
    if (part.size != 0 && std::fwrite(part.base, 1, part.size, file.get()) != part.size)
        throw std::runtime_error("cannot write " + path);
    if (std::fflush(file.get()) != 0) throw std::runtime_error("cannot write " + path);
}

}  // namespace

std::vector<BufferPart> ReadParts(const Acquisition& acquisition, GenTL::BUFFER_HANDLE buffer) {
    std::vector<BufferPart> parts;
    const uint32_t count = acquisition.NumParts(buffer);
    for (uint32_t i = 0; i < count; ++i) {
        BufferPart part;
        part.index = i;
        auto size = [&](GenTL::BUFFER_PART_INFO_CMD command) {
            return acquisition.PartInfoOr<size_t>(buffer, i, command, 0);
        };
        auto number = [&](GenTL::BUFFER_PART_INFO_CMD command) {
            return acquisition.PartInfoOr<uint64_t>(buffer, i, command, 0);
        };
        part.base =
            acquisition.PartInfoOr<uint8_t*>(buffer, i, GenTL::BUFFER_PART_INFO_BASE, nullptr);
        part.size = size(GenTL::BUFFER_PART_INFO_DATA_SIZE);
        part.dataType = size(GenTL::BUFFER_PART_INFO_DATA_TYPE);
        part.format = number(GenTL::BUFFER_PART_INFO_DATA_FORMAT);
        part.width = size(GenTL::BUFFER_PART_INFO_WIDTH);
        part.height = size(GenTL::BUFFER_PART_INFO_HEIGHT);
        part.deliveredHeight = size(GenTL::BUFFER_PART_INFO_DELIVERED_IMAGEHEIGHT);
        part.paddingX = size(GenTL::BUFFER_PART_INFO_XPADDING);
        part.sourceId = number(GenTL::BUFFER_PART_INFO_SOURCE_ID);
        part.regionId = number(GenTL::BUFFER_PART_INFO_REGION_ID);
        part.purposeId = number(GenTL::BUFFER_PART_INFO_DATA_PURPOSE_ID);
        parts.push_back(part);
    }
    return parts;
}

void PrintParts(const std::vector<BufferPart>& parts) {
    for (const BufferPart& part : parts)
        std::printf(
            "  part %u: %s, format 0x%08llx, %zux%zu (%zu delivered), padding %zu, %zu bytes, "
            "source %llu, region %llu, purpose %llu\n",
            part.index, DataTypeName(part.dataType), static_cast<unsigned long long>(part.format),
            part.width, part.height, part.deliveredHeight, part.paddingX, part.size,
            static_cast<unsigned long long>(part.sourceId),
            static_cast<unsigned long long>(part.regionId),
            static_cast<unsigned long long>(part.purposeId));
}

size_t SaveParts(const std::vector<BufferPart>& parts, uint64_t frameId,
                 const std::string& directory, bool pgm) {
    size_t saved = 0;
    for (const BufferPart& part : parts) {
        if (part.base == nullptr || part.size == 0) continue;  // the buffer holds none of it
        const unsigned bits = StoredBits(part.format);
        const size_t lineBytes = part.width * bits / 8;
        // Grey formats whose lines the part holds whole go out as images.
        const bool image = bits != 0 && part.width != 0 && part.deliveredHeight != 0 &&
                           part.deliveredHeight * (lineBytes + part.paddingX) <= part.size;
        char name[80];
        std::snprintf(name, sizeof name, "frame-%06llu-part%u.%s",
                      static_cast<unsigned long long>(frameId), part.index,
                      image ? (pgm ? "pgm" : "png") : "raw");
        const std::string path = (std::filesystem::path(directory) / name).string();
        if (image) {
            Image picture;
            picture.pixels = part.base;
            picture.width = part.width;
            picture.height = part.deliveredHeight;
            picture.linePadding = part.paddingX;
            picture.pixelFormat = part.format;
            WriteImage(path, picture, pgm);
        } else {
            WriteRaw(path, part);
        }
        ++saved;
    }
    return saved;
}

}  // namespace Gevtl

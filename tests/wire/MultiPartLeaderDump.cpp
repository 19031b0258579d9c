// One multi-part leader whose part descriptor holds a different value in every
// field, each placed at the library's own offset, written as a text2pcap hex dump
// (first argument); and what the library's parser reads from those bytes, one
// "tshark-field value" line each (second argument). The tshark test then has
// Wireshark's dissector read the same bytes: where an offset were wrong, the two
// would disagree.
//   multipart-leader-dump DUMP_FILE EXPECTED_FILE
#include <cstdint>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

#include "GvspPackets.h"

namespace {

using namespace Vantor;

struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

void Put(std::vector<uint8_t>& bytes, size_t at, uint64_t value, size_t width) {
    for (size_t i = 0; i < width; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * (width - 1 - i)));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: multipart-leader-dump DUMP_FILE EXPECTED_FILE\n");
        return 2;
    }
    // A 16-bit header: block 5, format 1 (leader), packet 0.
    std::vector<uint8_t> datagram(Gvsp::kHeaderSize + Gvsp::kLeaderParts +
                                  Gvsp::kPartDescriptorSize);
    Put(datagram, 2, 5, 2);
    datagram[4] = Gvsp::kLeader;
    const size_t leader = Gvsp::kHeaderSize;
    Put(datagram, leader + Gvsp::kLeaderPayloadType, Gvsp::kMultiPart, 2);
    Put(datagram, leader + Gvsp::kLeaderTimestamp, 0x0102030405060708, 8);
    const size_t part = leader + Gvsp::kLeaderParts;
    Put(datagram, part + Gvsp::kPartDataType, Gvsp::kPartData2DImage, 2);
    Put(datagram, part + Gvsp::kPartLength, 0x00123456789A, 6);
    Put(datagram, part + Gvsp::kPartPixelFormat, 0x01100007, 4);
    Put(datagram, part + Gvsp::kPartSourceId, 0x2A, 1);
    Put(datagram, part + Gvsp::kPartAdditionalZones, 0x05, 1);
    Put(datagram, part + Gvsp::kPartZoneDirections, 0xA0000000, 4);
    Put(datagram, part + Gvsp::kPartDataPurposeId, 0x0102, 2);
    Put(datagram, part + Gvsp::kPartRegionId, 0x0304, 2);
    Put(datagram, part + Gvsp::kPartSizeX, 640, 4);
    Put(datagram, part + Gvsp::kPartSizeY, 480, 4);
    Put(datagram, part + Gvsp::kPartOffsetX, 8, 4);
    Put(datagram, part + Gvsp::kPartOffsetY, 16, 4);
    Put(datagram, part + Gvsp::kPartPaddingX, 4, 2);
    Put(datagram, part + Gvsp::kPartPaddingY, 0x0106, 2);

    Gvsp::Header header{};
    std::vector<Gvsp::PartDescriptor> parts;
    uint64_t total = 0;
    if (!Gvsp::ParseHeader(datagram.data(), datagram.size(), &header)) return 1;
    Gvsp::ParseParts(datagram.data(), datagram.size(), header, &parts, &total);
    if (parts.size() != 1) {
        std::fprintf(stderr, "the parser read %zu parts, not 1\n", parts.size());
        return 1;
    }

    std::unique_ptr<std::FILE, FileClose> dump(std::fopen(argv[1], "w"));
    std::unique_ptr<std::FILE, FileClose> expected(std::fopen(argv[2], "w"));
    if (!dump || !expected) return 1;
    // text2pcap's hex dump: each line starts with its offset.
    for (size_t i = 0; i < datagram.size(); i += 16) {
        std::fprintf(dump.get(), "%06zx", i);
        for (size_t j = i; j < datagram.size() && j < i + 16; ++j)
            std::fprintf(dump.get(), " %02x", datagram[j]);
        std::fprintf(dump.get(), "\n");
    }
    const Gvsp::PartDescriptor& p = parts[0];
    const std::pair<const char*, uint64_t> fields[] = {
        {"gvsp.multipartdatatype", p.dataType},
        {"gvsp.partlength", p.length},
        {"gvsp.pixel", p.pixelFormat},
        {"gvsp.sourceid", p.sourceId},
        {"gvsp.multipartaddzones", p.additionalZones},
        {"gvsp.zonedirection", p.zoneDirections},
        {"gvsp.datapurposeid", p.dataPurposeId},
        {"gvsp.regionid", p.regionId},
        {"gvsp.sizex", p.sizeX},
        {"gvsp.sizey", p.sizeY},
        {"gvsp.offsetx", p.offsetX},
        {"gvsp.offsety", p.offsetY},
        {"gvsp.paddingx", p.paddingX},
        {"gvsp.paddingy", p.paddingY},
    };
    for (const auto& [name, value] : fields)
        std::fprintf(expected.get(), "%s %llu\n", name, static_cast<unsigned long long>(value));
    return 0;
}

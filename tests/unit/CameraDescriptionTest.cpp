// The camera's description fetched whole from its memory where its first URL
// points, and what the producer leaves unread.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "CameraDescription.h"

using namespace GenTL;

namespace {

struct Memory {
    std::string bytes;
    uint64_t base = 0x100000;
    std::map<uint64_t, size_t> reads;  // address -> length
    bool failing = false;

    RegisterReader Reader() {
        return [this](uint64_t address, size_t length, uint8_t* out) {
            reads[address] = length;
            if (failing || address < base || address + length > base + bytes.size()) return false;
            std::memcpy(out, bytes.data() + (address - base), length);
            return true;
        };
    }
};

std::optional<std::string> Read(const std::string& url, Memory& memory) {
    return ReadCameraDescription(ParseDescriptionUrl(url), memory.Reader());
}

}  // namespace

TEST(CameraDescription, PlainFilesAreReadWholeInChunks) {
    Memory memory;
    for (int i = 0; i < 300; ++i)
        memory.bytes += "<Integer Name=\"N" + std::to_string(i) + "\"/>\n";
    const size_t size = memory.bytes.size();
    memory.bytes += std::string(3, '\0');  // the camera pads to whole words
    char url[64];
    std::snprintf(url, sizeof url, "Local:camera.XML;100000;%zx", size + 3);
    EXPECT_EQ(Read(url, memory), memory.bytes.substr(0, size));
    for (const auto& [address, length] : memory.reads) EXPECT_LE(length, kDescriptionChunk);
    EXPECT_EQ(memory.reads.size(), (size + 3 + kDescriptionChunk - 1) / kDescriptionChunk);
}

TEST(CameraDescription, WhatCannotBeReachedOrReadIsNothing) {
    Memory memory;
    memory.bytes = "<RegisterDescription/>";
    EXPECT_EQ(Read("Local:camera.xml;100000;16", memory), memory.bytes);
    EXPECT_EQ(Read("File:///camera.xml", memory), std::nullopt);
    EXPECT_EQ(Read("http://camera/camera.xml", memory), std::nullopt);
    EXPECT_EQ(Read("Local:camera.txt;100000;16", memory), std::nullopt);
    EXPECT_EQ(Read("Local:camera.xml;100000;0", memory), std::nullopt);
    EXPECT_EQ(Read("Local:camera.xml;100000", memory), std::nullopt);
    EXPECT_EQ(Read("Local:camera.xml;FFFFFFF0;100", memory), std::nullopt);
    EXPECT_EQ(Read("Local:camera.xml;100000;1000001", memory), std::nullopt);  // over 16 MiB
    EXPECT_EQ(Read("Local:camera.xml;100000;100", memory), std::nullopt);      // past its end
    EXPECT_EQ(Read("Local:camera.zip;100000;16", memory), std::nullopt);       // not a zip
    memory.failing = true;
    EXPECT_EQ(Read("Local:camera.xml;100000;16", memory), std::nullopt);
}

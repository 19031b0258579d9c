// Multi-part buffers through the built producer against the simulator's
// three-part blocks (a Mono16 range map, the Mono8 image, a Confidence8 map):
// the part count, each part's info, and the bytes of each part, in copy and
// zero-copy delivery; a buffer too small for the block; a plain image's buffer.
#include <cstring>

#include "MultiPartPayload.h"
#include "StreamFixture.h"

using namespace GenTLTest;

namespace {

constexpr uint32_t kWidth = 64, kHeight = 48;
constexpr uint32_t kMono8 = 0x01080001;
constexpr size_t kBuffers = 4;

// What the simulator's leader says of each part.
struct ExpectedPart {
    uint64_t dataType;
    uint64_t format;
    size_t width, height;
    size_t size;
    uint64_t purpose;
};

const ExpectedPart kParts[] = {
    {PART_DATATYPE_3D_IMAGE, GevSim::MultiPartPayload::kMono16, kWidth, kHeight,
     kWidth* kHeight * 2, GevSim::MultiPartPayload::kPurposeRange},
    {PART_DATATYPE_2D_IMAGE, kMono8, kWidth, kHeight, kWidth* kHeight,
     GevSim::MultiPartPayload::kPurposeIntensity},
    {PART_DATATYPE_CONFIDENCE_MAP, GevSim::MultiPartPayload::kConfidence8, kWidth / 2, kHeight / 2,
     (kWidth / 2) * (kHeight / 2), GevSim::MultiPartPayload::kPurposeConfidence},
};
constexpr size_t kBlockSize =
    kWidth * kHeight * 2 + kWidth * kHeight + (kWidth / 2) * (kHeight / 2);

class MultiPartBase : public StreamTest {
protected:
    void OpenMultiPartSimulator() {
        GevSim::CameraConfig config = SimulatorConfig(kWidth, kHeight);
        config.payloadType = 0x000A;
        config.multiPartParts = 3;
        OpenSimulator(config);
    }

    uint32_t NumParts(BUFFER_HANDLE buffer) {
        uint32_t parts = 99;
        EXPECT_EQ(cti.DSGetNumBufferParts(stream, buffer, &parts), GC_ERR_SUCCESS)
            << cti.LastErrorText();
        return parts;
    }

    template <class T>
    T PartInfo(BUFFER_HANDLE buffer, uint32_t part, BUFFER_PART_INFO_CMD command,
               INFO_DATATYPE expectedType) {
        T value{};
        size_t size = sizeof value;
        INFO_DATATYPE type = 0;
        EXPECT_EQ(cti.DSGetBufferPartInfo(stream, buffer, part, command, &type, &value, &size),
                  GC_ERR_SUCCESS)
            << "part " << part << " command " << command << ": " << cti.LastErrorText();
        EXPECT_EQ(type, expectedType) << "part " << part << " command " << command;
        EXPECT_EQ(size, sizeof value) << "part " << part << " command " << command;
        return value;
    }
    size_t PartSize(BUFFER_HANDLE buffer, uint32_t part, BUFFER_PART_INFO_CMD command) {
        return PartInfo<size_t>(buffer, part, command, INFO_DATATYPE_SIZET);
    }
    uint64_t PartU64(BUFFER_HANDLE buffer, uint32_t part, BUFFER_PART_INFO_CMD command) {
        return PartInfo<uint64_t>(buffer, part, command, INFO_DATATYPE_UINT64);
    }
    const uint8_t* PartBase(BUFFER_HANDLE buffer, uint32_t part) {
        return PartInfo<uint8_t*>(buffer, part, BUFFER_PART_INFO_BASE, INFO_DATATYPE_PTR);
    }

    // The bytes of part `part` against the simulator's pattern for block `frame`.
    static ::testing::AssertionResult HoldsPart(uint32_t part, const uint8_t* data, size_t rows,
                                                uint64_t frame) {
        const ExpectedPart& p = kParts[part];
        for (size_t y = 0; y < rows; ++y) {
            for (size_t x = 0; x < p.width; ++x) {
                uint32_t expected = 0, actual = 0;
                if (part == 0) {
                    expected = GevSim::MultiPartPayload::Range(uint32_t(x), uint32_t(y), frame);
                    const uint8_t* pixel = data + (y * p.width + x) * 2;
                    actual = pixel[0] | (pixel[1] << 8);
                } else if (part == 1) {
                    expected = static_cast<uint8_t>(x + y + frame);
                    actual = data[y * p.width + x];
                } else {
                    expected =
                        GevSim::MultiPartPayload::Confidence(uint32_t(x), uint32_t(y), frame);
                    actual = data[y * p.width + x];
                }
                if (actual != expected)
                    return ::testing::AssertionFailure()
                           << "part " << part << " of frame " << frame << " at (" << x << ", " << y
                           << ") is " << actual << ", expected " << expected;
            }
        }
        return ::testing::AssertionSuccess();
    }
};

class MultiPart : public MultiPartBase, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        StreamTest::SetUp();
        if (IsSkipped()) return;
        OpenMultiPartSimulator();
    }
    // The parameter: buffers of the consumer's memory written straight by the receiver.
    bool ZeroCopy() const { return GetParam(); }
};

class MultiPartCopy : public MultiPartBase {
protected:
    void SetUp() override {
        StreamTest::SetUp();
        if (IsSkipped()) return;
        OpenMultiPartSimulator();
    }
};

class PlainImageParts : public MultiPartBase {
protected:
    void SetUp() override {
        StreamTest::SetUp();
        if (IsSkipped()) return;
        OpenSimulator(SimulatorConfig(kWidth, kHeight));
    }
};

}  // namespace

TEST_P(MultiPart, EachPartIsDescribedAndHoldsWhatTheCameraSent) {
    if (ZeroCopy()) WriteStreamRegister(0x224, 1);
    ASSERT_EQ(PayloadSize(), kBlockSize) << "PayloadSize counts every part";
    std::vector<BUFFER_HANDLE> buffers = Announce(kBuffers, kBlockSize, false);
    QueueAll(buffers);
    RegisterNewBuffer();
    StartStream();
    CameraApi().Execute("AcquisitionStart");
    for (int i = 0; i < 5; ++i) {
        Delivery delivery = Next();
        ASSERT_EQ(delivery.result, GC_ERR_SUCCESS) << "frame " << i << ": " << cti.LastErrorText();
        BUFFER_HANDLE buffer = delivery.buffer;
        EXPECT_EQ(BufferInfo<size_t>(buffer, BUFFER_INFO_PAYLOADTYPE), PAYLOAD_TYPE_MULTI_PART);
        EXPECT_FALSE(BufferInfo<bool8_t>(buffer, BUFFER_INFO_IS_INCOMPLETE));
        ASSERT_EQ(NumParts(buffer), 3u);
        const auto* base = BufferInfo<uint8_t*>(buffer, BUFFER_INFO_BASE);
        const uint64_t frame = BufferInfo<uint64_t>(buffer, BUFFER_INFO_FRAMEID);
        size_t offset = 0;
        for (uint32_t part = 0; part < 3; ++part) {
            const ExpectedPart& p = kParts[part];
            SCOPED_TRACE(::testing::Message() << "part " << part);
            EXPECT_EQ(PartBase(buffer, part), base + offset) << "parts follow one another";
            EXPECT_EQ(PartSize(buffer, part, BUFFER_PART_INFO_DATA_SIZE), p.size);
            EXPECT_EQ(PartSize(buffer, part, BUFFER_PART_INFO_DATA_TYPE), p.dataType);
            EXPECT_EQ(PartU64(buffer, part, BUFFER_PART_INFO_DATA_FORMAT), p.format);
            EXPECT_EQ(PartU64(buffer, part, BUFFER_PART_INFO_DATA_FORMAT_NAMESPACE),
                      uint64_t{PIXELFORMAT_NAMESPACE_PFNC_32BIT});
            EXPECT_EQ(PartSize(buffer, part, BUFFER_PART_INFO_WIDTH), p.width);
            EXPECT_EQ(PartSize(buffer, part, BUFFER_PART_INFO_HEIGHT), p.height);
            EXPECT_EQ(PartSize(buffer, part, BUFFER_PART_INFO_XOFFSET), 0u);
            EXPECT_EQ(PartSize(buffer, part, BUFFER_PART_INFO_YOFFSET), 0u);
            EXPECT_EQ(PartSize(buffer, part, BUFFER_PART_INFO_XPADDING), 0u);
            EXPECT_EQ(PartSize(buffer, part, BUFFER_PART_INFO_DELIVERED_IMAGEHEIGHT), p.height);
            EXPECT_EQ(PartU64(buffer, part, BUFFER_PART_INFO_SOURCE_ID), 0u);
            EXPECT_EQ(PartU64(buffer, part, BUFFER_PART_INFO_REGION_ID), 0u);
            EXPECT_EQ(PartU64(buffer, part, BUFFER_PART_INFO_DATA_PURPOSE_ID), p.purpose);
            EXPECT_TRUE(HoldsPart(part, PartBase(buffer, part), p.height, frame));
            offset += p.size;
        }
        ASSERT_EQ(cti.DSQueueBuffer(stream, buffer), GC_ERR_SUCCESS) << cti.LastErrorText();
    }
    StopAndRelease(buffers);
}

TEST_P(MultiPart, PartInfoAnswersSizeQueriesAndRefusesWhatIsNotThere) {
    if (ZeroCopy()) WriteStreamRegister(0x224, 1);
    std::vector<BUFFER_HANDLE> buffers = Announce(kBuffers, kBlockSize, false);
    QueueAll(buffers);
    RegisterNewBuffer();
    StartStream();
    CameraApi().Execute("AcquisitionStart");
    Delivery delivery = Next();
    ASSERT_EQ(delivery.result, GC_ERR_SUCCESS) << cti.LastErrorText();
    BUFFER_HANDLE buffer = delivery.buffer;

    INFO_DATATYPE type = 0;
    size_t size = 0;
    ASSERT_EQ(cti.DSGetBufferPartInfo(stream, buffer, 2, BUFFER_PART_INFO_DATA_SIZE, &type, nullptr,
                                      &size),
              GC_ERR_SUCCESS)
        << cti.LastErrorText();
    EXPECT_EQ(size, sizeof(size_t)) << "a size query tells the size";
    EXPECT_EQ(type, INFO_DATATYPE_SIZET);
    uint8_t small = 0;
    size = 1;
    EXPECT_EQ(cti.DSGetBufferPartInfo(stream, buffer, 0, BUFFER_PART_INFO_DATA_FORMAT, &type,
                                      &small, &size),
              GC_ERR_BUFFER_TOO_SMALL);
    uint64_t value = 0;
    size = sizeof value;
    EXPECT_EQ(cti.DSGetBufferPartInfo(stream, buffer, 0, 999, &type, &value, &size),
              GC_ERR_NOT_IMPLEMENTED);
    size = sizeof value;
    EXPECT_EQ(cti.DSGetBufferPartInfo(stream, buffer, 3, BUFFER_PART_INFO_DATA_SIZE, &type, &value,
                                      &size),
              GC_ERR_INVALID_INDEX);
    size = sizeof value;
    EXPECT_EQ(cti.DSGetBufferPartInfo(stream, buffer, 0, BUFFER_PART_INFO_DATA_SIZE, nullptr,
                                      &value, &size),
              GC_ERR_INVALID_PARAMETER);
    uint32_t parts = 0;
    EXPECT_EQ(cti.DSGetNumBufferParts(stream, buffer, nullptr), GC_ERR_INVALID_PARAMETER);
    EXPECT_EQ(cti.DSGetNumBufferParts(stream, &parts, &parts), GC_ERR_INVALID_HANDLE);

    // The stacked form answers entry by entry.
    size_t partSize = 0, purpose = 0, unknown = 0, missing = 0;
    DS_BUFFER_PART_INFO_STACKED entries[] = {
        {1, BUFFER_PART_INFO_DATA_SIZE, 0, &partSize, sizeof partSize, GC_ERR_ERROR},
        {2, BUFFER_PART_INFO_DATA_PURPOSE_ID, 0, &purpose, sizeof purpose, GC_ERR_ERROR},
        {0, 999, 0, &unknown, sizeof unknown, GC_ERR_ERROR},
        {7, BUFFER_PART_INFO_DATA_SIZE, 0, &missing, sizeof missing, GC_ERR_ERROR},
    };
    ASSERT_EQ(cti.DSGetBufferPartInfoStacked(stream, buffer, entries, 4), GC_ERR_SUCCESS)
        << cti.LastErrorText();
    EXPECT_EQ(entries[0].iResult, GC_ERR_SUCCESS);
    EXPECT_EQ(partSize, kParts[1].size);
    EXPECT_EQ(entries[1].iResult, GC_ERR_SUCCESS);
    EXPECT_EQ(entries[1].iType, INFO_DATATYPE_UINT64);
    EXPECT_EQ(purpose, kParts[2].purpose);
    EXPECT_EQ(entries[2].iResult, GC_ERR_NOT_IMPLEMENTED);
    EXPECT_EQ(entries[3].iResult, GC_ERR_INVALID_INDEX);
    EXPECT_EQ(cti.DSGetBufferPartInfoStacked(stream, buffer, entries, 0), GC_ERR_INVALID_PARAMETER);
    StopAndRelease(buffers);
}

INSTANTIATE_TEST_SUITE_P(Delivery, MultiPart, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "ZeroCopy" : "Copy"; });

TEST_F(MultiPartCopy, ABufferSmallerThanTheBlockCutsItsPartsToWhatItHolds) {
    // The range map whole, 29 whole lines and 0x20 bytes of the image, nothing of the map.
    const size_t rangeSize = kParts[0].size;
    const size_t bufferSize = rangeSize + 29 * kWidth + 0x20;
    std::vector<BUFFER_HANDLE> buffers = Announce(kBuffers, bufferSize, false);
    QueueAll(buffers);
    RegisterNewBuffer();
    StartStream();
    CameraApi().Execute("AcquisitionStart");
    Delivery delivery = Next();
    ASSERT_EQ(delivery.result, GC_ERR_SUCCESS) << cti.LastErrorText();
    BUFFER_HANDLE buffer = delivery.buffer;
    EXPECT_TRUE(BufferInfo<bool8_t>(buffer, BUFFER_INFO_DATA_LARGER_THAN_BUFFER));
    ASSERT_EQ(NumParts(buffer), 3u) << "every part the leader gave is told";
    const auto* base = BufferInfo<uint8_t*>(buffer, BUFFER_INFO_BASE);
    const uint64_t frame = BufferInfo<uint64_t>(buffer, BUFFER_INFO_FRAMEID);

    EXPECT_EQ(PartSize(buffer, 0, BUFFER_PART_INFO_DATA_SIZE), rangeSize);
    EXPECT_EQ(PartSize(buffer, 0, BUFFER_PART_INFO_DELIVERED_IMAGEHEIGHT), kHeight);
    EXPECT_TRUE(HoldsPart(0, PartBase(buffer, 0), kHeight, frame));

    EXPECT_EQ(PartBase(buffer, 1), base + rangeSize);
    EXPECT_EQ(PartSize(buffer, 1, BUFFER_PART_INFO_DATA_SIZE), bufferSize - rangeSize);
    EXPECT_EQ(PartSize(buffer, 1, BUFFER_PART_INFO_HEIGHT), kHeight) << "as the camera said";
    EXPECT_EQ(PartSize(buffer, 1, BUFFER_PART_INFO_DELIVERED_IMAGEHEIGHT), 29u);
    EXPECT_TRUE(HoldsPart(1, PartBase(buffer, 1), 29, frame));

    EXPECT_EQ(PartBase(buffer, 2), nullptr) << "no address for a part the buffer does not hold";
    EXPECT_EQ(PartSize(buffer, 2, BUFFER_PART_INFO_DATA_SIZE), 0u);
    EXPECT_EQ(PartSize(buffer, 2, BUFFER_PART_INFO_DELIVERED_IMAGEHEIGHT), 0u);
    EXPECT_EQ(PartSize(buffer, 2, BUFFER_PART_INFO_WIDTH), kWidth / 2);
    StopAndRelease(buffers);
}

TEST_F(PlainImageParts, AnImageBufferHasNoParts) {
    std::vector<BUFFER_HANDLE> buffers = Announce(kBuffers, PayloadSize(), false);
    EXPECT_EQ(NumParts(buffers[0]), 0u) << "announced, not yet filled";
    QueueAll(buffers);
    RegisterNewBuffer();
    StartStream();
    CameraApi().Execute("AcquisitionStart");
    Delivery delivery = Next();
    ASSERT_EQ(delivery.result, GC_ERR_SUCCESS) << cti.LastErrorText();
    EXPECT_EQ(BufferInfo<size_t>(delivery.buffer, BUFFER_INFO_PAYLOADTYPE), PAYLOAD_TYPE_IMAGE);
    EXPECT_EQ(NumParts(delivery.buffer), 0u);
    INFO_DATATYPE type = 0;
    size_t value = 0, size = sizeof value;
    EXPECT_EQ(cti.DSGetBufferPartInfo(stream, delivery.buffer, 0, BUFFER_PART_INFO_DATA_SIZE, &type,
                                      &value, &size),
              GC_ERR_INVALID_INDEX);
    StopAndRelease(buffers);
}

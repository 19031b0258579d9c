// The producer with a camera that is not ours: Aravis's fake camera in the
// first camera namespace, found, opened, read and streamed from through GenTL.
#include <memory>
#include <set>

#include "ChildProcess.h"
#include "InfoChecks.h"
#include "Netns.h"
#include "StreamFixture.h"

using namespace GenTLTest;

namespace {

constexpr const char* kFakeCamera = "arv-fake-gv-camera-0.8";

class AravisCamera : public StreamTest {
protected:
    void SetUp() override {
        StreamTest::SetUp();
        if (IsSkipped()) return;
        const std::string ns = TestNetns::CameraNamespace(0);
        ASSERT_FALSE(ns.empty());
        if (!TestProcess::OnPath(kFakeCamera)) GTEST_SKIP() << kFakeCamera << " is not installed";
        fake = std::make_unique<TestProcess::ChildProcess>(std::vector<std::string>{
            "ip", "netns", "exec", ns, kFakeCamera, "-i", "169.254.10.2", "-s", "GV42"});
        ASSERT_TRUE(fake->started());
        // The camera needs a moment to bind; look for it a bounded number of times.
        for (int attempt = 0; attempt < 10 && id.empty(); ++attempt) {
            uint32_t count = Discover();
            for (uint32_t i = 0; i < count; ++i)
                if (DeviceText(DeviceID(i), DEVICE_INFO_SERIAL_NUMBER) == "GV42") id = DeviceID(i);
        }
        ASSERT_FALSE(id.empty()) << "Aravis's camera was not discovered";
    }

    std::unique_ptr<TestProcess::ChildProcess> fake;
    std::string id;
};

}  // namespace

TEST_F(AravisCamera, IsListedWithItsIdentity) {
    EXPECT_EQ(DeviceText(id, DEVICE_INFO_VENDOR), "Aravis");
    EXPECT_EQ(DeviceText(id, DEVICE_INFO_MODEL), "Fake");
    EXPECT_EQ(DeviceText(id, DEVICE_INFO_DISPLAYNAME), "Aravis:Fake:GV42@169.254.10.2");
    EXPECT_EQ(DeviceInt(id, DEVICE_INFO_ACCESS_STATUS), DEVICE_ACCESS_STATUS_READWRITE);
}

TEST_F(AravisCamera, ServesItsDescriptionAndFeaturesThroughTheRemotePort) {
    std::string expected;
    const bool haveTool =
        TestProcess::OnPath("arv-tool-0.8") &&
        TestProcess::Capture("timeout 10 arv-tool-0.8 -a 169.254.10.2 genicam 2>/dev/null",
                             &expected);

    DEV_HANDLE device = Open(id, DEVICE_ACCESS_CONTROL);
    ASSERT_NE(device, nullptr);
    PORT_HANDLE remote = nullptr;
    ASSERT_EQ(cti.DevGetPort(device, &remote), GC_ERR_SUCCESS);
    auto port = GenApiBridge::GenApiPort::FromPort(remote, Ports());
    EXPECT_GT(port.GetInteger("Width"), 0);
    port.SetInteger("Width", 256);
    EXPECT_EQ(port.GetInteger("Width"), 256);
    EXPECT_EQ(port.GetString("DeviceVendorName"), "Aravis");

    if (!haveTool) GTEST_SKIP() << "arv-tool-0.8 is not installed: description not compared";
    ASSERT_FALSE(expected.empty());
    expected.pop_back();  // the tool's own line end
    EXPECT_TRUE(port.Xml() == expected) << "the description differs from what arv-tool-0.8 prints";
}

TEST_F(AravisCamera, StreamsThroughTheConsumerLoopByCopyAndZeroCopy) {
    OpenCamera("GV42");
    const int64_t width = CameraApi().GetInteger("Width");
    const int64_t height = CameraApi().GetInteger("Height");
    const size_t payload = PayloadSize();
    ASSERT_GT(width, 0);
    ASSERT_GE(payload, static_cast<size_t>(width * height));
    RegisterNewBuffer();
    EVENT_HANDLE errors = nullptr;
    ASSERT_EQ(cti.GCRegisterEvent(stream, EVENT_ERROR, &errors), GC_ERR_SUCCESS);
    for (uint32_t zeroCopy : {0u, 1u}) {
        SCOPED_TRACE(zeroCopy ? "zero-copy" : "copy");
        WriteStreamRegister(0x224, zeroCopy);
        std::vector<BUFFER_HANDLE> buffers = Announce(3, payload, false);
        for (BUFFER_HANDLE b : Announce(2, payload, true)) buffers.push_back(b);
        QueueAll(buffers);
        ASSERT_EQ(cti.DSStartAcquisition(stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE),
                  GC_ERR_SUCCESS);
        {
            // The library accepted the camera's stream settings.
            char data[512] = {};
            size_t size = sizeof data;
            if (cti.EventGetData(errors, data, &size, 10) == GC_ERR_SUCCESS)
                ADD_FAILURE() << "error event: " << data + 4;
        }
        CameraApi().Execute("AcquisitionStart");
        uint64_t lastFrame = 0;
        for (int i = 0; i < 10; ++i) {
            Delivery delivery = Next(5000);
            ASSERT_EQ(delivery.result, GC_ERR_SUCCESS)
                << "frame " << i << ": " << cti.LastErrorText();
            BUFFER_HANDLE b = delivery.buffer;
            EXPECT_FALSE(BufferInfo<bool8_t>(b, BUFFER_INFO_IS_INCOMPLETE));
            EXPECT_EQ(BufferInfo<size_t>(b, BUFFER_INFO_WIDTH), static_cast<size_t>(width));
            EXPECT_EQ(BufferInfo<size_t>(b, BUFFER_INFO_HEIGHT), static_cast<size_t>(height));
            EXPECT_EQ(BufferInfo<uint64_t>(b, BUFFER_INFO_PIXELFORMAT),
                      static_cast<uint64_t>(CameraApi().GetEnumerationValue("PixelFormat")));
            const uint64_t frame = BufferInfo<uint64_t>(b, BUFFER_INFO_FRAMEID);
            EXPECT_GT(frame, lastFrame);
            lastFrame = frame;
            // An image, not our fill pattern nor a blank.
            auto* base = BufferInfo<uint8_t*>(b, BUFFER_INFO_BASE);
            size_t fill = 0;
            std::set<uint8_t> values;
            for (size_t at = 0; at < payload; ++at) {
                fill += base[at] == 0xEE;
                values.insert(base[at]);
            }
            EXPECT_LT(fill, payload / 2) << "frame " << frame << " looks unwritten";
            EXPECT_GT(values.size(), 16u) << "frame " << frame << " looks blank";
            cti.DSQueueBuffer(stream, b);
        }
        StopAndRelease(buffers);
        consumerMemory.clear();
    }
    EXPECT_EQ(cti.DSClose(stream), GC_ERR_SUCCESS);
}

TEST_F(AravisCamera, AnswersEveryStandardInfoCommandOfItsDeviceAndRemotePort) {
    DEV_HANDLE device = Open(id, DEVICE_ACCESS_CONTROL);
    ASSERT_NE(device, nullptr);
    CheckTable(
        cti, "DevGetInfo",
        [&](int32_t c, INFO_DATATYPE* t, void* b, size_t* s) {
            return cti.DevGetInfo(device, c, t, b, s);
        },
        kDeviceInfo);
    CheckTable(
        cti, "IFGetDeviceInfo",
        [&](int32_t c, INFO_DATATYPE* t, void* b, size_t* s) {
            return cti.IFGetDeviceInfo(iface, id.c_str(), c, t, b, s);
        },
        kDeviceInfo);
    EXPECT_EQ(DeviceInt(id, DEVICE_INFO_ACCESS_STATUS), DEVICE_ACCESS_STATUS_OPEN_READWRITE);
    PORT_HANDLE remote = nullptr;
    ASSERT_EQ(cti.DevGetPort(device, &remote), GC_ERR_SUCCESS);
    CheckTable(cti, "GCGetPortInfo", PortInfoOf(cti, remote), kPortInfo);
    CheckTable(cti, "GCGetPortURLInfo", UrlInfoOf(cti, remote), kUrlInfo);
    // Its description is plain XML in its memory: the versions come from its start tag.
    ExpectVersionsOfTheFile(cti, remote);
    EXPECT_EQ(Text(cti, PortInfoOf(cti, remote), PORT_INFO_ID), id);
    EXPECT_EQ(cti.DevClose(device), GC_ERR_SUCCESS);
}

// The fake camera computes its PayloadSize with a SwissKnife over Width, Height
// and PixelFormat: the stream reports what Aravis's own tool reads, and follows
// a new width at the next start.
TEST_F(AravisCamera, StreamPayloadSizeIsTheCamerasPayloadSize) {
    OpenCamera("GV42");
    auto streamPayload = [&] {
        size_t value = 0;
        size_t size = sizeof value;
        INFO_DATATYPE type = 0;
        EXPECT_EQ(cti.DSGetInfo(stream, STREAM_INFO_PAYLOAD_SIZE, &type, &value, &size),
                  GC_ERR_SUCCESS);
        return value;
    };
    const size_t payload = PayloadSize();
    ASSERT_GT(payload, 0u);
    EXPECT_EQ(streamPayload(), payload);
    EXPECT_EQ(ReadStreamRegister(0x38), payload);
    bool8_t defines = 1;
    size_t size = sizeof defines;
    INFO_DATATYPE type = 0;
    ASSERT_EQ(cti.DSGetInfo(stream, STREAM_INFO_DEFINES_PAYLOADSIZE, &type, &defines, &size),
              GC_ERR_SUCCESS);
    EXPECT_FALSE(defines);

    std::vector<BUFFER_HANDLE> buffers = Announce(2, payload + 4096, false);
    EXPECT_EQ(streamPayload(), payload);
    CameraApi().SetInteger("Width", 256);
    const size_t smaller = PayloadSize();
    ASSERT_LT(smaller, payload);
    StartStream();
    EXPECT_EQ(streamPayload(), smaller);
    ASSERT_EQ(cti.DSStopAcquisition(stream, ACQ_STOP_FLAGS_DEFAULT), GC_ERR_SUCCESS);

    std::string tool;
    if (!TestProcess::OnPath("arv-tool-0.8") ||
        !TestProcess::Capture(
            "timeout 10 arv-tool-0.8 -a 169.254.10.2 control PayloadSize 2>/dev/null", &tool)) {
        StopAndReleaseIdle(buffers);
        GTEST_SKIP() << "arv-tool-0.8 is not installed: not compared with Aravis's reading";
    }
    EXPECT_EQ(tool, "PayloadSize = " + std::to_string(smaller) + "\n");
    StopAndReleaseIdle(buffers);
}

// READREG, WRITEREG, READMEM and WRITEMEM against the register model, the XML served
// through the first URL, and robustness against malformed datagrams.
#include <fstream>
#include <sstream>

#include "SimTestBase.h"

namespace SimTest {
namespace {

constexpr uint32_t kWidth = 0x00010000, kPixelFormat = 0x00010010, kPayloadSize = 0x00010018;

class RegisterTest : public SimTestBase {
protected:
    void SetUp() override {
        SimTestBase::SetUp();
        if (!IsSkipped()) camera_ = &StartCamera(Config());
    }
    GevSim::Camera* camera_ = nullptr;
    GvcpTestClient client_;
};

TEST_F(RegisterTest, ReadsBootstrapRegisters) {
    uint32_t value = 0;
    EXPECT_EQ(client_.ReadReg(0x0000, &value), 0);
    EXPECT_EQ(value, 0x00020000u);
    EXPECT_EQ(client_.ReadReg(0x0024, &value), 0);
    EXPECT_EQ(value, 0x7F000002u);
    EXPECT_EQ(client_.ReadReg(0x0938, &value), 0);
    EXPECT_EQ(value, 3000u);
    EXPECT_EQ(client_.ReadReg(0x0934, &value), 0);
    EXPECT_EQ(value & 0x3Au, 0x3Au);  // WRITEMEM, EVENT, EVENTDATA, PENDING_ACK
    EXPECT_EQ(client_.ReadReg(kMcsp, &value), 0);
    EXPECT_EQ(value, camera_->MessageSourcePort());
    EXPECT_EQ(client_.ReadReg(0x0FFC), 0x8003);  // neither bootstrap nor user register
    EXPECT_EQ(client_.ReadReg(0x0002), 0x8005);
}

TEST_F(RegisterTest, ReadRegErrorCarriesTheValuesReadBeforeIt) {
    Bytes payload;
    for (uint32_t address : {0x0000u, 0x0004u, 0x0FFCu}) PutBe32(payload, address);
    auto ack = client_.Transact(kReadReg, payload);
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->Status(), 0x8003);
    EXPECT_EQ(ack->Length(), 8);
}

TEST_F(RegisterTest, WritesUserRegistersAndKeepsPayloadSize) {
    Bytes payload;
    for (uint32_t word : {kWidth, 320u, kPixelFormat, 0x01100007u}) PutBe32(payload, word);
    auto ack = client_.Transact(kWriteReg, payload);
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->Status(), 0);
    EXPECT_EQ(Be16(&ack->bytes[10]), 2);  // registers written
    uint32_t size = 0;
    EXPECT_EQ(client_.ReadReg(kPayloadSize, &size), 0);
    EXPECT_EQ(size, 320u * 480u * 2u);
    EXPECT_EQ(camera_->Register(kPayloadSize), size);
    EXPECT_EQ(client_.WriteReg(kWidth, 321), 0x8002);      // not a multiple of 4
    EXPECT_EQ(client_.WriteReg(kPayloadSize, 1), 0x8004);  // read-only
    EXPECT_EQ(client_.WriteReg(0x0000, 1), 0x8004);
    EXPECT_EQ(client_.WriteReg(0x00020000, 1), 0x8003);
}

TEST_F(RegisterTest, WriteRegIndexNamesTheFailingRegister) {
    Bytes payload;
    for (uint32_t word : {kWidth, 64u, 0x0000u, 1u, kWidth, 128u}) PutBe32(payload, word);
    auto ack = client_.Transact(kWriteReg, payload);
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->Status(), 0x8004);
    EXPECT_EQ(Be16(&ack->bytes[10]), 1);
    EXPECT_EQ(camera_->Register(kWidth), 64u);
}

TEST_F(RegisterTest, ServesTheEmbeddedXmlThroughTheFirstUrl) {
    Bytes urlBytes;
    ASSERT_EQ(client_.ReadMem(0x0200, 512, &urlBytes), 0);
    const std::string url(reinterpret_cast<const char*>(urlBytes.data()));
    unsigned address = 0, length = 0;
    ASSERT_EQ(std::sscanf(url.c_str(), "Local:gevsim.xml;%x;%x", &address, &length), 2) << url;
    std::string xml;
    for (unsigned offset = 0; offset < length; offset += 512) {
        const unsigned chunk = std::min(512u, (length - offset + 3) & ~3u);
        Bytes data;
        ASSERT_EQ(client_.ReadMem(address + offset, static_cast<uint16_t>(chunk), &data), 0);
        xml.append(data.begin(), data.end());
    }
    xml.resize(length);
    EXPECT_EQ(xml, GevSim::Camera::Xml());
    std::ifstream file(GEVSIM_XML_PATH);
    std::stringstream source;
    source << file.rdbuf();
    EXPECT_EQ(xml, source.str());
}

TEST_F(RegisterTest, ReadMemChecksCountAndAlignment) {
    Bytes data;
    EXPECT_EQ(client_.ReadMem(0x0200, 536, &data), 0);  // the two URLs
    EXPECT_EQ(data.size(), 536u);
    EXPECT_EQ(client_.ReadMem(0x0200, 540, &data), 0x8002);  // over one datagram
    EXPECT_EQ(client_.ReadMem(0x0048, 256, &data), 0x8003);  // runs into the gap after 0x00F8
    EXPECT_EQ(client_.ReadMem(0x0048, 6, &data), 0x8002);
    EXPECT_EQ(client_.ReadMem(0x0049, 4, &data), 0x8005);
    EXPECT_EQ(client_.ReadMem(0x0FF8, 16, &data), 0x8003);
}

TEST_F(RegisterTest, WriteMemSetsTheUserNameAndRefusesReadOnlyBytes) {
    const Bytes name = {'b', 'e', 'n', 'c', 'h', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(client_.WriteMem(0x00E8, name), 0);
    Bytes data;
    EXPECT_EQ(client_.ReadMem(0x00E8, 16, &data), 0);
    EXPECT_EQ(data, name);
    EXPECT_EQ(client_.WriteMem(0x0068, name), 0x8004);
    EXPECT_EQ(client_.WriteMem(0x00E8, {1, 2, 3}), 0x8002);
}

TEST_F(RegisterTest, WithoutTheCapabilityWriteMemIsNotImplemented) {
    auto config = Config("127.0.0.3");
    config.gvcpCapability &= ~GevSim::Capability::kWriteMem;
    StartCamera(config);
    client_.SetCamera("127.0.0.3");
    EXPECT_EQ(client_.WriteMem(0x00E8, Bytes(4, 'x')), 0x8001);
}

TEST_F(RegisterTest, UnknownCommandIsNotImplementedAndNoFlagMeansNoAck) {
    auto ack = client_.Transact(0x1234, {});
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->Status(), 0x8001);
    Bytes payload;
    PutBe32(payload, kWidth);
    PutBe32(payload, 800);
    client_.Send(kWriteReg, payload, 0x00);
    EXPECT_FALSE(client_.Receive(200));
    EXPECT_EQ(camera_->Register(kWidth), 800u);
}

TEST_F(RegisterTest, MalformedDatagramsAreIgnored) {
    client_.SendRaw({}, "127.0.0.2");
    client_.SendRaw({0x42}, "127.0.0.2");
    client_.SendRaw({0x43, 1, 0, 0x80, 0, 4, 0, 1, 0, 0, 0, 0}, "127.0.0.2");  // wrong key
    client_.SendRaw({0x42, 1, 0, 0x80, 0, 8, 0, 1, 0, 0, 0, 0}, "127.0.0.2");  // short payload
    uint32_t seed = 12345;
    for (int i = 0; i < 500; ++i) {  // deterministic garbage with a valid key
        Bytes junk(8 + i % 64);
        for (auto& byte : junk)
            byte = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
        junk[0] = 0x42;
        junk[1] = 0;  // no acknowledges wanted
        client_.SendRaw(junk, "127.0.0.2");
    }
    while (client_.Receive(100)) {
    }
    uint32_t value = 0;
    EXPECT_EQ(client_.ReadReg(0x0000, &value), 0);
    EXPECT_EQ(value, 0x00020000u);
}

}  // namespace
}  // namespace SimTest

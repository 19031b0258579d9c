// A camera chooses the size of its GenDC descriptor and flow table: the
// producer must read exactly what the camera's size says, in whole registers,
// and refuse sizes that are out of bounds or move while they are read.
#include <cstring>

#include "StreamFixture.h"

using namespace GenTLTest;

namespace {

constexpr uint32_t kScc0 = 0x0D20, kSccfg0 = 0x0D24, kSceba0 = 0x0D3C;
constexpr uint32_t kGenDCBit = 0x80;
constexpr uint32_t kExtendedBootstrap = 0x00200000;
constexpr uint32_t kDescriptorAddress = kExtendedBootstrap,
                   kDescriptorSize = kExtendedBootstrap + 4;
constexpr uint32_t kFlowTableAddress = kExtendedBootstrap + 8;
constexpr uint32_t kFlowTableSize = kExtendedBootstrap + 12;
constexpr uint32_t kXmlAddress = 0x00100000;  // readable memory of a known content

class GenDCSizes : public StreamTest {
protected:
    void SetUp() override {
        StreamTest::SetUp();
        if (IsSkipped()) return;
        OpenSimulator(SimulatorConfig());
        GevSim::Faults& faults = Simulator().faults();
        faults.ScriptRegisterReads(kScc0, {kGenDCBit});
        faults.ScriptRegisterReads(kSccfg0, {kGenDCBit});
        faults.ScriptRegisterReads(kSceba0, {kExtendedBootstrap});
        faults.ScriptRegisterReads(kDescriptorAddress, {kXmlAddress});
        faults.ScriptRegisterReads(kFlowTableAddress, {kXmlAddress});
    }

    GC_ERROR ReadTable(STREAM_INFO_CMD command, std::vector<uint8_t>* bytes) {
        INFO_DATATYPE type = 0;
        size_t size = 0;
        GC_ERROR status = cti.DSGetInfo(stream, command, &type, nullptr, &size);
        if (status != GC_ERR_SUCCESS) return status;
        bytes->assign(size, 0);
        return cti.DSGetInfo(stream, command, &type, bytes->data(), &size);
    }

    static std::vector<uint8_t> Xml(size_t size) {
        const std::string_view xml = GevSim::Camera::Xml();
        return std::vector<uint8_t>(xml.begin(), xml.begin() + static_cast<ptrdiff_t>(size));
    }
};

}  // namespace

TEST_F(GenDCSizes, DescriptorSizeThatMovesWhileReadIsRefused) {
    // 4 bytes announced, 512 once the buffer was sized.
    Simulator().faults().ScriptRegisterReads(kDescriptorSize, {4, 512});
    std::vector<uint8_t> descriptor;
    EXPECT_EQ(ReadTable(STREAM_INFO_GENDC_DESCRIPTOR, &descriptor), GC_ERR_NO_DATA);
    EXPECT_NE(cti.LastErrorText().find("out of bounds or changing"), std::string::npos)
        << cti.LastErrorText();
    // It holds still at 512 now: read whole.
    ASSERT_EQ(ReadTable(STREAM_INFO_GENDC_DESCRIPTOR, &descriptor), GC_ERR_SUCCESS)
        << cti.LastErrorText();
    EXPECT_EQ(descriptor, Xml(512));
}

TEST_F(GenDCSizes, SizesOfPartRegistersAreReadWholeAndHandedOutExactly) {
    Simulator().faults().ScriptRegisterReads(kDescriptorSize, {5});
    Simulator().faults().ScriptRegisterReads(kFlowTableSize, {6});
    std::vector<uint8_t> bytes;
    ASSERT_EQ(ReadTable(STREAM_INFO_GENDC_DESCRIPTOR, &bytes), GC_ERR_SUCCESS)
        << cti.LastErrorText();
    EXPECT_EQ(bytes, Xml(5));
    ASSERT_EQ(ReadTable(STREAM_INFO_FLOW_TABLE, &bytes), GC_ERR_SUCCESS) << cti.LastErrorText();
    EXPECT_EQ(bytes, Xml(6));
    uint32_t flows = 99;
    EXPECT_EQ(cti.DSGetNumFlows(stream, &flows), GC_ERR_SUCCESS);
    EXPECT_EQ(flows, 0u) << "a 6-byte table holds no flow";
}

TEST_F(GenDCSizes, HugeSizesAreRefusedBeforeAnyMemoryIsRead) {
    Simulator().faults().ScriptRegisterReads(kDescriptorSize, {0xFFFFFFFCu});
    Simulator().faults().ScriptRegisterReads(kFlowTableSize, {0x7FFFFFF0u});
    Simulator().ClearReceivedCommands();
    std::vector<uint8_t> bytes;
    EXPECT_EQ(ReadTable(STREAM_INFO_GENDC_DESCRIPTOR, &bytes), GC_ERR_NO_DATA);
    uint32_t flows = 0;
    EXPECT_EQ(cti.DSGetNumFlows(stream, &flows), GC_ERR_NO_DATA);
    for (const GevSim::ReceivedCommand& command : Simulator().ReceivedCommands())
        EXPECT_NE(command.command, 0x0084)
            << "READMEM at " << std::hex << command.address.value_or(0);
}
